#include "vantrel/host/inspect.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "vantrel/host/module_loader.h"

namespace vantrel::host {

namespace {

std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

constexpr A_long kPremiereId = 0x50724D72;  // 'PrMr'

std::string Hex32(uint32_t value) { return Format("0x%08X", value); }

struct FlagName {
  uint32_t bit;
  const char* name;
};

std::string DescribeFlags(uint32_t flags, std::initializer_list<FlagName> names) {
  if (flags == 0) return "none";
  std::string text;
  for (const FlagName& f : names) {
    if (!(flags & f.bit)) continue;
    if (!text.empty()) text += " | ";
    text += f.name;
    flags &= ~f.bit;
  }
  if (flags) text += (text.empty() ? "" : " | ") + Format("0x%X", flags);
  return text;
}

std::string ErrorName(PF_Err err) {
  switch (err) {
    case PF_Err_NONE:
      return "PF_Err_NONE";
    case PF_Err_OUT_OF_MEMORY:
      return "PF_Err_OUT_OF_MEMORY";
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
      return "PF_Err_INTERNAL_STRUCT_DAMAGED";
    case PF_Err_INVALID_INDEX:
      return "PF_Err_INVALID_INDEX";
    case PF_Err_UNRECOGNIZED_PARAM_TYPE:
      return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
    case PF_Err_INVALID_CALLBACK:
      return "PF_Err_INVALID_CALLBACK";
    case PF_Err_BAD_CALLBACK_PARAM:
      return "PF_Err_BAD_CALLBACK_PARAM";
    case PF_Interrupt_CANCEL:
      return "PF_Interrupt_CANCEL";
    case PF_Err_CANNOT_PARSE_KEYFRAME_TEXT:
      return "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT";
    default:
      return "error " + std::to_string(err);
  }
}

uint16_t U16At(const std::vector<uint8_t>& data, std::size_t at) {
  return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The decoded value of one property; the raw bytes when the key is unknown or
// the data does not have the expected shape.
std::string DescribePropertyValue(const Pipl& pipl, const PiplProperty& p) {
  const std::vector<uint8_t>& d = p.data;
  try {
    if (p.key == "kind") {
      const std::string kind = pipl.Kind();
      return kind + (kind == "eFKT" ? " (an effect)" : " (not an effect)");
    }
    if (p.key == "name") return Quoted(pipl.PascalString("name")) + " (effect name)";
    if (p.key == "catg") return Quoted(pipl.PascalString("catg")) + " (category)";
    if (p.key == "eMNA") return Quoted(pipl.PascalString("eMNA")) + " (match name)";
    if (p.key == "8664") return Quoted(pipl.EntryPoint()) + " (entry point, 64-bit Windows)";
    if ((p.key == "ePVR" || p.key == "eSVR") && d.size() == 4) {
      return Format("%u.%u", U16At(d, 0), U16At(d, 2)) +
             (p.key == "ePVR" ? " (property list version)" : " (effect interface version)");
    }
    if (p.key == "eVER") return Hex32(pipl.U32("eVER")) + " = " + DescribeVersion(pipl.U32("eVER"));
    if (p.key == "eINF" && d.size() == 2) return Format("0x%04X (info flags)", U16At(d, 0));
    if (p.key == "eGLO")
      return Hex32(pipl.U32("eGLO")) + " = " + DescribeOutFlags(pipl.U32("eGLO"));
    if (p.key == "eGL2")
      return Hex32(pipl.U32("eGL2")) + " = " + DescribeOutFlags2(pipl.U32("eGL2"));
    if (p.key == "aeFL") return Hex32(pipl.U32("aeFL")) + " (reserved information word)";
  } catch (const HostError& e) {
    return std::string("malformed: ") + e.what();
  }
  std::string bytes;
  for (std::size_t i = 0; i < d.size() && i < 16; ++i) bytes += Format(i ? " %02X" : "%02X", d[i]);
  if (d.size() > 16) bytes += " ...";
  return bytes.empty() ? "(no data)" : bytes;
}

// Rows of cells printed as aligned columns two spaces apart; the first
// `right_aligned` columns (numbers) are right-justified, the rest left-justified.
std::string Table(const std::vector<std::vector<std::string>>& rows, const std::string& indent,
                  std::size_t right_aligned = 0) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string padding(widths[i] - row[i].size(), ' ');
      line += i < right_aligned ? padding + row[i] : row[i] + padding;
      if (i + 1 < row.size()) line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

const char* ParamTypeName(PF_ParamType type) {
  switch (type) {
    case PF_Param_LAYER:
      return "layer";
    case PF_Param_SLIDER:
      return "slider";
    case PF_Param_FIX_SLIDER:
      return "fixed slider";
    case PF_Param_ANGLE:
      return "angle";
    case PF_Param_CHECKBOX:
      return "checkbox";
    case PF_Param_COLOR:
      return "color";
    case PF_Param_POINT:
      return "point";
    case PF_Param_POPUP:
      return "pop-up";
    case PF_Param_CUSTOM:
      return "custom";
    case PF_Param_NO_DATA:
      return "no data";
    case PF_Param_FLOAT_SLIDER:
      return "float slider";
    case PF_Param_ARBITRARY_DATA:
      return "arbitrary data";
    case PF_Param_PATH:
      return "path";
    case PF_Param_GROUP_START:
      return "group start";
    case PF_Param_GROUP_END:
      return "group end";
    case PF_Param_BUTTON:
      return "button";
    case PF_Param_POINT_3D:
      return "3D point";
    default:
      return "unknown";
  }
}

std::string Number(double value) { return Format("%g", value); }

std::string SliderValue(double value, const PF_FloatSliderDef& s) {
  std::string text = Format("%.*f", std::clamp<int>(s.precision, 0, 6), value);
  if (s.display_flags & PF_ValueDisplayFlag_PERCENT) text += "%";
  return text;
}

std::string PopupChoice(const std::string& choices, int number) {
  std::size_t start = 0;
  for (int i = 1; i < number; ++i) {
    start = choices.find('|', start);
    if (start == std::string::npos) return "?";
    ++start;
  }
  return choices.substr(start, choices.find('|', start) - start);
}

std::vector<std::string> ControlRow(std::size_t index, const DeclaredParam& p, int depth) {
  const PF_ParamDef& d = p.def;
  std::string name = d.name;
  if (d.param_type == PF_Param_GROUP_END && name.empty()) name = "(end of group)";
  name = std::string(2 * static_cast<std::size_t>(std::max(depth, 0)), ' ') + name;
  std::string range, dephault, display;
  switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER: {
      const PF_FloatSliderDef& s = d.u.fs_d;
      range = Number(s.valid_min) + " to " + Number(s.valid_max);
      if (s.slider_min != s.valid_min || s.slider_max != s.valid_max) {
        range += " (slider " + Number(s.slider_min) + " to " + Number(s.slider_max) + ")";
      }
      dephault = SliderValue(s.dephault, s);
      if (s.value != static_cast<double>(s.dephault))
        dephault += " (value " + SliderValue(s.value, s) + ")";
      display = s.precision == 0   ? "integer"
                : s.precision == 1 ? "1 decimal"
                                   : std::to_string(s.precision) + " decimals";
      if (s.display_flags & PF_ValueDisplayFlag_PERCENT) display += ", percent";
      if (s.display_flags & PF_ValueDisplayFlag_PIXEL) display += ", pixels";
      break;
    }
    case PF_Param_SLIDER: {
      const PF_SliderDef& s = d.u.sd;
      range = std::to_string(s.valid_min) + " to " + std::to_string(s.valid_max);
      dephault = std::to_string(s.dephault);
      break;
    }
    case PF_Param_POPUP: {
      const PF_PopupDef& s = d.u.pd;
      range = std::to_string(s.num_choices) + " choices: " + p.choices;
      dephault = std::to_string(s.dephault) + " (" + PopupChoice(p.choices, s.dephault) + ")";
      if (s.value != s.dephault) dephault += " (value " + std::to_string(s.value) + ")";
      break;
    }
    case PF_Param_CHECKBOX: {
      const PF_CheckBoxDef& s = d.u.bd;
      dephault = s.dephault ? "on" : "off";
      if ((s.value != 0) != (s.dephault != 0)) dephault += s.value ? " (value on)" : " (value off)";
      if (!p.checkbox_text.empty()) display = "text " + Quoted(p.checkbox_text);
      break;
    }
    default:
      break;
  }
  std::string flags = DescribeFlags(
      static_cast<uint32_t>(d.flags),
      {{PF_ParamFlag_CANNOT_TIME_VARY, "CANNOT_TIME_VARY"},
       {PF_ParamFlag_CANNOT_INTERP, "CANNOT_INTERP"},
       {PF_ParamFlag_START_COLLAPSED, "START_COLLAPSED"},
       {PF_ParamFlag_SUPERVISE, "SUPERVISE"},
       {PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS, "USE_VALUE_FOR_OLD_PROJECTS"},
       {PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED, "EXCLUDE_FROM_HAVE_INPUTS_CHANGED"},
       {PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN, "SKIP_REVEAL_WHEN_UNHIDDEN"}});
  if (flags == "none") flags = "-";
  auto dash = [](std::string s) { return s.empty() ? std::string("-") : s; };
  return {
      std::to_string(index), std::to_string(d.uu.id), name,          ParamTypeName(d.param_type),
      dash(range),           dash(dephault),          dash(display), flags};
}

// The about text as a person reads it: return_msg up to its terminator (or its
// 256 bytes), with \r and \n as line breaks.
std::vector<std::string> AboutLines(const PF_OutData& out) {
  const char* msg = out.return_msg;
  const std::size_t length = strnlen(msg, sizeof out.return_msg);
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < length; ++i) {
    if (msg[i] == '\r' || msg[i] == '\n') {
      if (msg[i] == '\r' && i + 1 < length && msg[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back().push_back(msg[i]);
    }
  }
  return lines;
}

std::string Agreement(uint32_t runtime, const Pipl& pipl, const char* key) {
  const PiplProperty* p = pipl.Find(key);
  if (!p || p->data.size() != 4) return std::string("  (resource has no ") + key + ")";
  const uint32_t resource = pipl.U32(key);
  if (resource == runtime) return std::string("  agrees with ") + key;
  return std::string("  DIFFERS from ") + key + " " + Hex32(resource);
}

// Runs the set-up commands and writes what they answer. Returns the first
// failure or violation, "" when there was none.
std::string DescribeLoaded(const LoadedModule& module, std::ostringstream& out) {
  std::string problem;
  const auto failed = [&](const char* command, PF_Err err) {
    if (err != PF_Err_NONE && problem.empty())
      problem = std::string(command) + " returned " + ErrorName(err);
  };
  Session session;
  const Pipl& pipl = module.pipl();

  PF_InData in = session.MakeInData();
  PF_OutData global{};
  PF_Err err = session.Call(module.entry(), PF_Cmd_GLOBAL_SETUP, &in, &global, nullptr, nullptr);
  out << "\nPF_Cmd_GLOBAL_SETUP: " << ErrorName(err) << "\n";
  failed("PF_Cmd_GLOBAL_SETUP", err);
  if (err == PF_Err_NONE) {
    std::vector<std::vector<std::string>> rows = {
        {"my_version", Hex32(global.my_version), DescribeVersion(global.my_version),
         Agreement(global.my_version, pipl, "eVER")},
        {"out_flags", Hex32(static_cast<uint32_t>(global.out_flags)),
         DescribeOutFlags(static_cast<uint32_t>(global.out_flags)),
         Agreement(static_cast<uint32_t>(global.out_flags), pipl, "eGLO")},
        {"out_flags2", Hex32(static_cast<uint32_t>(global.out_flags2)),
         DescribeOutFlags2(static_cast<uint32_t>(global.out_flags2)),
         Agreement(static_cast<uint32_t>(global.out_flags2), pipl, "eGL2")}};
    out << Table(rows, "  ");
  }

  in = session.MakeInData();
  PF_OutData about{};
  err = session.Call(module.entry(), PF_Cmd_ABOUT, &in, &about, nullptr, nullptr);
  out << "\nPF_Cmd_ABOUT: " << ErrorName(err) << "\n";
  failed("PF_Cmd_ABOUT", err);
  if (err == PF_Err_NONE) {
    for (const std::string& line : AboutLines(about)) out << "  " << line << "\n";
  }

  in = session.MakeInData();
  PF_OutData params{};
  err = session.Call(module.entry(), PF_Cmd_PARAMS_SETUP, &in, &params, nullptr, nullptr);
  out << "\nPF_Cmd_PARAMS_SETUP: " << ErrorName(err) << ", num_params " << params.num_params << ", "
      << session.declared_params().size() << " controls declared\n";
  failed("PF_Cmd_PARAMS_SETUP", err);
  if (!session.declared_params().empty()) out << FormatControls(session.declared_params());

  // Premiere Pro is told the pixel formats during its own global set-up; a
  // separate session keeps its suite calls out of the log above.
  {
    Session premiere;
    PF_InData premiere_in = premiere.MakeInData();
    premiere_in.appl_id = kPremiereId;
    PF_OutData premiere_out{};
    err = premiere.Call(module.entry(), PF_Cmd_GLOBAL_SETUP, &premiere_in, &premiere_out, nullptr,
                        nullptr);
    out << "\nPF_Cmd_GLOBAL_SETUP in Premiere Pro: " << ErrorName(err) << ", pixel formats: ";
    failed("PF_Cmd_GLOBAL_SETUP in Premiere Pro", err);
    const auto& formats = premiere.pixel_format_log();
    if (formats.empty()) out << "none declared";
    for (std::size_t i = 0; i < formats.size(); ++i) out << (i ? ", " : "") << formats[i];
    out << "\n";
    for (const std::string& v : premiere.violations()) session.AddViolation("Premiere Pro: " + v);
  }

  const auto log = session.suites().AcquireLog();
  out << "\nSuites acquired:";
  if (log.empty()) out << " none";
  for (std::size_t i = 0; i < log.size(); ++i) out << (i ? ", " : " ") << log[i];
  out << "\n";
  const auto violations = session.violations();
  if (violations.empty()) {
    out << "Strict host: no violations\n";
  } else {
    out << "Strict host: " << violations.size() << " violation(s)\n";
    for (const std::string& v : violations) out << "  " << v << "\n";
    // A failed command is explained by the first violation, if any.
    problem +=
        (problem.empty() ? std::to_string(violations.size()) + " protocol violation(s), the first: "
                         : "; ") +
        violations.front();
  }
  return problem;
}

}  // namespace

std::string DescribeVersion(uint32_t version) {
  const uint32_t major = ((version >> PF_Vers_VERS_SHIFT) & PF_Vers_VERS_BITS) |
                         ((version >> PF_Vers_VERS_HIGH_SHIFT) & PF_Vers_VERS_HIGH_BITS)
                             << PF_Vers_VERS_LOW_SHIFT;
  const uint32_t minor = (version >> PF_Vers_SUBVERS_SHIFT) & PF_Vers_SUBVERS_BITS;
  const uint32_t bugfix = (version >> PF_Vers_BUGFIX_SHIFT) & PF_Vers_BUGFIX_BITS;
  const uint32_t stage = (version >> PF_Vers_STAGE_SHIFT) & PF_Vers_STAGE_BITS;
  const uint32_t build = (version >> PF_Vers_BUILD_SHIFT) & PF_Vers_BUILD_BITS;
  static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
  return Format("%u.%u.%u %s build %u", major, minor, bugfix, kStages[stage], build);
}

std::string DescribeOutFlags(uint32_t flags) {
  return DescribeFlags(
      flags, {{PF_OutFlag_KEEP_RESOURCE_OPEN, "KEEP_RESOURCE_OPEN"},
              {PF_OutFlag_WIDE_TIME_INPUT, "WIDE_TIME_INPUT"},
              {PF_OutFlag_NON_PARAM_VARY, "NON_PARAM_VARY"},
              {PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING, "SEQUENCE_DATA_NEEDS_FLATTENING"},
              {PF_OutFlag_I_DO_DIALOG, "I_DO_DIALOG"},
              {PF_OutFlag_USE_OUTPUT_EXTENT, "USE_OUTPUT_EXTENT"},
              {PF_OutFlag_SEND_DO_DIALOG, "SEND_DO_DIALOG"},
              {PF_OutFlag_DISPLAY_ERROR_MESSAGE, "DISPLAY_ERROR_MESSAGE"},
              {PF_OutFlag_I_EXPAND_BUFFER, "I_EXPAND_BUFFER"},
              {PF_OutFlag_PIX_INDEPENDENT, "PIX_INDEPENDENT"},
              {PF_OutFlag_WORKS_IN_PLACE, "WORKS_IN_PLACE"},
              {PF_OutFlag_CUSTOM_UI, "CUSTOM_UI"},
              {PF_OutFlag_REFRESH_UI, "REFRESH_UI"},
              {PF_OutFlag_NOP_RENDER, "NOP_RENDER"},
              {PF_OutFlag_I_USE_SHUTTER_ANGLE, "I_USE_SHUTTER_ANGLE"},
              {PF_OutFlag_FORCE_RERENDER, "FORCE_RERENDER"},
              {PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS, "PiPL_OVERRIDES_OUTDATA_OUTFLAGS"},
              {PF_OutFlag_DEEP_COLOR_AWARE, "DEEP_COLOR_AWARE"},
              {PF_OutFlag_SEND_UPDATE_PARAMS_UI, "SEND_UPDATE_PARAMS_UI"}});
}

std::string DescribeOutFlags2(uint32_t flags) {
  return DescribeFlags(
      flags,
      {{PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS, "SUPPORTS_QUERY_DYNAMIC_FLAGS"},
       {PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG, "PARAM_GROUP_START_COLLAPSED_FLAG"},
       {PF_OutFlag2_I_AM_THREADSAFE, "I_AM_THREADSAFE"},
       {PF_OutFlag2_SUPPORTS_SMART_RENDER, "SUPPORTS_SMART_RENDER"},
       {PF_OutFlag2_FLOAT_COLOR_AWARE, "FLOAT_COLOR_AWARE"},
       {PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT, "AUTOMATIC_WIDE_TIME_INPUT"},
       {PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA, "SUPPORTS_GET_FLATTENED_SEQUENCE_DATA"},
       {PF_OutFlag2_SUPPORTS_THREADED_RENDERING, "SUPPORTS_THREADED_RENDERING"}});
}

std::string DescribePipl(const Pipl& pipl) {
  std::vector<std::vector<std::string>> rows = {
      {"#", "offset", "vendor", "key", "id", "length", "value"}};
  for (std::size_t i = 0; i < pipl.properties.size(); ++i) {
    const PiplProperty& p = pipl.properties[i];
    rows.push_back({std::to_string(i + 1), std::to_string(p.offset), p.vendor, p.key,
                    std::to_string(p.id), std::to_string(p.data.size()),
                    DescribePropertyValue(pipl, p)});
  }
  return Table(rows, "  ", 2);
}

std::string FormatControls(const std::vector<DeclaredParam>& params) {
  std::vector<std::vector<std::string>> rows = {
      {"index", "id", "name", "type", "range", "default", "display", "flags"},
      // The host supplies index 0, the layer the effect is applied to.
      {"0", "-", "(input layer)", "layer", "-", "-", "-", "-"}};
  int depth = 0;
  for (std::size_t i = 0; i < params.size(); ++i) {
    const PF_ParamType type = params[i].def.param_type;
    if (type == PF_Param_GROUP_END) --depth;
    rows.push_back(ControlRow(i + 1, params[i], depth));
    if (type == PF_Param_GROUP_START) ++depth;
  }
  return Table(rows, "  ", 2);
}

std::vector<DeclaredParam> DeclaredControls(const std::filesystem::path& path) {
  auto module = LoadedModule::Load(path);
  Session session;
  PF_InData in = session.MakeInData();
  PF_OutData out{};
  const PF_Err err =
      session.Call(module->entry(), PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr);
  if (err != PF_Err_NONE) {
    throw HostError(path.string() + ": PF_Cmd_PARAMS_SETUP returned " + ErrorName(err));
  }
  return session.declared_params();
}

std::string DescribeModule(const std::filesystem::path& path) { return InspectModule(path).text; }

ModuleReport InspectModule(const std::filesystem::path& path) {
  ModuleFile file = ReadModuleFile(path);
  std::ostringstream out;
  out << "File:     " << path.string() << "\n";
  out << "Format:   " << file.description << "\n";
  out << "Resource: " << file.resource_location << ", " << file.pipl_bytes.size() << " bytes";
  Pipl pipl;
  try {
    pipl = ParsePipl(file.pipl_bytes);
  } catch (const HostError& e) {
    out << "\n  malformed: " << e.what() << "\n";
    return {out.str(), path.string() + ": " + e.what()};
  }
  out << ", list version " << pipl.version << ", " << pipl.properties.size() << " properties\n";
  out << DescribePipl(pipl);

#if defined(_WIN32)
  const bool loadable_here = file.format == ModuleFile::Format::kPe;
#else
  const bool loadable_here = file.format == ModuleFile::Format::kElf;
#endif
  if (!loadable_here) {
    out << "\nLoading:  not on this host (a "
        << (file.format == ModuleFile::Format::kPe ? "Windows" : "Linux")
        << " module); only its property resource is shown\n";
    return {out.str(), ""};
  }
  std::unique_ptr<LoadedModule> module;
  try {
    module = LoadedModule::Load(path);
  } catch (const HostError& e) {
    out << "\nLoading:  failed: " << e.what() << "\n";
    return {out.str(), e.what()};  // names the file already
  }
  out << "\nLoading:  loaded; entry point " << pipl.EntryPoint() << " found\n";
  const std::string problem = DescribeLoaded(*module, out);
  return {out.str(), problem.empty() ? "" : path.string() + ": " + problem};
}

}  // namespace vantrel::host

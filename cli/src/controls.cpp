#include "vantrel/cli/controls.h"

#include <cstdio>
#include <cstring>

namespace vantrel::cli {

std::vector<std::string> SplitChoices(std::string_view names) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t bar = names.find('|', start);
    if (bar == std::string_view::npos) bar = names.size();
    out.emplace_back(names.substr(start, bar - start));
    start = bar + 1;
  }
  return out;
}

ControlCatalog ControlCatalog::FromDeclaredParams(
    const std::vector<host::DeclaredParam>& declared) {
  std::vector<ControlInfo> controls;
  std::string group;
  for (std::size_t i = 0; i < declared.size(); ++i) {
    const PF_ParamDef& def = declared[i].def;
    const std::string name(def.name, strnlen(def.name, sizeof def.name));
    ControlInfo c;
    c.index = static_cast<int>(i) + 1;
    c.name = name;
    c.group = group;
    switch (def.param_type) {
      case PF_Param_GROUP_START:
        group = name;
        continue;
      case PF_Param_GROUP_END:
        group.clear();
        continue;
      case PF_Param_FLOAT_SLIDER:
        c.kind = ControlKind::kSlider;
        c.min = def.u.fs_d.valid_min;
        c.max = def.u.fs_d.valid_max;
        c.default_value = def.u.fs_d.dephault;
        c.precision = def.u.fs_d.precision;
        c.percent = (def.u.fs_d.display_flags & PF_ValueDisplayFlag_PERCENT) != 0;
        break;
      case PF_Param_POPUP:
        c.kind = ControlKind::kPopup;
        c.choices = SplitChoices(declared[i].choices);
        c.min = 1;
        c.max = static_cast<double>(c.choices.size());
        c.default_value = def.u.pd.dephault;
        break;
      case PF_Param_CHECKBOX:
        c.kind = ControlKind::kCheckbox;
        c.min = 0;
        c.max = 1;
        c.default_value = def.u.bd.dephault != 0 ? 1 : 0;
        break;
      default:
        continue;  // a kind a scene file cannot set
    }
    controls.push_back(std::move(c));
  }
  return ControlCatalog(std::move(controls));
}

const ControlInfo* ControlCatalog::Find(std::string_view name) const {
  for (const ControlInfo& c : controls_) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string ControlCatalog::NameList() const {
  std::string out;
  for (const ControlInfo& c : controls_) {
    if (!out.empty()) out += ", ";
    out += '"' + c.name + '"';
  }
  return out;
}

namespace {

// What the host saw go wrong in a failed command, for its error message.
std::string Reason(const host::Session& session) {
  const auto violations = session.violations();
  return violations.empty() ? "" : ": " + violations.front();
}

}  // namespace

ControlCatalog ReadModuleControls(PF_EntryPointFunc entry) {
  host::Session session;
  PF_OutData out_data{};
  PF_InData in_data = session.MakeInData();
  PF_Err err = session.Call(entry, PF_Cmd_GLOBAL_SETUP, &in_data, &out_data, nullptr, nullptr);
  if (err != PF_Err_NONE) {
    throw host::HostError("the module refused global set-up (error " + std::to_string(err) + ")" +
                          Reason(session));
  }
  out_data = PF_OutData{};
  in_data = session.MakeInData();
  err = session.Call(entry, PF_Cmd_PARAMS_SETUP, &in_data, &out_data, nullptr, nullptr);
  if (err != PF_Err_NONE) {
    throw host::HostError("the module refused parameter set-up (error " + std::to_string(err) +
                          ")" + Reason(session));
  }
  if (auto v = session.violations(); !v.empty()) {
    throw host::HostError("the module broke the host's rules during set-up: " + v.front());
  }
  return ControlCatalog::FromDeclaredParams(session.declared_params());
}

std::string FormatControlValue(const ControlInfo& control, double value) {
  switch (control.kind) {
    case ControlKind::kPopup: {
      const auto i = static_cast<std::size_t>(value);
      if (i >= 1 && i <= control.choices.size()) return control.choices[i - 1];
      return std::to_string(i);
    }
    case ControlKind::kCheckbox:
      return value != 0 ? "on" : "off";
    case ControlKind::kSlider:
      break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f%s", control.precision, value, control.percent ? " %" : "");
  return text;
}

}  // namespace vantrel::cli

#include "vantrel/host/session.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "basic_callbacks.h"

namespace vantrel::host {

namespace {

thread_local Session* current_session = nullptr;

constexpr A_long kApplicationId = 0x46585443;  // 'FXTC': After Effects

// Number of '|'-separated names in a pop-up's names string.
int CountChoices(const std::string& names) {
  int count = 1;
  for (char c : names) count += c == '|';
  return count;
}

bool IsKnownParamType(PF_ParamType type) {
  switch (type) {
    case PF_Param_LAYER:
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER:
    case PF_Param_ANGLE:
    case PF_Param_CHECKBOX:
    case PF_Param_COLOR:
    case PF_Param_POINT:
    case PF_Param_POPUP:
    case PF_Param_CUSTOM:
    case PF_Param_NO_DATA:
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_ARBITRARY_DATA:
    case PF_Param_PATH:
    case PF_Param_GROUP_START:
    case PF_Param_GROUP_END:
    case PF_Param_BUTTON:
    case PF_Param_POINT_3D:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string CommandName(PF_Cmd cmd) {
  static const char* const kNames[] = {
      "PF_Cmd_ABOUT",
      "PF_Cmd_GLOBAL_SETUP",
      "PF_Cmd_UNUSED_0",
      "PF_Cmd_GLOBAL_SETDOWN",
      "PF_Cmd_PARAMS_SETUP",
      "PF_Cmd_SEQUENCE_SETUP",
      "PF_Cmd_SEQUENCE_RESETUP",
      "PF_Cmd_SEQUENCE_FLATTEN",
      "PF_Cmd_SEQUENCE_SETDOWN",
      "PF_Cmd_DO_DIALOG",
      "PF_Cmd_FRAME_SETUP",
      "PF_Cmd_RENDER",
      "PF_Cmd_FRAME_SETDOWN",
      "PF_Cmd_USER_CHANGED_PARAM",
      "PF_Cmd_UPDATE_PARAMS_UI",
      "PF_Cmd_EVENT",
      "PF_Cmd_GET_EXTERNAL_DEPENDENCIES",
      "PF_Cmd_COMPLETELY_GENERAL",
      "PF_Cmd_QUERY_DYNAMIC_FLAGS",
      "PF_Cmd_AUDIO_RENDER",
      "PF_Cmd_AUDIO_SETUP",
      "PF_Cmd_AUDIO_SETDOWN",
      "PF_Cmd_ARBITRARY_CALLBACK",
      "PF_Cmd_SMART_PRE_RENDER",
      "PF_Cmd_SMART_RENDER",
      "PF_Cmd_RESERVED1",
      "PF_Cmd_RESERVED2",
      "PF_Cmd_RESERVED3",
      "PF_Cmd_GET_FLATTENED_SEQUENCE_DATA",
      "PF_Cmd_TRANSLATE_PARAMS_TO_PREFS",
      "PF_Cmd_RESERVED4",
      "PF_Cmd_SMART_RENDER_GPU",
      "PF_Cmd_GPU_DEVICE_SETUP",
      "PF_Cmd_GPU_DEVICE_SETDOWN",
  };
  static_assert(std::size(kNames) == PF_Cmd_NUM_CMDS);
  if (cmd >= 0 && cmd < PF_Cmd_NUM_CMDS) return kNames[cmd];
  return "command " + std::to_string(cmd);
}

const std::vector<std::string>& FaultableHostFunctions() {
  static const std::vector<std::string> kFunctions = {
      "AEGP_GetEffectLayer",
      "AEGP_GetNewEffectForEffect",
      "AEGP_GetLayerObjectType",
      "AEGP_GetLayerStreamValue",
      "AEGP_GetNewEffectStreamByIndex",
      "AEGP_GetNewStreamValue",
      "AEGP_GetNewTextOutlines",
      "AEGP_GetNumTextOutlines",
      "AEGP_GetIndexedTextOutline",
      "PF_PathNumSegments",
      "PF_PathVertexInfo",
      "AEGP_New",
      "AEGP_FillOutPFEffectWorld",
      "copy_hq",
      "fill",
      "transform_world",
      "AEGP_IterateGeneric",
  };
  return kFunctions;
}

namespace {

// The place of `function` in FaultableHostFunctions(), or -1. Callers pass
// string literals, so each thread remembers where the last few addresses
// were found and checks that one name before searching the whole list.
int FaultableIndex(const char* function) {
  struct Found {
    const char* name = nullptr;
    int index = 0;
  };
  thread_local Found recent[8];
  thread_local unsigned next = 0;
  const auto& known = FaultableHostFunctions();
  for (const Found& f : recent) {
    if (f.name == function && known[static_cast<std::size_t>(f.index)] == function) return f.index;
  }
  for (std::size_t i = 0; i < known.size(); ++i) {
    if (known[i] == function) {
      recent[next++ % std::size(recent)] = {function, static_cast<int>(i)};
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

void FaultPlan::FailCall(const std::string& function, int nth, A_Err code) {
  const auto& known = FaultableHostFunctions();
  if (std::find(known.begin(), known.end(), function) == known.end()) {
    throw HostError("no fault can be planned for host function \"" + function + "\"");
  }
  if (nth < 1) throw HostError("calls are counted from 1, not " + std::to_string(nth));
  std::lock_guard lock(mutex_);
  planned_[{function, nth}] = code;
  any_planned_.store(true, std::memory_order_release);
}

std::optional<A_Err> FaultPlan::Count(const char* function) {
  const int index = FaultableIndex(function);
  int nth;
  if (index >= 0 && static_cast<std::size_t>(index) < kMaxCounted) {
    if (!any_planned_.load(std::memory_order_acquire)) {
      if (std::this_thread::get_id() == owner_) {
        std::atomic<int>& own = owner_counts_[index];
        own.store(own.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      } else {
        counts_[index].fetch_add(1, std::memory_order_relaxed);
      }
      return std::nullopt;
    }
    // The owner's count stands still while a plan is set: the sum numbers
    // the calls of every thread one by one.
    nth = owner_counts_[index].load(std::memory_order_relaxed) +
          counts_[index].fetch_add(1, std::memory_order_relaxed) + 1;
  } else {
    std::lock_guard lock(mutex_);
    auto it = other_calls_.find(std::string_view(function));
    if (it == other_calls_.end()) it = other_calls_.emplace(function, 0).first;
    nth = ++it->second;
  }
  if (!any_planned_.load(std::memory_order_acquire)) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto planned = planned_.find({std::string(function), nth});
  if (planned == planned_.end()) return std::nullopt;
  ++injected_;
  return planned->second;
}

int FaultPlan::Calls(const std::string& function) const {
  const int index = FaultableIndex(function.c_str());
  if (index >= 0 && static_cast<std::size_t>(index) < kMaxCounted) {
    return owner_counts_[index].load(std::memory_order_relaxed) +
           counts_[index].load(std::memory_order_relaxed);
  }
  std::lock_guard lock(mutex_);
  auto it = other_calls_.find(function);
  return it == other_calls_.end() ? 0 : it->second;
}

int FaultPlan::Injected() const {
  std::lock_guard lock(mutex_);
  return injected_;
}

std::optional<A_Err> PlannedFailure(const char* function) {
  Session* session = Session::Current();
  if (!session) return std::nullopt;
  return session->fault_plan().Count(function);
}

Session::CurrentScope::CurrentScope(Session* session) : previous_(current_session) {
  current_session = session;
}

Session::CurrentScope::~CurrentScope() { current_session = previous_; }

Session* Session::Current() { return current_session; }

Session::Session() {
  basic_ = detail::MakeBasicSuite();
  utils_.ansi = detail::MakeAnsiCallbacks();
  effect_ref_ = reinterpret_cast<PF_ProgPtr>(&effect_token_);
  handles_.Lend(HandleKind::kProgPtr, effect_ref_);
  suites_.Register(kPFANSISuite, kPFANSISuiteVersion1, detail::AnsiSuite());
  suites_.Register(kPFPixelFormatSuite, kPFPixelFormatSuiteVersion1, detail::PixelFormatSuite());
}

Session::~Session() = default;

PF_InData Session::MakeInData() {
  PF_InData in{};
  in.inter.add_param = detail::AddParamCallback;
  in.utils = &utils_;
  in.effect_ref = effect_ref_;
  in.quality = PF_Quality_HI;
  in.version.major = PF_AE_PLUG_IN_VERSION;
  in.version.minor = PF_AE_PLUG_IN_SUBVERS;
  in.appl_id = kApplicationId;
  in.field = PF_Field_FRAME;
  in.downsample_x = {1, 1};
  in.downsample_y = {1, 1};
  in.pixel_aspect_ratio = {1, 1};
  in.pica_basicP = faults_.null_basic_suite ? nullptr : &basic_;
  return in;
}

PF_Err Session::Call(PF_EntryPointFunc entry, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                     PF_ParamDef* params[], PF_LayerDef* output) {
  if (!entry) throw HostError("no entry point to call");
  const std::string command = CommandName(cmd);
  const auto held_before = suites_.Held();
  const uint64_t first_serial = handles_.NextSerial();
  PF_Err result = PF_Err_NONE;
  {
    CurrentScope scope(this);
    try {
      result = entry(cmd, in_data, out_data, params, output, nullptr);
    } catch (const std::exception& e) {
      // Only a module that breaks the C boundary gets here; the host goes on.
      AddViolation(command + ": an exception left EntryPointFunc (" + e.what() + ")");
      result = PF_Err_INTERNAL_STRUCT_DAMAGED;
    } catch (...) {
      AddViolation(command + ": an exception left EntryPointFunc");
      result = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
  }
  for (const auto& [key, held] : suites_.Held()) {
    auto before = held_before.find(key);
    const int leaked = held - (before == held_before.end() ? 0 : before->second);
    if (leaked > 0) {
      AddViolation(command + ": suite \"" + key.first + "\" v" + std::to_string(key.second) +
                   " acquired but not released (" + std::to_string(leaked) + " held)");
    }
  }
  for (const std::string& handle : handles_.ReclaimOwnedSince(first_serial)) {
    AddViolation(command + ": " + handle + " not disposed of");
  }
  return result;
}

std::vector<std::string> Session::violations() const {
  std::lock_guard lock(violations_mutex_);
  return violations_;
}

void Session::AddViolation(std::string what) {
  std::lock_guard lock(violations_mutex_);
  violations_.push_back(std::move(what));
}

void Session::ClearViolations() {
  std::lock_guard lock(violations_mutex_);
  violations_.clear();
}

PF_Err Session::AddParam(PF_ParamIndex index, const PF_ParamDef* def) {
  ++add_param_calls_;
  if (faults_.fail_add_param_at > 0 && add_param_calls_ == faults_.fail_add_param_at) {
    return faults_.fail_add_param_code;
  }
  if (!def) {
    AddViolation("add_param called with a null definition");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const std::string where = "add_param " + std::to_string(declared_.size() + 1);
  // Index 0 is the input layer; a declared control goes after the last one.
  const auto next = static_cast<PF_ParamIndex>(declared_.size() + 1);
  if (index != -1 && index != next) {
    AddViolation(where + ": index " + std::to_string(index) + " (expected -1 or " +
                 std::to_string(next) + ")");
    return PF_Err_INVALID_INDEX;
  }
  if (!std::memchr(def->name, '\0', sizeof def->name)) {
    AddViolation(where + ": name not terminated within " + std::to_string(sizeof def->name) +
                 " bytes");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (!IsKnownParamType(def->param_type)) {
    AddViolation(where + " (\"" + def->name + "\"): unknown parameter type " +
                 std::to_string(def->param_type));
    return PF_Err_UNRECOGNIZED_PARAM_TYPE;
  }
  DeclaredParam declared{*def, {}, {}};
  const std::string label = where + " (\"" + def->name + "\")";
  switch (def->param_type) {
    case PF_Param_POPUP: {
      const PF_PopupDef& popup = def->u.pd;
      if (!popup.u.namesptr) {
        AddViolation(label + ": pop-up without names");
        return PF_Err_BAD_CALLBACK_PARAM;
      }
      declared.choices = popup.u.namesptr;
      if (CountChoices(declared.choices) != popup.num_choices) {
        AddViolation(label + ": " + std::to_string(popup.num_choices) + " choices declared but " +
                     std::to_string(CountChoices(declared.choices)) + " names given");
      }
      if (popup.dephault < 1 || popup.dephault > popup.num_choices) {
        AddViolation(label + ": default choice " + std::to_string(popup.dephault) + " out of 1.." +
                     std::to_string(popup.num_choices));
      }
      declared.def.u.pd.u.namesptr = nullptr;
      break;
    }
    case PF_Param_CHECKBOX:
      if (def->u.bd.u.nameptr) declared.checkbox_text = def->u.bd.u.nameptr;
      declared.def.u.bd.u.nameptr = nullptr;
      break;
    case PF_Param_BUTTON:
      if (def->u.button_d.u.namesptr) declared.checkbox_text = def->u.button_d.u.namesptr;
      declared.def.u.button_d.u.namesptr = nullptr;
      break;
    case PF_Param_FLOAT_SLIDER: {
      const PF_FloatSliderDef& slider = def->u.fs_d;
      if (!(slider.valid_min <= slider.valid_max) || !(slider.slider_min <= slider.slider_max) ||
          slider.slider_min < slider.valid_min || slider.slider_max > slider.valid_max) {
        AddViolation(label + ": inconsistent slider ranges");
      }
      if (slider.dephault < slider.valid_min || slider.dephault > slider.valid_max) {
        AddViolation(label + ": default outside the valid range");
      }
      break;
    }
    case PF_Param_GROUP_END: {
      int depth = 0;
      for (const DeclaredParam& p : declared_) {
        depth += p.def.param_type == PF_Param_GROUP_START;
        depth -= p.def.param_type == PF_Param_GROUP_END;
      }
      if (depth <= 0) {
        AddViolation(where + ": group end without a group start");
        return PF_Err_BAD_CALLBACK_PARAM;
      }
      break;
    }
    default:
      break;
  }
  declared_.push_back(std::move(declared));
  return PF_Err_NONE;
}

}  // namespace vantrel::host

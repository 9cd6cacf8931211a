// The effect's controls as the vantrel command knows them: read from what the
// module itself declares during parameter set-up, so that scene files are
// checked against the module being rendered and not against a copy.
#ifndef VANTREL_CLI_CONTROLS_H
#define VANTREL_CLI_CONTROLS_H

#include <string>
#include <string_view>
#include <vector>

#include "vantrel/host/session.h"

namespace vantrel::cli {

enum class ControlKind { kSlider, kPopup, kCheckbox };

struct ControlInfo {
  int index = 0;  // position in the params array (1-based; 0 is the input layer)
  std::string name;
  ControlKind kind = ControlKind::kSlider;
  // Sliders: the valid range and default as declared (single precision
  // widened to double). Pop-ups: 1..choices.size(), default is the 1-based
  // choice. Checkboxes: 0..1.
  double min = 0;
  double max = 0;
  double default_value = 0;
  int precision = 0;     // decimals shown by a slider
  bool percent = false;  // a slider shown with a percent sign
  std::vector<std::string> choices;
  std::string group;  // the group the control sits in, empty at top level
};

class ControlCatalog {
 public:
  ControlCatalog() = default;
  explicit ControlCatalog(std::vector<ControlInfo> controls) : controls_(std::move(controls)) {}

  // The animatable controls among `declared` (in declaration order, so that
  // declared[i] is params index i + 1); groups only set ControlInfo::group.
  static ControlCatalog FromDeclaredParams(const std::vector<host::DeclaredParam>& declared);

  const std::vector<ControlInfo>& controls() const { return controls_; }
  const ControlInfo* Find(std::string_view name) const;
  // The names in order, quoted and separated by commas.
  std::string NameList() const;

 private:
  std::vector<ControlInfo> controls_;
};

// The controls a loaded module declares: runs global set-up and parameter
// set-up through a fresh strict-host session, as After Effects does when the
// effect is applied. Throws host::HostError when the module fails either
// command or breaks the host's rules while doing so.
ControlCatalog ReadModuleControls(PF_EntryPointFunc entry);

// "Left|Middle|Right" -> {"Left", "Middle", "Right"}.
std::vector<std::string> SplitChoices(std::string_view names);

// Formats a value of `control` for people: "1.00", "100.00 %", "Random", "on".
std::string FormatControlValue(const ControlInfo& control, double value);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_CONTROLS_H

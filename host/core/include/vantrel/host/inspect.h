// Text descriptions of a module for a person: what the file is, its property
// resource decoded, and (when this host can load it) what its set-up commands
// answer under the strict host, including the controls it declares.
#ifndef VANTREL_HOST_INSPECT_H
#define VANTREL_HOST_INSPECT_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "vantrel/host/pipl.h"
#include "vantrel/host/session.h"

namespace vantrel::host {

// The whole report for `vantrel inspect`. Throws HostError only when the file
// cannot be read as a module at all (missing, neither PE nor ELF, no property
// resource); a module that loads but misbehaves is described, not thrown.
std::string DescribeModule(const std::filesystem::path& path);

// The report with a verdict: `problem` is empty for a module whose resource
// parses and which, where this host can load it, loads and answers its set-up
// commands with PF_Err_NONE and no protocol violation. Otherwise it is one
// line that names the file and the first thing found wrong, for a caller that
// must fail on a bad module. Throws as DescribeModule does.
struct ModuleReport {
  std::string text;
  std::string problem;
};
ModuleReport InspectModule(const std::filesystem::path& path);

// The property resource, one line per property with its decoded value.
std::string DescribePipl(const Pipl& pipl);

// The controls table for `vantrel controls`: index, id, name, type, range,
// default, display, flags; group members indented under their group.
std::string FormatControls(const std::vector<DeclaredParam>& params);

// Loads the module, runs PF_Cmd_PARAMS_SETUP in a fresh session and returns the
// controls it declared. Throws HostError when the module cannot be loaded or
// the command fails.
std::vector<DeclaredParam> DeclaredControls(const std::filesystem::path& path);

// "1.3.0 develop build 4" for 0x98004.
std::string DescribeVersion(uint32_t version);
// "WIDE_TIME_INPUT | NON_PARAM_VARY" for 0x6; unnamed bits in hex; "none" for 0.
std::string DescribeOutFlags(uint32_t flags);
std::string DescribeOutFlags2(uint32_t flags);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_INSPECT_H

// Loading an effect module the way After Effects does: read its property
// resource, load the library, find the entry point the resource names.
#ifndef VANTREL_HOST_MODULE_LOADER_H
#define VANTREL_HOST_MODULE_LOADER_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/host/pipl.h"

namespace vantrel::host {

// A loaded module. Unloads on destruction.
class LoadedModule {
 public:
  // Reads the property resource (PE resource "PiPL" 16000 for a Windows
  // module, the module's own section for the Linux build), checks that it is
  // an effect (kind eFKT), loads the library (dlopen, or LoadLibrary when the
  // host itself runs on Windows) and resolves the entry point named by the
  // resource. Throws HostError with a message a person can act on: missing
  // file, not a module, no or malformed property resource, not an effect,
  // entry point missing, a Windows module on a Linux host.
  static std::unique_ptr<LoadedModule> Load(const std::filesystem::path& path);
  ~LoadedModule();

  const std::filesystem::path& path() const { return path_; }
  const Pipl& pipl() const { return pipl_; }
  PF_EntryPointFunc entry() const { return entry_; }

 private:
  LoadedModule() = default;
  std::filesystem::path path_;
  Pipl pipl_;
  void* library_ = nullptr;
  PF_EntryPointFunc entry_ = nullptr;
};

// Reads only the property resource of a module file (either kind), without
// loading it: works on Linux for a Windows module.
Pipl ReadModulePipl(const std::filesystem::path& path);

// The ELF section in which the Linux build of a module carries its property
// resource (the same bytes as the Windows resource "PiPL" 16000).
inline constexpr char kPiplElfSection[] = "vantrel_pipl";

// What a module file is and where its property resource lies, read from the
// file without loading it.
struct ModuleFile {
  enum class Format { kPe, kElf };
  Format format = Format::kElf;
  std::string description;        // e.g. "PE32+ DLL, x86-64"
  std::string resource_location;  // e.g. "resource PiPL 16000, language 1033"
  std::vector<uint8_t> pipl_bytes;
};
// Throws HostError: missing file, not a module (neither PE nor ELF), no
// property resource.
ModuleFile ReadModuleFile(const std::filesystem::path& path);

// Contents of ELF64 section `name`. Throws HostError when the image is not a
// 64-bit little-endian ELF file, has no such section or the section lies
// outside the file.
std::vector<uint8_t> ReadElfSection(std::span<const uint8_t> image, const std::string& name);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_MODULE_LOADER_H

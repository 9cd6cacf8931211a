#include "vantrel/host/module_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "binary_image.h"
#include "vantrel/host/session.h"

namespace vantrel::host {

namespace {

constexpr uint16_t kPiplResourceId = 16000;

}  // namespace

ModuleFile ReadModuleFile(const std::filesystem::path& path) {
  const std::string name = path.string();
  std::vector<uint8_t> image = detail::ReadFileBytes(name);
  ModuleFile file;
  try {
    if (detail::LooksLikePe(image)) {
      file.format = ModuleFile::Format::kPe;
      file.description = detail::DescribePe(image);
      uint16_t language = 0;
      file.pipl_bytes = ReadPeResource(image, "PiPL", kPiplResourceId, &language);
      file.resource_location = "resource PiPL " + std::to_string(kPiplResourceId) + ", language " +
                               std::to_string(language);
    } else if (detail::LooksLikeElf(image)) {
      file.format = ModuleFile::Format::kElf;
      file.description = detail::DescribeElf(image);
      file.pipl_bytes = ReadElfSection(image, kPiplElfSection);
      file.resource_location = std::string("ELF section ") + kPiplElfSection;
    } else {
      throw HostError("not a module (neither a PE nor an ELF file)");
    }
  } catch (const HostError& e) {
    throw HostError(name + ": " + e.what());
  }
  return file;
}

Pipl ReadModulePipl(const std::filesystem::path& path) {
  ModuleFile file = ReadModuleFile(path);
  try {
    return ParsePipl(file.pipl_bytes);
  } catch (const HostError& e) {
    throw HostError(path.string() + ": " + e.what());
  }
}

std::unique_ptr<LoadedModule> LoadedModule::Load(const std::filesystem::path& path) {
  const std::string name = path.string();
  ModuleFile file = ReadModuleFile(path);
  std::unique_ptr<LoadedModule> module(new LoadedModule);
  module->path_ = path;
  std::string entry_name;
  try {
    module->pipl_ = ParsePipl(file.pipl_bytes);
    const std::string kind = module->pipl_.Kind();
    if (kind != "eFKT") throw HostError("not an effect (kind " + kind + ")");
    entry_name = module->pipl_.EntryPoint();
  } catch (const HostError& e) {
    throw HostError(name + ": " + e.what());
  }

#if defined(_WIN32)
  if (file.format != ModuleFile::Format::kPe) {
    throw HostError(name + ": a Linux module: load it with the Linux build of the host");
  }
  // A bare file name would make LoadLibrary search the system paths.
  HMODULE library = LoadLibraryW(std::filesystem::absolute(path).wstring().c_str());
  if (!library) {
    throw HostError(name + ": cannot be loaded (Windows error " + std::to_string(GetLastError()) +
                    ")");
  }
  module->library_ = library;
  module->entry_ = reinterpret_cast<PF_EntryPointFunc>(
      reinterpret_cast<void*>(GetProcAddress(library, entry_name.c_str())));
#else
  if (file.format == ModuleFile::Format::kPe) {
    throw HostError(name +
                    ": a Windows module: load it with the Windows build of the host "
                    "(here its property resource can only be inspected)");
  }
  // A relative path without a slash would make dlopen search the library path.
  const std::filesystem::path absolute = std::filesystem::absolute(path);
  void* library = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    throw HostError(name + ": cannot be loaded: " + (reason ? reason : "unknown reason"));
  }
  module->library_ = library;
  module->entry_ = reinterpret_cast<PF_EntryPointFunc>(dlsym(library, entry_name.c_str()));
#endif
  if (!module->entry_) {
    throw HostError(name + ": has no exported entry point " + entry_name +
                    " (named by its property resource)");
  }
  return module;
}

LoadedModule::~LoadedModule() {
  if (!library_) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(library_));
#else
  dlclose(library_);
#endif
}

}  // namespace vantrel::host

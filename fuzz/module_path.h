// Where the fuzz targets find the module that this build made: the path the
// build compiles in, or VANTREL_MODULE in the environment.
#ifndef VANTREL_FUZZ_MODULE_PATH_H
#define VANTREL_FUZZ_MODULE_PATH_H

#include <cstdlib>
#include <string>

namespace vantrel::fuzz {

inline std::string ModulePath() {
  if (const char* path = std::getenv("VANTREL_MODULE"); path != nullptr && *path != '\0') {
    return path;
  }
  return VANTREL_MODULE_PATH;
}

}  // namespace vantrel::fuzz

#endif  // VANTREL_FUZZ_MODULE_PATH_H

// Build tool, run with the native compiler: writes the serialised property
// resource to <dir>/pipl.bin and a resource script <dir>/pipl.rc that embeds it
// as type "PiPL", id 16000, language 1033.
#include <cstdio>
#include <fstream>
#include <string>

#include "resources/pipl.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  std::ofstream bin(dir + "/pipl.bin", std::ios::binary);
  bin.write(reinterpret_cast<const char*>(vantrel::pipl::kBytes.data()),
            static_cast<std::streamsize>(vantrel::pipl::kBytes.size()));
  std::ofstream rc(dir + "/pipl.rc");
  // LANG_ENGLISH (0x09), SUBLANG_ENGLISH_US (0x01): language 1033.
  static_assert(vantrel::pipl::kResourceLanguage == (0x01 << 10 | 0x09));
  rc << "LANGUAGE 0x09, 0x01\n"
     << vantrel::pipl::kResourceId << " PiPL \"" << dir << "/pipl.bin\"\n";
  bin.close();
  rc.close();
  if (!bin || !rc) {
    std::fprintf(stderr, "pipl_rc_gen: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}

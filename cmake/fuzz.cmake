# libFuzzer builds (clang only). With VANTREL_BUILD_FUZZ every target is
# compiled with coverage instrumentation and AddressSanitizer/UBSan, and the
# fuzz targets in fuzz/ link libFuzzer's main. The ordinary build never sets
# this; it builds the replay drivers of fuzz/ as tests instead.
option(VANTREL_BUILD_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(VANTREL_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VANTREL_BUILD_FUZZ needs clang (libFuzzer); use the \"fuzz\" preset")
  endif()
  if(NOT VANTREL_SANITIZE)
    set(VANTREL_SANITIZE "address,undefined" CACHE STRING "" FORCE)
  endif()
  # Coverage for every library the targets reach; the fuzzer main only where
  # a fuzz target is linked (fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

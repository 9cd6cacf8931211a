// The commands of the probe module: each makes one host call (or one
// deliberate mistake), so that a failing test points at the host, never at an
// effect. Shared by the probe and the tests that drive it.
#ifndef VANTREL_TESTS_HOST_CORE_PROBE_COMMANDS_H
#define VANTREL_TESTS_HOST_CORE_PROBE_COMMANDS_H

#include "ae_sdk.h"

namespace probe {

enum Command : PF_Cmd {
  kAcquireAndKeep = 100,  // acquires "PF ANSI Suite" 1 and never releases it
  kAnsiText = 101,        // sprintf into return_msg and strcpy into name, suite released
  kAcquireMissing = 102,  // returns AcquireSuite's result for kMissingSuite 1
  kAcquireAnsi = 103,     // returns AcquireSuite's result for "PF ANSI Suite" 1;
                          // my_version = 1 when it came back null; releases a given table
  kDeclareParams = 104,   // declares the five controls below; returns the first add_param error
  kPixelFormats = 105,    // Premiere's pixel formats: clear, then add 'bgra'
  kReleaseUnheld = 106,   // releases "PF ANSI Suite" 1 without acquiring it
  kHasBasicSuite = 107,   // my_version = 1 when pica_basicP is given
  kLongSprintf = 108,     // sprintf of a 300-character text into return_msg
  kLeakObject = 109,      // makes an object through kObjectSuite and keeps it
  kDoubleDispose = 110,   // makes an object and disposes of it twice
  kAddNullParam = 111,    // add_param with a null definition; returns its result
  kThrowException = 112,  // lets a std::runtime_error ("probe gave up") out of the entry point
  kThrowInteger = 113,    // lets an int out of the entry point
};

inline constexpr char kMissingSuite[] = "Probe Missing Suite";

// A suite the tests register to hand out owned host objects.
inline constexpr char kObjectSuite[] = "Probe Object Suite";
struct ObjectSuite1 {
  A_Err (*New)(void** object);
  A_Err (*Dispose)(void* object);
};

// Declared by kDeclareParams, in order: group start "Group", float slider
// "Amount" (0..100, default 50, one decimal, percent), pop-up "Mode" ("A|B|C",
// default 2), checkbox "Flag" (on), group end.
inline constexpr int kDeclaredParamCount = 5;

}  // namespace probe

#endif  // VANTREL_TESTS_HOST_CORE_PROBE_COMMANDS_H

#include "basic_callbacks.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vantrel/host/session.h"

namespace vantrel::host::detail {

namespace {

constexpr SPErr kSuiteError = 0x21486F73;  // '!Hos': refused without a session

void Violation(std::string what) {
  if (Session* session = Session::Current()) session->AddViolation(std::move(what));
}

// ---------------------------------------------------------------------------
// SPBasicSuite

SPErr AcquireSuite(const char* name, int32 version, const void** suite) {
  Session* session = Session::Current();
  if (!session) return kSuiteError;
  return CallGuard("AcquireSuite",
                   [&]() -> PF_Err { return session->suites().Acquire(name, version, suite); });
}

SPErr ReleaseSuite(const char* name, int32 version) {
  Session* session = Session::Current();
  if (!session) return kSuiteError;
  return CallGuard("ReleaseSuite",
                   [&]() -> PF_Err { return session->suites().Release(name, version); });
}

SPBoolean IsEqual(const char* token1, const char* token2) {
  if (!token1 || !token2) {
    Violation("SPBasicSuite.IsEqual called with a null string");
    return 0;
  }
  return std::strcmp(token1, token2) == 0;
}

SPErr AllocateBlock(size_t size, void** block) {
  if (!block) return kSuiteError;
  *block = std::malloc(size ? size : 1);
  return *block ? kSPNoError : static_cast<SPErr>(A_Err_ALLOC);
}

SPErr FreeBlock(void* block) {
  std::free(block);
  return kSPNoError;
}

SPErr ReallocateBlock(void* block, size_t size, void** new_block) {
  if (!new_block) return kSuiteError;
  void* moved = std::realloc(block, size ? size : 1);
  if (!moved) return static_cast<SPErr>(A_Err_ALLOC);
  *new_block = moved;
  return kSPNoError;
}

SPErr Undefined() {
  Violation("SPBasicSuite.Undefined called");
  return kSuiteError;
}

// ---------------------------------------------------------------------------
// ANSI callbacks

A_FpLong Atan(A_FpLong x) { return std::atan(x); }
A_FpLong Atan2(A_FpLong y, A_FpLong x) { return std::atan2(y, x); }
A_FpLong Ceil(A_FpLong x) { return std::ceil(x); }
A_FpLong Cos(A_FpLong x) { return std::cos(x); }
A_FpLong Exp(A_FpLong x) { return std::exp(x); }
A_FpLong Fabs(A_FpLong x) { return std::fabs(x); }
A_FpLong Floor(A_FpLong x) { return std::floor(x); }
A_FpLong Fmod(A_FpLong x, A_FpLong y) { return std::fmod(x, y); }
A_FpLong Hypot(A_FpLong x, A_FpLong y) { return std::hypot(x, y); }
A_FpLong Log(A_FpLong x) { return std::log(x); }
A_FpLong Log10(A_FpLong x) { return std::log10(x); }
A_FpLong Pow(A_FpLong x, A_FpLong y) { return std::pow(x, y); }
A_FpLong Sin(A_FpLong x) { return std::sin(x); }
A_FpLong Sqrt(A_FpLong x) { return std::sqrt(x); }
A_FpLong Tan(A_FpLong x) { return std::tan(x); }
A_FpLong Asin(A_FpLong x) { return std::asin(x); }
A_FpLong Acos(A_FpLong x) { return std::acos(x); }

// The host's sprintf does not know the destination's size; the one buffer a
// module hands it by contract is PF_OutData.return_msg (256 bytes), so no more
// than that is ever written, and a longer text is a violation.
int Sprintf(A_char* destination, const A_char* format, ...) {
  if (!destination || !format) {
    Violation("ANSI sprintf called with a null " +
              std::string(destination ? "format" : "destination"));
    return -1;
  }
  constexpr std::size_t kCapacity = PF_MAX_EFFECT_MSG_LEN + 1;
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(destination, kCapacity, format, args);
  va_end(args);
  if (length < 0) {
    Violation("ANSI sprintf: invalid format \"" + std::string(format) + "\"");
    destination[0] = '\0';
    return -1;
  }
  if (static_cast<std::size_t>(length) >= kCapacity) {
    Violation("ANSI sprintf: a text of " + std::to_string(length) + " characters was cut to " +
              std::to_string(kCapacity - 1) + " (the host's message buffer holds 256 bytes)");
    return static_cast<int>(kCapacity - 1);
  }
  return length;
}

A_char* Strcpy(A_char* destination, const A_char* source) {
  if (!destination || !source) {
    Violation("ANSI strcpy called with a null " +
              std::string(destination ? "source" : "destination"));
    return destination;
  }
  return std::strcpy(destination, source);
}

// ---------------------------------------------------------------------------
// "PF Pixel Format Suite" 1 (Premiere)

bool CheckEffectRef(Session* session, PF_ProgPtr effect_ref, const char* function) {
  if (effect_ref == session->effect_ref()) return true;
  session->AddViolation(std::string(function) + " called with an effect_ref the host did not give");
  return false;
}

// Pixel format codes hold their characters first character lowest: 'bgra' is
// 0x61726762.
std::string PixelFormatName(PrPixelFormat format) {
  const auto code = static_cast<uint32_t>(format);
  std::string name;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(code >> (8 * i));
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", code);
      return hex;
    }
    name.push_back(c);
  }
  return name;
}

PF_Err AddSupportedPixelFormat(PF_ProgPtr effect_ref, PrPixelFormat format) {
  Session* session = Session::Current();
  if (!session) return PF_Err_BAD_CALLBACK_PARAM;
  return CallGuard("AddSupportedPixelFormat", [&]() -> PF_Err {
    if (!CheckEffectRef(session, effect_ref, "AddSupportedPixelFormat")) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    session->pixel_format_log().push_back("add " + PixelFormatName(format));
    return PF_Err_NONE;
  });
}

PF_Err ClearSupportedPixelFormats(PF_ProgPtr effect_ref) {
  Session* session = Session::Current();
  if (!session) return PF_Err_BAD_CALLBACK_PARAM;
  return CallGuard("ClearSupportedPixelFormats", [&]() -> PF_Err {
    if (!CheckEffectRef(session, effect_ref, "ClearSupportedPixelFormats")) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    session->pixel_format_log().push_back("clear");
    return PF_Err_NONE;
  });
}

// The other slots are not offered: a call is a violation, never a crash.
PF_Err Unsupported(const char* function) {
  Violation(std::string("PF Pixel Format Suite: ") + function + " is not supported by this host");
  return PF_Err_BAD_CALLBACK_PARAM;
}
PF_Err NewWorldOfPixelFormat(PF_ProgPtr, A_long, A_long, PF_WorldFlags, PrPixelFormat,
                             PF_EffectWorld*) {
  return Unsupported("NewWorldOfPixelFormat");
}
PF_Err DisposeWorld(PF_ProgPtr, PF_EffectWorld*) { return Unsupported("DisposeWorld"); }
PF_Err GetPixelFormat(PF_EffectWorld*, PrPixelFormat*) { return Unsupported("GetPixelFormat"); }
PF_Err GetBlackForPixelFormat(PrPixelFormat, void*) {
  return Unsupported("GetBlackForPixelFormat");
}
PF_Err GetWhiteForPixelFormat(PrPixelFormat, void*) {
  return Unsupported("GetWhiteForPixelFormat");
}
PF_Err ConvertColorToPixelFormattedData(PrPixelFormat, A_FpShort, A_FpShort, A_FpShort, A_FpShort,
                                        void*) {
  return Unsupported("ConvertColorToPixelFormattedData");
}

}  // namespace

SPBasicSuite MakeBasicSuite() {
  return {AcquireSuite, ReleaseSuite,    IsEqual,  AllocateBlock,
          FreeBlock,    ReallocateBlock, Undefined};
}

PF_ANSICallbacks MakeAnsiCallbacks() {
  PF_ANSICallbacks ansi{};
  ansi.atan = Atan;
  ansi.atan2 = Atan2;
  ansi.ceil = Ceil;
  ansi.cos = Cos;
  ansi.exp = Exp;
  ansi.fabs = Fabs;
  ansi.floor = Floor;
  ansi.fmod = Fmod;
  ansi.hypot = Hypot;
  ansi.log = Log;
  ansi.log10 = Log10;
  ansi.pow = Pow;
  ansi.sin = Sin;
  ansi.sqrt = Sqrt;
  ansi.tan = Tan;
  ansi.sprintf = Sprintf;
  ansi.strcpy = Strcpy;
  ansi.asin = Asin;
  ansi.acos = Acos;
  return ansi;
}

const PF_ANSICallbacksSuite1* AnsiSuite() {
  static const PF_ANSICallbacksSuite1 suite = {Atan, Atan2,   Ceil,   Cos,   Exp, Fabs, Floor,
                                               Fmod, Hypot,   Log,    Log10, Pow, Sin,  Sqrt,
                                               Tan,  Sprintf, Strcpy, Asin,  Acos};
  return &suite;
}

const PF_PixelFormatSuite1* PixelFormatSuite() {
  static const PF_PixelFormatSuite1 suite = {
      AddSupportedPixelFormat, ClearSupportedPixelFormats,
      NewWorldOfPixelFormat,   DisposeWorld,
      GetPixelFormat,          GetBlackForPixelFormat,
      GetWhiteForPixelFormat,  ConvertColorToPixelFormattedData};
  return &suite;
}

PF_Err AddParamCallback(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def) {
  Session* session = Session::Current();
  if (!session) return PF_Err_BAD_CALLBACK_PARAM;
  return CallGuard("add_param", [&]() -> PF_Err {
    if (!CheckEffectRef(session, effect_ref, "add_param")) return PF_Err_BAD_CALLBACK_PARAM;
    return session->AddParam(index, def);
  });
}

}  // namespace vantrel::host::detail

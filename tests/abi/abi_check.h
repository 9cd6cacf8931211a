// Support for the generated layout checks: a report that collects mismatches,
// and the encoding of a function-pointer type as a signature code
// ("i4(p,i4,p)": p pointer, iN integer or enumeration of N bytes, fN floating
// point of N bytes, v void, sN record by value, ",..." variadic).
#ifndef VANTREL_TESTS_ABI_ABI_CHECK_H
#define VANTREL_TESTS_ABI_ABI_CHECK_H

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace abi_layout {

template <class T>
std::string Code() {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_void_v<U>) {
    return "v";
  } else if constexpr (std::is_pointer_v<U> || std::is_reference_v<T> ||
                       std::is_null_pointer_v<U> || std::is_array_v<U>) {
    return "p";
  } else if constexpr (std::is_floating_point_v<U>) {
    return "f" + std::to_string(sizeof(U));
  } else if constexpr (std::is_integral_v<U> || std::is_enum_v<U>) {
    return "i" + std::to_string(sizeof(U));
  } else {
    return "s" + std::to_string(sizeof(U));
  }
}

template <class... Args>
std::string ArgumentCodes() {
  std::string codes;
  ((codes += (codes.empty() ? "" : ",") + Code<Args>()), ...);
  return codes;
}

// "-" for a slot that is not a function pointer.
template <class F>
struct Signature {
  static std::string Get() { return "-"; }
};
template <class R, class... Args>
struct Signature<R (*)(Args...)> {
  static std::string Get() { return Code<R>() + "(" + ArgumentCodes<Args...>() + ")"; }
};
template <class R, class... Args>
struct Signature<R (*)(Args..., ...)> {
  static std::string Get() {
    const std::string fixed = ArgumentCodes<Args...>();
    return Code<R>() + "(" + fixed + (fixed.empty() ? "..." : ",...") + ")";
  }
};

class Report {
 public:
  void Member(const char* record, const char* member, std::size_t offset, std::size_t size,
              std::size_t want_offset, std::size_t want_size) {
    ++checked_;
    if (offset == want_offset && size == want_size) return;
    Fail(std::string(record) + "." + member + ": expected offset " + std::to_string(want_offset) +
         " size " + std::to_string(want_size) + ", header has offset " + std::to_string(offset) +
         " size " + std::to_string(size));
  }
  void Number(const char* what, long long value, long long want) {
    ++checked_;
    if (value == want) return;
    Fail(std::string(what) + ": expected " + std::to_string(want) + ", header has " +
         std::to_string(value));
  }
  void Text(const char* what, std::string_view value, std::string_view want) {
    ++checked_;
    if (value == want) return;
    Fail(std::string(what) + ": expected \"" + std::string(want) + "\", header has \"" +
         std::string(value) + "\"");
  }

  int checked() const { return checked_; }
  const std::vector<std::string>& mismatches() const { return mismatches_; }

 private:
  void Fail(std::string message) { mismatches_.push_back(std::move(message)); }

  int checked_ = 0;
  std::vector<std::string> mismatches_;
};

// Defined by the generated source: one check per line of the table.
extern const int kExpectedChecks;
void CheckAll(Report& report);

}  // namespace abi_layout

#endif  // VANTREL_TESTS_ABI_ABI_CHECK_H

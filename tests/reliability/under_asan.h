// VANTREL_UNDER_ASAN is defined when this file is compiled with
// AddressSanitizer (gcc's or clang's spelling of the check). Some measures do
// not hold there: its operator new aborts instead of throwing std::bad_alloc,
// and its own bookkeeping grows the resident size.
#ifndef VANTREL_TESTS_RELIABILITY_UNDER_ASAN_H
#define VANTREL_TESTS_RELIABILITY_UNDER_ASAN_H

#if defined(__SANITIZE_ADDRESS__)
#define VANTREL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTREL_UNDER_ASAN 1
#endif
#endif

#endif  // VANTREL_TESTS_RELIABILITY_UNDER_ASAN_H

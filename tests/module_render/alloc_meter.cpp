// Replaces the global operator new and delete of the test program with ones
// that keep a size header in front of every block. Allocation failure throws
// std::bad_alloc, as the render's error guard expects; this also holds under
// AddressSanitizer, whose own operator new reports the failure and aborts even
// with allocator_may_return_null=1 (run there with
// ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=8192, so
// that malloc returns null for the absurd outline count instead).
#include "alloc_meter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace vantrel::render_test {
namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);

std::atomic<std::size_t> live_bytes{0};
std::atomic<std::size_t> peak_bytes{0};
std::atomic<std::size_t> mark_bytes{0};

void* Allocate(std::size_t size) {
  if (size > static_cast<std::size_t>(-1) - kHeader) throw std::bad_alloc();
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t now = live_bytes.fetch_add(size) + size;
  std::size_t peak = peak_bytes.load();
  while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
  }
  return block + kHeader;
}

void Free(void* p) noexcept {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  live_bytes.fetch_sub(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

std::size_t LiveBytes() { return live_bytes.load(); }

void MarkPeak() {
  mark_bytes = live_bytes.load();
  peak_bytes = mark_bytes.load();
}

std::size_t PeakBytesSinceMark() { return peak_bytes.load() - mark_bytes.load(); }

}  // namespace vantrel::render_test

void* operator new(std::size_t size) { return vantrel::render_test::Allocate(size); }
void* operator new[](std::size_t size) { return vantrel::render_test::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return vantrel::render_test::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return vantrel::render_test::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { vantrel::render_test::Free(p); }
void operator delete[](void* p) noexcept { vantrel::render_test::Free(p); }
void operator delete(void* p, std::size_t) noexcept { vantrel::render_test::Free(p); }
void operator delete[](void* p, std::size_t) noexcept { vantrel::render_test::Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { vantrel::render_test::Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { vantrel::render_test::Free(p); }

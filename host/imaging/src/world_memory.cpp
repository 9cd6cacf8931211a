// The memory of worlds: pixel blocks kept for reuse, owned images and world
// descriptions.
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

#include "vantrel/host/imaging.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vantrel::host {

namespace {

constexpr int32_t kRowAlignBytes = 16;

constexpr size_t kKeptBlockMinBytes = size_t{1} << 20;    // smaller blocks go to the heap
constexpr size_t kKeptBlocksMaxBytes = size_t{96} << 20;  // kept at most, in all

struct BlockCache {
  std::mutex mutex;
  std::vector<std::pair<size_t, void*>> blocks;  // oldest first
  size_t bytes = 0;
};

BlockCache& Blocks() {
  // Never destroyed: images in other static objects may be freed after it.
  static BlockCache* cache = new BlockCache;
  return *cache;
}

// Blocks from this size on are laid out on huge pages where the system
// allows it: a frame's rows are 7,680 bytes apart at 1920 pixels, so every
// row of a piece drawn into it or cut out of it fell on a page of its own,
// and a frame and its layer held more 4 KB pages than the TLB, each miss a
// page walk (nested, in a virtual machine).
constexpr size_t kHugePage = size_t{2} << 20;

void* NewBlock(size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes);
  void* block = ::operator new (bytes, std::align_val_t{kHugePage});
#if defined(MADV_HUGEPAGE)
  // Advice only: without it (or where refused) the block has ordinary pages.
  const size_t span = (bytes + 4095) & ~size_t{4095};
  (void)madvise(block, span, MADV_HUGEPAGE);
#endif
  return block;
}

void DeleteBlock(void* block, size_t bytes) noexcept {
  if (bytes < kHugePage) {
    ::operator delete(block);
  } else {
    ::operator delete (block, std::align_val_t{kHugePage});
  }
}

}  // namespace

void* AllocatePixelBlock(size_t bytes) {
  if (bytes >= kKeptBlockMinBytes) {
    BlockCache& c = Blocks();
    std::lock_guard lock(c.mutex);
    for (size_t i = c.blocks.size(); i-- > 0;) {  // the most recently freed first
      if (c.blocks[i].first == bytes) {
        void* block = c.blocks[i].second;
        c.blocks.erase(c.blocks.begin() + static_cast<std::ptrdiff_t>(i));
        c.bytes -= bytes;
        return block;
      }
    }
  }
  return NewBlock(bytes);
}

void FreePixelBlock(void* block, size_t bytes) noexcept {
  if (!block) return;
  if (bytes >= kKeptBlockMinBytes && bytes <= kKeptBlocksMaxBytes) {
    BlockCache& c = Blocks();
    std::lock_guard lock(c.mutex);
    while (c.bytes + bytes > kKeptBlocksMaxBytes) {  // make room: drop the oldest
      DeleteBlock(c.blocks.front().second, c.blocks.front().first);
      c.bytes -= c.blocks.front().first;
      c.blocks.erase(c.blocks.begin());
    }
    try {
      c.blocks.emplace_back(bytes, block);
      c.bytes += bytes;
      return;
    } catch (...) {  // no room to note it: give it back
    }
  }
  DeleteBlock(block, bytes);
}

// ---------------------------------------------------------------------------
// Image

Image::Image(int32_t width, int32_t height) {
  if (width < 0 || height < 0) throw std::invalid_argument("Image: negative size");
  const int64_t rowbytes =
      (static_cast<int64_t>(width) * 4 + kRowAlignBytes - 1) / kRowAlignBytes * kRowAlignBytes;
  if (rowbytes > std::numeric_limits<int32_t>::max()) throw std::length_error("Image: too wide");
  width_ = width;
  height_ = height;
  rowbytes_ = static_cast<int32_t>(rowbytes);
  pixels_.resize(static_cast<size_t>(rowbytes / 4) * static_cast<size_t>(height));  // unwritten
  if (!pixels_.empty()) std::memset(pixels_.data(), 0, pixels_.size() * sizeof(PF_Pixel));
}

PF_Pixel* Image::row(int32_t y) {
  return pixels_.data() + static_cast<size_t>(y) * (rowbytes_ / 4);
}

const PF_Pixel* Image::row(int32_t y) const {
  return pixels_.data() + static_cast<size_t>(y) * (rowbytes_ / 4);
}

PF_EffectWorld Image::AsWorld() { return DescribeWorld(data(), width_, height_, rowbytes_); }

PF_EffectWorld DescribeWorld(PF_Pixel* data, int32_t width, int32_t height, int32_t rowbytes) {
  PF_EffectWorld w{};
  w.world_flags = 0;
  w.data = data;
  w.rowbytes = rowbytes;
  w.width = width;
  w.height = height;
  w.extent_hint = {0, 0, width, height};
  w.pix_aspect_ratio = {1, 1};
  return w;
}

bool IsValidWorld(const PF_EffectWorld& w) {
  if (w.width < 0 || w.height < 0) return false;
  if (w.width == 0 || w.height == 0) return true;
  return w.data != nullptr && w.rowbytes % 4 == 0 &&
         static_cast<int64_t>(w.rowbytes) >= static_cast<int64_t>(w.width) * 4;
}

}  // namespace vantrel::host

// Move-only owners of the host objects that a render obtains: text outlines,
// the effect reference, a stream, a stream value and temporary worlds. Each
// holds the handle together with the dispose function of the suite that made
// it, so the object goes back to the host on every way out of the render,
// exceptions included. The suite tables live in the render's SuiteCache,
// which outlives every owner.
#ifndef VANTREL_MODULE_RENDER_HOST_OBJECT_H
#define VANTREL_MODULE_RENDER_HOST_OBJECT_H

#include <utility>

#include "ae_sdk.h"

namespace vantrel {

// Owns one opaque host handle. A null handle is never passed to the host: the
// host may leave the handle null when it fails, and such a call is not
// examined, so there may be nothing to dispose of.
template <class Handle>
class HostObject {
 public:
  using DisposeFunc = A_Err (*)(Handle);

  explicit HostObject(DisposeFunc dispose) noexcept : dispose_(dispose) {}
  HostObject(HostObject&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), dispose_(other.dispose_) {}
  HostObject& operator=(HostObject&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
      dispose_ = other.dispose_;
    }
    return *this;
  }
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;
  ~HostObject() noexcept { Reset(); }

  Handle get() const noexcept { return handle_; }

  // Disposes of any held object and returns the place for the host to write
  // a new handle into.
  Handle* Put() noexcept {
    Reset();
    return &handle_;
  }

  // Gives the object back to the host now; the result is not examined.
  void Reset() noexcept {
    if (handle_ != nullptr && dispose_ != nullptr) dispose_(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
  DisposeFunc dispose_;
};

using TextOutlines = HostObject<AEGP_TextOutlinesH>;
using EffectRef = HostObject<AEGP_EffectRefH>;
using StreamRef = HostObject<AEGP_StreamRefH>;
using World = HostObject<AEGP_WorldH>;

// Owns the contents of one stream value. The value is handed back only once
// the host has filled it (MarkFilled after a successful fetch).
class StreamValue {
 public:
  using DisposeFunc = A_Err (*)(AEGP_StreamValue2*);

  explicit StreamValue(DisposeFunc dispose) noexcept : dispose_(dispose) {}
  StreamValue(const StreamValue&) = delete;
  StreamValue& operator=(const StreamValue&) = delete;
  ~StreamValue() noexcept {
    if (filled_ && dispose_ != nullptr) dispose_(&value_);
  }

  AEGP_StreamValue2* Put() noexcept { return &value_; }
  void MarkFilled() noexcept { filled_ = true; }
  const AEGP_StreamValue2& get() const noexcept { return value_; }

 private:
  AEGP_StreamValue2 value_{};
  bool filled_ = false;
  DisposeFunc dispose_;
};

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_HOST_OBJECT_H

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

#include "vantrel/host/session.h"

namespace vantrel::host {

const char* HandleKindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::kLayer:
      return "layer";
    case HandleKind::kEffectRef:
      return "effect reference";
    case HandleKind::kStream:
      return "stream";
    case HandleKind::kStreamValue:
      return "stream value";
    case HandleKind::kTextOutlines:
      return "text outlines";
    case HandleKind::kPath:
      return "path";
    case HandleKind::kWorld:
      return "world";
    case HandleKind::kProgPtr:
      return "effect_ref";
  }
  return "unknown";
}

namespace {

std::string Describe(HandleKind kind, const void* handle) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", handle);
  return std::string(HandleKindName(kind)) + "@" + address;
}

void Violation(std::string what) {
  if (Session* session = Session::Current()) session->AddViolation(std::move(what));
}

std::atomic<uint64_t> next_version{1};

// A lookup that found a live handle: valid while its table's version is the
// one it was made at. A few per thread, replaced in turn.
struct Found {
  const HandleTable* table = nullptr;
  uint64_t version = 0;
  const void* handle = nullptr;
  HandleKind kind{};
};
thread_local Found recent_finds[4];
thread_local unsigned next_find = 0;

}  // namespace

HandleTable::HandleTable() : version_(next_version.fetch_add(1, std::memory_order_relaxed)) {}

void HandleTable::Changed() {
  version_.store(next_version.fetch_add(1, std::memory_order_relaxed), std::memory_order_release);
}

HandleTable::~HandleTable() {
  std::vector<std::shared_ptr<void>> holders;
  {
    std::lock_guard lock(mutex_);
    for (auto& [handle, entry] : live_) {
      if (entry.holder) holders.push_back(std::move(entry.holder));
    }
    live_.clear();
    Changed();
  }
  holders.clear();
}

void HandleTable::Insert(HandleKind kind, const void* handle, std::shared_ptr<void> holder) {
  std::lock_guard lock(mutex_);
  const bool owned = holder != nullptr;
  // A new object can only reuse the address of one that is already gone; a
  // live entry at the same address is replaced (a re-lent borrowed handle).
  live_[handle] = Entry{kind, std::move(holder), owned, next_serial_++};
  ++issued_[kind];
  Changed();
}

void HandleTable::Lend(HandleKind kind, const void* handle) {
  if (!handle) throw HostError("lending a null handle");
  Insert(kind, handle, nullptr);
}

void* HandleTable::FindRaw(HandleKind kind, const void* handle) const {
  // Module calls look up the same few handles over and over between the
  // changes of the table: those are answered without the lock.
  const uint64_t version = version_.load(std::memory_order_acquire);
  for (const Found& f : recent_finds) {
    if (f.table == this && f.handle == handle && f.version == version) {
      return f.kind == kind ? const_cast<void*>(handle) : nullptr;
    }
  }
  std::lock_guard lock(mutex_);
  auto it = live_.find(handle);
  if (it == live_.end()) return nullptr;
  recent_finds[next_find++ % std::size(recent_finds)] = {
      this, version_.load(std::memory_order_relaxed), handle, it->second.kind};
  if (it->second.kind != kind) return nullptr;
  return const_cast<void*>(handle);
}

bool HandleTable::Dispose(HandleKind kind, const void* handle) {
  std::unique_lock lock(mutex_);
  auto it = live_.find(handle);
  std::string problem;
  if (!handle) {
    problem = std::string("dispose of a null ") + HandleKindName(kind);
  } else if (it == live_.end()) {
    problem = "dispose of " + Describe(kind, handle) + ": unknown or already disposed handle";
  } else if (it->second.kind != kind) {
    problem = "dispose of " + Describe(kind, handle) + ": the handle is a " +
              HandleKindName(it->second.kind);
  } else if (!it->second.owned) {
    problem = "dispose of " + Describe(kind, handle) + ": the handle belongs to the host";
  }
  if (!problem.empty()) {
    lock.unlock();
    Violation(std::move(problem));
    return false;
  }
  // Destroy the object outside the lock: its destructor may use the table.
  std::shared_ptr<void> holder = std::move(it->second.holder);
  live_.erase(it);
  Changed();
  lock.unlock();
  holder.reset();
  return true;
}

void HandleTable::Revoke(const void* handle) {
  std::shared_ptr<void> holder;
  {
    std::lock_guard lock(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) return;
    holder = std::move(it->second.holder);
    live_.erase(it);
    Changed();
  }
}

std::vector<std::string> HandleTable::Outstanding() const {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<uint64_t, std::string>> found;
  for (const auto& [handle, entry] : live_) {
    if (entry.owned) found.emplace_back(entry.serial, Describe(entry.kind, handle));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> result;
  for (auto& [serial, text] : found) result.push_back(std::move(text));
  return result;
}

std::size_t HandleTable::IssuedCount(HandleKind kind) const {
  std::lock_guard lock(mutex_);
  auto it = issued_.find(kind);
  return it == issued_.end() ? 0 : it->second;
}

uint64_t HandleTable::NextSerial() const {
  std::lock_guard lock(mutex_);
  return next_serial_;
}

std::vector<std::string> HandleTable::ReclaimOwnedSince(uint64_t serial) {
  std::vector<std::pair<uint64_t, std::string>> found;
  std::vector<std::shared_ptr<void>> holders;
  {
    std::lock_guard lock(mutex_);
    for (auto it = live_.begin(); it != live_.end();) {
      if (it->second.owned && it->second.serial >= serial) {
        found.emplace_back(it->second.serial, Describe(it->second.kind, it->first));
        holders.push_back(std::move(it->second.holder));
        it = live_.erase(it);
        Changed();
      } else {
        ++it;
      }
    }
  }
  holders.clear();
  std::sort(found.begin(), found.end());
  std::vector<std::string> result;
  for (auto& [s, text] : found) result.push_back(std::move(text));
  return result;
}

}  // namespace vantrel::host

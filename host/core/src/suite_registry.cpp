#include "vantrel/host/session.h"

namespace vantrel::host {

namespace {

// The basic suite's answer for a suite it does not have or will not give:
// 'S!Fd', as the host's own suite-not-found code.
constexpr SPErr kSuiteNotFound = 0x53214664;
constexpr SPErr kBadParameter = 0x5061723F;  // 'Par?'

std::string Label(const std::string& name, int32_t version) {
  return name + " v" + std::to_string(version);
}

void Violation(std::string what) {
  if (Session* session = Session::Current()) session->AddViolation(std::move(what));
}

}  // namespace

void SuiteRegistry::Register(std::string name, int32_t version, const void* table) {
  if (!table) throw HostError("registering suite " + Label(name, version) + " without a table");
  std::lock_guard lock(mutex_);
  tables_[{std::move(name), version}] = table;
}

const void* SuiteRegistry::Find(const std::string& name, int32_t version) const {
  std::lock_guard lock(mutex_);
  auto it = tables_.find({name, version});
  return it == tables_.end() ? nullptr : it->second;
}

void SuiteRegistry::Refuse(std::string name, int32_t version) {
  std::lock_guard lock(mutex_);
  faults_.push_back({{std::move(name), version}, false});
}

void SuiteRegistry::HandBackNull(std::string name, int32_t version) {
  std::lock_guard lock(mutex_);
  faults_.push_back({{std::move(name), version}, true});
}

SPErr SuiteRegistry::Acquire(const char* name, int32_t version, const void** suite) {
  if (!name || !suite) {
    Violation("AcquireSuite called with a null " + std::string(name ? "result pointer" : "name"));
    return kBadParameter;
  }
  std::unique_lock lock(mutex_);
  Key key{name, version};
  acquire_log_.push_back(Label(key.first, version));
  for (const auto& [fault, hand_back_null] : faults_) {
    if (fault.first != key.first || (fault.second != -1 && fault.second != version)) continue;
    ++counts_[key].refused;
    if (hand_back_null) {
      *suite = nullptr;
      return kSPNoError;
    }
    return kSuiteNotFound;
  }
  auto it = tables_.find(key);
  if (it == tables_.end()) {
    // Not a violation: a module may probe for suites a host does not offer.
    ++counts_[key].refused;
    *suite = nullptr;
    return kSuiteNotFound;
  }
  ++counts_[key].acquired;
  *suite = it->second;
  return kSPNoError;
}

SPErr SuiteRegistry::Release(const char* name, int32_t version) {
  if (!name) {
    Violation("ReleaseSuite called with a null name");
    return kBadParameter;
  }
  std::unique_lock lock(mutex_);
  Key key{name, version};
  Counts& counts = counts_[key];
  if (counts.released >= counts.acquired) {
    lock.unlock();
    Violation("ReleaseSuite of " + Label(key.first, version) + ", which is not held");
    return kBadParameter;
  }
  ++counts.released;
  return kSPNoError;
}

SuiteRegistry::Counts SuiteRegistry::CountsFor(const std::string& name, int32_t version) const {
  std::lock_guard lock(mutex_);
  auto it = counts_.find({name, version});
  return it == counts_.end() ? Counts{} : it->second;
}

std::map<std::pair<std::string, int32_t>, int> SuiteRegistry::Held() const {
  std::lock_guard lock(mutex_);
  std::map<Key, int> held;
  for (const auto& [key, counts] : counts_) {
    if (counts.acquired > counts.released) held[key] = counts.acquired - counts.released;
  }
  return held;
}

std::vector<std::string> SuiteRegistry::Outstanding() const {
  std::vector<std::string> result;
  for (const auto& [key, n] : Held()) {
    result.push_back(Label(key.first, key.second) + " (" + std::to_string(n) + " held)");
  }
  return result;
}

std::vector<std::string> SuiteRegistry::AcquireLog() const {
  std::lock_guard lock(mutex_);
  return acquire_log_;
}

void SuiteRegistry::ResetCounts() {
  std::lock_guard lock(mutex_);
  counts_.clear();
  acquire_log_.clear();
}

}  // namespace vantrel::host

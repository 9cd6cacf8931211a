// The strict host's per-call state: the suite registry behind SPBasicSuite,
// the table of host objects handed to a module, and the records of PF_InData.
//
// Every host function that a module can call is a free C-compatible function
// that finds its Session through Session::Current() (set for the duration of
// Session::Call on the calling thread) and runs its body under CallGuard, so
// that no C++ exception crosses into the module.
#ifndef VANTREL_HOST_SESSION_H
#define VANTREL_HOST_SESSION_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "ae_sdk.h"

namespace vantrel::host {

// A fault of the host or of a module that the host detected (bad file,
// protocol violation, ...). Never thrown across the module boundary.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Kinds of objects the host hands to a module. Owned kinds must be disposed
// by the module before EntryPointFunc returns; borrowed kinds belong to the
// host and are only validated.
enum class HandleKind {
  kLayer,         // borrowed: AEGP_LayerH
  kEffectRef,     // owned: AEGP_EffectRefH (AEGP_DisposeEffect)
  kStream,        // owned: AEGP_StreamRefH (AEGP_DisposeStream)
  kStreamValue,   // owned: an AEGP_StreamValue2 filled by AEGP_GetNewStreamValue
  kTextOutlines,  // owned: AEGP_TextOutlinesH (AEGP_DisposeTextOutlines)
  kPath,          // borrowed: PF_PathOutlinePtr inside a text outlines object
  kWorld,         // owned: AEGP_WorldH (AEGP_Dispose)
  kProgPtr,       // borrowed: the effect_ref token of PF_InData
};

const char* HandleKindName(HandleKind kind);

// Host objects handed out during calls, by their opaque handle value.
// Thread-safe. A handle is valid from Issue until Dispose (owned kinds) or
// Revoke (borrowed kinds); a stale, unknown or wrong-kind handle is refused.
class HandleTable {
 public:
  HandleTable();
  // Destroys the objects still held one by one outside the lock, so that an
  // object's destructor may itself revoke the handles it lent.
  ~HandleTable();
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // Takes ownership of `object` and returns the handle value the module sees
  // (the object's address).
  template <class T>
  T* Issue(HandleKind kind, std::unique_ptr<T> object) {
    T* raw = object.get();
    std::shared_ptr<void> holder(std::move(object));
    Insert(kind, raw, std::move(holder));
    return raw;
  }
  // Registers an object the host keeps owning (borrowed kinds).
  void Lend(HandleKind kind, const void* handle);

  // The live object behind `handle`, or nullptr when it is unknown, stale or
  // of another kind.
  template <class T>
  T* Find(HandleKind kind, const void* handle) const {
    return static_cast<T*>(FindRaw(kind, handle));
  }
  // Ends an owned handle's life. False (and a violation recorded) for a
  // double dispose, an unknown handle or a handle of another kind.
  bool Dispose(HandleKind kind, const void* handle);
  void Revoke(const void* handle);

  // Owned handles still alive, as "kind@address" descriptions.
  std::vector<std::string> Outstanding() const;
  std::size_t IssuedCount(HandleKind kind) const;

  // Every Issue/Lend gets the next serial number. Session::Call takes the
  // serial before a module call and afterwards reclaims the owned handles
  // issued since then that the module left alive, returning their
  // descriptions.
  uint64_t NextSerial() const;
  std::vector<std::string> ReclaimOwnedSince(uint64_t serial);

 private:
  void Insert(HandleKind kind, const void* handle, std::shared_ptr<void> holder);
  void* FindRaw(HandleKind kind, const void* handle) const;

  struct Entry {
    HandleKind kind;
    std::shared_ptr<void> holder;  // null for borrowed handles
    bool owned;
    uint64_t serial;
  };
  // Marks a change of live_ (under the lock): lookups remembered per thread
  // are valid while the version they were made at is current.
  void Changed();

  mutable std::mutex mutex_;
  std::unordered_map<const void*, Entry> live_;
  std::map<HandleKind, std::size_t> issued_;
  uint64_t next_serial_ = 1;
  // Unique across all tables, so that a table made at a freed one's address
  // matches nothing remembered about the old one.
  std::atomic<uint64_t> version_;
};

// Suites by (name, version). Counts every acquire and release; can refuse a
// named suite on demand.
class SuiteRegistry {
 public:
  void Register(std::string name, int32_t version, const void* table);
  const void* Find(const std::string& name, int32_t version) const;

  // Fault injection: AcquireSuite of this suite fails (version -1: every
  // version of that name).
  void Refuse(std::string name, int32_t version = -1);
  // AcquireSuite of this suite succeeds but hands back a null table.
  void HandBackNull(std::string name, int32_t version = -1);

  // Called by SPBasicSuite. Acquire sets *suite to the table, or to null with
  // a non-zero result ('S!Fd') for a refused or unknown suite.
  SPErr Acquire(const char* name, int32_t version, const void** suite);
  SPErr Release(const char* name, int32_t version);

  struct Counts {
    int acquired = 0;
    int released = 0;
    int refused = 0;
  };
  Counts CountsFor(const std::string& name, int32_t version) const;
  // Suites acquired more often than released, as "name v<version> (n held)".
  std::vector<std::string> Outstanding() const;
  // Acquired minus released, per suite that is held at all.
  std::map<std::pair<std::string, int32_t>, int> Held() const;
  // Every AcquireSuite call in order, as "name v<version>".
  std::vector<std::string> AcquireLog() const;
  void ResetCounts();

 private:
  using Key = std::pair<std::string, int32_t>;
  mutable std::mutex mutex_;
  std::map<Key, const void*> tables_;
  std::map<Key, Counts> counts_;
  std::vector<std::pair<Key, bool>> faults_;  // (suite, hand back null?) version -1 = any
  std::vector<std::string> acquire_log_;
};

// A control declared by a module through add_param, as the host keeps it.
struct DeclaredParam {
  PF_ParamDef def;            // as passed, with pointers cleared
  std::string choices;        // pop-up names, "A|B|C"
  std::string checkbox_text;  // text beside a checkbox
};

// Options for making a module call misbehave on purpose.
struct FaultOptions {
  bool null_basic_suite = false;  // pica_basicP = nullptr
  int fail_add_param_at = 0;      // 1-based; 0 = never
  PF_Err fail_add_param_code = PF_Err_OUT_OF_MEMORY;
  // AEGP_GetNumTextOutlines reports this count instead of the real one (an
  // absurd count makes the module's per-outline storage fail to allocate).
  std::optional<A_long> num_text_outlines;
};

// The host functions whose calls a FaultPlan counts and can fail, by their
// SDK names: every call a module makes that can fail and that is not a
// suite acquisition (SuiteRegistry::Refuse covers those) or a disposal.
const std::vector<std::string>& FaultableHostFunctions();

// "Fail the k-th call of host function F with code E", for any number of
// (F, k) pairs. Calls are counted per session from its start, on every thread.
// A failed call leaves its outputs as a failing host leaves them: a handle it
// would have made is null, a value it would have written is untouched.
class FaultPlan {
 public:
  // Throws HostError for a function that is not in FaultableHostFunctions()
  // or for nth < 1, so that a misspelt plan cannot pass unnoticed.
  void FailCall(const std::string& function, int nth, A_Err code);
  // Counts one call of `function`; the code it must fail with, if planned.
  std::optional<A_Err> Count(const char* function);
  // Calls of `function` counted so far.
  int Calls(const std::string& function) const;
  // Faults planned and actually triggered so far.
  int Injected() const;

 private:
  // Counting is on the path of every host call a module makes: the calls of
  // the faultable functions are counters by the function's place in
  // FaultableHostFunctions(), and the plan is looked at only once one is set.
  // Until then the thread that made the plan (the session's) counts in
  // owner_counts_ without a locked instruction, which would wait for every
  // store before it (a world just filled) to reach the cache; other threads
  // count in counts_, as every thread does once a fault is planned.
  static constexpr std::size_t kMaxCounted = 32;
  std::thread::id owner_ = std::this_thread::get_id();
  std::atomic<int> owner_counts_[kMaxCounted] = {};
  std::atomic<int> counts_[kMaxCounted] = {};
  std::atomic<bool> any_planned_{false};
  mutable std::mutex mutex_;
  std::map<std::string, int, std::less<>> other_calls_;  // names outside the list
  std::map<std::pair<std::string, int>, A_Err> planned_;
  int injected_ = 0;
};

// One host instance: registry, handles, callback tables and the strict
// bookkeeping of module calls. A Session may be used from one thread at a
// time; independent Sessions may run in parallel.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  static Session* Current();  // the session of the module call running on this thread

  // Makes a session current on the calling thread for the scope's life (for
  // host work that runs module callbacks on worker threads); restores the
  // previous one.
  class CurrentScope {
   public:
    explicit CurrentScope(Session* session);
    ~CurrentScope();
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

   private:
    Session* previous_;
  };

  SuiteRegistry& suites() { return suites_; }
  HandleTable& handles() { return handles_; }
  FaultOptions& faults() { return faults_; }
  FaultPlan& fault_plan() { return fault_plan_; }
  PF_UtilCallbacks& utils() { return utils_; }  // components install fill, transform_world, ...

  // A PF_InData with the host's callbacks, basic suite (unless faults say
  // otherwise), effect_ref, appl_id 'FXTC' and a 1/1 downsample. The caller
  // fills the per-command fields.
  PF_InData MakeInData();

  // Runs one command of a module's entry point with this session current on
  // the calling thread. Afterwards checks that every suite acquired during the
  // call was released and every owned handle disposed; what is not is
  // recorded in violations(). Returns the module's result.
  PF_Err Call(PF_EntryPointFunc entry, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
              PF_ParamDef* params[], PF_LayerDef* output);

  // Protocol violations seen so far, in order: suites or owned handles still
  // held when a call returns, double disposes, releases of suites not held,
  // bad callback arguments, text cut to fit a buffer. Asking for a suite the
  // host does not offer is a refusal (see SuiteRegistry::AcquireLog), not a
  // violation.
  std::vector<std::string> violations() const;
  void AddViolation(std::string what);
  void ClearViolations();

  // Controls declared through add_param.
  const std::vector<DeclaredParam>& declared_params() const { return declared_; }
  void ClearDeclaredParams() { declared_.clear(); }
  PF_Err AddParam(PF_ParamIndex index, const PF_ParamDef* def);  // add_param's body

  // Premiere's pixel-format calls seen through "PF Pixel Format Suite".
  std::vector<std::string>& pixel_format_log() { return pixel_format_log_; }

  // Opaque token the host passes as effect_ref (a borrowed handle).
  PF_ProgPtr effect_ref() const { return effect_ref_; }

  // The host's basic suite (what pica_basicP points to when not faulted).
  SPBasicSuite* basic_suite() { return &basic_; }

 private:
  SuiteRegistry suites_;
  HandleTable handles_;
  FaultOptions faults_;
  FaultPlan fault_plan_;
  PF_UtilCallbacks utils_{};
  SPBasicSuite basic_{};
  PF_ProgPtr effect_ref_ = nullptr;
  char effect_token_ = 0;  // effect_ref_ points here: a unique address per session
  std::vector<DeclaredParam> declared_;
  std::vector<std::string> pixel_format_log_;
  mutable std::mutex violations_mutex_;
  std::vector<std::string> violations_;
  int add_param_calls_ = 0;
};

// In a host function: counts the call in the current session's fault plan
// and returns the code the call must fail with, if this call is planned to
// fail. Nothing outside a module call.
std::optional<A_Err> PlannedFailure(const char* function);

// "PF_Cmd_RENDER" for 11, "command 99" for a code without a name.
std::string CommandName(PF_Cmd cmd);

// Runs `body` as the body of a host function called by a module: a C++
// exception becomes an error code (and a violation in the current session)
// instead of crossing into the module.
template <class Body>
A_Err CallGuard(const char* function, Body&& body) noexcept {
  try {
    return static_cast<A_Err>(body());
  } catch (const std::bad_alloc&) {
    return A_Err_ALLOC;
  } catch (const std::exception& e) {
    if (Session* s = Session::Current()) s->AddViolation(std::string(function) + ": " + e.what());
    return A_Err_GENERIC;
  } catch (...) {
    return A_Err_GENERIC;
  }
}

}  // namespace vantrel::host

#endif  // VANTREL_HOST_SESSION_H

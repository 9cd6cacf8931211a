// The C boundary of the host's imaging: suite tables and utility callbacks.
// Every entry point runs under CallGuard; a call the host refuses records a
// violation in the current session and returns an error code.
#include "vantrel/host/imaging_suites.h"

#include <memory>
#include <string>

#include "vantrel/host/imaging.h"
#include "vantrel/host/thread_pool.h"

namespace vantrel::host {
namespace {

// What an AEGP_WorldH stands for.
struct HostWorld {
  Image image;
};

// Worlds larger than this per side are refused rather than allocated.
constexpr A_long kMaxWorldSide = 30000;

A_Err Refuse(const char* function, const std::string& why, A_Err code) {
  if (Session* s = Session::Current()) s->AddViolation(std::string(function) + ": " + why);
  return code;
}

PF_Err Unsupported(const char* function) {
  return Refuse(function, "not supported by this host", PF_Err_BAD_CALLBACK_PARAM);
}

HostWorld* FindWorld(const char* function, AEGP_WorldH handle) {
  Session* s = Session::Current();
  if (!s) return nullptr;
  HostWorld* w = s->handles().Find<HostWorld>(HandleKind::kWorld, handle);
  if (!w) s->AddViolation(std::string(function) + ": unknown or disposed world");
  return w;
}

// PF callbacks name the effect instance; a foreign effect_ref is refused.
bool CheckEffectRef(const char* function, PF_ProgPtr effect_ref) {
  Session* s = Session::Current();
  if (!s || effect_ref == s->effect_ref()) return true;
  s->AddViolation(std::string(function) + ": effect_ref is not this effect's");
  return false;
}

// ---- AEGP World Suite 3 ---------------------------------------------------

A_Err WorldNew(AEGP_PluginID, AEGP_WorldType type, A_long width, A_long height,
               AEGP_WorldH* worldPH) {
  return CallGuard("AEGP_New", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_New")) {
      if (worldPH) *worldPH = nullptr;
      return *fault;
    }
    if (!worldPH) return Refuse("AEGP_New", "null worldPH", A_Err_PARAMETER);
    *worldPH = nullptr;
    if (type != AEGP_WorldType_8) {
      return Refuse("AEGP_New", "only 8-bit worlds (AEGP_WorldType_8) are supported",
                    A_Err_PARAMETER);
    }
    if (width < 0 || height < 0 || width > kMaxWorldSide || height > kMaxWorldSide) {
      return Refuse(
          "AEGP_New",
          "size " + std::to_string(width) + "x" + std::to_string(height) + " out of range",
          A_Err_PARAMETER);
    }
    Session* s = Session::Current();
    if (!s) return A_Err_GENERIC;
    auto world = std::make_unique<HostWorld>();
    world->image = Image(width, height);
    *worldPH =
        reinterpret_cast<AEGP_WorldH>(s->handles().Issue(HandleKind::kWorld, std::move(world)));
    return A_Err_NONE;
  });
}

A_Err WorldDispose(AEGP_WorldH worldH) {
  return CallGuard("AEGP_Dispose", [&]() -> A_Err {
    Session* s = Session::Current();
    if (!s) return A_Err_GENERIC;
    // The handle table records a double or unknown dispose as a violation.
    return s->handles().Dispose(HandleKind::kWorld, worldH) ? A_Err_NONE : A_Err_PARAMETER;
  });
}

A_Err WorldGetType(AEGP_WorldH worldH, AEGP_WorldType* typeP) {
  return CallGuard("AEGP_GetType", [&]() -> A_Err {
    HostWorld* w = FindWorld("AEGP_GetType", worldH);
    if (!w) return A_Err_PARAMETER;
    if (!typeP) return Refuse("AEGP_GetType", "null typeP", A_Err_PARAMETER);
    *typeP = AEGP_WorldType_8;
    return A_Err_NONE;
  });
}

A_Err WorldGetSize(AEGP_WorldH worldH, A_long* widthPL, A_long* heightPL) {
  return CallGuard("AEGP_GetSize", [&]() -> A_Err {
    HostWorld* w = FindWorld("AEGP_GetSize", worldH);
    if (!w) return A_Err_PARAMETER;
    if (!widthPL || !heightPL) return Refuse("AEGP_GetSize", "null out pointer", A_Err_PARAMETER);
    *widthPL = w->image.width();
    *heightPL = w->image.height();
    return A_Err_NONE;
  });
}

A_Err WorldGetRowBytes(AEGP_WorldH worldH, A_u_long* row_bytesPL) {
  return CallGuard("AEGP_GetRowBytes", [&]() -> A_Err {
    HostWorld* w = FindWorld("AEGP_GetRowBytes", worldH);
    if (!w) return A_Err_PARAMETER;
    if (!row_bytesPL) return Refuse("AEGP_GetRowBytes", "null row_bytesPL", A_Err_PARAMETER);
    *row_bytesPL = static_cast<A_u_long>(w->image.rowbytes());
    return A_Err_NONE;
  });
}

A_Err WorldGetBaseAddr8(AEGP_WorldH worldH, PF_Pixel8** base_addrP) {
  return CallGuard("AEGP_GetBaseAddr8", [&]() -> A_Err {
    HostWorld* w = FindWorld("AEGP_GetBaseAddr8", worldH);
    if (!w) return A_Err_PARAMETER;
    if (!base_addrP) return Refuse("AEGP_GetBaseAddr8", "null base_addrP", A_Err_PARAMETER);
    *base_addrP = w->image.data();
    return A_Err_NONE;
  });
}

A_Err WorldGetBaseAddrDeep(const char* function, AEGP_WorldH worldH, void** base_addrP) {
  return CallGuard(function, [&]() -> A_Err {
    if (!FindWorld(function, worldH)) return A_Err_PARAMETER;
    if (base_addrP) *base_addrP = nullptr;
    return Refuse(function, "the world is 8-bit", A_Err_PARAMETER);
  });
}

A_Err WorldGetBaseAddr16(AEGP_WorldH worldH, void** base_addrP) {
  return WorldGetBaseAddrDeep("AEGP_GetBaseAddr16", worldH, base_addrP);
}

A_Err WorldGetBaseAddr32(AEGP_WorldH worldH, void** base_addrP) {
  return WorldGetBaseAddrDeep("AEGP_GetBaseAddr32", worldH, base_addrP);
}

A_Err WorldFillOutPFEffectWorld(AEGP_WorldH worldH, PF_EffectWorld* pf_worldP) {
  return CallGuard("AEGP_FillOutPFEffectWorld", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_FillOutPFEffectWorld")) return *fault;
    HostWorld* w = FindWorld("AEGP_FillOutPFEffectWorld", worldH);
    if (!w) return A_Err_PARAMETER;
    if (!pf_worldP) return Refuse("AEGP_FillOutPFEffectWorld", "null pf_worldP", A_Err_PARAMETER);
    *pf_worldP = w->image.AsWorld();  // the full record
    return A_Err_NONE;
  });
}

A_Err WorldFastBlur(A_FpLong, PF_ModeFlags, PF_Quality, AEGP_WorldH) {
  return CallGuard("AEGP_FastBlur", [] { return Unsupported("AEGP_FastBlur"); });
}

A_Err WorldNewPlatformWorld(AEGP_PluginID, AEGP_WorldType, A_long, A_long,
                            AEGP_PlatformWorldH* worldPH) {
  return CallGuard("AEGP_NewPlatformWorld", [&] {
    if (worldPH) *worldPH = nullptr;
    return Unsupported("AEGP_NewPlatformWorld");
  });
}

A_Err WorldDisposePlatformWorld(AEGP_PlatformWorldH) {
  return CallGuard("AEGP_DisposePlatformWorld",
                   [] { return Unsupported("AEGP_DisposePlatformWorld"); });
}

A_Err WorldNewReferenceFromPlatformWorld(AEGP_PluginID, AEGP_PlatformWorldH, AEGP_WorldH* worldPH) {
  return CallGuard("AEGP_NewReferenceFromPlatformWorld", [&] {
    if (worldPH) *worldPH = nullptr;
    return Unsupported("AEGP_NewReferenceFromPlatformWorld");
  });
}

constexpr AEGP_WorldSuite3 kWorldSuite3 = {WorldNew,
                                           WorldDispose,
                                           WorldGetType,
                                           WorldGetSize,
                                           WorldGetRowBytes,
                                           WorldGetBaseAddr8,
                                           WorldGetBaseAddr16,
                                           WorldGetBaseAddr32,
                                           WorldFillOutPFEffectWorld,
                                           WorldFastBlur,
                                           WorldNewPlatformWorld,
                                           WorldDisposePlatformWorld,
                                           WorldNewReferenceFromPlatformWorld};

// ---- copies, fill, transform ------------------------------------------------

PF_Err CheckedWorld(const char* function, const PF_EffectWorld* world, const char* which) {
  if (!world) return Refuse(function, std::string("null ") + which, PF_Err_BAD_CALLBACK_PARAM);
  if (!IsValidWorld(*world)) {
    return Refuse(function,
                  std::string(which) + " is not a valid 8-bit world (data " +
                      (world->data ? "set" : "null") + ", " + std::to_string(world->width) + "x" +
                      std::to_string(world->height) + ", rowbytes " +
                      std::to_string(world->rowbytes) + ")",
                  PF_Err_BAD_CALLBACK_PARAM);
  }
  return PF_Err_NONE;
}

PF_Err CopyEntry(const char* function, PF_ProgPtr effect_ref, PF_EffectWorld* src,
                 PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r, bool hq) {
  return CallGuard(function, [&]() -> PF_Err {
    if (auto fault = PlannedFailure(function)) return *fault;
    if (!CheckEffectRef(function, effect_ref)) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err e = CheckedWorld(function, src, "source world")) return e;
    if (PF_Err e = CheckedWorld(function, dst, "destination world")) return e;
    return hq ? CopyHq(*src, *dst, src_r, dst_r) : Copy(*src, *dst, src_r, dst_r);
  });
}

PF_Err CopyCallback(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                    PF_Rect* dst_r) {
  return CopyEntry("copy", effect_ref, src, dst, src_r, dst_r, false);
}

PF_Err CopyHqCallback(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                      PF_Rect* src_r, PF_Rect* dst_r) {
  return CopyEntry("copy_hq", effect_ref, src, dst, src_r, dst_r, true);
}

PF_Err FillCallback(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect,
                    PF_EffectWorld* world) {
  return CallGuard("fill", [&]() -> PF_Err {
    if (auto fault = PlannedFailure("fill")) return *fault;
    if (!CheckEffectRef("fill", effect_ref)) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err e = CheckedWorld("fill", world, "world")) return e;
    return Fill(*world, color, dst_rect);
  });
}

PF_Err TransformWorldCallback(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                              PF_Field field, const PF_EffectWorld* src_world,
                              const PF_CompositeMode* comp_mode, const PF_MaskWorld* mask_world0,
                              const PF_FloatMatrix* matrices, A_long num_matrices,
                              PF_Boolean src2dst_matrix, const PF_Rect* dest_rect,
                              PF_EffectWorld* dst_world) {
  constexpr const char* kFn = "transform_world";
  return CallGuard(kFn, [&]() -> PF_Err {
    if (auto fault = PlannedFailure(kFn)) return *fault;
    if (!CheckEffectRef(kFn, effect_ref)) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err e = CheckedWorld(kFn, src_world, "source world")) return e;
    if (PF_Err e = CheckedWorld(kFn, dst_world, "destination world")) return e;
    if (!comp_mode) return Refuse(kFn, "null comp_mode", PF_Err_BAD_CALLBACK_PARAM);
    if (num_matrices != 1 && num_matrices != 2) {
      return Refuse(kFn, "num_matrices " + std::to_string(num_matrices) + " (1 or 2 supported)",
                    PF_Err_BAD_CALLBACK_PARAM);
    }
    if (!matrices) return Refuse(kFn, "null matrices", PF_Err_BAD_CALLBACK_PARAM);
    if (mask_world0) return Refuse(kFn, "mask worlds are not supported", PF_Err_BAD_CALLBACK_PARAM);
    const PF_Err err =
        TransformWorld(quality, m_flags, field, *src_world, *comp_mode, nullptr, matrices,
                       num_matrices, src2dst_matrix != 0, dest_rect, *dst_world);
    if (err) {
      return Refuse(kFn,
                    "refused (transfer mode " + std::to_string(comp_mode->xfer) + ", mode flags " +
                        std::to_string(m_flags) + ", field " + std::to_string(field) +
                        ", rgb_only " + std::to_string(static_cast<int>(comp_mode->rgb_only)) +
                        "; or non-finite matrix)",
                    err);
    }
    return PF_Err_NONE;
  });
}

PF_Err WtCompositeRect(PF_ProgPtr, PF_Rect*, A_long, PF_EffectWorld*, A_long, A_long, PF_Field,
                       PF_XferMode, PF_EffectWorld*) {
  return CallGuard("composite_rect", [] { return Unsupported("composite_rect"); });
}

PF_Err WtBlend(PF_ProgPtr, const PF_EffectWorld*, const PF_EffectWorld*, PF_Fixed,
               PF_EffectWorld*) {
  return CallGuard("blend", [] { return Unsupported("blend"); });
}

PF_Err WtConvolve(PF_ProgPtr, PF_EffectWorld*, const PF_Rect*, PF_Quality, A_long, void*, void*,
                  void*, void*, PF_EffectWorld*) {
  return CallGuard("convolve", [] { return Unsupported("convolve"); });
}

PF_Err WtTransferRect(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_Field, const PF_Rect*,
                      const PF_EffectWorld*, const PF_CompositeMode*, const PF_MaskWorld*, A_long,
                      A_long, PF_EffectWorld*) {
  return CallGuard("transfer_rect", [] { return Unsupported("transfer_rect"); });
}

constexpr PF_WorldTransformSuite1 kWorldTransformSuite1 = {
    WtCompositeRect,       WtBlend, WtConvolve, CopyCallback, CopyHqCallback, WtTransferRect,
    TransformWorldCallback};

// ---- iteration ----------------------------------------------------------------

A_Err GetNumThreads(A_long* num_threadsPL) {
  return CallGuard("AEGP_GetNumThreads", [&]() -> A_Err {
    if (!num_threadsPL) return Refuse("AEGP_GetNumThreads", "null num_threadsPL", A_Err_PARAMETER);
    *num_threadsPL = ThreadPool::Shared().participants();
    return A_Err_NONE;
  });
}

// Shared by AEGP_IterateGeneric and the iterate_generic callback (same
// signature). -1 (PF_Iterations_ONCE_PER_PROCESSOR) runs once per thread.
A_Err IterateGenericImpl(const char* function, A_long iterations, void* refcon,
                         AEGP_IterateGenericFunc fn, A_Err bad_param) {
  return CallGuard(function, [&]() -> A_Err {
    if (auto fault = PlannedFailure(function)) return *fault;
    if (!fn) return Refuse(function, "null callback", bad_param);
    ThreadPool& pool = ThreadPool::Shared();
    if (iterations == PF_Iterations_ONCE_PER_PROCESSOR) iterations = pool.participants();
    if (iterations < 0) {
      return Refuse(function, "iterations " + std::to_string(iterations), bad_param);
    }
    const A_long count = iterations;
    // The callback may call host functions from a worker thread: they find
    // the caller's session there as well.
    Session* session = Session::Current();
    return pool.Run(count, [&](int32_t thread_index, int32_t i) -> int32_t {
      Session::CurrentScope scope(session);
      return fn(refcon, thread_index, i, count);
    });
  });
}

A_Err IterateGeneric(A_long iterations, void* refcon, AEGP_IterateGenericFunc fn) {
  return IterateGenericImpl("AEGP_IterateGeneric", iterations, refcon, fn, A_Err_PARAMETER);
}

PF_Err IterateGenericCallback(A_long iterations, void* refcon,
                              PF_Err (*fn)(void*, A_long, A_long, A_long)) {
  return IterateGenericImpl("iterate_generic", iterations, refcon, fn, PF_Err_BAD_CALLBACK_PARAM);
}

constexpr AEGP_IterateSuite1 kIterateSuite1 = {GetNumThreads, IterateGeneric};

}  // namespace

void RegisterImagingSuites(Session& session) {
  // A session is made for a frame, whose first drawing is often the clear
  // of the whole output, shared among the pool's threads.
  ThreadPool::Shared().GetReady();
  session.suites().Register(kAEGPWorldSuite, kAEGPWorldSuiteVersion3, &kWorldSuite3);
  session.suites().Register(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1,
                            &kWorldTransformSuite1);
  session.suites().Register(kAEGPIterateSuite, kAEGPIterateSuiteVersion1, &kIterateSuite1);
  PF_UtilCallbacks& utils = session.utils();
  utils.fill = FillCallback;
  utils.copy = CopyCallback;
  utils.transform_world = TransformWorldCallback;
  utils.iterate_generic = IterateGenericCallback;
}

}  // namespace vantrel::host

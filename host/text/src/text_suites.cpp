#include "vantrel/host/text_suites.h"

#include <string>

#include "vantrel/host/layer.h"

namespace vantrel::host {
namespace {

// What an AEGP_TextOutlinesH stands for: the contours of one layer at one
// time, each lent to the module as a PF_PathOutlinePtr for as long as the
// object lives. However the object ends (disposed by the module, or
// reclaimed by the session after a leak), its paths go stale with it.
class TextOutlinesObject {
 public:
  TextOutlinesObject(HandleTable& table, TextOutlineSet set) : table_(table), set_(std::move(set)) {
    for (const OutlinePath& path : set_) table_.Lend(HandleKind::kPath, &path);
  }
  ~TextOutlinesObject() {
    for (const OutlinePath& path : set_) table_.Revoke(&path);
  }
  TextOutlinesObject(const TextOutlinesObject&) = delete;
  TextOutlinesObject& operator=(const TextOutlinesObject&) = delete;

  const TextOutlineSet& set() const { return set_; }

 private:
  HandleTable& table_;
  TextOutlineSet set_;
};

// The error a host function returns after recording why.
template <class Code>
Code Refuse(Session& session, Code code, std::string what) {
  session.AddViolation(std::move(what));
  return code;
}

// The session of the module call on this thread; host functions called
// outside any call are refused without one.
Session* CurrentSession() { return Session::Current(); }

const TextOutlinesObject* FindOutlines(Session& s, AEGP_TextOutlinesH handle) {
  return s.handles().Find<TextOutlinesObject>(HandleKind::kTextOutlines, handle);
}

// --- "AEGP Text Layer Suite" v1 ---

A_Err GetNewTextOutlines(AEGP_LayerH layerH, const A_Time* layer_time,
                         AEGP_TextOutlinesH* outlinesPH) {
  return CallGuard("AEGP_GetNewTextOutlines", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_GetNewTextOutlines")) {
      if (outlinesPH) *outlinesPH = nullptr;
      return *fault;
    }
    Session* s = CurrentSession();
    if (!s) return A_Err_GENERIC;
    if (!outlinesPH || !layer_time) {
      return Refuse(*s, A_Err_PARAMETER, "AEGP_GetNewTextOutlines: null time or result pointer");
    }
    *outlinesPH = nullptr;
    const HostLayer* layer = s->handles().Find<HostLayer>(HandleKind::kLayer, layerH);
    if (!layer) return Refuse(*s, A_Err_PARAMETER, "AEGP_GetNewTextOutlines: not a live layer");
    if (layer_time->scale == 0) {
      return Refuse(*s, A_Err_PARAMETER, "AEGP_GetNewTextOutlines: time with a zero scale");
    }
    auto object =
        std::make_unique<TextOutlinesObject>(s->handles(), layer->TextOutlines(*layer_time));
    *outlinesPH = reinterpret_cast<AEGP_TextOutlinesH>(
        s->handles().Issue(HandleKind::kTextOutlines, std::move(object)));
    return A_Err_NONE;
  });
}

A_Err DisposeTextOutlines(AEGP_TextOutlinesH outlinesH) {
  return CallGuard("AEGP_DisposeTextOutlines", [&]() -> A_Err {
    Session* s = CurrentSession();
    if (!s) return A_Err_GENERIC;
    // The table records a double dispose or a wrong handle as a violation;
    // the object's destructor makes its paths stale.
    return s->handles().Dispose(HandleKind::kTextOutlines, outlinesH) ? A_Err_NONE
                                                                      : A_Err_PARAMETER;
  });
}

A_Err GetNumTextOutlines(AEGP_TextOutlinesH outlinesH, A_long* num_outlinesPL) {
  return CallGuard("AEGP_GetNumTextOutlines", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_GetNumTextOutlines")) return *fault;
    Session* s = CurrentSession();
    if (!s) return A_Err_GENERIC;
    if (!num_outlinesPL) return Refuse(*s, A_Err_PARAMETER, "AEGP_GetNumTextOutlines: null result");
    const TextOutlinesObject* object = FindOutlines(*s, outlinesH);
    if (!object) {
      return Refuse(*s, A_Err_PARAMETER, "AEGP_GetNumTextOutlines: unknown or disposed outlines");
    }
    *num_outlinesPL =
        s->faults().num_text_outlines.value_or(static_cast<A_long>(object->set().size()));
    return A_Err_NONE;
  });
}

A_Err GetIndexedTextOutline(AEGP_TextOutlinesH outlinesH, A_long path_indexL,
                            PF_PathOutlinePtr* pathPP) {
  return CallGuard("AEGP_GetIndexedTextOutline", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_GetIndexedTextOutline")) {
      if (pathPP) *pathPP = nullptr;
      return *fault;
    }
    Session* s = CurrentSession();
    if (!s) return A_Err_GENERIC;
    if (!pathPP) return Refuse(*s, A_Err_PARAMETER, "AEGP_GetIndexedTextOutline: null result");
    *pathPP = nullptr;
    const TextOutlinesObject* object = FindOutlines(*s, outlinesH);
    if (!object) {
      return Refuse(*s, A_Err_PARAMETER,
                    "AEGP_GetIndexedTextOutline: unknown or disposed outlines");
    }
    if (path_indexL < 0 || static_cast<std::size_t>(path_indexL) >= object->set().size()) {
      return Refuse(*s, A_Err_PARAMETER,
                    "AEGP_GetIndexedTextOutline: index " + std::to_string(path_indexL) +
                        " outside 0.." + std::to_string(object->set().size()));
    }
    *pathPP = const_cast<OutlinePath*>(&object->set()[static_cast<std::size_t>(path_indexL)]);
    return A_Err_NONE;
  });
}

// --- "PF Path Data Suite" v1 ---

// The live path behind `path`, or nullptr after recording why not.
const OutlinePath* FindPath(Session& s, const char* function, PF_ProgPtr effect_ref,
                            PF_PathOutlinePtr path) {
  if (effect_ref != s.effect_ref()) {
    s.AddViolation(std::string(function) + ": effect_ref is not the one the host passed");
    return nullptr;
  }
  const OutlinePath* found = s.handles().Find<OutlinePath>(HandleKind::kPath, path);
  if (!found) s.AddViolation(std::string(function) + ": unknown or stale path");
  return found;
}

PF_Err PathIsOpen(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_Boolean* openPB) {
  return CallGuard("PF_PathIsOpen", [&]() -> PF_Err {
    Session* s = CurrentSession();
    if (!s) return PF_Err_BAD_CALLBACK_PARAM;
    const OutlinePath* p = FindPath(*s, "PF_PathIsOpen", effect_ref, path);
    if (!p || !openPB) return PF_Err_BAD_CALLBACK_PARAM;
    *openPB = p->open ? 1 : 0;
    return PF_Err_NONE;
  });
}

PF_Err PathNumSegments(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long* num_segmentsPL) {
  return CallGuard("PF_PathNumSegments", [&]() -> PF_Err {
    if (auto fault = PlannedFailure("PF_PathNumSegments")) return *fault;
    Session* s = CurrentSession();
    if (!s) return PF_Err_BAD_CALLBACK_PARAM;
    const OutlinePath* p = FindPath(*s, "PF_PathNumSegments", effect_ref, path);
    if (!p || !num_segmentsPL) return PF_Err_BAD_CALLBACK_PARAM;
    // A closed path has as many segments as vertices (the last one returns
    // to vertex 0); an open one has one fewer.
    const auto n = static_cast<A_long>(p->vertices.size());
    *num_segmentsPL = p->open ? std::max<A_long>(n - 1, 0) : n;
    return PF_Err_NONE;
  });
}

PF_Err PathVertexInfo(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_pointL,
                      PF_PathVertex* vertexP) {
  return CallGuard("PF_PathVertexInfo", [&]() -> PF_Err {
    if (auto fault = PlannedFailure("PF_PathVertexInfo")) return *fault;
    Session* s = CurrentSession();
    if (!s) return PF_Err_BAD_CALLBACK_PARAM;
    const OutlinePath* p = FindPath(*s, "PF_PathVertexInfo", effect_ref, path);
    if (!p || !vertexP) return PF_Err_BAD_CALLBACK_PARAM;
    if (which_pointL < 0 || static_cast<std::size_t>(which_pointL) >= p->vertices.size()) {
      return Refuse(*s, PF_Err(PF_Err_BAD_CALLBACK_PARAM),
                    "PF_PathVertexInfo: vertex " + std::to_string(which_pointL) + " outside 0.." +
                        std::to_string(p->vertices.size()));
    }
    *vertexP = p->vertices[static_cast<std::size_t>(which_pointL)];
    return PF_Err_NONE;
  });
}

// The slots this host does not implement refuse, recording the call, so a
// module that comes to rely on one fails visibly instead of reading garbage.
template <const char* kName, class... Args>
PF_Err NotImplemented(Args...) {
  return CallGuard(kName, [&]() -> PF_Err {
    if (Session* s = CurrentSession()) s->AddViolation(std::string(kName) + ": not implemented");
    return PF_Err_INVALID_CALLBACK;
  });
}

constexpr char kPrepareSegLength[] = "PF_PathPrepareSegLength";
constexpr char kGetSegLength[] = "PF_PathGetSegLength";
constexpr char kEvalSegLength[] = "PF_PathEvalSegLength";
constexpr char kEvalSegLengthDeriv1[] = "PF_PathEvalSegLengthDeriv1";
constexpr char kCleanupSegLength[] = "PF_PathCleanupSegLength";
constexpr char kIsInverted[] = "PF_PathIsInverted";
constexpr char kGetMaskMode[] = "PF_PathGetMaskMode";
constexpr char kGetName[] = "PF_PathGetName";

const AEGP_TextLayerSuite1 kTextLayerSuite{GetNewTextOutlines, DisposeTextOutlines,
                                           GetNumTextOutlines, GetIndexedTextOutline};

const PF_PathDataSuite1 kPathDataSuite{
    PathIsOpen,
    PathNumSegments,
    PathVertexInfo,
    NotImplemented<kPrepareSegLength, PF_ProgPtr, PF_PathOutlinePtr, A_long, A_long, void*>,
    NotImplemented<kGetSegLength, PF_ProgPtr, PF_PathOutlinePtr, A_long, void*, A_FpLong*>,
    NotImplemented<kEvalSegLength, PF_ProgPtr, void*, PF_PathOutlinePtr, A_long, A_FpLong,
                   A_FpLong*, A_FpLong*>,
    NotImplemented<kEvalSegLengthDeriv1, PF_ProgPtr, void*, PF_PathOutlinePtr, A_long, A_FpLong,
                   A_FpLong*, A_FpLong*, A_FpLong*, A_FpLong*>,
    NotImplemented<kCleanupSegLength, PF_ProgPtr, PF_PathOutlinePtr, A_long, void*>,
    NotImplemented<kIsInverted, PF_ProgPtr, PF_PathID, PF_Boolean*>,
    NotImplemented<kGetMaskMode, PF_ProgPtr, PF_PathID, PF_MaskMode*>,
    NotImplemented<kGetName, PF_ProgPtr, PF_PathID, A_char*>,
};

}  // namespace

void RegisterTextSuites(Session& session) {
  session.suites().Register(kAEGPTextLayerSuite, kAEGPTextLayerSuiteVersion1, &kTextLayerSuite);
  session.suites().Register(kPFPathDataSuite, kPFPathDataSuiteVersion1, &kPathDataSuite);
}

}  // namespace vantrel::host

#include "recording_host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "params/params.h"
#include "render/render.h"

namespace vantrel::render_test {

RecordingHost* RecordingHost::current = nullptr;

namespace {

RecordingHost& H() { return *RecordingHost::current; }

std::string Key(const char* name, int32 version) {
  return std::string(name) + "/" + std::to_string(version);
}

template <class T>
uintptr_t U(T handle) {
  return reinterpret_cast<uintptr_t>(handle);
}

bool IsLive(uintptr_t handle, const std::string& kind) {
  auto it = H().live.find(handle);
  return it != H().live.end() && it->second == kind;
}

void Expect(bool ok, const std::string& fault) {
  if (!ok) H().faults.push_back(fault);
}

// --- PF Interface, Layer, Effect -------------------------------------------

constexpr uintptr_t kLayer = 0xABC0;
constexpr uintptr_t kEffectRef = 0xEF00;

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
  H().log.push_back("AEGP_GetEffectLayer");
  Expect(U(effect_ref) == kEffectRef, "GetEffectLayer: wrong effect_ref");
  *layer = reinterpret_cast<AEGP_LayerH>(kLayer);
  return A_Err_NONE;
}

A_Err GetNewEffectForEffect(AEGP_PluginID id, PF_ProgPtr effect_ref, AEGP_EffectRefH* effect) {
  H().log.push_back("AEGP_GetNewEffectForEffect");
  Expect(id == 0 && U(effect_ref) == kEffectRef, "GetNewEffectForEffect: arguments");
  *effect = reinterpret_cast<AEGP_EffectRefH>(H().Make("effect"));
  return A_Err_NONE;
}

A_Err DisposeEffect(AEGP_EffectRefH effect) {
  H().log.push_back("AEGP_DisposeEffect");
  Expect(H().Dispose(U(effect), "effect"), "DisposeEffect: not a live effect");
  return A_Err_NONE;
}

A_Err GetLayerObjectType(AEGP_LayerH layer, AEGP_ObjectType* type) {
  H().log.push_back("AEGP_GetLayerObjectType");
  Expect(U(layer) == kLayer, "GetLayerObjectType: wrong layer");
  *type = H().object_type;
  return H().object_type_err;
}

// --- Text layer and paths -----------------------------------------------------

constexpr uintptr_t kPathBase = 0x70000;

A_Err GetNewTextOutlines(AEGP_LayerH layer, const A_Time* time, AEGP_TextOutlinesH* outlines) {
  H().log.push_back("AEGP_GetNewTextOutlines");
  Expect(U(layer) == kLayer, "GetNewTextOutlines: wrong layer");
  H().outline_times.push_back(*time);
  *outlines = reinterpret_cast<AEGP_TextOutlinesH>(H().Make("outlines"));
  return A_Err_NONE;
}

A_Err DisposeTextOutlines(AEGP_TextOutlinesH outlines) {
  H().log.push_back("AEGP_DisposeTextOutlines");
  Expect(H().Dispose(U(outlines), "outlines"), "DisposeTextOutlines: not live");
  return A_Err_NONE;
}

A_Err GetNumTextOutlines(AEGP_TextOutlinesH outlines, A_long* count) {
  H().log.push_back("AEGP_GetNumTextOutlines");
  Expect(IsLive(U(outlines), "outlines"), "GetNumTextOutlines: not live");
  *count = H().reported_outline_count.value_or(H().OutlineCount());
  return A_Err_NONE;
}

A_Err GetIndexedTextOutline(AEGP_TextOutlinesH outlines, A_long i, PF_PathOutlinePtr* path) {
  Expect(IsLive(U(outlines), "outlines"), "GetIndexedTextOutline: not live");
  const A_long count = H().reported_outline_count.value_or(H().OutlineCount());
  Expect(i >= 0 && i < count, "GetIndexedTextOutline: index out of range");
  *path = reinterpret_cast<PF_PathOutlinePtr>(kPathBase + static_cast<uintptr_t>(i));
  return A_Err_NONE;
}

// The outline index of a path handle, -1 for one the host never gave.
A_long OutlineOf(PF_PathOutlinePtr path) {
  const uintptr_t handle = U(path);
  if (handle < kPathBase || handle - kPathBase >= static_cast<uintptr_t>(H().OutlineCount())) {
    return -1;
  }
  return static_cast<A_long>(handle - kPathBase);
}

A_long SegmentsOf(A_long outline) {
  if (outline < 0) return 0;
  return H().path_count > 0 ? H().path_segments(outline) : 4;
}

PF_Err PathNumSegments(PF_ProgPtr, PF_PathOutlinePtr path, A_long* segments) {
  *segments = SegmentsOf(OutlineOf(path));
  return PF_Err_NONE;
}

// The corners of the outline's rectangle, with tangents on the corners; or the
// scripted path's vertex.
PF_Err PathVertexInfo(PF_ProgPtr, PF_PathOutlinePtr path, A_long v, PF_PathVertex* vertex) {
  const A_long outline = OutlineOf(path);
  if (outline < 0 || v < 0 || v >= SegmentsOf(outline)) {
    H().faults.push_back("PathVertexInfo: no such vertex");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (H().path_count > 0) {
    *vertex = H().path_vertex(outline, v);
    return PF_Err_NONE;
  }
  const PF_Rect& r = H().outlines.at(static_cast<std::size_t>(outline));
  const double x = (v == 1 || v == 2) ? r.right : r.left;
  const double y = (v >= 2) ? r.bottom : r.top;
  *vertex = {x, y, x, y, x, y};
  return PF_Err_NONE;
}

// --- Streams ------------------------------------------------------------------

bool StreamCallFails() { return ++H().stream_calls == H().fail_stream_call; }

A_Err GetLayerStreamValue(AEGP_LayerH layer, AEGP_LayerStream stream, AEGP_LTimeMode mode,
                          const A_Time* time, A_Boolean pre, AEGP_StreamVal2* value,
                          AEGP_StreamType*) {
  H().log.push_back("AEGP_GetLayerStreamValue");
  Expect(U(layer) == kLayer, "GetLayerStreamValue: wrong layer");
  const char* what = stream == AEGP_LayerStream_POSITION      ? "position"
                     : stream == AEGP_LayerStream_ANCHORPOINT ? "anchor"
                     : stream == AEGP_LayerStream_SCALE       ? "scale"
                                                              : "other";
  H().fetches.push_back({what, time->value, time->scale, mode, pre});
  if (StreamCallFails()) return H().fail_stream_err;
  const Vec2 v = stream == AEGP_LayerStream_POSITION      ? H().position(time->value)
                 : stream == AEGP_LayerStream_ANCHORPOINT ? H().anchor(time->value)
                                                          : H().scale(time->value);
  value->three_d = {v.x, v.y, stream == AEGP_LayerStream_SCALE ? 100.0 : 0.0};
  return A_Err_NONE;
}

A_Err GetNewEffectStreamByIndex(AEGP_PluginID id, AEGP_EffectRefH effect, PF_ParamIndex index,
                                AEGP_StreamRefH* stream) {
  H().log.push_back("AEGP_GetNewEffectStreamByIndex");
  Expect(id == 0 && IsLive(U(effect), "effect"), "GetNewEffectStreamByIndex: arguments");
  H().effect_stream_indices.push_back(index);
  *stream = reinterpret_cast<AEGP_StreamRefH>(H().Make("stream"));
  return A_Err_NONE;
}

A_Err DisposeStream(AEGP_StreamRefH stream) {
  H().log.push_back("AEGP_DisposeStream");
  Expect(H().Dispose(U(stream), "stream"), "DisposeStream: not live");
  return A_Err_NONE;
}

A_Err GetNewStreamValue(AEGP_PluginID id, AEGP_StreamRefH stream, AEGP_LTimeMode mode,
                        const A_Time* time, A_Boolean pre, AEGP_StreamValue2* value) {
  H().log.push_back("AEGP_GetNewStreamValue");
  Expect(id == 0 && IsLive(U(stream), "stream"), "GetNewStreamValue: arguments");
  H().fetches.push_back({"opacity", time->value, time->scale, mode, pre});
  if (StreamCallFails()) return H().fail_stream_err;
  value->streamH = stream;
  value->val.one_d = H().opacity(time->value);
  ++H().objects_made;
  Expect(H().live.count(U(value) ^ 0x1) == 0, "GetNewStreamValue: record still holds a value");
  H().live[U(value) ^ 0x1] = "value";  // keyed by the record's address
  return A_Err_NONE;
}

A_Err DisposeStreamValue(AEGP_StreamValue2* value) {
  H().log.push_back("AEGP_DisposeStreamValue");
  Expect(H().Dispose(U(value) ^ 0x1, "value"), "DisposeStreamValue: not a live value");
  return A_Err_NONE;
}

// --- Worlds ----------------------------------------------------------------------

A_Err NewWorld(AEGP_PluginID id, AEGP_WorldType type, A_long width, A_long height,
               AEGP_WorldH* world) {
  H().log.push_back("AEGP_New");
  Expect(id == 0 && type == AEGP_WorldType_8, "AEGP_New: arguments");
  H().world_sizes.emplace_back(width, height);
  if (width < 0 || height < 0 || static_cast<int64_t>(width) * height > H().max_world_pixels) {
    H().faults.push_back("AEGP_New: absurd size " + std::to_string(width) + " x " +
                         std::to_string(height));
    return A_Err_PARAMETER;
  }
  if (++H().world_calls == H().fail_world_new) return A_Err_ALLOC;
  const uintptr_t handle = H().Make("world");
  const int stride = width + 2;
  // At least one pixel, so that even an empty world has data of its own.
  const auto size = std::max<std::size_t>(static_cast<std::size_t>(stride) * height, 1);
  H().worlds[handle] = {std::vector<PF_Pixel>(size, PF_Pixel{0xDD, 0xDD, 0xDD, 0xDD}), width,
                        height, stride};
  *world = reinterpret_cast<AEGP_WorldH>(handle);
  return A_Err_NONE;
}

A_Err DisposeWorld(AEGP_WorldH world) {
  H().log.push_back("AEGP_Dispose");
  Expect(H().Dispose(U(world), "world"), "AEGP_Dispose: not live");
  H().worlds.erase(U(world));
  return A_Err_NONE;
}

A_Err FillOutPFEffectWorld(AEGP_WorldH world, PF_EffectWorld* pf) {
  H().log.push_back("AEGP_FillOutPFEffectWorld");
  auto it = H().worlds.find(U(world));
  if (it == H().worlds.end()) {
    H().faults.push_back("FillOutPFEffectWorld: not live");
    return A_Err_PARAMETER;
  }
  *pf = PF_EffectWorld{};
  pf->data = it->second.px.data();
  pf->rowbytes = it->second.stride * 4;
  pf->width = it->second.width;
  pf->height = it->second.height;
  pf->extent_hint = {0, 0, pf->width, pf->height};
  return A_Err_NONE;
}

PF_Pixel& PixelOf(const PF_EffectWorld* w, int x, int y) {
  auto* row = reinterpret_cast<uint8_t*>(w->data) + static_cast<std::ptrdiff_t>(y) * w->rowbytes;
  return reinterpret_cast<PF_Pixel*>(row)[x];
}

PF_Err CopyHq(PF_ProgPtr, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
              PF_Rect* dst_r) {
  H().log.push_back("copy_hq");
  H().copies.push_back({src, *src_r, dst_r == nullptr});
  Expect(H().IsLiveWorldData(dst), "copy_hq: destination is not a live world");
  // Without a destination rectangle the source rectangle fills the world; a
  // rectangle of another size would scale the piece.
  Expect(static_cast<int64_t>(src_r->right) - src_r->left == dst->width &&
             static_cast<int64_t>(src_r->bottom) - src_r->top == dst->height,
         "copy_hq: rectangle and world differ in size");
  // The rectangle may reach past the source, whose pixels alone are copied.
  for (int y = 0; y < dst->height; ++y) {
    for (int x = 0; x < dst->width; ++x) {
      const int64_t sx = static_cast<int64_t>(src_r->left) + x;
      const int64_t sy = static_cast<int64_t>(src_r->top) + y;
      if (sx >= 0 && sy >= 0 && sx < src->width && sy < src->height) {
        PixelOf(dst, x, y) = PixelOf(src, static_cast<int>(sx), static_cast<int>(sy));
      }
    }
  }
  return PF_Err_NONE;
}

// --- Iteration and utility callbacks ------------------------------------------

A_Err IterateGeneric(A_long iterations, void* refcon, AEGP_IterateGenericFunc fn) {
  H().log.push_back("AEGP_IterateGeneric");
  H().iterations.push_back({iterations, refcon, fn});
  const auto* world = static_cast<const PF_EffectWorld*>(refcon);
  if (!H().IsLiveWorldData(world) || iterations != world->width) {
    H().faults.push_back("AEGP_IterateGeneric: not one iteration per column of a live world");
    return A_Err_PARAMETER;
  }
  for (A_long i = 0; i < iterations; ++i) fn(refcon, 0, i, iterations);
  return A_Err_NONE;
}

PF_Err Fill(PF_ProgPtr, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world) {
  H().log.push_back(color == nullptr ? "fill" : "fill colour");
  H().fills.push_back({world, color != nullptr, color ? *color : PF_Pixel{}, rect != nullptr});
  if (world != &H().output && !H().IsLiveWorldData(world)) {
    H().faults.push_back("fill: neither the output nor a live world");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  for (int y = 0; y < world->height; ++y) {
    for (int x = 0; x < world->width; ++x) PixelOf(world, x, y) = color ? *color : PF_Pixel{};
  }
  return PF_Err_NONE;
}

PF_Err TransformWorld(PF_ProgPtr, PF_Quality quality, PF_ModeFlags flags, PF_Field field,
                      const PF_EffectWorld* src, const PF_CompositeMode* mode,
                      const PF_MaskWorld* mask, const PF_FloatMatrix* matrices, A_long count,
                      PF_Boolean src2dst, const PF_Rect* dest_rect, PF_EffectWorld* dst) {
  H().log.push_back("transform_world");
  TransformCall call{src,
                     quality,
                     flags,
                     field,
                     *mode,
                     mask == nullptr,
                     std::vector<PF_FloatMatrix>(matrices, matrices + count),
                     count,
                     src2dst,
                     dest_rect,
                     dst,
                     {}};
  Expect(H().IsLiveWorldData(src), "transform_world: source is not a live world");
  Expect(dst == &H().output, "transform_world: destination is not the output");
  for (A_long k = 0; k < count; ++k) {
    for (double e : matrices[k].mat[0]) Expect(std::isfinite(e), "transform_world: matrix");
    for (double e : matrices[k].mat[1]) Expect(std::isfinite(e), "transform_world: matrix");
    for (double e : matrices[k].mat[2]) Expect(std::isfinite(e), "transform_world: matrix");
  }
  call.source.width = src->width;
  call.source.height = src->height;
  for (int y = 0; y < src->height && H().capture_sources; ++y) {
    for (int x = 0; x < src->width; ++x) call.source.px.push_back(PixelOf(src, x, y));
  }
  H().transforms.push_back(std::move(call));
  if (H().on_transform_world) H().on_transform_world();
  return PF_Err_NONE;
}

// --- Suite tables and the basic suite -------------------------------------------

struct Tables {
  AEGP_PFInterfaceSuite1 pf_interface{};
  AEGP_LayerSuite5 layer{};
  AEGP_TextLayerSuite1 text{};
  AEGP_StreamSuite4 stream9{};
  AEGP_StreamSuite3 stream8{};
  AEGP_EffectSuite3 effect{};
  AEGP_WorldSuite3 world{};
  PF_WorldTransformSuite1 transform{};
  AEGP_IterateSuite1 iterate{};
  PF_PathDataSuite1 path{};
  PF_ANSICallbacksSuite1 ansi{};
};

Tables MakeTables() {
  Tables t;
  t.pf_interface.AEGP_GetEffectLayer = GetEffectLayer;
  t.pf_interface.AEGP_GetNewEffectForEffect = GetNewEffectForEffect;
  t.layer.AEGP_GetLayerObjectType = GetLayerObjectType;
  t.text.AEGP_GetNewTextOutlines = GetNewTextOutlines;
  t.text.AEGP_DisposeTextOutlines = DisposeTextOutlines;
  t.text.AEGP_GetNumTextOutlines = GetNumTextOutlines;
  t.text.AEGP_GetIndexedTextOutline = GetIndexedTextOutline;
  for (auto* s : {&t.stream9}) {
    s->AEGP_GetLayerStreamValue = GetLayerStreamValue;
    s->AEGP_GetNewEffectStreamByIndex = GetNewEffectStreamByIndex;
    s->AEGP_DisposeStream = DisposeStream;
    s->AEGP_DisposeStreamValue = DisposeStreamValue;
  }
  // Version 8 only makes stream values; the render must use 9 for the rest.
  t.stream8.AEGP_GetNewStreamValue = GetNewStreamValue;
  t.effect.AEGP_DisposeEffect = DisposeEffect;
  t.world.AEGP_New = NewWorld;
  t.world.AEGP_Dispose = DisposeWorld;
  t.world.AEGP_FillOutPFEffectWorld = FillOutPFEffectWorld;
  t.transform.copy_hq = CopyHq;
  t.iterate.AEGP_IterateGeneric = IterateGeneric;
  t.path.PF_PathNumSegments = PathNumSegments;
  t.path.PF_PathVertexInfo = PathVertexInfo;
  return t;
}

const Tables& AllTables() {
  static const Tables tables = MakeTables();
  return tables;
}

const void* TableFor(const std::string& key) {
  const Tables& t = AllTables();
  static const std::map<std::string, const void*> by_key = {
      {Key(kAEGPPFInterfaceSuite, 1), &t.pf_interface},
      {Key(kAEGPLayerSuite, 11), &t.layer},
      {Key(kAEGPTextLayerSuite, 1), &t.text},
      {Key(kAEGPStreamSuite, 9), &t.stream9},
      {Key(kAEGPStreamSuite, 8), &t.stream8},
      {Key(kAEGPEffectSuite, 3), &t.effect},
      {Key(kAEGPWorldSuite, 3), &t.world},
      {Key(kPFWorldTransformSuite, 1), &t.transform},
      {Key(kAEGPIterateSuite, 1), &t.iterate},
      {Key(kPFPathDataSuite, 1), &t.path},
      {Key(kPFANSISuite, 1), &t.ansi},
  };
  auto it = by_key.find(key);
  return it == by_key.end() ? nullptr : it->second;
}

SPErr AcquireSuite(const char* name, int32 version, const void** suite) {
  const std::string key = Key(name, version);
  H().log.push_back("AcquireSuite " + key);
  const void* table = TableFor(key);
  if (table == nullptr || H().refused_suites.count(key) != 0) return 1;
  ++H().acquired[key];
  *suite = table;
  return kSPNoError;
}

SPErr ReleaseSuite(const char* name, int32 version) {
  const std::string key = Key(name, version);
  H().log.push_back("ReleaseSuite " + key);
  ++H().released[key];
  return kSPNoError;
}

SPBasicSuite MakeBasicSuite() {
  SPBasicSuite basic{};
  basic.AcquireSuite = AcquireSuite;
  basic.ReleaseSuite = ReleaseSuite;
  return basic;
}

SPBasicSuite basic_suite = MakeBasicSuite();

constexpr int kFrameWidth = 200;
constexpr int kFrameHeight = 100;

// The input layer: red = x, green = y, blue = 7, alpha = (x + y) mod 256.
void MakeLayerWorld(std::vector<PF_Pixel>& px, PF_EffectWorld& world, bool pattern) {
  px.assign(static_cast<std::size_t>(kFrameWidth * kFrameHeight), PF_Pixel{9, 9, 9, 9});
  for (int y = 0; y < kFrameHeight && pattern; ++y) {
    for (int x = 0; x < kFrameWidth; ++x) {
      px[static_cast<std::size_t>(y * kFrameWidth + x)] = {
          static_cast<A_u_char>(x + y), static_cast<A_u_char>(x), static_cast<A_u_char>(y), 7};
    }
  }
  world.data = px.data();
  world.rowbytes = kFrameWidth * 4;
  world.width = kFrameWidth;
  world.height = kFrameHeight;
  world.extent_hint = {0, 0, kFrameWidth, kFrameHeight};
}

}  // namespace

RecordingHost::RecordingHost() {
  current = this;
  utils.fill = Fill;
  utils.transform_world = TransformWorld;
  in_data.utils = &utils;
  in_data.effect_ref = reinterpret_cast<PF_ProgPtr>(kEffectRef);
  in_data.quality = PF_Quality_HI;
  in_data.field = PF_Field_UPPER;
  in_data.current_time = 1000;
  in_data.time_step = 1;
  in_data.time_scale = 30;
  in_data.downsample_x = {1, 1};
  in_data.downsample_y = {1, 1};
  in_data.pica_basicP = &basic_suite;
  for (const ControlSpec& c : kControls) {
    PF_ParamDef& def = param_defs[static_cast<std::size_t>(c.index)];
    def.param_type = c.type;
    if (c.type == PF_Param_FLOAT_SLIDER) def.u.fs_d.value = c.dephault;
    if (c.type == PF_Param_POPUP) def.u.pd.value = c.default_choice;
    if (c.type == PF_Param_CHECKBOX) def.u.bd.value = c.checked ? 1 : 0;
  }
  for (std::size_t i = 0; i < params.size(); ++i) params[i] = &param_defs[i];
  param_defs[0].param_type = PF_Param_LAYER;
  MakeLayerWorld(input_pixels, param_defs[0].u.ld, true);
  MakeLayerWorld(output_pixels, output, false);
}

RecordingHost::~RecordingHost() { current = nullptr; }

PF_Err RecordingHost::RenderNow() { return Render(&in_data, params.data(), &output); }

void RecordingHost::SetPaths(std::vector<std::vector<PF_PathVertex>> paths) {
  path_count = static_cast<A_long>(paths.size());
  auto shared = std::make_shared<std::vector<std::vector<PF_PathVertex>>>(std::move(paths));
  path_segments = [shared](A_long i) {
    return static_cast<A_long>(shared->at(static_cast<std::size_t>(i)).size());
  };
  path_vertex = [shared](A_long i, A_long v) {
    return shared->at(static_cast<std::size_t>(i)).at(static_cast<std::size_t>(v));
  };
}

A_long RecordingHost::OutlineCount() const {
  return path_count > 0 ? path_count : static_cast<A_long>(outlines.size());
}

bool RecordingHost::IsLiveWorldData(const PF_EffectWorld* w) const {
  if (w == nullptr) return false;
  for (const auto& [handle, world] : worlds) {
    if (w->data == world.px.data()) return w->width == world.width && w->height == world.height;
  }
  return false;
}

uintptr_t RecordingHost::Make(const std::string& kind) {
  ++objects_made;
  const uintptr_t handle = next_handle;
  next_handle += 0x10;
  live[handle] = kind;
  return handle;
}

bool RecordingHost::Dispose(uintptr_t handle, const std::string& kind) {
  auto it = live.find(handle);
  if (it == live.end() || it->second != kind) return false;
  live.erase(it);
  ++objects_disposed;
  return true;
}

::testing::AssertionResult RecordingHost::Balanced() const {
  for (const auto& [key, n] : acquired) {
    auto it = released.find(key);
    const int back = it == released.end() ? 0 : it->second;
    if (back != n) {
      return ::testing::AssertionFailure()
             << key << " acquired " << n << " times, released " << back;
    }
  }
  if (!live.empty()) {
    return ::testing::AssertionFailure()
           << live.size() << " host objects still out, first a " << live.begin()->second;
  }
  if (objects_made != objects_disposed) {
    return ::testing::AssertionFailure()
           << objects_made << " host objects made, " << objects_disposed << " disposed";
  }
  if (!faults.empty()) return ::testing::AssertionFailure() << "host fault: " << faults.front();
  return ::testing::AssertionSuccess() << objects_made << " objects made and disposed";
}

std::vector<StreamFetch> RecordingHost::FetchesOf(const std::string& what) const {
  std::vector<StreamFetch> out;
  std::copy_if(fetches.begin(), fetches.end(), std::back_inserter(out),
               [&](const StreamFetch& f) { return f.what == what; });
  return out;
}

int RecordingHost::CountInLog(const std::string& name) const {
  return static_cast<int>(std::count(log.begin(), log.end(), name));
}

int RecordingHost::IndexInLog(const std::string& name, int occurrence) const {
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == name && occurrence-- == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace vantrel::render_test

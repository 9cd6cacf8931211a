// A recording host for the render: fake suites and utility callbacks that
// answer from a scripted layer (rectangular glyph outlines, Position, Anchor
// Point, Scale and "Opacity" as functions of time), record every call the
// render makes, and count every suite and host object that goes out and
// comes back.
#ifndef VANTREL_TESTS_MODULE_RENDER_RECORDING_HOST_H
#define VANTREL_TESTS_MODULE_RENDER_RECORDING_HOST_H

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ae_sdk.h"

namespace vantrel::render_test {

struct Vec2 {
  double x, y;
};

// One call to AEGP_GetLayerStreamValue or AEGP_GetNewStreamValue.
struct StreamFetch {
  std::string what;  // "position", "anchor", "scale" or "opacity"
  A_long time;
  A_u_long scale;
  AEGP_LTimeMode mode;
  A_Boolean pre_expression;
};

// A copy of one world's pixels, 4 bytes each (alpha, red, green, blue).
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<PF_Pixel> px;
  const PF_Pixel& at(int x, int y) const { return px[static_cast<std::size_t>(y * width + x)]; }
};

struct TransformCall {
  const PF_EffectWorld* src;
  PF_Quality quality;
  PF_ModeFlags mode_flags;
  PF_Field field;
  PF_CompositeMode mode;
  bool mask_is_null;
  std::vector<PF_FloatMatrix> matrices;
  A_long num_matrices;
  PF_Boolean src2dst;
  const PF_Rect* dest_rect;
  const PF_EffectWorld* dst;
  Pixels source;  // the temporary world as it was handed over
};

struct FillCall {
  const PF_EffectWorld* world;
  bool has_color;
  PF_Pixel color;
  bool has_rect;
};

struct CopyCall {
  const PF_EffectWorld* src;
  PF_Rect src_rect;
  bool dst_rect_is_null;
};

struct IterateCall {
  A_long iterations;
  void* refcon;
  AEGP_IterateGenericFunc fn;
};

class RecordingHost {
 public:
  RecordingHost();
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // --- Script ---------------------------------------------------------------
  AEGP_ObjectType object_type = AEGP_ObjectType_TEXT;
  A_Err object_type_err = A_Err_NONE;
  std::vector<PF_Rect> outlines;  // one rectangle per glyph outline, layer pixels
  // Arbitrary paths in place of the rectangles, when path_count > 0: outline i
  // has path_segments(i) segments and vertex v of it is path_vertex(i, v).
  A_long path_count = 0;
  std::function<A_long(A_long)> path_segments;
  std::function<PF_PathVertex(A_long, A_long)> path_vertex;
  void SetPaths(std::vector<std::vector<PF_PathVertex>> paths);
  // What AEGP_GetNumTextOutlines answers when set; outlines that do not exist
  // read as empty paths.
  std::optional<A_long> reported_outline_count;
  std::function<Vec2(A_long)> position = [](A_long) { return Vec2{0, 0}; };
  std::function<Vec2(A_long)> anchor = [](A_long) { return Vec2{0, 0}; };
  std::function<Vec2(A_long)> scale = [](A_long) { return Vec2{100, 100}; };
  std::function<double(A_long)> opacity = [](A_long) { return 100.0; };
  int fail_stream_call = 0;  // 1-based number of the stream fetch that fails
  A_Err fail_stream_err = 9;
  int fail_world_new = 0;                    // 1-based number of the AEGP_New call that fails
  std::set<std::string> refused_suites;      // "name/version"
  std::function<void()> on_transform_world;  // may throw, to end the render
  bool capture_sources = true;               // copy each transform_world source
  // A temporary world larger than this is a fault: no piece of a 200 x 100
  // frame needs one.
  int64_t max_world_pixels = 1 << 20;

  // --- The records a render gets --------------------------------------------
  PF_InData in_data{};
  PF_UtilCallbacks utils{};
  std::array<PF_ParamDef, 24> param_defs{};
  std::array<PF_ParamDef*, 24> params{};
  PF_EffectWorld output{};
  std::vector<PF_Pixel> output_pixels;
  std::vector<PF_Pixel> input_pixels;

  void SetSlider(int index, double value) { param_defs[index].u.fs_d.value = value; }
  void SetPopup(int index, int32_t value) { param_defs[index].u.pd.value = value; }
  void SetCheckbox(int index, bool on) { param_defs[index].u.bd.value = on ? 1 : 0; }
  PF_Err RenderNow();  // calls Render with the records above

  // --- What happened ---------------------------------------------------------
  std::vector<std::string> log;  // every host call by name, in order
  std::vector<StreamFetch> fetches;
  std::vector<TransformCall> transforms;
  std::vector<FillCall> fills;
  std::vector<CopyCall> copies;
  std::vector<IterateCall> iterations;
  std::vector<std::pair<A_long, A_long>> world_sizes;  // every AEGP_New, width x height
  std::vector<A_Time> outline_times;
  std::vector<PF_ParamIndex> effect_stream_indices;
  std::vector<std::string> faults;      // misuse seen by the host (stale handles, ...)
  std::map<std::string, int> acquired;  // per "name/version"
  std::map<std::string, int> released;
  int objects_made = 0;
  int objects_disposed = 0;

  // The outlines the host has: the scripted paths, else the rectangles.
  A_long OutlineCount() const;

  // Every suite released as often as acquired, every object given back, no fault.
  ::testing::AssertionResult Balanced() const;
  std::vector<StreamFetch> FetchesOf(const std::string& what) const;
  int CountInLog(const std::string& name) const;
  int IndexInLog(const std::string& name, int occurrence = 0) const;

  // Used by the fake callbacks.
  static RecordingHost* current;
  std::map<uintptr_t, std::string> live;  // handle -> kind
  struct FakeWorld {
    std::vector<PF_Pixel> px;  // rows of `stride` pixels, the last two padding
    int width, height, stride;
  };
  std::map<uintptr_t, FakeWorld> worlds;
  bool IsLiveWorldData(const PF_EffectWorld* w) const;
  int stream_calls = 0;
  int world_calls = 0;
  uintptr_t next_handle = 0x1000;
  uintptr_t Make(const std::string& kind);
  bool Dispose(uintptr_t handle, const std::string& kind);
};

}  // namespace vantrel::render_test

#endif  // VANTREL_TESTS_MODULE_RENDER_RECORDING_HOST_H

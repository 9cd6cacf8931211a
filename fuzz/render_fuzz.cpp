// Fuzz target: one whole frame of a fuzzed scene, rendered by the built
// module through the strict stand-in host at a low resolution. The input is
// a compact binary scene (not JSON, which random bytes seldom are): the
// composition, the text layer with its animated transform, and keyframes for
// any of the module's controls within the ranges the module declares. The
// host must see no protocol violation and no failed command, and the
// sanitizers no fault, in the module or the host.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "byte_reader.h"
#include "module_path.h"
#include "vantrel/cli/controls.h"
#include "vantrel/host/frame.h"
#include "vantrel/host/module_loader.h"

namespace {

using vantrel::cli::ControlCatalog;
using vantrel::cli::ControlInfo;
using vantrel::cli::ControlKind;
using vantrel::fuzz::ByteReader;
using vantrel::host::Animated;
using vantrel::host::Interpolation;
using vantrel::host::Keyframe;
using vantrel::host::Vec2;

// Control values outside the ranges the module declares, and layer values
// far beyond any real layer: a host that hands such values to the effect is
// hostile, and the module must still neither crash nor misbehave.
// -DVANTREL_FUZZ_HOSTILE_VALUES=0 keeps them out for one build (to look for
// faults with layer-sized values only).
#ifdef VANTREL_FUZZ_HOSTILE_VALUES
constexpr bool kHostileValues = VANTREL_FUZZ_HOSTILE_VALUES;
#else
constexpr bool kHostileValues = true;
#endif

struct Loaded {
  std::unique_ptr<vantrel::host::LoadedModule> module;
  ControlCatalog controls;
};

const Loaded& Module() {
  static const Loaded loaded = [] {
    Loaded l;
    l.module = vantrel::host::LoadedModule::Load(vantrel::fuzz::ModulePath());
    l.controls = vantrel::cli::ReadModuleControls(l.module->entry());
    return l;
  }();
  return loaded;
}

Interpolation AnyInterpolation(ByteReader& in) {
  switch (in.U8() % 3) {
    case 0:
      return Interpolation::kHold;
    case 1:
      return Interpolation::kLinear;
    default:
      return Interpolation::kEase;
  }
}

// One to three keys at increasing frames from -4 on.
template <class T, class Value>
Animated<T> AnimatedOf(ByteReader& in, Value value, bool discrete) {
  Animated<T> out;
  const int keys = 1 + in.U8() % 3;
  double frame = -4;
  for (int k = 0; k < keys; ++k) {
    frame += 1 + in.U8() % 16;
    Keyframe<T> key;
    key.frame = frame;
    key.value = value();
    key.interpolation = discrete ? Interpolation::kHold : AnyInterpolation(in);
    out.keys.push_back(key);
  }
  return out;
}

Animated<Vec2> AnimatedVec2(ByteReader& in, double lo, double hi) {
  return AnimatedOf<Vec2>(
      in,
      [&] {
        return Vec2{in.InRange(lo, hi), in.InRange(lo, hi)};
      },
      false);
}

double ControlValue(ByteReader& in, const ControlInfo& c) {
  if (kHostileValues && in.U8() == 0) return in.RawDouble();
  switch (c.kind) {
    case ControlKind::kSlider:
      return in.InRange(c.min, c.max);
    case ControlKind::kPopup:
      return 1 + in.U8() % c.choices.size();
    case ControlKind::kCheckbox:
      return in.Bit() ? 1 : 0;
  }
  return 0;
}

// Printable text with line breaks and a few characters beyond ASCII.
std::string Text(ByteReader& in) {
  static const char* const kExtra[] = {"\n", "\xC3\xA9", "\xEF\xAC\x81", "\xE2\x80\x94", " "};
  std::string text;
  const int n = in.U8() % 13;
  for (int i = 0; i < n; ++i) {
    const uint8_t b = in.U8();
    if (b >= 0xF0) {
      text += kExtra[b % 5];
    } else {
      text += static_cast<char>(0x21 + b % 94);
    }
  }
  return text;
}

vantrel::host::Scene DecodeScene(ByteReader& in, const ControlCatalog& controls) {
  vantrel::host::Scene scene;
  vantrel::host::Composition& comp = scene.comp;
  comp.width = 4 + in.U8() % 61;
  comp.height = 4 + in.U8() % 45;
  switch (in.U8() % 4) {
    case 0:
      comp.fps_num = 24;
      break;
    case 1:
      comp.fps_num = 25;
      break;
    case 2:
      comp.fps_num = 30;
      break;
    default:
      comp.fps_num = 30000;
      comp.fps_den = 1001;
      break;
  }
  comp.duration_frames = 1 + in.U8() % 60;

  vantrel::host::TextLayerSpec& layer = scene.layer;
  layer.text = Text(in);
  layer.font_size = 2 + in.U8() % 80;
  layer.tracking = in.InRange(-1000, 2000);
  layer.leading = in.U8() % 4 == 0 ? in.InRange(1, 100) : 0;
  layer.align = static_cast<vantrel::host::TextAlign>(in.U8() % 3);
  layer.text_origin = Vec2{in.InRange(-32, 64), in.InRange(-16, 64)};
  // Mostly values near the composition, sometimes the limits a scene file
  // allows (1e6 pixels, 1e5 percent).
  static constexpr double kReach[] = {200, 200, 200, 1e6};
  static constexpr double kScale[] = {200, 200, 1000, 1e5};
  const double reach = kHostileValues ? 1e12 : kReach[in.U8() % 4];
  layer.position = AnimatedVec2(in, -reach, reach);
  layer.anchor_point = AnimatedVec2(in, -reach, reach);
  const double scale = kHostileValues ? 1e12 : kScale[in.U8() % 4];
  layer.scale = AnimatedVec2(in, -scale, scale);

  for (const ControlInfo& c : controls.controls()) {
    if (!in.Bit()) continue;
    scene.effect.controls[c.index] = AnimatedOf<double>(
        in, [&] { return ControlValue(in, c); }, c.kind != ControlKind::kSlider);
  }
  return scene;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const Loaded& loaded = Module();
  ByteReader in(data, size);
  const vantrel::host::Scene scene = DecodeScene(in, loaded.controls);
  const int frame = in.U8() % scene.comp.duration_frames;
  const auto resolution = static_cast<vantrel::host::Resolution>(1 + in.U8() % 4);
  try {
    const vantrel::host::FrameRenderer renderer(*loaded.module, scene);
    renderer.RenderFrame(frame, resolution);
    const std::vector<std::string> violations = renderer.Violations();
    if (!violations.empty()) {
      for (const std::string& v : violations) std::fprintf(stderr, "violation: %s\n", v.c_str());
      std::abort();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "render of a valid scene threw: %s\n", e.what());
    std::abort();
  }
  return 0;
}

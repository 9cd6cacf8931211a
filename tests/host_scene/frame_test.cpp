// The frame around the effect: the layer-to-composition transform, and whole
// frames rendered through the built module.
#include "vantrel/host/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "test_controls.h"

namespace vantrel::host {
namespace {

std::string Join(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// Maps a point through a row-vector matrix.
Vec2 Apply(const PF_FloatMatrix& m, double x, double y) {
  return {x * m.mat[0][0] + y * m.mat[1][0] + m.mat[2][0],
          x * m.mat[0][1] + y * m.mat[1][1] + m.mat[2][1]};
}

TEST(LayerToComp, AnchorGoesToPositionAndScaleActsAroundIt) {
  LayerTransform t;
  t.position = Animated<Vec2>{{{0, {100, 80}, Interpolation::kLinear}, {10, {300, 80}}}};
  t.anchor_point = Animated<Vec2>::Constant({40, 20});
  t.scale = Animated<Vec2>::Constant({50, 200});
  const PF_FloatMatrix full = LayerToCompMatrix(t, 5, 1);
  const Vec2 anchor = Apply(full, 40, 20);
  EXPECT_DOUBLE_EQ(anchor.x, 200);
  EXPECT_DOUBLE_EQ(anchor.y, 80);
  const Vec2 corner = Apply(full, 0, 0);  // (0 − 40) × 0.5 + 200, (0 − 20) × 2 + 80
  EXPECT_DOUBLE_EQ(corner.x, 180);
  EXPECT_DOUBLE_EQ(corner.y, 40);
  EXPECT_EQ(full.mat[0][1], 0);
  EXPECT_EQ(full.mat[2][2], 1);

  // At half resolution a layer pixel p is the layer point 2p, and the result
  // is halved: the same place in a half-sized composition.
  const PF_FloatMatrix half = LayerToCompMatrix(t, 5, 2);
  const Vec2 anchor_half = Apply(half, 20, 10);
  EXPECT_DOUBLE_EQ(anchor_half.x, 100);
  EXPECT_DOUBLE_EQ(anchor_half.y, 40);
  const Vec2 corner_half = Apply(half, 0, 0);
  EXPECT_DOUBLE_EQ(corner_half.x, 90);
  EXPECT_DOUBLE_EQ(corner_half.y, 20);
}

// A probe effect: declares controls shaped like the effect's, records what
// the frame hands its render, and draws a known block into the output.
struct ProbeRecord {
  PF_InData in{};
  std::vector<PF_ParamDef> params;
  Image input;  // a copy of params[0]'s pixels
  int32_t output_width = 0, output_height = 0;
  bool output_was_clear = true;
};
struct ProbeBehaviour {
  PF_Err params_setup_error = PF_Err_NONE;
  A_long fail_render_at = -1;  // current_time at which the render fails
  A_long leak_suite_at = -1;   // current_time at which a suite is kept
  PF_Rect block{5, 3, 7, 5};   // output pixels set to opaque red
};
thread_local ProbeRecord* g_record = nullptr;

PF_Pixel* Row(const PF_LayerDef& world, int y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<char*>(world.data) + y * world.rowbytes);
}
thread_local ProbeBehaviour g_behaviour;

PF_Err ProbeEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                   PF_LayerDef* output, void*) {
  switch (cmd) {
    case PF_Cmd_PARAMS_SETUP: {
      if (g_behaviour.params_setup_error != PF_Err_NONE) return g_behaviour.params_setup_error;
      const std::vector<DeclaredParam> controls = testing::EffectLikeControls();
      for (const DeclaredParam& control : controls) {
        PF_ParamDef def = control.def;
        if (def.param_type == PF_Param_POPUP) def.u.pd.u.namesptr = control.choices.c_str();
        if (PF_Err err = in->inter.add_param(in->effect_ref, -1, &def)) return err;
      }
      out->num_params = static_cast<A_long>(controls.size()) + 1;
      return PF_Err_NONE;
    }
    case PF_Cmd_RENDER: {
      if (in->current_time == g_behaviour.leak_suite_at) {
        const void* suite = nullptr;
        in->pica_basicP->AcquireSuite(kPFANSISuite, 1, &suite);
      }
      if (g_record) {
        ProbeRecord& r = *g_record;
        r.in = *in;
        for (int i = 0; i < in->num_params; ++i) r.params.push_back(*params[i]);
        const PF_LayerDef& layer = params[0]->u.ld;
        r.input = Image(layer.width, layer.height);
        for (int y = 0; y < layer.height; ++y) {
          std::memcpy(r.input.row(y), Row(layer, y),
                      static_cast<std::size_t>(layer.width) * sizeof(PF_Pixel));
        }
        r.output_width = output->width;
        r.output_height = output->height;
        for (int y = 0; y < output->height; ++y) {
          const PF_Pixel* row = Row(*output, y);
          for (int x = 0; x < output->width; ++x) {
            r.output_was_clear &= row[x].alpha == 0 && row[x].red == 0;
          }
        }
      }
      const PF_Rect& b = g_behaviour.block;
      for (int y = b.top; y < b.bottom; ++y) {
        PF_Pixel* row = Row(*output, y);
        for (int x = b.left; x < b.right; ++x) row[x] = PF_Pixel{255, 255, 0, 0};
      }
      return in->current_time == g_behaviour.fail_render_at ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
    }
    default:
      return PF_Err_NONE;
  }
}

class ProbeFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { g_behaviour = ProbeBehaviour{}; }
  void TearDown() override { g_record = nullptr; }

  static Scene SmallScene() {
    Scene scene;
    scene.comp.width = 101;
    scene.comp.height = 51;
    scene.comp.fps_num = 25;
    scene.comp.fps_den = 1;
    scene.comp.duration_frames = 40;
    return scene;
  }
  static std::unique_ptr<SolidLayer> Solid(const Scene& scene, LayerTransform transform = {}) {
    return std::make_unique<SolidLayer>(PF_Pixel{255, 9, 99, 199}, PF_Rect{0, 0, 20, 10},
                                        std::move(transform), scene.comp);
  }
};

TEST_F(ProbeFrameTest, TheRenderGetsTheFramesTimesSizesAndControlValues) {
  Scene scene = SmallScene();
  scene.effect.controls[1] = Animated<double>{{{0, 0.0, Interpolation::kLinear}, {10, 10.0}}};
  scene.effect.controls[2] = Animated<double>{{{0, 1.0, Interpolation::kHold}, {3, 2.0}}};
  scene.effect.controls[7] = Animated<double>::Constant(1);
  const FrameRenderer renderer(&ProbeEffect, scene, Solid(scene));
  ProbeRecord record;
  g_record = &record;
  const LayerFrame frame = renderer.RenderLayer(4, Resolution::kHalf);
  EXPECT_EQ(frame.result, PF_Err_NONE);

  const PF_InData& in = record.in;
  EXPECT_EQ(in.current_time, 400);
  EXPECT_EQ(in.time_step, 100);
  EXPECT_EQ(in.local_time_step, 100);
  EXPECT_EQ(in.time_scale, 2500u);
  EXPECT_EQ(in.total_time, 4000);
  EXPECT_EQ(in.width, 101);
  EXPECT_EQ(in.height, 51);
  EXPECT_EQ(in.downsample_x.num, 1);
  EXPECT_EQ(in.downsample_x.den, 2u);
  EXPECT_EQ(in.downsample_y.den, 2u);
  EXPECT_EQ(in.pixel_aspect_ratio.num, 1);
  EXPECT_EQ(in.pixel_aspect_ratio.den, 1u);
  EXPECT_EQ(in.quality, PF_Quality_HI);
  EXPECT_EQ(in.field, PF_Field_FRAME);
  EXPECT_EQ(in.shutter_angle, 0);
  EXPECT_EQ(in.extent_hint.right, 51);
  EXPECT_EQ(in.extent_hint.bottom, 26);
  EXPECT_EQ(in.num_params, 24);

  ASSERT_EQ(record.params.size(), 24u);
  EXPECT_EQ(record.params[0].param_type, PF_Param_LAYER);
  ASSERT_EQ(record.input.width(), 51);  // ceil(101 / 2)
  ASSERT_EQ(record.input.height(), 26);
  EXPECT_EQ(record.input.at(9, 4).blue, 199);  // the solid's 20 × 10 at half size
  EXPECT_EQ(record.input.at(10, 4).alpha, 0);
  EXPECT_EQ(record.input.at(9, 5).alpha, 0);
  EXPECT_EQ(record.output_width, 51);
  EXPECT_EQ(record.output_height, 26);
  EXPECT_TRUE(record.output_was_clear);

  EXPECT_DOUBLE_EQ(record.params[1].u.fs_d.value, 4.0);  // keyed, at frame 4
  EXPECT_EQ(record.params[2].u.pd.value, 2);             // held key from frame 3
  EXPECT_STREQ(record.params[2].u.pd.u.namesptr, "A|B|C|D");
  EXPECT_EQ(record.params[3].u.pd.value, 1);  // declared default
  EXPECT_EQ(record.params[7].u.bd.value, 1);
  EXPECT_EQ(record.params[14].u.bd.value, 0);
  EXPECT_DOUBLE_EQ(record.params[19].u.fs_d.value, 100.0);
  EXPECT_STREQ(record.params[19].name, "Opacity");
  EXPECT_EQ(record.params[22].u.bd.value, 1);
  EXPECT_EQ(record.params[20].param_type, PF_Param_GROUP_START);
  EXPECT_TRUE(renderer.Violations().empty()) << Join(renderer.Violations());
}

TEST_F(ProbeFrameTest, TheOutputIsDrawnByTheLayersTransformOverTheBackground) {
  Scene scene = SmallScene();
  scene.comp.background = PF_Pixel{255, 0, 0, 40};
  LayerTransform transform;
  transform.position = Animated<Vec2>::Constant({40, 20});
  transform.scale = Animated<Vec2>::Constant({200, 200});
  const FrameRenderer renderer(&ProbeEffect, scene, Solid(scene, transform));
  // The probe's block of output pixels [5, 7) × [3, 5) lands on
  // [50, 54) × [26, 30) of the composition.
  const Image comp = renderer.RenderFrame(0, Resolution::kFull);
  ASSERT_EQ(comp.width(), 101);
  for (auto [x, y] : {std::pair{51, 27}, {52, 28}}) {
    EXPECT_EQ(comp.at(x, y).red, 255) << x << "," << y;
    EXPECT_EQ(comp.at(x, y).blue, 0) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{47, 27}, {56, 27}, {51, 24}, {51, 31}, {0, 0}}) {
    EXPECT_EQ(comp.at(x, y).red, 0) << x << "," << y;
    EXPECT_EQ(comp.at(x, y).blue, 40) << x << "," << y;
    EXPECT_EQ(comp.at(x, y).alpha, 255) << x << "," << y;
  }
}

TEST_F(ProbeFrameTest, FailedRendersAndLeaksAreReportedWithTheirFrame) {
  const Scene scene = SmallScene();
  const FrameRenderer renderer(&ProbeEffect, scene, Solid(scene));
  g_behaviour.fail_render_at = 300;
  g_behaviour.leak_suite_at = 500;
  for (int frame = 2; frame <= 6; ++frame) (void)renderer.RenderFrame(frame, Resolution::kFull);
  const std::vector<std::string> violations = renderer.Violations();
  ASSERT_EQ(violations.size(), 2u) << Join(violations);
  EXPECT_EQ(violations[0].rfind("frame 3: PF_Cmd_RENDER returned error", 0), 0u) << violations[0];
  EXPECT_EQ(violations[1].rfind("frame 5: ", 0), 0u) << violations[1];
  EXPECT_NE(violations[1].find("PF ANSI Suite"), std::string::npos) << violations[1];
}

TEST_F(ProbeFrameTest, AFailedSetUpStopsTheRenderer) {
  const Scene scene = SmallScene();
  g_behaviour.params_setup_error = PF_Err_OUT_OF_MEMORY;
  EXPECT_THROW(FrameRenderer(&ProbeEffect, scene, Solid(scene)), HostError);
}

#ifdef VANTREL_MODULE_PATH

// Alpha-weighted horizontal centroid of the columns [x0, x1) of an image,
// where the colour differs from the (opaque black) background.
double CentroidX(const Image& image, int x0, int x1) {
  double mass = 0, moment = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = std::max(0, x0); x < std::min(image.width(), x1); ++x) {
      const PF_Pixel& p = image.at(x, y);
      const double w = p.red + p.green + p.blue;
      mass += w;
      moment += w * (x + 0.5);
    }
  }
  return mass > 0 ? moment / mass : -1;
}

class ModuleFrameTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadedModule::Load(VANTREL_MODULE_PATH); }
  static void TearDownTestSuite() { module_.reset(); }

  // Two characters far apart on a 640 × 200 composition; the layer moves
  // right by 400 px over frames 0 to 20, 20 px a frame.
  static Scene MovingScene(double delay_frames) {
    Scene scene;
    scene.comp.width = 640;
    scene.comp.height = 200;
    scene.comp.fps_num = 25;
    scene.comp.duration_frames = 30;
    scene.layer.text = "H        I";
    scene.layer.font_size = 60;
    scene.layer.text_origin = {20, 120};
    scene.layer.position = Animated<Vec2>{{{0, {0, 0}, Interpolation::kLinear}, {20, {400, 0}}}};
    scene.effect.controls[1] = Animated<double>::Constant(delay_frames);
    return scene;
  }

  static std::unique_ptr<LoadedModule> module_;
};
std::unique_ptr<LoadedModule> ModuleFrameTest::module_;

TEST_F(ModuleFrameTest, DelayedPiecesLagBehindTheLayersMotion) {
  const Scene scene = MovingScene(2);
  const FrameRenderer delayed(*module_, scene);
  const FrameRenderer undelayed(*module_, MovingScene(0));
  const TextLayer& text = static_cast<const TextLayer&>(delayed.layer());
  const std::vector<GlyphBox>& glyphs = text.layout().Glyphs();
  ASSERT_GE(glyphs.size(), 2u);
  const GlyphBox& first = glyphs.front();
  const GlyphBox& last = glyphs.back();

  // Frame 10: the layer is at x = 200. The first piece moves with the layer;
  // the second is one delay (2 frames, 40 px) behind.
  const int frame = 10;
  const Image with_delay = delayed.RenderFrame(frame, Resolution::kFull);
  const Image without_delay = undelayed.RenderFrame(frame, Resolution::kFull);
  ASSERT_EQ(with_delay.width(), 640);
  ASSERT_EQ(with_delay.height(), 200);
  const int margin = 60;
  const int first_x0 = static_cast<int>(first.left) + 200 - margin;
  const int first_x1 = static_cast<int>(first.right) + 200 + margin;
  const int last_x0 = static_cast<int>(last.left) + 200 - margin;
  const int last_x1 = static_cast<int>(last.right) + 200 + margin;
  ASSERT_LT(first_x1, last_x0) << "the two characters' windows must not overlap";

  const double first_shift =
      CentroidX(with_delay, first_x0, first_x1) - CentroidX(without_delay, first_x0, first_x1);
  const double last_shift =
      CentroidX(with_delay, last_x0, last_x1) - CentroidX(without_delay, last_x0, last_x1);
  EXPECT_NEAR(first_shift, 0, 0.5);
  EXPECT_NEAR(last_shift, -40, 1.5);
  EXPECT_TRUE(delayed.Violations().empty()) << Join(delayed.Violations());
  EXPECT_TRUE(undelayed.Violations().empty()) << Join(undelayed.Violations());
}

// Alpha-weighted brightness (sum of red, green, blue) of the columns [x0, x1).
double Brightness(const Image& image, int x0, int x1) {
  double sum = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = std::max(0, x0); x < std::min(image.width(), x1); ++x) {
      const PF_Pixel& p = image.at(x, y);
      sum += p.red + p.green + p.blue;
    }
  }
  return sum;
}

TEST_F(ModuleFrameTest, DelayedPiecesFadeAsTheOpacityControlDidEarlier) {
  // The layer stands still; "Opacity" falls from 100 to 0 over frames 0 to
  // 10. At frame 4 the first piece shows 60 %, the second (2 frames late) 80 %.
  Scene scene = MovingScene(2);
  scene.layer.position = Animated<Vec2>::Constant({0, 0});
  scene.effect.controls[19] = Animated<double>{{{0, 100.0, Interpolation::kLinear}, {10, 0.0}}};
  Scene opaque = scene;
  opaque.effect.controls.erase(19);
  const FrameRenderer fading(*module_, scene);
  const FrameRenderer reference(*module_, opaque);
  const TextLayer& text = static_cast<const TextLayer&>(fading.layer());
  const GlyphBox& first = text.layout().Glyphs().front();
  const GlyphBox& last = text.layout().Glyphs().back();
  const Image faded = fading.RenderFrame(4, Resolution::kFull);
  const Image full = reference.RenderFrame(4, Resolution::kFull);
  auto ratio = [&](const GlyphBox& g) {
    const int x0 = static_cast<int>(g.left) - 2, x1 = static_cast<int>(g.right) + 3;
    return Brightness(faded, x0, x1) / Brightness(full, x0, x1);
  };
  // Opacity levels are trunc(percent × 2.55) of 255: 153 and 204 against 254.
  EXPECT_NEAR(ratio(first), 153.0 / 254.0, 0.02);
  EXPECT_NEAR(ratio(last), 204.0 / 254.0, 0.02);
  EXPECT_TRUE(fading.Violations().empty()) << Join(fading.Violations());
}

TEST_F(ModuleFrameTest, DownsampledFramesAreSmallerAndAgreeWithFullOnes) {
  const FrameRenderer renderer(*module_, MovingScene(2));
  const Image full = renderer.RenderFrame(8, Resolution::kFull);
  const Image third = renderer.RenderFrame(8, Resolution::kThird);
  EXPECT_EQ(third.width(), 214);  // ceil(640 / 3)
  EXPECT_EQ(third.height(), 67);  // ceil(200 / 3)
  EXPECT_NEAR(CentroidX(third, 0, third.width()) * 3, CentroidX(full, 0, full.width()), 4);
  EXPECT_TRUE(renderer.Violations().empty()) << Join(renderer.Violations());
}

TEST_F(ModuleFrameTest, FramesRenderedInParallelEqualThoseRenderedOneByOne) {
  const FrameRenderer renderer(*module_, MovingScene(1.5));
  const std::vector<int> frames{3, 7, 11, 15};
  std::vector<Image> serial;
  for (int f : frames) serial.push_back(renderer.RenderFrame(f, Resolution::kHalf));
  std::vector<std::future<Image>> parallel;
  for (int f : frames) {
    parallel.push_back(std::async(
        std::launch::async, [&renderer, f] { return renderer.RenderFrame(f, Resolution::kHalf); }));
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const Image got = parallel[i].get();
    ASSERT_EQ(got.width(), serial[i].width());
    int differing = 0;
    for (int y = 0; y < got.height(); ++y) {
      for (int x = 0; x < got.width(); ++x) {
        const PF_Pixel a = got.at(x, y), b = serial[i].at(x, y);
        differing += a.alpha != b.alpha || a.red != b.red || a.green != b.green || a.blue != b.blue;
      }
    }
    EXPECT_EQ(differing, 0) << "frame " << frames[i];
  }
  EXPECT_TRUE(renderer.Violations().empty()) << Join(renderer.Violations());
}

TEST_F(ModuleFrameTest, OnASolidTheEffectLeavesTheOutputAsHandedOver) {
  const Scene scene = MovingScene(2);
  const FrameRenderer renderer(
      *module_, scene,
      std::make_unique<SolidLayer>(PF_Pixel{255, 200, 100, 50}, PF_Rect{10, 10, 110, 60},
                                   LayerTransform{}, scene.comp));
  const LayerFrame frame = renderer.RenderLayer(4, Resolution::kFull);
  EXPECT_EQ(frame.result, PF_Err_NONE);
  EXPECT_EQ(frame.input.at(20, 20).red, 200);
  for (int y = 0; y < frame.output.height(); ++y) {
    for (int x = 0; x < frame.output.width(); ++x) {
      ASSERT_EQ(frame.output.at(x, y).alpha, 0) << x << "," << y;
    }
  }
  EXPECT_TRUE(renderer.Violations().empty()) << Join(renderer.Violations());
}

#endif  // VANTREL_MODULE_PATH

}  // namespace
}  // namespace vantrel::host

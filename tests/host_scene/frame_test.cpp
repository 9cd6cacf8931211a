// The frame around the effect: the layer-to-composition transform, and whole
// frames rendered through the built module.
#include "vantrel/host/frame.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

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

TEST_F(ModuleFrameTest, SetUpDeclaresTheControls) {
  const FrameRenderer renderer(*module_, MovingScene(0));
  EXPECT_EQ(renderer.declared_params().size(), 23u);
  EXPECT_EQ(renderer.effect().NumParams(), 24);
  EXPECT_TRUE(renderer.Violations().empty()) << Join(renderer.Violations());
}

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

TEST_F(ModuleFrameTest, WithoutDelayTheCompositionShowsTheTextWhereTheLayerPutsIt) {
  const FrameRenderer renderer(*module_, MovingScene(0));
  const TextLayer& text = static_cast<const TextLayer&>(renderer.layer());
  const GlyphBox& first = text.layout().Glyphs().front();
  // Frame 5: x + 100. The first character's ink lies inside its box moved by 100.
  const Image comp = renderer.RenderFrame(5, Resolution::kFull);
  const double centroid = CentroidX(comp, static_cast<int>(first.left) + 100 - 30,
                                    static_cast<int>(first.right) + 100 + 30);
  EXPECT_GT(centroid, first.left + 100);
  EXPECT_LT(centroid, first.right + 100);
  // The background stays where nothing is drawn.
  const PF_Pixel corner = comp.at(639, 0);
  EXPECT_EQ(corner.alpha, 255);
  EXPECT_EQ(corner.red + corner.green + corner.blue, 0);
  EXPECT_TRUE(renderer.Violations().empty()) << Join(renderer.Violations());
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

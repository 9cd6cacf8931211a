// transform_world of the stand-in host against the double-precision
// reference, and the cases whose result is known exactly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <random>
#include <sstream>

#include "reference.h"
#include "vantrel/host/imaging.h"

namespace vantrel::host {
namespace {

using testing::Identity;
using testing::M3;
using testing::Mul;
using testing::RefOptions;
using testing::Scale;
using testing::ToPF;
using testing::Translate;

PF_CompositeMode InFront(int opacity) {
  PF_CompositeMode m{};
  m.xfer = PF_Xfer_IN_FRONT;
  m.opacity = static_cast<A_u_char>(opacity);
  return m;
}

PF_Err Transform(Image& src, Image& dst, const std::vector<M3>& ms, PF_Quality q = PF_Quality_HI,
                 int opacity = 255, const PF_Rect* dest_rect = nullptr, bool src2dst = true) {
  std::vector<PF_FloatMatrix> pf;
  for (const M3& m : ms) pf.push_back(ToPF(m));
  PF_EffectWorld s = src.AsWorld(), d = dst.AsWorld();
  return TransformWorld(q, PF_MF_Alpha_STRAIGHT, PF_Field_FRAME, s, InFront(opacity), nullptr,
                        pf.data(), static_cast<int>(pf.size()), src2dst, dest_rect, d);
}

bool Same(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

std::string Str(const PF_Pixel& p) {
  std::ostringstream s;
  s << "(a" << int(p.alpha) << " r" << int(p.red) << " g" << int(p.green) << " b" << int(p.blue)
    << ")";
  return s.str();
}

// Largest corner motion in destination pixels between two src->dst
// matrices, computed independently of the host.
double CornerMotion(const M3& a, const M3& b, int w, int h) {
  double worst = 0;
  for (double u : {0.0, double(w)}) {
    for (double v : {0.0, double(h)}) {
      auto map = [&](const M3& m, double& x, double& y) {
        const double ww = u * m.m[0][2] + v * m.m[1][2] + m.m[2][2];
        x = (u * m.m[0][0] + v * m.m[1][0] + m.m[2][0]) / ww;
        y = (u * m.m[0][1] + v * m.m[1][1] + m.m[2][1]) / ww;
      };
      double x0, y0, x1, y1;
      map(a, x0, y0);
      map(b, x1, y1);
      worst = std::max(worst, std::hypot(x1 - x0, y1 - y0));
    }
  }
  return worst;
}

// A random source-to-destination matrix that lands a w×h source somewhere
// around a 64×64 destination: rotation, anisotropic scale (also below 1
// and mirrored), shear, translation, sometimes a mild perspective.
M3 RandomMatrix(std::mt19937& rng, int w, int h, bool projective) {
  std::uniform_real_distribution<double> angle(-3.2, 3.2), scale(0.3, 3.0), shear(-0.5, 0.5),
      pos(-10, 70), coin(0, 1), persp(-0.004, 0.004);
  const double a = angle(rng);
  const double sx = scale(rng) * (coin(rng) < 0.1 ? -1 : 1), sy = scale(rng);
  M3 m = Translate(-w / 2.0, -h / 2.0);
  m = Mul(m, Scale(sx, sy));
  m = Mul(m, M3{{{1, shear(rng), 0}, {0, 1, 0}, {0, 0, 1}}});
  m = Mul(m, M3{{{std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}}});
  m = Mul(m, Translate(pos(rng), pos(rng)));
  if (projective) {
    // Perspective in source coordinates first, so that W stays positive
    // over the source.
    M3 p = Identity();
    p.m[0][2] = persp(rng);
    p.m[1][2] = persp(rng);
    m = Mul(p, m);
  }
  return m;
}

// Case i of the random comparison, seeded with i. Returns the sum of the
// host's output bytes (printed so that a run can be compared with another).
// With `axis_aligned`, the placement only scales and moves the source, so
// that each destination row stays on one source row (as every piece of text
// is drawn), at fractional positions and scales; with `mirrored` too, each
// axis is flipped or not at random (rows then walk the source right to left).
uint64_t RunRandomCase(int i, double* largest_error, bool axis_aligned = false,
                       bool mirrored = false, bool* blurred = nullptr) {
  std::mt19937 rng(static_cast<uint32_t>(i));
  std::uniform_int_distribution<int> size(1, 40), opacity(0, 255), coin(0, 9), rect(-8, 72);
  Image src(size(rng), size(rng));
  testing::RandomFill(src, rng);
  Image dst(64, 64);
  if (coin(rng) < 7) testing::RandomFill(dst, rng);
  const Image before = dst;

  RefOptions o;
  o.bilinear = coin(rng) < 7;
  o.opacity = coin(rng) < 3 ? 255 : opacity(rng);
  const bool projective = coin(rng) == 0;
  const bool blur = coin(rng) < 3;
  const bool src2dst = coin(rng) < 8;
  M3 m1 = RandomMatrix(rng, src.width(), src.height(), projective);
  if (axis_aligned) {
    std::uniform_real_distribution<double> scale(0.4, 2.5), pos(-10, 60);
    m1 = Mul(Scale(scale(rng), scale(rng)), Translate(pos(rng), pos(rng)));
    if (mirrored) {
      const double fx = coin(rng) < 5 ? -1 : 1, fy = coin(rng) < 5 ? -1 : 1;
      // Flipped about the destination's middle, so that the source stays in view.
      m1 = Mul(Mul(Mul(m1, Translate(-32, -32)), Scale(fx, fy)), Translate(32, 32));
    }
  }
  M3 m0 = m1;
  if (blur) {
    std::uniform_real_distribution<double> d(-8, 8), ds(0.8, 1.25);
    m0 = Mul(m1, Translate(d(rng), d(rng)));
    if (coin(rng) < 5) {  // and a zoom about the destination's middle
      m0 = Mul(Mul(Mul(m0, Translate(-32, -32)), Scale(ds(rng), ds(rng))), Translate(32, 32));
    }
  }
  PF_Rect clip{0, 0, 64, 64};
  const bool has_rect = coin(rng) < 5;
  if (has_rect) {
    clip = {rect(rng), rect(rng), rect(rng), rect(rng)};
    if (clip.left > clip.right) std::swap(clip.left, clip.right);
    if (clip.top > clip.bottom) std::swap(clip.top, clip.bottom);
  }
  o.clip = {std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, 64),
            std::min(clip.bottom, 64)};
  // These motions are too short for the smear (that is compared with a
  // dense average below): the placements are drawn one by one.
  o.samples = blur ? MotionBlurSampleCount(CornerMotion(m0, m1, src.width(), src.height())) : 1;
  o.midpoints = true;
  // The host interpolates affine placements source-to-destination.
  o.forward = m0.m[0][2] == 0 && m0.m[1][2] == 0 && m1.m[0][2] == 0 && m1.m[1][2] == 0;

  M3 given0 = m0, given1 = m1;
  if (!src2dst) {
    EXPECT_TRUE(testing::Inverse(m0, given0));
    EXPECT_TRUE(testing::Inverse(m1, given1));
  }
  std::vector<PF_FloatMatrix> pf;
  if (blur) pf.push_back(ToPF(given0));
  pf.push_back(ToPF(given1));
  PF_EffectWorld s = src.AsWorld(), d = dst.AsWorld();
  EXPECT_EQ(TransformWorld(o.bilinear ? PF_Quality_HI : PF_Quality_LO, PF_MF_Alpha_STRAIGHT,
                           PF_Field_FRAME, s, InFront(o.opacity), nullptr, pf.data(),
                           static_cast<int>(pf.size()), src2dst, has_rect ? &clip : nullptr, d),
            PF_Err_NONE);

  const testing::RefResult ref =
      testing::ReferenceTransform(src, given0, given1, src2dst, before, o);
  // Tolerance: 1 level per channel; colour is compared only where the
  // result's alpha exceeds 8 (below that a colour level is ill-defined).
  constexpr double kTolerance = 1.0;
  int bad = 0;
  double worst = 0;
  std::string first;
  uint64_t sum = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const size_t k = static_cast<size_t>(y) * 64 + x;
      const PF_Pixel& got = dst.at(x, y);
      sum += got.alpha + got.red + got.green + got.blue;
      if (ref.ambiguous[k]) continue;
      const double g[4] = {double(got.alpha), double(got.red), double(got.green), double(got.blue)};
      const int channels = ref.px[k][0] > 8 ? 4 : 1;
      for (int c = 0; c < channels; ++c) {
        const double e = std::fabs(g[c] - ref.px[k][c]);
        worst = std::max(worst, e);
        if (e > kTolerance) {
          if (bad++ == 0) {
            std::ostringstream os;
            os << "first at (" << x << "," << y << ") channel " << c << ": got " << g[c] << " want "
               << ref.px[k][c];
            first = os.str();
          }
        }
      }
    }
  }
  *largest_error = std::max(*largest_error, worst);
  if (blurred) *blurred = blur;
  EXPECT_EQ(bad, 0) << "case " << i << ": " << bad << " channel values off by more than "
                    << kTolerance << ", largest error " << worst << "; " << first << " (src "
                    << src.width() << "x" << src.height() << ", "
                    << (o.bilinear ? "bilinear" : "nearest") << ", opacity " << o.opacity
                    << ", samples " << o.samples << (projective ? ", projective" : "")
                    << (src2dst ? "" : ", dst2src") << ")";
  return sum;
}

// Runs the 400 cases of one kind and prints their checksum (the same value
// before and after a change of the transform means the same bytes).
// The checksum of the cases without motion blur is printed apart: a change of
// the blur alone leaves it as it was.
void RunCases(const char* kind, bool axis_aligned, bool mirrored) {
  uint64_t checksum = 0, unblurred = 0;
  double worst = 0, worst_blurred = 0;
  for (int i = 0; i < 400; ++i) {
    bool blurred = false;
    double error = 0;
    const uint64_t sum = RunRandomCase(i, &error, axis_aligned, mirrored, &blurred);
    checksum = checksum * 31 + sum;
    if (!blurred) unblurred = unblurred * 31 + sum;
    (blurred ? worst_blurred : worst) = std::max(blurred ? worst_blurred : worst, error);
    if (::testing::Test::HasFailure()) break;
  }
  std::printf(
      "checksum of 400 %scases: %llu (without blur %llu), largest error %.3f levels (blurred "
      "%.3f)\n",
      kind, static_cast<unsigned long long>(checksum), static_cast<unsigned long long>(unblurred),
      worst, worst_blurred);
}

TEST(TransformReference, RandomCasesAgreeWithDoubleReference) {
  // VANTREL_IMAGING_CASE=<n> re-runs case n alone.
  if (const char* one = std::getenv("VANTREL_IMAGING_CASE")) {
    const int i = std::atoi(one);
    double worst = 0;
    const uint64_t sum = RunRandomCase(i, &worst);
    std::printf("case %d checksum %llu largest error %.3f\n", i,
                static_cast<unsigned long long>(sum), worst);
    return;
  }
  RunCases("", /*axis_aligned=*/false, /*mirrored=*/false);
}

TEST(TransformReference, AxisAlignedCasesAgreeWithDoubleReference) {
  RunCases("axis-aligned ", /*axis_aligned=*/true, /*mirrored=*/false);
}

TEST(TransformReference, MirroredAxisAlignedCasesAgreeWithDoubleReference) {
  RunCases("mirrored axis-aligned ", /*axis_aligned=*/true, /*mirrored=*/true);
}

// ---------------------------------------------------------------------------
// Exact cases

class TransformExact : public ::testing::TestWithParam<PF_Quality> {};

TEST_P(TransformExact, IdentityAtFullOpacityReproducesTheSource) {
  std::mt19937 rng(1);
  Image src(23, 17);
  testing::RandomFill(src, rng);
  Image dst(23, 17);
  ASSERT_EQ(Transform(src, dst, {Identity()}, GetParam()), PF_Err_NONE);
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 23; ++x) {
      const PF_Pixel& s = src.at(x, y);
      if (s.alpha == 0) {
        EXPECT_EQ(dst.at(x, y).alpha, 0);
      } else {
        EXPECT_TRUE(Same(dst.at(x, y), s))
            << x << "," << y << " " << Str(dst.at(x, y)) << " vs " << Str(s);
      }
    }
  }
}

TEST_P(TransformExact, OpacityScalesAlphaAndKeepsColour) {
  // The module's default opacity is 254 of 255.
  Image src(3, 1), dst(3, 1);
  src.at(0, 0) = {255, 10, 20, 30};
  src.at(1, 0) = {128, 200, 100, 50};
  src.at(2, 0) = {1, 255, 255, 255};
  ASSERT_EQ(Transform(src, dst, {Identity()}, GetParam(), 254), PF_Err_NONE);
  EXPECT_TRUE(Same(dst.at(0, 0), {254, 10, 20, 30})) << Str(dst.at(0, 0));
  // 128 × 254 / 255 = 127.498 -> 127
  EXPECT_TRUE(Same(dst.at(1, 0), {127, 200, 100, 50})) << Str(dst.at(1, 0));
  EXPECT_EQ(dst.at(2, 0).alpha, 1);
}

TEST_P(TransformExact, OverAnOpaqueDestinationBlendsByAlpha) {
  Image src(1, 1), dst(1, 1);
  src.at(0, 0) = {102, 255, 0, 0};  // 40 %
  dst.at(0, 0) = {255, 0, 0, 200};
  ASSERT_EQ(Transform(src, dst, {Identity()}, GetParam()), PF_Err_NONE);
  EXPECT_TRUE(Same(dst.at(0, 0), {255, 102, 0, 120})) << Str(dst.at(0, 0));
}

TEST_P(TransformExact, WholePixelTranslationIsExact) {
  std::mt19937 rng(2);
  Image src(9, 6);
  testing::RandomFill(src, rng);
  Image dst(30, 20);
  ASSERT_EQ(Transform(src, dst, {Translate(7, 11)}, GetParam()), PF_Err_NONE);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) {
      const bool inside = x >= 7 && x < 16 && y >= 11 && y < 17;
      if (!inside || src.at(x - 7, y - 11).alpha == 0) {
        EXPECT_EQ(dst.at(x, y).alpha, 0) << x << "," << y;
      } else {
        EXPECT_TRUE(Same(dst.at(x, y), src.at(x - 7, y - 11))) << x << "," << y;
      }
    }
  }
}

TEST_P(TransformExact, EqualBlurMatricesEqualNoBlur) {
  std::mt19937 rng(3);
  Image src(13, 11);
  testing::RandomFill(src, rng);
  const M3 m = Mul(Scale(1.37, 0.81), Translate(4.3, 5.6));
  Image once(32, 32), blurred(32, 32);
  ASSERT_EQ(Transform(src, once, {m}, GetParam(), 200), PF_Err_NONE);
  ASSERT_EQ(Transform(src, blurred, {m, m}, GetParam(), 200), PF_Err_NONE);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_TRUE(Same(once.at(x, y), blurred.at(x, y))) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(BothQualities, TransformExact,
                         ::testing::Values(PF_Quality_LO, PF_Quality_HI), [](const auto& info) {
                           return info.param == PF_Quality_HI ? "Hi" : "Lo";
                         });

TEST(Transform, ScaleTwoUpsampling) {
  Image src(2, 1);
  src.at(0, 0) = {255, 0, 0, 0};
  src.at(1, 0) = {255, 200, 0, 0};
  // Nearest: every source pixel becomes a 2×2 block.
  Image lo(4, 2);
  ASSERT_EQ(Transform(src, lo, {Scale(2, 2)}, PF_Quality_LO), PF_Err_NONE);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_TRUE(Same(lo.at(x, y), src.at(x / 2, 0))) << x << "," << y;
  }
  // Bilinear: destination centres 0.5, 1.5, 2.5, 3.5 fall at source 0.25,
  // 0.75, 1.25, 1.75; the outer quarter fades into the transparent surround.
  Image hi(4, 2);
  ASSERT_EQ(Transform(src, hi, {Scale(2, 2)}, PF_Quality_HI), PF_Err_NONE);
  // Rows: source y 0.25 and 0.75 -> 3/4 of the pixel, 1/4 transparent outside.
  EXPECT_TRUE(Same(hi.at(0, 0), {143, 0, 0, 0})) << Str(hi.at(0, 0));  // 255 × 0.75 × 0.75
  EXPECT_TRUE(Same(hi.at(1, 0), {191, 50, 0, 0})) << Str(hi.at(1, 0));
  EXPECT_TRUE(Same(hi.at(2, 0), {191, 150, 0, 0})) << Str(hi.at(2, 0));
  EXPECT_TRUE(Same(hi.at(3, 0), {143, 200, 0, 0})) << Str(hi.at(3, 0));
}

TEST(Transform, ClipsToDestRectAndWorldWithoutWritingOutside) {
  // The destination is a 32×32 window of a larger canary image.
  constexpr PF_Pixel kCanary{77, 1, 2, 3};
  Image canvas(40, 40);
  PF_EffectWorld all = canvas.AsWorld();
  ASSERT_EQ(Fill(all, &kCanary, nullptr), PF_Err_NONE);
  PF_EffectWorld window = DescribeWorld(canvas.row(4) + 4, 32, 32, canvas.rowbytes());
  Image src(50, 50);
  PF_EffectWorld s = src.AsWorld();
  constexpr PF_Pixel kRed{255, 255, 0, 0};
  ASSERT_EQ(Fill(s, &kRed, nullptr), PF_Err_NONE);
  // The piece overhangs the window on every side; dest_rect reaches past its
  // right and bottom edges too.
  const PF_FloatMatrix m = ToPF(Translate(-9.5, -9.5));
  const PF_Rect rect{5, 6, 60, 70};
  for (PF_Quality q : {PF_Quality_LO, PF_Quality_HI}) {
    ASSERT_EQ(TransformWorld(q, PF_MF_Alpha_STRAIGHT, PF_Field_FRAME, s, InFront(255), nullptr, &m,
                             1, true, &rect, window),
              PF_Err_NONE);
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 40; ++x) {
        const int wx = x - 4, wy = y - 4;
        const bool written = wx >= 5 && wx < 32 && wy >= 6 && wy < 32;
        if (written) {
          EXPECT_TRUE(Same(canvas.at(x, y), {255, 255, 0, 0})) << x << "," << y;
        } else {
          EXPECT_TRUE(Same(canvas.at(x, y), kCanary)) << x << "," << y;
        }
      }
    }
  }
}

TEST(Transform, LargeAreasGiveTheSameBytesAsBandsDrawnOneByOne) {
  // A large covered area is drawn in bands of rows by several threads; bands
  // given as dest_rect, each too small to be shared out, must give the same
  // bytes. The source has transparent margins and a transparent hole.
  std::mt19937 rng(7);
  Image src(300, 200);
  testing::RandomFill(src, rng);
  for (int y = 0; y < src.height(); ++y) {
    for (int x = 0; x < src.width(); ++x) {
      const bool margin = x < 20 || x >= 270 || y < 15 || y >= 190;
      const bool hole = x >= 100 && x < 140 && y >= 60 && y < 90;
      if (margin || hole) src.at(x, y).alpha = 0;
    }
  }
  const M3 rotate{{{0.96, 0.28, 0}, {-0.28, 0.96, 0}, {0, 0, 1}}};
  const M3 straight = Mul(Scale(1.7, 2.1), Translate(37.25, 21.5));
  const M3 turned = Mul(Mul(Scale(1.9, 1.9), rotate), Translate(120.5, 10.25));
  struct Case {
    M3 m0, m1;
    bool blur;
    PF_Quality q;
    PF_TransferMode xfer;
  };
  const Case cases[] = {
      {straight, straight, false, PF_Quality_HI, PF_Xfer_IN_FRONT},
      {straight, straight, false, PF_Quality_LO, PF_Xfer_IN_FRONT},
      {turned, turned, false, PF_Quality_HI, PF_Xfer_BEHIND},
      {Mul(straight, Translate(-9, 4)), straight, true, PF_Quality_HI, PF_Xfer_IN_FRONT},
      {turned, turned, false, PF_Quality_HI, PF_Xfer_COPY},
      // Long blurs, drawn smeared: mostly across and mostly down.
      {Mul(straight, Translate(-150, 40)), straight, true, PF_Quality_HI, PF_Xfer_IN_FRONT},
      {Mul(turned, Translate(-30, -170)), turned, true, PF_Quality_HI, PF_Xfer_BEHIND},
      {Mul(straight, Translate(160, -60)), straight, true, PF_Quality_HI, PF_Xfer_BEHIND},
  };
  Image before(640, 480);
  testing::RandomFill(before, rng);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::vector<PF_FloatMatrix> pf;
    if (c.blur) pf.push_back(ToPF(c.m0));
    pf.push_back(ToPF(c.m1));
    PF_CompositeMode mode = InFront(200);
    mode.xfer = c.xfer;
    PF_EffectWorld s = src.AsWorld();
    Image whole = before, banded = before;
    PF_EffectWorld w = whole.AsWorld(), b = banded.AsWorld();
    ASSERT_EQ(TransformWorld(c.q, PF_MF_Alpha_STRAIGHT, PF_Field_FRAME, s, mode, nullptr, pf.data(),
                             static_cast<int>(pf.size()), true, nullptr, w),
              PF_Err_NONE);
    for (int top = 0; top < 480; top += 16) {
      const PF_Rect band{0, top, 640, top + 16};
      ASSERT_EQ(TransformWorld(c.q, PF_MF_Alpha_STRAIGHT, PF_Field_FRAME, s, mode, nullptr,
                               pf.data(), static_cast<int>(pf.size()), true, &band, b),
                PF_Err_NONE);
    }
    int differing = 0, changed = 0;
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) {
        differing += !Same(whole.at(x, y), banded.at(x, y));
        changed += !Same(whole.at(x, y), before.at(x, y));
      }
    }
    EXPECT_EQ(differing, 0) << "case " << i;
    EXPECT_GT(changed, 100000) << "case " << i;  // the area was large enough to be shared out
  }
}

TEST(Transform, InkOfOneColourGivesTheBytesOfInkOfSeveral) {
  // Ink of one colour (text in one fill) is drawn from its alpha alone. The
  // same source with one more pixel of another colour, far outside what the
  // clip lets the placement reach, takes the general path: the bytes must
  // agree. Random moves and scales of the kind pieces of text take, faint
  // fringes (alpha 1 to 3) and destinations with something behind.
  int drawn = 0;
  for (int i = 0; i < 500; ++i) {
    std::mt19937 rng(static_cast<uint32_t>(9000 + i));
    std::uniform_int_distribution<int> size(1, 40), byte(0, 255), coin(0, 9), faint(1, 3);
    std::uniform_real_distribution<double> sx(0.5, 2.5), sy(0.3, 3.0), pos(-12, 40);
    const int w = size(rng), h = size(rng);
    Image one(w + 24, h);
    testing::RandomFill(one, rng);  // colour bytes under alpha 0 are noise
    const PF_Pixel ink{0, static_cast<A_u_char>(byte(rng)), static_cast<A_u_char>(byte(rng)),
                       static_cast<A_u_char>(byte(rng))};
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < one.width(); ++x) {
        PF_Pixel& p = one.at(x, y);
        const int kind = coin(rng);
        p.alpha = x >= w ? 0 : kind < 3 ? 0 : kind < 5 ? 255 : kind < 7 ? faint(rng) : byte(rng);
        if (p.alpha != 0) p = {p.alpha, ink.red, ink.green, ink.blue};
      }
    }
    Image several = one;
    several.at(w + 20, h / 2) = {255, static_cast<A_u_char>(ink.red ^ 1), ink.green, ink.blue};

    const double scale_x = sx(rng), x0 = pos(rng);
    const M3 m = Mul(Scale(scale_x, sy(rng)), Translate(x0, pos(rng)));
    // Columns whose taps stay left of source column w + 3.
    const PF_Rect clip{0, 0,
                       std::clamp(static_cast<int>(std::floor(x0 + scale_x * (w + 2))), 0, 64), 64};
    Image before(64, 64);
    if (coin(rng) < 4) testing::RandomFill(before, rng);
    if (coin(rng) < 5) {  // transparent, with noise in the colour bytes
      for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) before.at(x, y).alpha = coin(rng) == 0 ? 255 : 0;
      }
    }
    const PF_Field field = coin(rng) < 8   ? PF_Field_FRAME
                           : coin(rng) < 5 ? PF_Field_UPPER
                                           : PF_Field_LOWER;
    const PF_CompositeMode mode = InFront(coin(rng) < 3 ? 255 : byte(rng));
    const PF_FloatMatrix pf = ToPF(m);
    Image a = before, b = before;
    PF_EffectWorld src_one = one.AsWorld(), src_several = several.AsWorld();
    PF_EffectWorld da = a.AsWorld(), db = b.AsWorld();
    ASSERT_EQ(TransformWorld(PF_Quality_HI, PF_MF_Alpha_STRAIGHT, field, src_one, mode, nullptr,
                             &pf, 1, true, &clip, da),
              PF_Err_NONE);
    ASSERT_EQ(TransformWorld(PF_Quality_HI, PF_MF_Alpha_STRAIGHT, field, src_several, mode, nullptr,
                             &pf, 1, true, &clip, db),
              PF_Err_NONE);
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        ASSERT_TRUE(Same(a.at(x, y), b.at(x, y)))
            << "case " << i << " at (" << x << "," << y << "): " << Str(a.at(x, y)) << " vs "
            << Str(b.at(x, y)) << ", before " << Str(before.at(x, y));
        drawn += !Same(a.at(x, y), before.at(x, y));
      }
    }
  }
  EXPECT_GT(drawn, 100000);
}

TEST(Transform, MotionBlurSpreadsCoverageAlongTheMotionAndKeepsItsMass) {
  Image src(4, 4);
  PF_EffectWorld s = src.AsWorld();
  constexpr PF_Pixel kWhite{255, 255, 255, 255};
  ASSERT_EQ(Fill(s, &kWhite, nullptr), PF_Err_NONE);
  Image dst(64, 32);
  ASSERT_EQ(Transform(src, dst, {Translate(10, 10), Translate(30, 10)}), PF_Err_NONE);
  double mass = 0;
  int min_x = 64, max_x = -1, min_y = 32, max_y = -1;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x) {
      const PF_Pixel& p = dst.at(x, y);
      if (p.alpha == 0) continue;
      mass += p.alpha;
      min_x = std::min(min_x, x);
      max_x = std::max(max_x, x);
      min_y = std::min(min_y, y);
      max_y = std::max(max_y, y);
      EXPECT_EQ(p.red, 255);  // colour is unchanged where anything is drawn
    }
  }
  EXPECT_NEAR(mass, 16 * 255.0, 16 * 255.0 * 0.01);
  EXPECT_EQ(min_x, 10);
  EXPECT_EQ(max_x, 33);
  EXPECT_EQ(min_y, 10);  // the motion is horizontal: rows are untouched
  EXPECT_EQ(max_y, 13);
  // Each pixel in the middle of the smear is covered for 4 of the 20 pixels
  // of motion.
  EXPECT_NEAR(dst.at(20, 11).alpha, 255.0 * 4 / 20, 1.0);
}

TEST(Transform, MotionBlurSampleCountFollowsTheMotionLength) {
  EXPECT_EQ(MotionBlurSampleCount(0), 1);
  EXPECT_EQ(MotionBlurSampleCount(0.01), 1);
  EXPECT_EQ(MotionBlurSampleCount(0.5), 2);
  EXPECT_EQ(MotionBlurSampleCount(20), 21);
  EXPECT_EQ(MotionBlurSampleCount(1e9), kMaxMotionBlurSamples);
  EXPECT_EQ(MotionBlurSampleCount(std::nan("")), kMaxMotionBlurSamples);
}

TEST(Transform, MatricesAreHomogeneous) {
  // m, 2·m and −m describe the same mapping (the last one has W < 0).
  std::mt19937 rng(4);
  Image src(11, 7);
  testing::RandomFill(src, rng);
  const M3 m = Mul(Scale(1.3, 0.9), Translate(5.25, 3.5));
  M3 twice = m, negated = m;
  for (auto& row : twice.m)
    for (double& v : row) v *= 2;
  for (auto& row : negated.m)
    for (double& v : row) v = -v;
  Image a(24, 16), b(24, 16), c(24, 16);
  ASSERT_EQ(Transform(src, a, {m}), PF_Err_NONE);
  ASSERT_EQ(Transform(src, b, {twice}), PF_Err_NONE);
  ASSERT_EQ(Transform(src, c, {negated}), PF_Err_NONE);
  int drawn = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 24; ++x) {
      drawn += a.at(x, y).alpha != 0;
      ASSERT_TRUE(Same(a.at(x, y), b.at(x, y))) << x << "," << y;
      ASSERT_TRUE(Same(a.at(x, y), c.at(x, y))) << x << "," << y;
    }
  }
  EXPECT_GT(drawn, 40);
}

TEST(Transform, SingularPlacementDrawsNothing) {
  Image src(4, 4), dst(8, 8);
  PF_EffectWorld s = src.AsWorld();
  constexpr PF_Pixel kWhite{255, 255, 255, 255};
  ASSERT_EQ(Fill(s, &kWhite, nullptr), PF_Err_NONE);
  EXPECT_EQ(Transform(src, dst, {Scale(0, 1)}), PF_Err_NONE);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(dst.at(x, y).alpha, 0);
}

TEST(Transform, CopyModeReplacesOnlyWhereTheSourceReaches) {
  Image src(2, 2), dst(6, 6);
  src.at(0, 0) = {128, 10, 20, 30};
  PF_EffectWorld d = dst.AsWorld();
  constexpr PF_Pixel kBlue{255, 0, 0, 255};
  ASSERT_EQ(Fill(d, &kBlue, nullptr), PF_Err_NONE);
  PF_EffectWorld s = src.AsWorld();
  PF_CompositeMode copy{};
  copy.xfer = PF_Xfer_COPY;
  copy.opacity = 255;
  const PF_FloatMatrix m = ToPF(Translate(2, 2));
  ASSERT_EQ(TransformWorld(PF_Quality_LO, PF_MF_Alpha_STRAIGHT, PF_Field_FRAME, s, copy, nullptr,
                           &m, 1, true, nullptr, d),
            PF_Err_NONE);
  EXPECT_TRUE(Same(dst.at(2, 2), {128, 10, 20, 30})) << Str(dst.at(2, 2));
  EXPECT_EQ(dst.at(3, 3).alpha, 0);  // transparent source pixel copied
  EXPECT_TRUE(Same(dst.at(4, 4), kBlue));
  EXPECT_TRUE(Same(dst.at(1, 2), kBlue));
}

TEST(Transform, RejectsBadArgumentsWithoutWriting) {
  Image src(4, 4), dst(4, 4);
  PF_EffectWorld s = src.AsWorld(), d = dst.AsWorld();
  constexpr PF_Pixel kMark{9, 9, 9, 9};
  ASSERT_EQ(Fill(s, &kMark, nullptr), PF_Err_NONE);
  PF_FloatMatrix ms[3] = {ToPF(Identity()), ToPF(Identity()), ToPF(Identity())};
  auto call = [&](const PF_CompositeMode& mode, const PF_FloatMatrix* m, int n, PF_EffectWorld& sw,
                  PF_ModeFlags flags = PF_MF_Alpha_STRAIGHT, const PF_MaskWorld* mask = nullptr) {
    return TransformWorld(PF_Quality_HI, flags, PF_Field_FRAME, sw, mode, mask, m, n, true, nullptr,
                          d);
  };
  EXPECT_EQ(call(InFront(255), ms, 0, s), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(call(InFront(255), ms, 3, s), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(call(InFront(255), nullptr, 1, s), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(call(InFront(255), ms, 1, s, 7), PF_Err_BAD_CALLBACK_PARAM);
  PF_CompositeMode rgb_only = InFront(255);
  rgb_only.rgb_only = 1;
  EXPECT_EQ(call(rgb_only, ms, 1, s), PF_Err_BAD_CALLBACK_PARAM);
  PF_CompositeMode odd = InFront(255);
  odd.xfer = 17;
  EXPECT_EQ(call(odd, ms, 1, s), PF_Err_BAD_CALLBACK_PARAM);
  PF_MaskWorld mask{};
  EXPECT_EQ(call(InFront(255), ms, 1, s, PF_MF_Alpha_STRAIGHT, &mask), PF_Err_BAD_CALLBACK_PARAM);
  ms[1].mat[2][0] = std::nan("");
  EXPECT_EQ(call(InFront(255), ms, 2, s), PF_Err_BAD_CALLBACK_PARAM);
  PF_EffectWorld narrow = s;
  narrow.rowbytes = 8;  // less than width × 4
  EXPECT_EQ(call(InFront(255), ms, 1, narrow), PF_Err_BAD_CALLBACK_PARAM);
  PF_EffectWorld null_data = s;
  null_data.data = nullptr;
  EXPECT_EQ(call(InFront(255), ms, 1, null_data), PF_Err_BAD_CALLBACK_PARAM);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.at(x, y).alpha, 0);
}

TEST(Transform, PremultipliedWorldsStayPremultiplied) {
  Image src(1, 1), dst(1, 1);
  src.at(0, 0) = {128, 64, 0, 128};  // premultiplied: colour ≤ alpha
  dst.at(0, 0) = {255, 0, 255, 0};
  PF_EffectWorld s = src.AsWorld(), d = dst.AsWorld();
  const PF_FloatMatrix m = ToPF(Identity());
  ASSERT_EQ(TransformWorld(PF_Quality_HI, PF_MF_Alpha_PREMUL, PF_Field_FRAME, s, InFront(255),
                           nullptr, &m, 1, true, nullptr, d),
            PF_Err_NONE);
  // out = src + dst × (1 − 128/255)
  EXPECT_TRUE(Same(dst.at(0, 0), {255, 64, 127, 128})) << Str(dst.at(0, 0));
}

TEST(Transform, FieldRenderingWritesOnlyItsRows) {
  Image src(4, 4);
  PF_EffectWorld s = src.AsWorld();
  constexpr PF_Pixel kWhite{255, 255, 255, 255};
  ASSERT_EQ(Fill(s, &kWhite, nullptr), PF_Err_NONE);
  // One placement, and long blurs (smeared) across, down and on a slant.
  const std::vector<std::vector<M3>> cases = {{Identity()},
                                              {Translate(40, 2), Identity()},
                                              {Translate(2, 40), Identity()},
                                              {Translate(30, 20), Identity()}};
  for (PF_Field field : {PF_Field_UPPER, PF_Field_LOWER}) {
    for (size_t c = 0; c < cases.size(); ++c) {
      Image dst(48, 48);
      PF_EffectWorld d = dst.AsWorld();
      std::vector<PF_FloatMatrix> pf;
      for (const M3& m : cases[c]) pf.push_back(ToPF(m));
      ASSERT_EQ(TransformWorld(PF_Quality_HI, PF_MF_Alpha_STRAIGHT, field, s, InFront(255), nullptr,
                               pf.data(), static_cast<int>(pf.size()), true, nullptr, d),
                PF_Err_NONE);
      const int skipped = field == PF_Field_UPPER ? 1 : 0;  // the rows left alone
      int written = 0;
      for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
          if (y % 2 == skipped) {
            EXPECT_EQ(dst.at(x, y).alpha, 0) << "case " << c << " at " << x << "," << y;
          } else {
            written += dst.at(x, y).alpha != 0;
          }
        }
      }
      EXPECT_GT(written, 4) << "case " << c;
    }
  }
}

}  // namespace
}  // namespace vantrel::host

namespace vantrel::host {
namespace {

// A glyph-like source: an ellipse with an anti-aliased edge (coverage from
// 4×4 sub-samples), its colour a gradient from left to right.
Image BlobSource(std::mt19937& rng) {
  std::uniform_int_distribution<int> size(6, 40), byte(0, 255);
  Image src(size(rng), size(rng));
  const PF_Pixel left{0, uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))};
  const PF_Pixel right{0, uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))};
  const double rx = src.width() / 2.0 - 0.5, ry = src.height() / 2.0 - 0.5;
  for (int y = 0; y < src.height(); ++y) {
    for (int x = 0; x < src.width(); ++x) {
      int inside = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const double dx = (x + (sx + 0.5) / 4 - src.width() / 2.0) / rx;
          const double dy = (y + (sy + 0.5) / 4 - src.height() / 2.0) / ry;
          inside += dx * dx + dy * dy <= 1;
        }
      }
      const double t = src.width() > 1 ? double(x) / (src.width() - 1) : 0;
      auto mix = [t](uint8_t a, uint8_t b) { return uint8_t(std::lround(a + (b - a) * t)); };
      src.at(x, y) = {uint8_t(inside * 255 / 16), mix(left.red, right.red),
                      mix(left.green, right.green), mix(left.blue, right.blue)};
    }
  }
  return src;
}

// Largest differences from the dense average of a blur's placements, in
// levels of 255, at PF_Quality_HI: alpha, and colour weighted by alpha (a
// colour level of a nearly transparent pixel is ill-defined).
constexpr double kBlurAlphaTolerance = 7.0;
constexpr double kBlurColourTolerance = 2.0;

// The motion blur against the dense average of 1,024 placements, for moves
// of 0 to 1,000 pixels in any direction, changes of scale, both, and a start
// placement that collapses the source to a point (drawn from the placements
// that can be inverted). Case i is seeded with i.
TEST(TransformMotionBlur, AgreesWithTheDenseAverageOfItsPlacements) {
  enum Kind { kMove, kScale, kMoveAndScale, kFromNothing };
  constexpr const char* kNames[] = {"move", "scale", "move and scale", "from nothing"};
  double worst_alpha = 0, worst_colour = 0;
  for (int i = 0; i < 48; ++i) {
    std::mt19937 rng(static_cast<uint32_t>(i));
    const Kind kind = static_cast<Kind>(i % 4);
    std::uniform_real_distribution<double> unit(0, 1), angle(-3.2, 3.2), scale(0.5, 2.0);
    const Image src = BlobSource(rng);
    // Lengths spread over 0 to 1,000 pixels, short ones as often as long.
    const double length = i < 4 ? 0 : 1000 * std::pow(unit(rng), 2);
    const double a = angle(rng);
    const double s1 = scale(rng), s0 = kind == kScale || kind == kMoveAndScale ? scale(rng) : s1;
    const double cx = src.width() / 2.0, cy = src.height() / 2.0;
    auto about_centre = [&](double k) {
      return Mul(Mul(Translate(-cx, -cy), Scale(k, k)), Translate(cx, cy));
    };
    M3 m1 = about_centre(s1);
    M3 m0 = about_centre(kind == kFromNothing ? 0 : s0);
    if (kind != kScale) m0 = Mul(m0, Translate(length * std::cos(a), length * std::sin(a)));
    // The destination holds both placements with a margin.
    double lx = 1e9, ly = 1e9, hx = -1e9, hy = -1e9;
    for (const M3& m : {m0, m1}) {
      for (double u : {0.0, double(src.width())}) {
        for (double v : {0.0, double(src.height())}) {
          const double x = u * m.m[0][0] + v * m.m[1][0] + m.m[2][0];
          const double y = u * m.m[0][1] + v * m.m[1][1] + m.m[2][1];
          lx = std::min(lx, x), hx = std::max(hx, x), ly = std::min(ly, y), hy = std::max(hy, y);
        }
      }
    }
    const M3 shift = Translate(6.3 - std::floor(lx), 5.7 - std::floor(ly));
    m0 = Mul(m0, shift);
    m1 = Mul(m1, shift);
    Image dst(static_cast<int>(hx - lx) + 14, static_cast<int>(hy - ly) + 14);
    const Image before = dst;
    Image source = src;
    ASSERT_EQ(Transform(source, dst, {m0, m1}), PF_Err_NONE);
    RefOptions o;
    o.samples = 1024;
    o.clip = {0, 0, dst.width(), dst.height()};
    const testing::RefResult ref = testing::ReferenceTransform(src, m0, m1, true, before, o);
    double alpha = 0, colour = 0;
    for (int y = 0; y < dst.height(); ++y) {
      for (int x = 0; x < dst.width(); ++x) {
        const PF_Pixel& got = dst.at(x, y);
        const auto& want = ref.px[static_cast<size_t>(y) * dst.width() + x];
        alpha = std::max(alpha, std::fabs(got.alpha - want[0]));
        const double g[3] = {double(got.red), double(got.green), double(got.blue)};
        for (int c = 0; c < 3; ++c) {
          colour = std::max(colour, std::fabs(g[c] - want[c + 1]) * want[0] / 255);
        }
      }
    }
    EXPECT_LE(alpha, kBlurAlphaTolerance)
        << "case " << i << ", " << kNames[kind] << ", length " << length;
    EXPECT_LE(colour, kBlurColourTolerance)
        << "case " << i << ", " << kNames[kind] << ", length " << length;
    worst_alpha = std::max(worst_alpha, alpha);
    worst_colour = std::max(worst_colour, colour);
  }
  std::printf("largest difference from the dense average: alpha %.2f, colour %.2f levels\n",
              worst_alpha, worst_colour);
}

}  // namespace
}  // namespace vantrel::host

// The floor and the peer that the host's compositing is measured against:
// clearing one 1920x1080 8-bit frame, and the same per-piece composites done
// directly with pixman (premultiplied a8r8g8b8, OVER, affine bilinear, a solid
// mask for the opacity, each composite limited to the piece's covered box).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "peer_scene.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void BM_FloorClearFrame(benchmark::State& state) {
  std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    std::memset(frame.data(), 0, frame.size());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_FloorClearFrame);

pixman_transform_t ToPixman(const vantrel::bench::Affine& m) {
  // pixman maps destination to source: invert the piece's source-to-destination
  // affine once per composite.
  const double det = m.a * m.d - m.b * m.c;
  const double ia = m.d / det, ib = -m.b / det, ic = -m.c / det, id = m.a / det;
  const double itx = -(m.tx * ia + m.ty * ic), ity = -(m.tx * ib + m.ty * id);
  pixman_transform_t t;
  // pixman uses column vectors: (x_src, y_src) = M (x_dst, y_dst, 1).
  t.matrix[0][0] = pixman_double_to_fixed(ia);
  t.matrix[0][1] = pixman_double_to_fixed(ic);
  t.matrix[0][2] = pixman_double_to_fixed(itx);
  t.matrix[1][0] = pixman_double_to_fixed(ib);
  t.matrix[1][1] = pixman_double_to_fixed(id);
  t.matrix[1][2] = pixman_double_to_fixed(ity);
  t.matrix[2][0] = 0;
  t.matrix[2][1] = 0;
  t.matrix[2][2] = pixman_fixed_1;
  return t;
}

struct PeerPiece {
  pixman_image_t* image = nullptr;  // premultiplied copy of the piece's pixels
  int width = 0;
  int height = 0;
};

// Straight 8-bit ARGB (bytes A, R, G, B) into a premultiplied a8r8g8b8 image.
__attribute__((noinline)) PeerPiece CutPremultiplied(const vantrel::bench::PeerScene& scene,
                                                     const vantrel::bench::Box& box) {
  PeerPiece p;
  p.width = box.right - box.left;
  p.height = box.bottom - box.top;
  p.image = pixman_image_create_bits(PIXMAN_a8r8g8b8, p.width, p.height, nullptr, 0);
  auto* bits = pixman_image_get_data(p.image);
  const int stride = pixman_image_get_stride(p.image) / 4;
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = scene.layer.data() + ((box.top + y) * scene.width + box.left) * 4;
    for (int x = 0; x < p.width; ++x, src += 4) {
      const uint32_t a = src[0];
      const uint32_t r = (src[1] * a + 127) / 255;
      const uint32_t g = (src[2] * a + 127) / 255;
      const uint32_t b = (src[3] * a + 127) / 255;
      bits[y * stride + x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  return p;
}

__attribute__((noinline)) void CompositeOne(pixman_image_t* dst, const PeerPiece& piece,
                                            const vantrel::bench::Affine& m, pixman_image_t* mask,
                                            pixman_op_t op) {
  pixman_transform_t t = ToPixman(m);
  pixman_image_set_transform(piece.image, &t);
  pixman_image_set_filter(piece.image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  const vantrel::bench::Box cover =
      vantrel::bench::CoveredBox(m, piece.width, piece.height, kWidth, kHeight);
  if (cover.right <= cover.left || cover.bottom <= cover.top) return;
  pixman_image_composite32(op, piece.image, mask, dst, cover.left, cover.top, 0, 0, cover.left,
                           cover.top, cover.right - cover.left, cover.bottom - cover.top);
}

// Premultiplied a8r8g8b8 back to straight 8-bit ARGB (bytes A, R, G, B) for
// the whole frame, as a host hands the frame on. Transparent pixels (most of
// the frame) are tested eight bytes at a time; the division by alpha is a
// multiplication by a 16.16 reciprocal that rounds like (c * 255 + a / 2) / a.
struct Reciprocals {
  uint32_t of[256];
  Reciprocals() {
    of[0] = 0;
    for (uint32_t a = 1; a < 256; ++a) of[a] = (255u * 65536u + a / 2) / a;
  }
};

uint8_t Unpremultiply(uint32_t c, uint32_t reciprocal) {
  const uint32_t v = (c * reciprocal + 32768) >> 16;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

__attribute__((noinline)) void UnpremultiplyFrame(pixman_image_t* dst,
                                                  std::vector<uint8_t>& straight) {
  static const Reciprocals kReciprocals;
  constexpr int kBlock = 8;  // pixels tested at once; kWidth is a multiple
  const auto* bits = pixman_image_get_data(dst);
  const int stride = pixman_image_get_stride(dst) / 4;
  for (int y = 0; y < kHeight; ++y) {
    const uint32_t* row = bits + static_cast<size_t>(y) * stride;
    uint8_t* out = straight.data() + static_cast<size_t>(y) * kWidth * 4;
    for (int x = 0; x < kWidth; x += kBlock) {
      uint32_t any = 0;
      for (int k = 0; k < kBlock; ++k) any |= row[x + k];
      if (any == 0) {
        std::memset(out + x * 4, 0, kBlock * 4);
        continue;
      }
      for (int k = x; k < x + kBlock; ++k) {
        const uint32_t p = row[k];
        const uint32_t a = p >> 24;
        const uint32_t r = kReciprocals.of[a];
        uint8_t* o = out + k * 4;
        o[0] = static_cast<uint8_t>(a);
        o[1] = Unpremultiply((p >> 16) & 255, r);
        o[2] = Unpremultiply((p >> 8) & 255, r);
        o[3] = Unpremultiply(p & 255, r);
      }
    }
  }
}

// Motion blur of one piece: the average of kBlurSamples placements between
// the two matrices, built in a scratch the size of the covered box and then
// composited over the frame with the piece's opacity.
constexpr int kBlurSamples = 8;

// Each placement is drawn by pixman's bilinear SRC fast path into a sample
// scratch, which is ADDed at 1/8 weight. (ADDing the transformed piece with
// the weight mask directly takes pixman's general path and costs 2.6 times
// the instructions.)
__attribute__((noinline)) void CompositeBlurred(pixman_image_t* dst, const PeerPiece& piece,
                                                const vantrel::bench::PeerPiece& p,
                                                pixman_image_t* mask) {
  const auto cover = vantrel::bench::CoveredBoxBlur(p.matrix, p.blur_matrix, piece.width,
                                                    piece.height, kWidth, kHeight);
  if (cover.right <= cover.left || cover.bottom <= cover.top) return;
  const int cw = cover.right - cover.left, ch = cover.bottom - cover.top;
  pixman_image_t* scratch = pixman_image_create_bits(PIXMAN_a8r8g8b8, cw, ch, nullptr, 0);
  pixman_image_t* sample = pixman_image_create_bits(PIXMAN_a8r8g8b8, cw, ch, nullptr, 0);
  const pixman_color_t eighth{0, 0, 0, static_cast<uint16_t>(65535 / kBlurSamples)};
  pixman_image_t* weight = pixman_image_create_solid_fill(&eighth);
  pixman_image_set_filter(piece.image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (int s = 0; s < kBlurSamples; ++s) {
    auto m =
        vantrel::bench::Lerp(p.matrix, p.blur_matrix, static_cast<double>(s) / (kBlurSamples - 1));
    m.tx -= cover.left;
    m.ty -= cover.top;
    pixman_transform_t t = ToPixman(m);
    pixman_image_set_transform(piece.image, &t);
    pixman_image_composite32(PIXMAN_OP_SRC, piece.image, nullptr, sample, 0, 0, 0, 0, 0, 0, cw, ch);
    pixman_image_composite32(PIXMAN_OP_ADD, sample, weight, scratch, 0, 0, 0, 0, 0, 0, cw, ch);
  }
  pixman_image_composite32(PIXMAN_OP_OVER, scratch, mask, dst, 0, 0, 0, 0, cover.left, cover.top,
                           cw, ch);
  pixman_image_unref(weight);
  pixman_image_unref(sample);
  pixman_image_unref(scratch);
}

__attribute__((noinline)) void ClearFrame(pixman_image_t* dst) {
  std::memset(pixman_image_get_data(dst), 0, static_cast<size_t>(kWidth) * kHeight * 4);
}

// One frame of the peer: clear, cut every piece, composite, convert back.
void BM_PixmanPeerFrame(benchmark::State& state) {
  const int pieces = static_cast<int>(state.range(0));
  const bool blur = state.range(1) != 0;
  const auto scene = vantrel::bench::MakePeerScene(kWidth, kHeight, pieces);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, nullptr, 0);
  std::vector<uint8_t> straight(static_cast<size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    ClearFrame(dst);
    for (const auto& p : scene.pieces) {
      PeerPiece piece = CutPremultiplied(scene, p.box);
      const pixman_color_t opacity{0, 0, 0, static_cast<uint16_t>(p.opacity * 257)};
      pixman_image_t* mask = pixman_image_create_solid_fill(&opacity);
      if (!blur) {
        CompositeOne(dst, piece, p.matrix, mask, PIXMAN_OP_OVER);
      } else {
        CompositeBlurred(dst, piece, p, mask);
      }
      pixman_image_unref(mask);
      pixman_image_unref(piece.image);
    }
    UnpremultiplyFrame(dst, straight);
    benchmark::DoNotOptimize(straight.data());
  }
  pixman_image_unref(dst);
}
BENCHMARK(BM_PixmanPeerFrame)
    ->ArgNames({"pieces", "blur"})
    ->Args({200, 0})
    ->Args({500, 0})
    ->Args({200, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

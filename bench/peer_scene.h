// A synthetic frame of pieces shared by the benchmarks: a 1920x1080 layer
// image holding `pieces` glyph-like blobs of about 48x64 pixels, each with the
// placement that a delayed piece gets (scale and translation) and a second
// placement for motion blur.
#ifndef VANTREL_BENCH_PEER_SCENE_H
#define VANTREL_BENCH_PEER_SCENE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace vantrel::bench {

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// x' = a x + c y + tx, y' = b x + d y + ty (row-vector layout: [a b; c d; tx ty]).
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

inline Affine Lerp(const Affine& p, const Affine& q, double t) {
  return {p.a + (q.a - p.a) * t, p.b + (q.b - p.b) * t,    p.c + (q.c - p.c) * t,
          p.d + (q.d - p.d) * t, p.tx + (q.tx - p.tx) * t, p.ty + (q.ty - p.ty) * t};
}

inline Box CoveredBox(const Affine& m, int w, int h, int clip_w, int clip_h) {
  double xs[4], ys[4];
  const double px[4] = {0, double(w), 0, double(w)}, py[4] = {0, 0, double(h), double(h)};
  for (int i = 0; i < 4; ++i) {
    xs[i] = m.a * px[i] + m.c * py[i] + m.tx;
    ys[i] = m.b * px[i] + m.d * py[i] + m.ty;
  }
  Box b;
  b.left = std::max(0, static_cast<int>(std::floor(*std::min_element(xs, xs + 4))) - 1);
  b.top = std::max(0, static_cast<int>(std::floor(*std::min_element(ys, ys + 4))) - 1);
  b.right = std::min(clip_w, static_cast<int>(std::ceil(*std::max_element(xs, xs + 4))) + 1);
  b.bottom = std::min(clip_h, static_cast<int>(std::ceil(*std::max_element(ys, ys + 4))) + 1);
  return b;
}

inline Box CoveredBoxBlur(const Affine& m0, const Affine& m1, int w, int h, int cw, int ch) {
  const Box a = CoveredBox(m0, w, h, cw, ch), b = CoveredBox(m1, w, h, cw, ch);
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

struct PeerPiece {
  Box box;
  Affine matrix;
  Affine blur_matrix;
  int opacity = 254;
};

struct PeerScene {
  int width = 0, height = 0;
  std::vector<uint8_t> layer;  // straight ARGB, bytes A R G B
  std::vector<PeerPiece> pieces;
};

// Pieces on a grid; every piece is delayed: moved by up to 60 px, scaled by
// 80..120 %, faded; the blur placement is a few pixels further along.
inline PeerScene MakePeerScene(int width, int height, int count) {
  PeerScene s;
  s.width = width;
  s.height = height;
  s.layer.assign(static_cast<size_t>(width) * height * 4, 0);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  const int cols = std::max(1, width / 56);
  for (int i = 0; i < count; ++i) {
    PeerPiece p;
    const int col = i % cols, row = (i / cols) % std::max(1, (height - 80) / 72);
    p.box = {8 + col * 56, 8 + row * 72, 8 + col * 56 + 48, 8 + row * 72 + 64};
    for (int y = p.box.top; y < p.box.bottom; ++y) {
      for (int x = p.box.left; x < p.box.right; ++x) {
        const double dx = (x - p.box.left - 24) / 22.0, dy = (y - p.box.top - 32) / 30.0;
        const double r = std::sqrt(dx * dx + dy * dy);
        const double cov = std::clamp((1.0 - r) * 12.0, 0.0, 1.0);
        uint8_t* px = s.layer.data() + (static_cast<size_t>(y) * width + x) * 4;
        px[0] = static_cast<uint8_t>(cov * 255);
        px[1] = 240;
        px[2] = 200;
        px[3] = 40;
      }
    }
    const double sc = 0.8 + 0.4 * u(rng);
    p.matrix = {sc, 0, 0, sc, p.box.left + 60 * u(rng), p.box.top + 20 * u(rng)};
    p.blur_matrix = p.matrix;
    p.blur_matrix.tx += 6;
    p.blur_matrix.ty += 2;
    p.opacity = 100 + static_cast<int>(154 * u(rng));
    s.pieces.push_back(p);
  }
  return s;
}

}  // namespace vantrel::bench

#endif  // VANTREL_BENCH_PEER_SCENE_H

// Rectangle copies of the stand-in host: PF_COPY and copy_hq, same size or
// scaled, within one buffer too.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "pixel_rows.h"
#include "vantrel/host/imaging.h"

namespace vantrel::host {

using imaging_internal::Intersect;
using imaging_internal::IRect;
using imaging_internal::RectOr;
using imaging_internal::RowOf;
using imaging_internal::ToByte;
using imaging_internal::WholeOf;

namespace {

// Byte range of a world's pixel rows, for overlap checks between worlds.
std::pair<const char*, const char*> ByteSpan(const PF_EffectWorld& w) {
  const char* begin = reinterpret_cast<const char*>(w.data);
  if (!begin || w.height == 0) return {begin, begin};
  return {begin, begin + static_cast<std::ptrdiff_t>(w.height - 1) * w.rowbytes + w.width * 4};
}

bool Overlap(const PF_EffectWorld& a, const PF_EffectWorld& b) {
  auto [a0, a1] = ByteSpan(a);
  auto [b0, b1] = ByteSpan(b);
  return a0 < b1 && b0 < a1;
}

// ---------------------------------------------------------------------------
// Rectangle copies

PF_Err CopyRect(const PF_EffectWorld& src_in, PF_EffectWorld& dst, const PF_Rect* src_rect,
                const PF_Rect* dst_rect, bool bilinear) {
  if (!IsValidWorld(src_in) || !IsValidWorld(dst)) return PF_Err_BAD_CALLBACK_PARAM;
  const IRect sr = RectOr(src_rect, src_in);
  const IRect dr = RectOr(dst_rect, dst);
  if (sr.empty() || dr.empty()) return PF_Err_NONE;

  // Copying within one buffer: read from a snapshot so that the order of the
  // writes cannot feed back into the reads.
  Image snapshot;
  PF_EffectWorld src = src_in;
  if (Overlap(src_in, dst)) {
    snapshot = Image(src_in.width, src_in.height);
    for (int32_t y = 0; y < src_in.height; ++y) {
      std::memcpy(snapshot.row(y), RowOf(src_in, y), static_cast<size_t>(src_in.width) * 4);
    }
    src = snapshot.AsWorld();
  }

  const IRect readable = Intersect(sr, WholeOf(src));
  if (readable.empty()) return PF_Err_NONE;

  if (sr.width() == dr.width() && sr.height() == dr.height()) {
    const int32_t dx = dr.left - sr.left, dy = dr.top - sr.top;
    const IRect shifted{readable.left + dx, readable.top + dy, readable.right + dx,
                        readable.bottom + dy};
    const IRect out = Intersect(Intersect(shifted, dr), WholeOf(dst));
    if (out.empty()) return PF_Err_NONE;
    for (int32_t y = out.top; y < out.bottom; ++y) {
      std::memcpy(RowOf(dst, y) + out.left, RowOf(src, y - dy) + (out.left - dx),
                  static_cast<size_t>(out.width()) * 4);
    }
    return PF_Err_NONE;
  }

  // Scaled: destination pixel centres map linearly onto the source rectangle.
  const IRect out = Intersect(dr, WholeOf(dst));
  const double kx = static_cast<double>(sr.width()) / dr.width();
  const double ky = static_cast<double>(sr.height()) / dr.height();
  for (int32_t y = out.top; y < out.bottom; ++y) {
    const double v = sr.top + (y - dr.top + 0.5) * ky;  // source y, continuous
    if (v < readable.top || v >= readable.bottom) continue;
    PF_Pixel* drow = RowOf(dst, y);
    for (int32_t x = out.left; x < out.right; ++x) {
      const double u = sr.left + (x - dr.left + 0.5) * kx;
      if (u < readable.left || u >= readable.right) continue;
      if (!bilinear) {
        drow[x] =
            RowOf(src, static_cast<int32_t>(std::floor(v)))[static_cast<int32_t>(std::floor(u))];
        continue;
      }
      // Bilinear between the four nearest pixel centres, clamped to the
      // readable rectangle so that its edges do not fade.
      const double fu = u - 0.5, fv = v - 0.5;
      const double u0 = std::floor(fu), v0 = std::floor(fv);
      const float wx = static_cast<float>(fu - u0), wy = static_cast<float>(fv - v0);
      auto cx = [&](double c) {
        return std::clamp(static_cast<int32_t>(c), readable.left, readable.right - 1);
      };
      auto cy = [&](double c) {
        return std::clamp(static_cast<int32_t>(c), readable.top, readable.bottom - 1);
      };
      const int32_t xs[2] = {cx(u0), cx(u0 + 1)};
      const int32_t ys[2] = {cy(v0), cy(v0 + 1)};
      const float wxs[2] = {1 - wx, wx}, wys[2] = {1 - wy, wy};
      float a = 0, r = 0, g = 0, b = 0;
      for (int j = 0; j < 2; ++j) {
        const PF_Pixel* srow = RowOf(src, ys[j]);
        for (int i = 0; i < 2; ++i) {
          const PF_Pixel& p = srow[xs[i]];
          const float w = wxs[i] * wys[j];
          const float wa = w * p.alpha;
          a += wa;
          r += wa * p.red;
          g += wa * p.green;
          b += wa * p.blue;
        }
      }
      PF_Pixel result{0, 0, 0, 0};
      if (a > 0) result = {ToByte(a), ToByte(r / a), ToByte(g / a), ToByte(b / a)};
      drow[x] = result;
    }
  }
  return PF_Err_NONE;
}

}  // namespace

PF_Err CopyHq(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_Rect* src_rect,
              const PF_Rect* dst_rect) {
  return CopyRect(src, dst, src_rect, dst_rect, /*bilinear=*/true);
}

PF_Err Copy(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_Rect* src_rect,
            const PF_Rect* dst_rect) {
  return CopyRect(src, dst, src_rect, dst_rect, /*bilinear=*/false);
}

}  // namespace vantrel::host

#include "rasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "vantrel/host/session.h"
#include "vantrel/host/thread_pool.h"

namespace vantrel::host::text {
namespace {

struct Pt {
  double x, y;
};

// Largest distance, in target pixels, between a cubic and its flattening.
constexpr double kFlatness = 0.05;

// Regions of at least this many pixels are painted by the shared pool's
// threads; below it, waking them costs more than they save.
constexpr int64_t kSharedPixels = int64_t{1} << 16;

// Rows of the region rasterised at a time: the accumulation cells of one band
// stay in cache however large the text is.
constexpr int32_t kBandRows = 32;

// Flattens contours into edges, then rasterises them band by band with
// signed-area accumulation: each edge adds, to the cells it crosses, the
// signed area it encloses to its right within the row; a running sum along
// the row then gives the winding-weighted coverage.
class Rasterizer {
 public:
  struct Edge {
    Pt a, b;  // x within [0, width]; y not horizontal
  };

  // What a rasterisation allocates, kept by each thread from one text to
  // the next: the edges of a large text are megabytes, and fresh memory
  // for them costs a page fault per 4 KB on every first frame.
  struct Scratch {
    std::vector<Edge> edges;
    std::vector<uint32_t> band_start;  // band b's edges: band_edges[band_start[b], [b + 1])
    std::vector<uint32_t> band_edges;
    std::vector<float> cells;
    std::vector<std::vector<float>> thread_cells;  // cells of each pool thread

    // Gives back what one unusually large text left behind.
    void Trim() {
      constexpr std::size_t kKeptBytes = std::size_t{16} << 20;
      std::size_t bytes = edges.capacity() * sizeof(Edge) +
                          band_edges.capacity() * sizeof(uint32_t) +
                          cells.capacity() * sizeof(float);
      for (const std::vector<float>& c : thread_cells) bytes += c.capacity() * sizeof(float);
      if (bytes > kKeptBytes) {
        *this = Scratch();
      }
    }
  };

  Rasterizer(int32_t width, int32_t height, Scratch& scratch)
      : width_(width), height_(height), scratch_(scratch), edges_(scratch.edges) {
    edges_.clear();
  }

  // An edge in region coordinates (pixels, origin at the region's corner).
  void AddLine(Pt a, Pt b) {
    if (a.y == b.y) return;
    // Cut the edge where it leaves the region sideways: the part left of
    // x = 0 covers the whole row from column 0 on (drawn at x = 0); the part
    // right of the region covers nothing visible (drawn at x = width).
    for (double bound : {0.0, static_cast<double>(width_)}) {
      if ((a.x < bound && b.x > bound) || (a.x > bound && b.x < bound)) {
        const double t = (bound - a.x) / (b.x - a.x);
        const Pt m{bound, a.y + t * (b.y - a.y)};
        AddLine(a, m);
        AddLine(m, b);
        return;
      }
    }
    a.x = std::clamp(a.x, 0.0, static_cast<double>(width_));
    b.x = std::clamp(b.x, 0.0, static_cast<double>(width_));
    if (std::max(a.y, b.y) <= 0 || std::min(a.y, b.y) >= height_) return;
    edges_.push_back(Edge{a, b});
  }

  void AddCubic(Pt p0, Pt c1, Pt c2, Pt p1) {
    if (c1.x == p0.x && c1.y == p0.y && c2.x == p1.x && c2.y == p1.y) {
      AddLine(p0, p1);
      return;
    }
    // The second differences of the control polygon bound the curve's
    // deviation from a chord: n chords stay within dd * 3/4 / n^2.
    const double ddx = std::max(std::abs(p0.x - 2 * c1.x + c2.x), std::abs(c1.x - 2 * c2.x + p1.x));
    const double ddy = std::max(std::abs(p0.y - 2 * c1.y + c2.y), std::abs(c1.y - 2 * c2.y + p1.y));
    const double dd = std::hypot(ddx, ddy);
    const int n = std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * dd / kFlatness))), 1, 500);
    Pt prev = p0;
    for (int i = 1; i <= n; ++i) {
      const double t = static_cast<double>(i) / n, u = 1 - t;
      const double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
      const Pt p = i == n ? p1
                          : Pt{b0 * p0.x + b1 * c1.x + b2 * c2.x + b3 * p1.x,
                               b0 * p0.y + b1 * c1.y + b2 * c2.y + b3 * p1.y};
      AddLine(prev, p);
      prev = p;
    }
  }

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Coverage of every pixel of the region, row by row.
  void Resolve(std::vector<uint8_t>& out) const {
    out.resize(static_cast<std::size_t>(width_) * height_);
    ForEachRow(
        [&](int32_t y, float* cells) {
          ResolveRow<uint8_t>(cells, &out[static_cast<std::size_t>(y) * width_],
                              [](uint8_t c) { return c; });
        },
        false);
  }

  // Calls row(y, cells) for every row y of the region with the row's
  // accumulated cells; `row` resolves them with ResolveRow, which leaves
  // them zero for the next band. Serially the rows come top to bottom; with
  // `shared`, bands of rows go to the shared pool's threads, each band
  // drawn into its thread's own cells from the same edges in the same order
  // as serially, so every pixel is the same (row must then be safe to call
  // for different rows at once).
  template <typename RowFn>
  void ForEachRow(const RowFn& row, bool shared) const {
    const int32_t bands = (height_ + kBandRows - 1) / kBandRows;
    // The edges of each band, in the order they were added (the sums of
    // every cell, and so the pixels, depend on that order).
    std::vector<uint32_t>& start = scratch_.band_start;
    std::vector<uint32_t>& by_band = scratch_.band_edges;
    start.assign(static_cast<std::size_t>(bands) + 1, 0);
    for (const Edge& e : edges_) {
      const auto [lo, hi] = BandsOf(e);
      for (int32_t band = lo; band <= hi; ++band) ++start[static_cast<std::size_t>(band) + 1];
    }
    for (int32_t band = 0; band < bands; ++band)
      start[static_cast<std::size_t>(band) + 1] += start[static_cast<std::size_t>(band)];
    by_band.resize(start.back());
    {
      std::vector<uint32_t> next(start.begin(), start.end() - 1);
      for (uint32_t i = 0; i < edges_.size(); ++i) {
        const auto [lo, hi] = BandsOf(edges_[i]);
        for (int32_t band = lo; band <= hi; ++band)
          by_band[next[static_cast<std::size_t>(band)]++] = i;
      }
    }
    const int32_t stride = width_ + 2;
    const std::size_t band_cells = static_cast<std::size_t>(stride) * kBandRows;
    const auto draw_band = [&](int32_t band, float* cells) {
      const int32_t y0 = band * kBandRows, y1 = std::min(height_, y0 + kBandRows);
      for (uint32_t k = start[static_cast<std::size_t>(band)];
           k < start[static_cast<std::size_t>(band) + 1]; ++k) {
        Draw(edges_[by_band[k]], y0, y1, cells, stride);
      }
      for (int32_t y = y0; y < y1; ++y) row(y, &cells[static_cast<std::size_t>(y - y0) * stride]);
    };
    ThreadPool& pool = ThreadPool::Shared();
    if (!shared || bands < 2 || pool.participants() < 2) {
      std::vector<float>& cells = scratch_.cells;
      cells.assign(band_cells, 0.0f);
      for (int32_t band = 0; band < bands; ++band) draw_band(band, cells.data());
      return;
    }
    std::vector<std::vector<float>>& cells = scratch_.thread_cells;
    cells.resize(static_cast<std::size_t>(pool.participants()));
    for (std::vector<float>& c : cells) c.assign(band_cells, 0.0f);
    pool.Run(bands, [&](int32_t thread, int32_t band) {
      draw_band(band, cells[static_cast<std::size_t>(thread)].data());
      return int32_t{0};
    });
  }

  // The running sum along one row (width + 2 cells), written through
  // to_px(coverage) as values of type Px into the bytes at dst (width
  // values, stored bytewise so that dst may hold any pixel type of that
  // size), after which the cells are all zero again. Only cells that an edge crossed are non-zero
  // (a few per glyph and row); across a block of zero cells the sum, and so the coverage, stays
  // what it was, and the block is written at once and needs no clearing.
  template <typename Px, typename ToPx>
  void ResolveRow(float* row, uint8_t* dst, const ToPx& to_px) const {
    float sum = 0;
    uint8_t coverage = 0;
    Px px = to_px(coverage);
    int32_t x = 0;
    while (x < width_) {
      if (x + kRunCells <= width_) {
        uint32_t bits = 0;
        for (int32_t k = 0; k < kRunCells; ++k) {
          uint32_t cell;
          std::memcpy(&cell, &row[x + k], sizeof cell);
          bits |= cell;
        }
        // +0 and -0 both leave the sum (and its magnitude) unchanged.
        if ((bits & 0x7fffffffu) == 0) {
          for (int32_t k = 0; k < kRunCells; ++k)
            std::memcpy(dst + (x + k) * sizeof px, &px, sizeof px);
          x += kRunCells;
          continue;
        }
      }
      const int32_t end = std::min(width_, x + kRunCells);
      for (; x < end; ++x) {
        sum += row[x];
        row[x] = 0;
        const float c = std::min(1.0f, std::abs(sum));
        coverage = static_cast<uint8_t>(c * 255.0f + 0.5f);
        px = to_px(coverage);
        std::memcpy(dst + x * sizeof px, &px, sizeof px);
      }
    }
    // Edges at the right border add to the two cells past the last column.
    row[width_] = 0;
    row[width_ + 1] = 0;
  }

 private:
  // Cells a block of pixels is tested in at once.
  static constexpr int32_t kRunCells = 8;

  std::pair<int32_t, int32_t> BandsOf(const Edge& e) const {
    const double lo = std::max(0.0, std::min(e.a.y, e.b.y));
    const double hi = std::min(static_cast<double>(height_), std::max(e.a.y, e.b.y));
    const int32_t last_row = std::max<int32_t>(0, static_cast<int32_t>(std::ceil(hi)) - 1);
    return {static_cast<int32_t>(lo) / kBandRows, std::min(last_row, height_ - 1) / kBandRows};
  }

  // Adds the edge's area to the rows [row_lo, row_hi) held by `cells`
  // (cells[(y - row_lo) * stride + x]).
  void Draw(Edge e, int32_t row_lo, int32_t row_hi, float* cells, int32_t stride) const {
    Pt a = e.a, b = e.b;
    float dir = 1;
    if (a.y > b.y) {
      std::swap(a, b);
      dir = -1;
    }
    const double dxdy = (b.x - a.x) / (b.y - a.y);
    const double max_x = width_;
    const int32_t y_start = std::max<int32_t>(row_lo, static_cast<int32_t>(std::floor(a.y)));
    const int32_t y_end = std::min<int32_t>(row_hi, static_cast<int32_t>(std::ceil(b.y)));
    // x where the edge enters row y_start (or its own start within it).
    double x = a.x;
    if (a.y < y_start) x = std::clamp(x + (y_start - a.y) * dxdy, 0.0, max_x);
    for (int32_t y = y_start; y < y_end; ++y) {
      float* row = cells + static_cast<std::ptrdiff_t>(y - row_lo) * stride;
      const double dy = std::min<double>(y + 1, b.y) - std::max<double>(y, a.y);
      const double x_next = std::clamp(x + dxdy * dy, 0.0, max_x);
      const float d = static_cast<float>(dy) * dir;
      const double x0 = std::min(x, x_next), x1 = std::max(x, x_next);
      const double x0_floor = std::floor(x0);
      const int32_t x0i = static_cast<int32_t>(x0_floor);
      const double x1_ceil = std::ceil(x1);
      const int32_t x1i = static_cast<int32_t>(x1_ceil);
      if (x1i <= x0i + 1) {
        // Within one cell: the edge's mean x splits the row's area between
        // this cell and the next.
        const float xmf = static_cast<float>(0.5 * (x + x_next) - x0_floor);
        row[x0i] += d - d * xmf;
        row[x0i + 1] += d * xmf;
      } else {
        const double s = 1.0 / (x1 - x0);
        const double x0f = x0 - x0_floor;
        const double a0 = 0.5 * s * (1 - x0f) * (1 - x0f);
        const double x1f = x1 - x1_ceil + 1;
        const double am = 0.5 * s * x1f * x1f;
        row[x0i] += static_cast<float>(d * a0);
        if (x1i == x0i + 2) {
          row[x0i + 1] += static_cast<float>(d * (1 - a0 - am));
        } else {
          const double a1 = s * (1.5 - x0f);
          row[x0i + 1] += static_cast<float>(d * (a1 - a0));
          for (int32_t xi = x0i + 2; xi < x1i - 1; ++xi) row[xi] += static_cast<float>(d * s);
          const double a2 = a1 + (x1i - x0i - 3) * s;
          row[x1i - 1] += static_cast<float>(d * (1 - a2 - am));
        }
        row[x1i] += static_cast<float>(d * am);
      }
      x = x_next;
    }
  }

  int32_t width_, height_;
  Scratch& scratch_;
  std::vector<Edge>& edges_;
};

}  // namespace

double ScaleOf(PF_RationalScale scale) {
  if (scale.den == 0) throw HostError("downsample factor with a zero denominator");
  return static_cast<double>(scale.num) / static_cast<double>(scale.den);
}

namespace {

// The edges of `outlines` in the region of the target they can cover (the
// control box of every point bounds the filled shape), with the region's
// corner in left, top; nothing when that region is empty.
std::optional<Rasterizer> Flatten(const TextOutlineSet& outlines, double scale_x, double scale_y,
                                  int32_t target_width, int32_t target_height, int32_t& left,
                                  int32_t& top, Rasterizer::Scratch& scratch) {
  double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
  for (const OutlinePath& path : outlines) {
    for (const PF_PathVertex& v : path.vertices) {
      for (auto [px, py] :
           {Pt{v.x, v.y}, Pt{v.tan_in_x, v.tan_in_y}, Pt{v.tan_out_x, v.tan_out_y}}) {
        x0 = std::min(x0, px * scale_x);
        x1 = std::max(x1, px * scale_x);
        y0 = std::min(y0, py * scale_y);
        y1 = std::max(y1, py * scale_y);
      }
    }
  }
  if (!(x0 <= x1) || !(y0 <= y1)) return std::nullopt;
  const auto clamp_to = [](double v, int32_t hi) {
    return static_cast<int32_t>(std::clamp(v, 0.0, static_cast<double>(hi)));
  };
  left = clamp_to(std::floor(x0), target_width);
  const int32_t right = clamp_to(std::ceil(x1), target_width);
  top = clamp_to(std::floor(y0), target_height);
  const int32_t bottom = clamp_to(std::ceil(y1), target_height);
  if (right <= left || bottom <= top) return std::nullopt;

  std::optional<Rasterizer> acc(std::in_place, right - left, bottom - top, scratch);
  const double dx = left, dy = top;
  const auto at = [&](double x, double y) { return Pt{x * scale_x - dx, y * scale_y - dy}; };
  for (const OutlinePath& path : outlines) {
    const std::size_t n = path.vertices.size();
    if (n < 2) continue;
    for (std::size_t i = 0; i < n; ++i) {
      const PF_PathVertex& a = path.vertices[i];
      const PF_PathVertex& b = path.vertices[(i + 1) % n];
      if (path.open && i + 1 == n) {
        acc->AddLine(at(a.x, a.y), at(b.x, b.y));
      } else {
        acc->AddCubic(at(a.x, a.y), at(a.tan_out_x, a.tan_out_y), at(b.tan_in_x, b.tan_in_y),
                      at(b.x, b.y));
      }
    }
  }
  return acc;
}

Rasterizer::Scratch& ThreadScratch() {
  thread_local Rasterizer::Scratch scratch;
  return scratch;
}

struct TrimOnExit {
  Rasterizer::Scratch& scratch;
  ~TrimOnExit() { scratch.Trim(); }
};

// The pixel that each coverage value paints; transparent black where the
// alpha rounds to 0.
std::array<PF_Pixel, 256> PaintTable(PF_Pixel fill) {
  std::array<PF_Pixel, 256> paint;
  for (unsigned c = 0; c < 256; ++c) {
    const unsigned alpha = (c * fill.alpha + 127) / 255;
    paint[c] = alpha == 0 ? PF_Pixel{0, 0, 0, 0}
                          : PF_Pixel{static_cast<A_u_char>(alpha), fill.red, fill.green, fill.blue};
  }
  return paint;
}

void ClearRow(PF_EffectWorld& dst, int32_t y) {
  std::memset(reinterpret_cast<uint8_t*>(dst.data) + static_cast<std::ptrdiff_t>(y) * dst.rowbytes,
              0, static_cast<std::size_t>(dst.width) * sizeof(PF_Pixel));
}

}  // namespace

CoverageMask RasterizeCoverage(const TextOutlineSet& outlines, double scale_x, double scale_y,
                               int32_t target_width, int32_t target_height) {
  CoverageMask mask;
  int32_t left = 0, top = 0;
  Rasterizer::Scratch& scratch = ThreadScratch();
  const TrimOnExit trim{scratch};
  const std::optional<Rasterizer> acc =
      Flatten(outlines, scale_x, scale_y, target_width, target_height, left, top, scratch);
  if (!acc) return mask;
  mask.left = left;
  mask.top = top;
  mask.width = acc->width();
  mask.height = acc->height();
  acc->Resolve(mask.values);
  return mask;
}

void PaintOutlines(const TextOutlineSet& outlines, double scale_x, double scale_y, PF_Pixel fill,
                   PF_EffectWorld& dst) {
  if (dst.data == nullptr || dst.width <= 0 || dst.height <= 0) return;
  int32_t left = 0, top = 0;
  Rasterizer::Scratch& scratch = ThreadScratch();
  const TrimOnExit trim{scratch};
  const std::optional<Rasterizer> acc =
      Flatten(outlines, scale_x, scale_y, dst.width, dst.height, left, top, scratch);
  if (!acc) {
    for (int32_t y = 0; y < dst.height; ++y) ClearRow(dst, y);
    return;
  }
  // The table's pixels as 32-bit words: copied whole, they stay in registers.
  std::array<uint32_t, 256> paint;
  static_assert(sizeof(PF_Pixel) == sizeof(uint32_t));
  std::memcpy(paint.data(), PaintTable(fill).data(), sizeof paint);
  for (int32_t y = 0; y < top; ++y) ClearRow(dst, y);
  const int32_t right = left + acc->width();
  auto* base = reinterpret_cast<uint8_t*>(dst.data);
  const bool shared = static_cast<int64_t>(acc->width()) * acc->height() >= kSharedPixels;
  acc->ForEachRow(
      [&](int32_t y, float* cells) {
        auto* row =
            reinterpret_cast<PF_Pixel*>(base + static_cast<std::ptrdiff_t>(top + y) * dst.rowbytes);
        // Outside the region's columns, transparent; inside, the coverage's pixel.
        std::memset(row, 0, static_cast<std::size_t>(left) * sizeof(PF_Pixel));
        std::memset(row + right, 0, static_cast<std::size_t>(dst.width - right) * sizeof(PF_Pixel));
        acc->ResolveRow<uint32_t>(cells, reinterpret_cast<uint8_t*>(row + left),
                                  [&paint](uint8_t c) { return paint[c]; });
      },
      shared);
  for (int32_t y = top + acc->height(); y < dst.height; ++y) ClearRow(dst, y);
}

void PaintCoverage(const CoverageMask& mask, PF_Pixel fill, PF_EffectWorld& dst) {
  if (dst.data == nullptr || dst.width <= 0 || dst.height <= 0) return;
  const std::array<PF_Pixel, 256> paint = PaintTable(fill);
  auto* base = reinterpret_cast<uint8_t*>(dst.data);
  const int32_t x_begin = std::clamp(mask.left, 0, dst.width);
  const int32_t x_end = std::clamp(mask.left + mask.width, x_begin, dst.width);
  const int32_t y_begin = std::clamp(mask.top, 0, dst.height);
  const int32_t y_end = std::clamp(mask.top + mask.height, y_begin, dst.height);
  for (int32_t y = 0; y < dst.height; ++y) {
    auto* row = reinterpret_cast<PF_Pixel*>(base + static_cast<std::ptrdiff_t>(y) * dst.rowbytes);
    if (y < y_begin || y >= y_end || x_begin == x_end) {
      std::memset(row, 0, static_cast<std::size_t>(dst.width) * sizeof(PF_Pixel));
      continue;
    }
    // Outside the mask's columns, transparent; inside, the coverage's pixel.
    std::memset(row, 0, static_cast<std::size_t>(x_begin) * sizeof(PF_Pixel));
    std::memset(row + x_end, 0, static_cast<std::size_t>(dst.width - x_end) * sizeof(PF_Pixel));
    const uint8_t* cov = &mask.values[static_cast<std::size_t>(y - mask.top) * mask.width];
    for (int32_t x = x_begin; x < x_end; ++x) row[x] = paint[cov[x - mask.left]];
  }
}

}  // namespace vantrel::host::text

#include "vantrel/cli/contact_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace vantrel::cli {

namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
  char c;
  std::uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
};
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

void FillRect(Raster& image, int x0, int y0, int w, int h, const std::uint8_t rgba[4]) {
  for (int y = std::max(0, y0); y < std::min(image.height, y0 + h); ++y) {
    for (int x = std::max(0, x0); x < std::min(image.width, x0 + w); ++x) {
      std::copy(rgba, rgba + 4, image.At(x, y));
    }
  }
}

// Reduces `src` into the w x h rectangle of `dst` at (dx, dy) by averaging
// the source pixels each destination pixel covers (weighted by alpha), and
// composites the result over a light checkerboard.
void DrawThumbnail(const Raster& src, Raster& dst, int dx, int dy, int w, int h) {
  const double sx = static_cast<double>(src.width) / w;
  const double sy = static_cast<double>(src.height) / h;
  for (int y = 0; y < h; ++y) {
    const int y0 = static_cast<int>(y * sy);
    const int y1 = std::max(y0 + 1, std::min(src.height, static_cast<int>((y + 1) * sy)));
    for (int x = 0; x < w; ++x) {
      const int x0 = static_cast<int>(x * sx);
      const int x1 = std::max(x0 + 1, std::min(src.width, static_cast<int>((x + 1) * sx)));
      double sum[4] = {0, 0, 0, 0};  // premultiplied r, g, b and alpha
      for (int yy = y0; yy < y1; ++yy) {
        for (int xx = x0; xx < x1; ++xx) {
          const std::uint8_t* p = src.At(xx, yy);
          const double a = p[3] / 255.0;
          sum[0] += p[0] * a;
          sum[1] += p[1] * a;
          sum[2] += p[2] * a;
          sum[3] += a;
        }
      }
      const double n = static_cast<double>((x1 - x0) * (y1 - y0));
      const double alpha = sum[3] / n;
      const double checker = (((x / 8) + (y / 8)) % 2 == 0) ? 204 : 153;
      std::uint8_t* out = dst.At(dx + x, dy + y);
      for (int c = 0; c < 3; ++c) {
        out[c] = static_cast<std::uint8_t>(std::lround(sum[c] / n + checker * (1 - alpha)));
      }
      out[3] = 255;
    }
  }
}

}  // namespace

std::vector<int> SampleFrames(int count, int max_frames) {
  std::vector<int> out;
  if (count <= 0 || max_frames <= 0) return out;
  // A constant step, so that the sheet reads as a regular time line.
  const int step = (count + max_frames - 1) / max_frames;
  for (int i = 0; i < count; i += step) out.push_back(i);
  return out;
}

ContactSheetLayout LayOutContactSheet(int count, int frame_width, int frame_height, int max_width) {
  ContactSheetLayout l;
  if (count <= 0 || frame_width <= 0 || frame_height <= 0) return l;
  l.gap = 8;
  const double aspect = static_cast<double>(frame_width) / frame_height;
  // About 1.5 times as many columns as rows for 16:9 frames; wider frames
  // get fewer columns, taller ones more.
  l.columns = std::clamp(
      static_cast<int>(std::ceil(std::sqrt(count * 1.5 * (16.0 / 9.0) / aspect))), 1, count);
  l.rows = (count + l.columns - 1) / l.columns;
  l.columns = (count + l.rows - 1) / l.rows;
  l.thumb_width =
      std::max(1, std::min(frame_width, (max_width - l.gap * (l.columns + 1)) / l.columns));
  l.thumb_height =
      std::max(1, static_cast<int>(std::lround(l.thumb_width * static_cast<double>(frame_height) /
                                               frame_width)));
  l.width = l.columns * l.thumb_width + (l.columns + 1) * l.gap;
  l.height = l.rows * l.thumb_height + (l.rows + 1) * l.gap;
  return l;
}

int DrawLabel(Raster& image, int x, int y, const char* text, int scale,
              const std::uint8_t rgba[4]) {
  int pen = x;
  for (const char* c = text; *c != '\0'; ++c) {
    const Glyph* g = FindGlyph(*c);
    if (g != nullptr) {
      for (int row = 0; row < kGlyphHeight; ++row) {
        for (int col = 0; col < kGlyphWidth; ++col) {
          if ((g->rows[row] >> (kGlyphWidth - 1 - col)) & 1) {
            FillRect(image, pen + col * scale, y + row * scale, scale, scale, rgba);
          }
        }
      }
    }
    pen += kGlyphAdvance * scale;
  }
  return pen - x - (text[0] != '\0' ? (kGlyphAdvance - kGlyphWidth) * scale : 0);
}

Raster MakeContactSheet(const std::vector<ContactFrame>& frames, int max_width) {
  if (frames.empty()) throw std::invalid_argument("a contact sheet needs at least one frame");
  const int fw = frames.front().image->width;
  const int fh = frames.front().image->height;
  for (const ContactFrame& f : frames) {
    if (f.image->width != fw || f.image->height != fh) {
      throw std::invalid_argument("the frames of a contact sheet differ in size");
    }
  }
  const ContactSheetLayout l =
      LayOutContactSheet(static_cast<int>(frames.size()), fw, fh, max_width);
  Raster sheet(l.width, l.height);
  const std::uint8_t background[4] = {24, 24, 28, 255};
  const std::uint8_t tab[4] = {0, 0, 0, 255};
  const std::uint8_t ink[4] = {255, 214, 10, 255};
  FillRect(sheet, 0, 0, l.width, l.height, background);
  const int scale = l.thumb_width >= 160 ? 2 : 1;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const int col = static_cast<int>(i) % l.columns;
    const int row = static_cast<int>(i) / l.columns;
    const int x = l.gap + col * (l.thumb_width + l.gap);
    const int y = l.gap + row * (l.thumb_height + l.gap);
    DrawThumbnail(*frames[i].image, sheet, x, y, l.thumb_width, l.thumb_height);
    char label[16];
    std::snprintf(label, sizeof label, "%d", frames[i].number);
    const int text_width =
        static_cast<int>(std::char_traits<char>::length(label)) * kGlyphAdvance * scale -
        (kGlyphAdvance - kGlyphWidth) * scale;
    const int pad = 2 * scale;
    FillRect(sheet, x, y, text_width + 2 * pad, kGlyphHeight * scale + 2 * pad, tab);
    DrawLabel(sheet, x + pad, y + pad, label, scale, ink);
  }
  return sheet;
}

}  // namespace vantrel::cli

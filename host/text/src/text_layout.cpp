#include "vantrel/host/text_layout.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

#include "contour_builder.h"
#include "rasterizer.h"
#include "vantrel/host/session.h"

namespace vantrel::host {

// Painted layer images by (downsample x num/den, downsample y num/den, world
// width, height).
using CoverageKey = std::tuple<A_long, A_u_long, A_long, A_u_long, A_long, A_long>;

// The text drawn into a world of one size, rows packed (width pixels each).
struct PaintedLayer {
  int32_t width = 0, height = 0;
  std::vector<PF_Pixel> pixels;
};

struct TextLayout::Data {
  std::string text;
  TextStyle style;
  TextOutlineSet outlines;
  std::vector<GlyphBox> glyphs;

  // Rasterised and painted once per downsample and world size, shared by
  // every frame and thread that draws this text afterwards: a later frame of
  // unchanged text costs one copy of the layer.
  mutable std::mutex cache_mutex;
  mutable std::map<CoverageKey, std::shared_ptr<const PaintedLayer>> painted;
};

namespace {

// Most cached masks a layout keeps; a render uses one or two downsample
// factors, so the limit only guards against unbounded growth.
constexpr std::size_t kMaxCachedMasks = 8;

// Owners of the FreeType and HarfBuzz objects of one layout run.
struct FtLibrary {
  FT_Library lib = nullptr;
  FtLibrary() {
    if (FT_Init_FreeType(&lib) != 0) throw HostError("FreeType could not be initialised");
  }
  ~FtLibrary() { FT_Done_FreeType(lib); }
};
struct FtFace {
  FT_Face face = nullptr;
  ~FtFace() {
    if (face) FT_Done_Face(face);
  }
};
struct HbFont {
  hb_font_t* font = nullptr;
  ~HbFont() { hb_font_destroy(font); }
};
struct HbBuffer {
  hb_buffer_t* buffer = hb_buffer_create();
  ~HbBuffer() { hb_buffer_destroy(buffer); }
};

bool IsValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr uint32_t kMinOf[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinOf[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// Byte ranges [begin, end) of the lines of `text`; "\r\n", "\n" and "\r"
// each end a line.
std::vector<std::pair<std::size_t, std::size_t>> SplitLines(const std::string& text) {
  std::vector<std::pair<std::size_t, std::size_t>> lines;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.emplace_back(begin, i);
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    begin = i + 1;
  }
  lines.emplace_back(begin, text.size());
  return lines;
}

// A stretch of a line shaped in one direction: bytes [begin, end).
struct DirectionalRun {
  std::size_t begin, end;
  bool rtl;
};

// Splits the line [begin, end) of `text` into runs of one direction, in
// logical order, and tells the line's own direction. A reduced form of the
// Unicode bidirectional algorithm, enough for one embedding level: letters
// take the direction of their script, digits count as left-to-right,
// combining marks follow their base, and other neutrals (spaces,
// punctuation) take the direction of their neighbours when both agree and
// the line's direction otherwise. The line's direction is that of its first
// letter with a direction.
std::vector<DirectionalRun> DirectionalRuns(const std::string& text, std::size_t begin,
                                            std::size_t end, bool& line_rtl) {
  enum Dir : uint8_t { kNeutral, kLtr, kRtl };
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  std::vector<std::size_t> offsets;  // byte offset of each code point
  std::vector<Dir> dirs;
  bool found_strong = false;
  line_rtl = false;
  for (std::size_t i = begin; i < end;) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const hb_script_t script = hb_unicode_script(unicode, cp);
    const hb_direction_t script_dir = hb_script_get_horizontal_direction(script);
    Dir dir = kNeutral;
    if (hb_unicode_general_category(unicode, cp) == HB_UNICODE_GENERAL_CATEGORY_DECIMAL_NUMBER) {
      dir = kLtr;  // numbers read left to right in any line, but set no line direction
    } else if (script == HB_SCRIPT_INHERITED) {
      dir = dirs.empty() ? kNeutral : dirs.back();
    } else if (script != HB_SCRIPT_COMMON && script != HB_SCRIPT_UNKNOWN &&
               (script_dir == HB_DIRECTION_RTL || script_dir == HB_DIRECTION_LTR)) {
      // HarfBuzz calls every script but the right-to-left ones LTR, the
      // shared punctuation and spaces (Common) included: those are neutral.
      dir = script_dir == HB_DIRECTION_RTL ? kRtl : kLtr;
      if (!found_strong) {
        found_strong = true;
        line_rtl = dir == kRtl;
      }
    }
    offsets.push_back(i);
    dirs.push_back(dir);
    i += len;
  }
  const Dir line_dir = line_rtl ? kRtl : kLtr;
  for (std::size_t i = 0; i < dirs.size();) {
    if (dirs[i] != kNeutral) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < dirs.size() && dirs[j] == kNeutral) ++j;
    const Dir before = i == 0 ? line_dir : dirs[i - 1];
    const Dir after = j == dirs.size() ? line_dir : dirs[j];
    std::fill(dirs.begin() + static_cast<std::ptrdiff_t>(i),
              dirs.begin() + static_cast<std::ptrdiff_t>(j), before == after ? before : line_dir);
    i = j;
  }
  std::vector<DirectionalRun> runs;
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    const std::size_t run_end = i + 1 < dirs.size() ? offsets[i + 1] : end;
    if (!runs.empty() && runs.back().rtl == (dirs[i] == kRtl)) {
      runs.back().end = run_end;
    } else {
      runs.push_back(DirectionalRun{offsets[i], run_end, dirs[i] == kRtl});
    }
  }
  return runs;
}

// A glyph's contours in font units, y up, as FreeType decomposes them.
TextOutlineSet DecomposeGlyph(FT_Face face, uint32_t glyph_id) {
  if (FT_Load_Glyph(face, glyph_id, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) !=
          0 ||
      face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
    return {};
  }
  using text::ContourBuilder;
  using text::Point;
  FT_Outline_Funcs funcs{};
  funcs.move_to = [](const FT_Vector* to, void* user) {
    static_cast<ContourBuilder*>(user)->MoveTo(Point{double(to->x), double(to->y)});
    return 0;
  };
  funcs.line_to = [](const FT_Vector* to, void* user) {
    static_cast<ContourBuilder*>(user)->LineTo(Point{double(to->x), double(to->y)});
    return 0;
  };
  funcs.conic_to = [](const FT_Vector* c, const FT_Vector* to, void* user) {
    static_cast<ContourBuilder*>(user)->QuadTo(Point{double(c->x), double(c->y)},
                                               Point{double(to->x), double(to->y)});
    return 0;
  };
  funcs.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    static_cast<ContourBuilder*>(user)->CubicTo(Point{double(c1->x), double(c1->y)},
                                                Point{double(c2->x), double(c2->y)},
                                                Point{double(to->x), double(to->y)});
    return 0;
  };
  ContourBuilder builder;
  if (FT_Outline_Decompose(&face->glyph->outline, &funcs, &builder) != 0) return {};
  return builder.Finish();
}

// One glyph of a shaped line before alignment: position relative to the
// line's left end and baseline, y down.
struct PlacedGlyph {
  uint32_t glyph_id;
  uint32_t cluster;
  double x, y, advance;
};

void IncludePoint(GlyphBox& box, double x, double y, bool& first) {
  if (first) {
    box.left = box.right = x;
    box.top = box.bottom = y;
    first = false;
    return;
  }
  box.left = std::min(box.left, x);
  box.right = std::max(box.right, x);
  box.top = std::min(box.top, y);
  box.bottom = std::max(box.bottom, y);
}

}  // namespace

TextLayout::TextLayout(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

TextLayout TextLayout::Create(const std::string& utf8_text, const TextStyle& style, double origin_x,
                              double origin_y) {
  if (!IsValidUtf8(utf8_text)) throw HostError("text layer: the text is not valid UTF-8");
  if (!(style.size_px > 0)) throw HostError("text layer: the font size must be above 0");

  auto data = std::make_shared<Data>();
  data->text = utf8_text;
  data->style = style;

  FtLibrary library;
  FtFace face;
  if (FT_New_Face(library.lib, style.font_file.string().c_str(), 0, &face.face) != 0) {
    throw HostError("text layer: cannot open font file " + style.font_file.string());
  }
  // The em size in 26.6 px: HarfBuzz then reports positions in 26.6 px.
  if (FT_Set_Char_Size(face.face, 0, static_cast<FT_F26Dot6>(std::lround(style.size_px * 64)), 72,
                       72) != 0) {
    throw HostError("text layer: font " + style.font_file.string() + " cannot be sized");
  }
  HbFont font;
  font.font = hb_ft_font_create_referenced(face.face);
  hb_ft_font_set_load_flags(font.font, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);

  const double units_to_px = style.size_px / face.face->units_per_EM;
  const double track_px = style.tracking / 1000.0 * style.size_px;
  const double leading = style.leading > 0 ? style.leading : 1.2 * style.size_px;
  std::map<uint32_t, TextOutlineSet> glyph_contours;  // font units, y up

  const auto lines = SplitLines(utf8_text);
  for (std::size_t line = 0; line < lines.size(); ++line) {
    const auto [begin, end] = lines[line];
    if (begin == end) continue;
    // Runs are shaped one by one and placed left to right in visual order:
    // a right-to-left line shows its runs last first. Within a run HarfBuzz
    // returns glyphs in visual order already.
    bool line_rtl = false;
    std::vector<DirectionalRun> runs = DirectionalRuns(utf8_text, begin, end, line_rtl);
    if (line_rtl) std::reverse(runs.begin(), runs.end());
    // Tracking follows each character, so glyphs of one cluster (a base and
    // its marks) stay together.
    std::vector<PlacedGlyph> placed;
    double pen = 0, width = 0;
    for (const DirectionalRun& run : runs) {
      HbBuffer buf;
      hb_buffer_add_utf8(buf.buffer, utf8_text.data(), static_cast<int>(utf8_text.size()),
                         static_cast<unsigned>(run.begin), static_cast<int>(run.end - run.begin));
      hb_buffer_set_direction(buf.buffer, run.rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
      hb_buffer_guess_segment_properties(buf.buffer);  // script and language
      hb_shape(font.font, buf.buffer, nullptr, 0);     // default features: kerning on

      unsigned count = 0;
      const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf.buffer, &count);
      const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf.buffer, &count);
      for (unsigned i = 0; i < count; ++i) {
        const double advance = pos[i].x_advance / 64.0;
        placed.push_back(PlacedGlyph{info[i].codepoint, info[i].cluster,
                                     pen + pos[i].x_offset / 64.0, -pos[i].y_offset / 64.0,
                                     advance});
        pen += advance;
        width = pen;  // the line's width leaves out the tracking after its last character
        if (i + 1 == count || info[i + 1].cluster != info[i].cluster) pen += track_px;
      }
    }
    // Reading order: the logical order of the characters, whatever their
    // visual order (a right-to-left run comes with its clusters descending).
    std::stable_sort(placed.begin(), placed.end(), [](const PlacedGlyph& a, const PlacedGlyph& b) {
      return a.cluster < b.cluster;
    });

    double line_x = origin_x;
    if (style.align == TextStyle::Align::kCenter) line_x -= width / 2;
    if (style.align == TextStyle::Align::kRight) line_x -= width;
    const double baseline = origin_y + static_cast<double>(line) * leading;

    for (const PlacedGlyph& g : placed) {
      auto it = glyph_contours.find(g.glyph_id);
      if (it == glyph_contours.end()) {
        it = glyph_contours.emplace(g.glyph_id, DecomposeGlyph(face.face, g.glyph_id)).first;
      }
      GlyphBox box;
      box.line = line;
      box.cluster = g.cluster;
      box.glyph_id = g.glyph_id;
      box.pen_x = line_x + g.x;
      box.pen_y = baseline + g.y;
      box.advance = g.advance;
      box.first_contour = data->outlines.size();
      box.contour_count = it->second.size();
      bool first = true;
      const auto tx = [&](double ux) { return box.pen_x + ux * units_to_px; };
      const auto ty = [&](double uy) { return box.pen_y - uy * units_to_px; };
      for (const OutlinePath& contour : it->second) {
        OutlinePath path{contour.vertices, contour.open};
        for (PF_PathVertex& v : path.vertices) {
          v = PF_PathVertex{tx(v.x),        ty(v.y),         tx(v.tan_in_x),
                            ty(v.tan_in_y), tx(v.tan_out_x), ty(v.tan_out_y)};
          IncludePoint(box, v.x, v.y, first);
          IncludePoint(box, v.tan_in_x, v.tan_in_y, first);
          IncludePoint(box, v.tan_out_x, v.tan_out_y, first);
        }
        data->outlines.push_back(std::move(path));
      }
      if (first) IncludePoint(box, box.pen_x, box.pen_y, first);
      data->glyphs.push_back(box);
    }
  }
  return TextLayout(std::move(data));
}

TextLayout TextLayout::FromOutlines(TextOutlineSet outlines, PF_Pixel fill) {
  auto data = std::make_shared<Data>();
  data->style.fill = fill;
  data->outlines = std::move(outlines);
  return TextLayout(std::move(data));
}

const std::string& TextLayout::text() const { return data_->text; }
const TextStyle& TextLayout::style() const { return data_->style; }
const TextOutlineSet& TextLayout::Outlines() const { return data_->outlines; }
const std::vector<GlyphBox>& TextLayout::Glyphs() const { return data_->glyphs; }

void TextLayout::Rasterize(PF_EffectWorld& dst, PF_RationalScale ds_x,
                           PF_RationalScale ds_y) const {
  if (dst.data == nullptr || dst.width <= 0 || dst.height <= 0) return;
  const CoverageKey key{ds_x.num, ds_x.den, ds_y.num, ds_y.den, dst.width, dst.height};
  std::shared_ptr<const PaintedLayer> layer;
  {
    // Rasterising under the lock makes concurrent first frames wait for one
    // rasterisation instead of each doing its own.
    std::lock_guard lock(data_->cache_mutex);
    auto it = data_->painted.find(key);
    if (it == data_->painted.end()) {
      if (data_->painted.size() >= kMaxCachedMasks) data_->painted.clear();
      auto fresh = std::make_shared<PaintedLayer>();
      fresh->width = dst.width;
      fresh->height = dst.height;
      fresh->pixels.resize(static_cast<std::size_t>(dst.width) * dst.height);
      PF_EffectWorld world{};
      world.data = fresh->pixels.data();
      world.width = dst.width;
      world.height = dst.height;
      world.rowbytes = dst.width * static_cast<A_long>(sizeof(PF_Pixel));
      text::PaintOutlines(data_->outlines, text::ScaleOf(ds_x), text::ScaleOf(ds_y),
                          data_->style.fill, world);
      it = data_->painted.emplace(key, std::move(fresh)).first;
    }
    layer = it->second;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(layer->width) * sizeof(PF_Pixel);
  for (int32_t y = 0; y < layer->height; ++y) {
    std::memcpy(reinterpret_cast<char*>(dst.data) + static_cast<std::ptrdiff_t>(y) * dst.rowbytes,
                layer->pixels.data() + static_cast<std::size_t>(y) * layer->width, row_bytes);
  }
}

void RasterizeOutlines(const TextOutlineSet& outlines, PF_Pixel fill, PF_EffectWorld& dst,
                       PF_RationalScale ds_x, PF_RationalScale ds_y) {
  text::PaintOutlines(outlines, text::ScaleOf(ds_x), text::ScaleOf(ds_y), fill, dst);
}

}  // namespace vantrel::host

#include "vantrel/host/text_layout.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb.h>
#include <raqm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <utility>

#include "contour_builder.h"
#include "rasterizer.h"
#include "vantrel/host/fonts.h"
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
  std::vector<uint32_t> missing;                      // characters no installed font has
  std::vector<std::filesystem::path> fallback_fonts;  // fonts found for the others

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
struct Raqm {
  raqm_t* rq = raqm_create();
  Raqm() {
    if (rq == nullptr) throw HostError("text layer: out of memory");
  }
  Raqm(const Raqm&) = delete;
  Raqm& operator=(const Raqm&) = delete;
  ~Raqm() { raqm_destroy(rq); }
};

// The faces one layout uses, all at the layout's size: face 0 is the chosen
// font, the others were found for characters it lacks.
class FontFaces {
 public:
  FontFaces(FT_Library lib, double size_px) : lib_(lib), size_px_(size_px) {}
  FontFaces(const FontFaces&) = delete;
  FontFaces& operator=(const FontFaces&) = delete;
  ~FontFaces() {
    for (FT_Face f : faces_) FT_Done_Face(f);
  }

  // Opens a face (once per file and index) and returns its number.
  int Open(const std::filesystem::path& file, int index) {
    const auto key = std::make_pair(file.string(), index);
    if (auto it = numbers_.find(key); it != numbers_.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(lib_, file.string().c_str(), index, &face) != 0) {
      throw HostError("text layer: cannot open font file " + file.string());
    }
    // The em size in 26.6 px: HarfBuzz then reports positions in 26.6 px.
    if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(size_px_ * 64)), 72, 72) !=
        0) {
      FT_Done_Face(face);
      throw HostError("text layer: font " + file.string() + " cannot be sized");
    }
    faces_.push_back(face);
    files_.push_back(file);
    numbers_.emplace(key, static_cast<int>(faces_.size() - 1));
    return static_cast<int>(faces_.size() - 1);
  }

  FT_Face face(int n) const { return faces_[static_cast<std::size_t>(n)]; }

  // The face of each character of a line: the chosen font where it has the
  // character, else the face of the run before when that one has it (so a
  // run of Chinese stays in one font), else the face fontconfig finds for
  // it. A mark goes with its base's face when that face has it. Characters
  // no installed font has are added to `missing` and keep the face before.
  std::vector<int> Assign(const std::vector<uint32_t>& code_points, std::set<uint32_t>& missing) {
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    std::vector<int> face_of(code_points.size(), 0);
    for (std::size_t i = 0; i < code_points.size(); ++i) {
      const uint32_t cp = code_points[i];
      const int before = i == 0 ? 0 : face_of[i - 1];
      const hb_unicode_general_category_t category = hb_unicode_general_category(unicode, cp);
      const bool mark = category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
                        category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
                        category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
      // Controls and format characters (joiners, direction marks) need no
      // glyph of their own.
      const bool invisible = category == HB_UNICODE_GENERAL_CATEGORY_CONTROL ||
                             category == HB_UNICODE_GENERAL_CATEGORY_FORMAT;
      if (invisible || (mark && Has(before, cp))) {
        face_of[i] = before;
      } else if (Has(0, cp)) {
        face_of[i] = 0;
      } else if (before != 0 && Has(before, cp)) {
        face_of[i] = before;
      } else if (auto found = FallbackFontFor(cp, Like())) {
        face_of[i] = Open(found->file, found->index);
      } else {
        missing.insert(cp);
        face_of[i] = before;
      }
    }
    return face_of;
  }

  // The files of the faces found for missing characters, in order of use.
  std::vector<std::filesystem::path> FallbackFiles() const {
    return {files_.begin() + (files_.empty() ? 0 : 1), files_.end()};
  }

 private:
  bool Has(int n, uint32_t cp) const { return FT_Get_Char_Index(face(n), cp) != 0; }

  // The chosen font as fontconfig knows it, to find faces in its style.
  FontFace Like() const {
    FontFace like;
    like.family = faces_[0]->family_name != nullptr ? faces_[0]->family_name : "";
    like.style = faces_[0]->style_name != nullptr ? faces_[0]->style_name : "";
    return like;
  }

  FT_Library lib_;
  double size_px_;
  std::vector<FT_Face> faces_;
  std::vector<std::filesystem::path> files_;
  std::map<std::pair<std::string, int>, int> numbers_;
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

// The code points of the line [begin, end) of valid UTF-8 `text`, with the
// byte offset of each in `text`.
void DecodeLine(const std::string& text, std::size_t begin, std::size_t end,
                std::vector<uint32_t>& code_points, std::vector<uint32_t>& offsets) {
  code_points.clear();
  offsets.clear();
  for (std::size_t i = begin; i < end;) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    code_points.push_back(cp);
    offsets.push_back(static_cast<uint32_t>(i));
    i += len;
  }
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
  uint32_t cluster;  // index of its first character in the line
  FT_Face face;
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
  FontFaces faces(library.lib, style.size_px);
  faces.Open(style.font_file, style.font_index);  // face 0, the chosen font

  const double track_px = style.tracking / 1000.0 * style.size_px;
  const double leading = style.leading > 0 ? style.leading : 1.2 * style.size_px;
  // Contours by face and glyph, in font units, y up.
  std::map<std::pair<FT_Face, uint32_t>, TextOutlineSet> glyph_contours;
  std::set<uint32_t> missing;
  std::vector<uint32_t> code_points, offsets;

  const auto lines = SplitLines(utf8_text);
  for (std::size_t line = 0; line < lines.size(); ++line) {
    const auto [begin, end] = lines[line];
    if (begin == end) continue;
    DecodeLine(utf8_text, begin, end, code_points, offsets);
    const std::vector<int> face_of = faces.Assign(code_points, missing);

    // Each line is one paragraph to the bidirectional algorithm: its
    // direction is that of its first strong character. Runs of one face
    // are shaped with that face.
    Raqm rq;
    if (!raqm_set_text(rq.rq, code_points.data(), code_points.size()) ||
        !raqm_set_par_direction(rq.rq, RAQM_DIRECTION_DEFAULT) ||
        !raqm_set_freetype_load_flags(rq.rq, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) ||
        !raqm_set_freetype_face(rq.rq, faces.face(0))) {
      throw HostError("text layer: the text cannot be laid out");
    }
    for (std::size_t i = 0; i < face_of.size();) {
      std::size_t j = i + 1;
      while (j < face_of.size() && face_of[j] == face_of[i]) ++j;
      if (face_of[i] != 0 &&
          !raqm_set_freetype_face_range(rq.rq, faces.face(face_of[i]), i, j - i)) {
        throw HostError("text layer: the text cannot be laid out");
      }
      i = j;
    }
    if (!raqm_layout(rq.rq)) throw HostError("text layer: the text cannot be laid out");
    std::size_t count = 0;
    const raqm_glyph_t* glyphs = raqm_get_glyphs(rq.rq, &count);

    // Glyphs come in visual order, left to right. Tracking follows each
    // character, so glyphs of one cluster (a base and its marks) stay
    // together.
    std::vector<PlacedGlyph> placed;
    double pen = 0, width = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const raqm_glyph_t& g = glyphs[i];
      const double advance = g.x_advance / 64.0;
      placed.push_back(PlacedGlyph{g.index, g.cluster, g.ftface, pen + g.x_offset / 64.0,
                                   -g.y_offset / 64.0, advance});
      pen += advance;
      width = pen;  // the line's width leaves out the tracking after its last character
      if (i + 1 == count || glyphs[i + 1].cluster != g.cluster) pen += track_px;
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
      // A character no installed font has keeps its place but draws nothing.
      const bool drawn =
          g.cluster < code_points.size() && missing.count(code_points[g.cluster]) == 0;
      const auto key = std::make_pair(g.face, g.glyph_id);
      auto it = glyph_contours.find(key);
      if (it == glyph_contours.end()) {
        it = glyph_contours.emplace(key, DecomposeGlyph(g.face, g.glyph_id)).first;
      }
      static const TextOutlineSet kNothing;
      const TextOutlineSet& contours = drawn ? it->second : kNothing;
      const double units_to_px = style.size_px / g.face->units_per_EM;
      GlyphBox box;
      box.line = line;
      box.cluster = g.cluster < offsets.size() ? offsets[g.cluster] : static_cast<uint32_t>(end);
      box.glyph_id = g.glyph_id;
      box.pen_x = line_x + g.x;
      box.pen_y = baseline + g.y;
      box.advance = g.advance;
      box.first_contour = data->outlines.size();
      box.contour_count = contours.size();
      bool first = true;
      const auto tx = [&](double ux) { return box.pen_x + ux * units_to_px; };
      const auto ty = [&](double uy) { return box.pen_y - uy * units_to_px; };
      for (const OutlinePath& contour : contours) {
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
  data->missing.assign(missing.begin(), missing.end());
  data->fallback_fonts = faces.FallbackFiles();
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
const std::vector<uint32_t>& TextLayout::MissingCharacters() const { return data_->missing; }
const std::vector<std::filesystem::path>& TextLayout::FallbackFonts() const {
  return data_->fallback_fonts;
}

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

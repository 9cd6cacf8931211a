// The stand-in host's text layer: point text laid out with HarfBuzz on a
// FreeType face, its glyph contours as the host reports them to a module,
// and the layer image drawn from the same contours.
//
// Coordinate space throughout: layer pixels at full resolution, x to the
// right, y DOWNWARD, origin at the layer's top-left corner.
#ifndef VANTREL_HOST_TEXT_LAYOUT_H
#define VANTREL_HOST_TEXT_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/host/layer.h"

namespace vantrel::host {

inline constexpr const char* kDefaultFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct TextStyle {
  enum class Align { kLeft, kCenter, kRight };

  std::filesystem::path font_file = kDefaultFontFile;
  int font_index = 0;                 // face within a .ttc collection
  double size_px = 72;                // em size in layer pixels
  PF_Pixel fill{255, 255, 255, 255};  // alpha, red, green, blue
  double tracking = 0;                // 1/1000 em, added after each character
  double leading = 0;                 // baseline distance in px; 0 = 1.2 x size_px
  Align align = Align::kLeft;
};

// One shaped glyph, in reading (logical) order.
struct GlyphBox {
  std::size_t line = 0;           // 0-based line of the text
  uint32_t cluster = 0;           // byte offset of its character in the UTF-8 text
  uint32_t glyph_id = 0;          // glyph index in the font
  double pen_x = 0, pen_y = 0;    // glyph origin on the baseline, layer px
  double advance = 0;             // horizontal advance in px, tracking excluded
  std::size_t first_contour = 0;  // index into Outlines()
  std::size_t contour_count = 0;  // 0 for a space
  // Control box of the glyph's contours (all vertex and tangent points);
  // the pen point for a glyph without contours.
  double left = 0, top = 0, right = 0, bottom = 0;
};

// An immutable laid-out text. Copies share the same data; every const member
// may be called from several threads at once (frames render in parallel).
class TextLayout {
 public:
  // Lays out `utf8_text` (lines separated by "\n", "\r\n" or "\r") as point
  // text. (origin_x, origin_y) is the first line's baseline anchor in layer
  // px: its left end for kLeft, centre for kCenter, right end for kRight;
  // line k has its baseline at origin_y + k x leading. Each line is one
  // paragraph of the Unicode bidirectional algorithm (its direction is that
  // of its first strong character), itemised by script and shaped with
  // HarfBuzz, kerning and ligatures on. Characters the font lacks are shaped
  // in an installed font that has them; those no installed font has take
  // their place but draw nothing (MissingCharacters). Throws HostError when
  // the font cannot be opened or the text is not valid UTF-8.
  static TextLayout Create(const std::string& utf8_text, const TextStyle& style, double origin_x,
                           double origin_y);

  // A layout made of given contours alone (the plain-data text source): no
  // glyphs, no text; Rasterize draws the contours in `fill`.
  static TextLayout FromOutlines(TextOutlineSet outlines, PF_Pixel fill);

  const std::string& text() const;
  const TextStyle& style() const;

  // One OutlinePath per glyph contour, closed, glyphs in reading (logical)
  // order, contours of a glyph in the font's order. For a right-to-left line
  // this means x decreases from glyph to glyph. Vertices are on-curve points
  // with absolute tangent points (tan_in = incoming control point, tan_out =
  // outgoing one; a straight segment's ends carry their own point), so the
  // box of all vertex and tangent points is the contour's control box.
  const TextOutlineSet& Outlines() const;
  const std::vector<GlyphBox>& Glyphs() const;

  // The characters of the text that no installed font has, ascending.
  const std::vector<uint32_t>& MissingCharacters() const;
  // The font files used for characters the chosen font lacks.
  const std::vector<std::filesystem::path>& FallbackFonts() const;

  // Draws the text into `dst` (8-bit, PF_Pixel order alpha, red, green,
  // blue; straight alpha): colour = fill, alpha = coverage x fill alpha,
  // transparent black elsewhere (the whole world is written). Layer pixel
  // (x, y) at full resolution lands on (x * ds_x, y * ds_y) of `dst`; the
  // world's own origin_x/origin_y are ignored. The text is rasterised and
  // painted once per (downsample, world size); later calls copy that image.
  void Rasterize(PF_EffectWorld& dst, PF_RationalScale ds_x, PF_RationalScale ds_y) const;

 private:
  struct Data;
  explicit TextLayout(std::shared_ptr<const Data> data);
  std::shared_ptr<const Data> data_;
};

// The plain-data text source: a JSON list of contours, each a list of
// vertices {"x":..,"y":..,"in":[x,y],"out":[x,y]} (a closed contour), or an
// object {"open":true,"vertices":[...]}. Layer px, y downward.
// LoadOutlinesJson throws HostError naming the file on a read or format error.
TextOutlineSet LoadOutlinesJson(const std::filesystem::path& path);
void SaveOutlinesJson(const TextOutlineSet& outlines, const std::filesystem::path& path);

// Uncached rasterisation of any contour set, as TextLayout::Rasterize does
// (non-zero fill, anti-aliased by exact area coverage of the flattened
// curves). Open contours are filled as if closed.
void RasterizeOutlines(const TextOutlineSet& outlines, PF_Pixel fill, PF_EffectWorld& dst,
                       PF_RationalScale ds_x, PF_RationalScale ds_y);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_TEXT_LAYOUT_H

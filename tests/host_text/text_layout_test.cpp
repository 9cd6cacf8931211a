#include "vantrel/host/text_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "vantrel/host/fonts.h"
#include "vantrel/host/session.h"

namespace vantrel::host {
namespace {

struct Box {
  double left, top, right, bottom;
  bool Contains(const Box& o) const {
    return o.left >= left && o.right <= right && o.top >= top && o.bottom <= bottom;
  }
};

// Control box of one contour: vertex and tangent points.
Box ControlBox(const OutlinePath& path) {
  Box b{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const PF_PathVertex& v : path.vertices) {
    for (auto [x, y] : {std::pair{v.x, v.y}, std::pair{v.tan_in_x, v.tan_in_y},
                        std::pair{v.tan_out_x, v.tan_out_y}}) {
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y);
    }
  }
  return b;
}

TextLayout Lay(const std::string& text, TextStyle style = {}, double x = 100, double y = 200) {
  return TextLayout::Create(text, style, x, y);
}

TEST(TextLayoutGlyphs, OHasAnOuterContourAndACounterInsideIt) {
  const TextLayout t = Lay("o");
  ASSERT_EQ(t.Outlines().size(), 2u);
  const Box a = ControlBox(t.Outlines()[0]), b = ControlBox(t.Outlines()[1]);
  EXPECT_TRUE(a.Contains(b) || b.Contains(a));
  // Sitting on the baseline at y = 200, at about the x-height of 72 px text.
  EXPECT_NEAR(std::max(a.bottom, b.bottom), 200, 2);
  EXPECT_GT(std::max(a.bottom, b.bottom) - std::min(a.top, b.top), 35);
  for (const OutlinePath& p : t.Outlines()) EXPECT_FALSE(p.open);
}

TEST(TextLayoutGlyphs, IHasAStemAndADotAboveIt) {
  const TextLayout t = Lay("i");
  ASSERT_EQ(t.Outlines().size(), 2u);
  Box a = ControlBox(t.Outlines()[0]), b = ControlBox(t.Outlines()[1]);
  if (a.top > b.top) std::swap(a, b);  // a = dot, b = stem
  EXPECT_LT(a.bottom, b.top);
  EXPECT_GE(a.left, b.left - 0.5);
  EXPECT_LE(a.right, b.right + 0.5);
}

TEST(TextLayoutGlyphs, AccentedVowelCarriesItsAccentAsAnotherContour) {
  const TextLayout plain = Lay("e");
  const TextLayout accented = Lay("\xC3\xA9");  // é
  EXPECT_GE(accented.Outlines().size(), plain.Outlines().size() + 1);
  ASSERT_EQ(accented.Glyphs().size(), 1u);
  EXPECT_LT(accented.Glyphs()[0].top, plain.Glyphs()[0].top - 5);  // the accent rises above
}

TEST(TextLayoutGlyphs, GlyphBoxIsTheControlBoxOfItsContours) {
  const TextLayout t = Lay("Bg");
  for (const GlyphBox& g : t.Glyphs()) {
    ASSERT_GT(g.contour_count, 0u);
    Box all = ControlBox(t.Outlines()[g.first_contour]);
    for (std::size_t i = 1; i < g.contour_count; ++i) {
      const Box b = ControlBox(t.Outlines()[g.first_contour + i]);
      all = {std::min(all.left, b.left), std::min(all.top, b.top), std::max(all.right, b.right),
             std::max(all.bottom, b.bottom)};
    }
    EXPECT_DOUBLE_EQ(g.left, all.left);
    EXPECT_DOUBLE_EQ(g.top, all.top);
    EXPECT_DOUBLE_EQ(g.right, all.right);
    EXPECT_DOUBLE_EQ(g.bottom, all.bottom);
  }
}

TEST(TextLayoutOrder, HelloWorldComesInReadingOrder) {
  const TextLayout t = Lay("Hello world");
  const auto& g = t.Glyphs();
  ASSERT_EQ(g.size(), 11u);
  EXPECT_EQ(g[5].contour_count, 0u);  // the space draws nothing
  for (std::size_t i = 1; i < g.size(); ++i) {
    EXPECT_GT(g[i].cluster, g[i - 1].cluster);
    EXPECT_GT(g[i].pen_x, g[i - 1].pen_x) << "glyph " << i;
  }
  // Contours follow the glyphs: each glyph's block starts where the last ended.
  std::size_t next = 0;
  for (const GlyphBox& box : g) {
    EXPECT_EQ(box.first_contour, next);
    next += box.contour_count;
  }
  EXPECT_EQ(next, t.Outlines().size());
  EXPECT_DOUBLE_EQ(g[0].pen_x, 100);
  EXPECT_DOUBLE_EQ(g[0].pen_y, 200);
}

TEST(TextLayoutOrder, HebrewLineComesInReadingOrderRightToLeft) {
  const std::string shalom = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";  // שלום
  const TextLayout t = Lay(shalom);
  const auto& g = t.Glyphs();
  ASSERT_EQ(g.size(), 4u);
  for (std::size_t i = 1; i < g.size(); ++i) {
    EXPECT_GT(g[i].cluster, g[i - 1].cluster);
    EXPECT_LT(g[i].right, g[i - 1].right) << "reading order runs right to left";
  }
  // The line's left end is still the anchor of left-aligned text.
  const double leftmost = std::min_element(g.begin(), g.end(), [](auto& a, auto& b) {
                            return a.pen_x < b.pen_x;
                          })->pen_x;
  EXPECT_DOUBLE_EQ(leftmost, 100);

  // What the module's line numbering does with it: a piece that does not
  // start right of the one before starts a new line, so every letter of a
  // right-to-left word gets its own line number.
  int line = 0;
  for (std::size_t i = 1; i < g.size(); ++i) {
    if (g[i].left <= g[i - 1].left) ++line;
  }
  EXPECT_EQ(line, 3);
}

TEST(TextLayoutOrder, MixedDirectionLinesPlaceEachRunInItsOwnDirection) {
  // "Hi שלום": a left-to-right line ending in a right-to-left word.
  {
    const TextLayout t = Lay("Hi \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D");
    const auto& g = t.Glyphs();
    ASSERT_EQ(g.size(), 7u);
    EXPECT_LT(g[1].pen_x, g[2].pen_x);  // "i" before the space
    EXPECT_LT(g[2].pen_x, g[6].pen_x);  // the word starts right of the space ...
    for (std::size_t i = 4; i < 7; ++i)
      EXPECT_LT(g[i].pen_x, g[i - 1].pen_x);  // ... read leftwards
  }
  // "Hi שלום עולם": the space between the two Hebrew words belongs to their
  // run, so the first word stands right of the second.
  {
    const TextLayout t =
        Lay("Hi \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D");
    const auto& g = t.Glyphs();
    ASSERT_EQ(g.size(), 12u);
    EXPECT_GT(g[6].pen_x, g[8].pen_x);
    EXPECT_GT(g[8].pen_x, g[2].pen_x);
  }
  // "שלום 123": a right-to-left line; the number keeps its digits in
  // left-to-right order and stands left of the word.
  {
    const TextLayout t = Lay("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D 123");
    const auto& g = t.Glyphs();
    ASSERT_EQ(g.size(), 8u);
    EXPECT_LT(g[5].pen_x, g[6].pen_x);
    EXPECT_LT(g[6].pen_x, g[7].pen_x);
    EXPECT_LT(g[7].pen_x, g[3].pen_x);  // "3" left of the word's last letter
    EXPECT_LT(g[3].pen_x, g[0].pen_x);
    EXPECT_DOUBLE_EQ(g[5].pen_x, 100);  // the line's left end is the number's
  }
}

// Characters DejaVu Sans lacks are laid out in an installed font that has
// them; those no font has (private use U+E000) keep their place, draw
// nothing and are named.
TEST(TextLayoutFallback, LackingCharactersComeFromAnotherFontOrDrawNothing) {
  struct Case {
    const char* text;
    std::vector<uint32_t> missing;
    std::size_t fallback_fonts;
    std::vector<bool> drawn;  // per glyph, in reading order
  };
  const Case cases[] = {
      {"a\xEE\x80\x80"
       "b",
       {0xE000},
       0,
       {true, false, true}},
      {"a\xE4\xBD\xA0\xE5\xA5\xBD", {}, 1, {true, true, true}},  // a你好: one CJK face
      {"\xEE\x80\x80 \xEE\x80\x80\xF3\xB0\x80\x80", {0xE000, 0xF0000}, 0, {false, false, false}},
  };
  for (const Case& c : cases) {
    const TextLayout t = Lay(c.text);
    EXPECT_EQ(t.MissingCharacters(), c.missing) << c.text;
    EXPECT_EQ(t.FallbackFonts().size(), c.fallback_fonts) << c.text;
    std::vector<bool> drawn;
    for (const GlyphBox& g : t.Glyphs()) {
      if (g.cluster < std::string(c.text).size() && c.text[g.cluster] == ' ') continue;
      drawn.push_back(g.contour_count > 0);
    }
    EXPECT_EQ(drawn, c.drawn) << c.text;
  }
  EXPECT_EQ(FormatCodePoints({0xE000, 0x1F600}), "U+E000, U+1F600");
}

// Brackets in a right-to-left line are mirrored: the "(" read first shows
// the glyph of ")", as the bidirectional algorithm says.
TEST(TextLayoutOrder, BracketsInARightToLeftLineAreMirrored) {
  const TextLayout ltr = Lay("()");
  const TextLayout rtl = Lay("\xD7\xA9 (1)");  // ש (1)
  ASSERT_EQ(rtl.Glyphs().size(), 5u);
  EXPECT_EQ(rtl.Glyphs()[2].glyph_id, ltr.Glyphs()[1].glyph_id);
  EXPECT_EQ(rtl.Glyphs()[4].glyph_id, ltr.Glyphs()[0].glyph_id);
  EXPECT_GT(rtl.Glyphs()[2].pen_x, rtl.Glyphs()[4].pen_x);
}

TEST(TextLayoutLines, LinesStackByTheLeadingAndAlignToTheAnchor) {
  TextStyle style;
  // Which point of a line sits on the anchor: 0 = left end, 0.5 = centre,
  // 1 = right end.
  for (auto [align, anchor_at] :
       {std::pair{TextStyle::Align::kLeft, 0.0}, std::pair{TextStyle::Align::kCenter, 0.5},
        std::pair{TextStyle::Align::kRight, 1.0}}) {
    style.align = align;
    const TextLayout t = Lay("Wide line\nab", style, 500, 100);
    const auto& g = t.Glyphs();
    ASSERT_EQ(g.size(), 11u);
    for (std::size_t line = 0; line < 2; ++line) {
      const std::size_t first = line == 0 ? 0 : 9, last = line == 0 ? 8 : 10;
      EXPECT_EQ(g[first].line, line);
      EXPECT_DOUBLE_EQ(g[first].pen_y, 100 + line * 1.2 * 72);
      const double start = g[first].pen_x, end = g[last].pen_x + g[last].advance;
      EXPECT_NEAR(start + anchor_at * (end - start), 500, 1e-9) << "line " << line;
    }
  }
}

TEST(TextLayoutLines, AllLineBreakFormsAndExplicitLeading) {
  TextStyle style;
  style.leading = 50;
  for (const char* text : {"a\nb\nc", "a\r\nb\r\nc", "a\rb\rc", "a\n\nc"}) {
    const TextLayout t = Lay(text, style, 0, 100);
    const auto& g = t.Glyphs();
    ASSERT_EQ(g.size(), std::string(text) == "a\n\nc" ? 2u : 3u) << text;
    EXPECT_DOUBLE_EQ(g.back().pen_y, 200) << text;  // third line, two leadings down
    EXPECT_EQ(g.back().line, 2u);
  }
}

TEST(TextLayoutSpacing, TrackingWidensEveryAdvance) {
  TextStyle tracked;
  tracked.tracking = 100;  // 0.1 em = 7.2 px at 72 px
  const TextLayout a = Lay("abc"), b = Lay("abc", tracked);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(b.Glyphs()[i].pen_x - a.Glyphs()[i].pen_x, 7.2 * i, 1e-9);
  }
}

TEST(TextLayoutSpacing, KerningTightensAPair) {
  // DejaVu Sans kerns "AV": V sits closer than the advance of a lone A.
  const TextLayout pair = Lay("AV"), alone = Lay("A");
  const auto& g = pair.Glyphs();
  EXPECT_LT(g[1].pen_x - g[0].pen_x, alone.Glyphs()[0].advance - 0.5);
}

TEST(TextLayoutSpacing, SizeScalesEverything) {
  TextStyle big;
  big.size_px = 144;
  const TextLayout a = Lay("H", {}, 0, 0), b = Lay("H", big, 0, 0);
  EXPECT_NEAR(b.Glyphs()[0].right, 2 * a.Glyphs()[0].right, 0.05);
  EXPECT_NEAR(b.Glyphs()[0].top, 2 * a.Glyphs()[0].top, 0.05);
}

TEST(TextLayoutInput, EmptyTextGivesNoOutlines) {
  EXPECT_TRUE(Lay("").Outlines().empty());
  EXPECT_TRUE(Lay("\n \n").Outlines().empty());
}

TEST(TextLayoutInput, BadInputIsReported) {
  EXPECT_THROW(Lay("a\xC3"), HostError);         // truncated sequence
  EXPECT_THROW(Lay("\xC0\xAF"), HostError);      // overlong form
  EXPECT_THROW(Lay("\xED\xA0\x80"), HostError);  // surrogate
  TextStyle missing;
  missing.font_file = "/nonexistent/font.ttf";
  EXPECT_THROW(Lay("a", missing), HostError);
  TextStyle zero;
  zero.size_px = 0;
  EXPECT_THROW(Lay("a", zero), HostError);
}

TEST(TextLayoutInput, CopiesShareTheLayout) {
  const TextLayout a = Lay("shared");
  const TextLayout b = a;
  EXPECT_EQ(&a.Outlines(), &b.Outlines());
  EXPECT_EQ(b.text(), "shared");
}

}  // namespace
}  // namespace vantrel::host

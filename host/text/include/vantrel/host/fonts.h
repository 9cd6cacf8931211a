// Installed fonts, through fontconfig: a family and style resolved to a font
// file, the list of installed families, and the font that covers a
// character the chosen font lacks.
#ifndef VANTREL_HOST_FONTS_H
#define VANTREL_HOST_FONTS_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::host {

// One face of an installed font file (a collection holds several).
struct FontFace {
  std::filesystem::path file;
  int index = 0;       // face in a .ttc collection
  std::string family;  // the first family name fontconfig lists
  std::string style;   // e.g. "Bold Oblique"
};

// The outcome of looking up a family: a face, or a one-line reason.
struct FontLookup {
  std::optional<FontFace> face;
  std::string problem;         // e.g. "font family \"Dejavu Sanz\" is not installed; closest: ..."
  bool no_such_style = false;  // the family is installed, the style is not
};

// Resolves a family name or fontconfig pattern ("DejaVu Sans",
// "DejaVu Sans:bold", "Noto Sans:weight=200:slant=100") and an optional style
// name ("Bold Oblique") to an installed face. fontconfig always answers with
// some font, so the answer is refused unless its family is the one asked for
// (or the request is a generic name: sans-serif, serif, monospace) and,
// when a style name is given, the face carries that style.
FontLookup FindFontFamily(const std::string& pattern, const std::string& style = "");

// Installed family names nearest to `family` by spelling, best first.
std::vector<std::string> CloseFamilies(const std::string& family, std::size_t count = 5);

// Installed faces matching a fontconfig pattern ("" = all), sorted by family
// and style.
std::vector<FontFace> ListFonts(const std::string& pattern = "");

// The installed font file with this file name (no folder), if any.
std::optional<std::filesystem::path> FindInstalledFontFile(const std::string& file_name);

// An installed outline face holding a glyph for `code_point`, preferring one
// like `like` (its family, weight and slant); nullopt when no installed font
// has it.
std::optional<FontFace> FallbackFontFor(uint32_t code_point, const FontFace& like);

// "U+1F600, U+E000": code points as they are written in messages.
std::string FormatCodePoints(const std::vector<uint32_t>& code_points);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_FONTS_H

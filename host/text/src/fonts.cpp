#include "vantrel/host/fonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace vantrel::host {
namespace {

// fontconfig's current configuration is shared by the whole process; every
// use goes through this lock.
std::mutex& FontconfigMutex() {
  static std::mutex m;
  return m;
}

// Owners of fontconfig objects.
struct Pattern {
  FcPattern* p;
  explicit Pattern(FcPattern* pattern) : p(pattern) {}
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;
  ~Pattern() {
    if (p) FcPatternDestroy(p);
  }
};
struct FontSet {
  FcFontSet* s;
  explicit FontSet(FcFontSet* set) : s(set) {}
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;
  ~FontSet() {
    if (s) FcFontSetDestroy(s);
  }
};

std::string StringOf(FcPattern* p, const char* object, int n = 0) {
  FcChar8* s = nullptr;
  if (FcPatternGetString(p, object, n, &s) != FcResultMatch || s == nullptr) return {};
  return reinterpret_cast<const char*>(s);
}

std::vector<std::string> StringsOf(FcPattern* p, const char* object) {
  std::vector<std::string> out;
  for (int n = 0;; ++n) {
    std::string s = StringOf(p, object, n);
    if (s.empty()) break;
    out.push_back(std::move(s));
  }
  return out;
}

FontFace FaceOf(FcPattern* p) {
  FontFace face;
  face.file = StringOf(p, FC_FILE);
  if (FcPatternGetInteger(p, FC_INDEX, 0, &face.index) != FcResultMatch) face.index = 0;
  face.family = StringOf(p, FC_FAMILY);
  face.style = StringOf(p, FC_STYLE);
  return face;
}

// Names compared as fontconfig compares them: case and blanks do not count.
std::string Folded(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

bool IsGenericFamily(const std::string& family) {
  static const std::set<std::string> kGeneric = {
      "sans-serif", "sans", "serif", "monospace", "mono", "system-ui", "cursive", "emoji", "math"};
  return kGeneric.count(Folded(family)) != 0;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// A name as a message quotes it: a name can be as long as its writer likes,
// and a message shows its first 60 bytes (whole UTF-8 sequences), then "…".
std::string Quoted(const std::string& name) {
  constexpr std::size_t kLongest = 60;
  if (name.size() <= kLongest) return "\"" + name + "\"";
  std::size_t cut = kLongest;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  std::string quoted = "\"";
  quoted.append(name, 0, cut);
  return quoted + "…\"";
}

std::string QuotedList(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "\"" : ", \"") + s + "\"";
  return out;
}

// Every installed font's pattern with the given objects, under the lock.
std::vector<FontFace> ListLocked(const std::string& pattern) {
  Pattern pat(FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str())));
  if (pat.p == nullptr) return {};
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_FILE, FC_INDEX, nullptr);
  FontSet set(FcFontList(nullptr, pat.p, objects));
  FcObjectSetDestroy(objects);
  std::vector<FontFace> out;
  if (set.s == nullptr) return out;
  for (int i = 0; i < set.s->nfont; ++i) out.push_back(FaceOf(set.s->fonts[i]));
  return out;
}

}  // namespace

std::vector<FontFace> ListFonts(const std::string& pattern) {
  std::vector<FontFace> fonts;
  {
    std::lock_guard lock(FontconfigMutex());
    fonts = ListLocked(pattern);
  }
  std::sort(fonts.begin(), fonts.end(), [](const FontFace& a, const FontFace& b) {
    return std::tie(a.family, a.style, a.file, a.index) <
           std::tie(b.family, b.style, b.file, b.index);
  });
  return fonts;
}

std::vector<std::string> CloseFamilies(const std::string& family, std::size_t count) {
  std::set<std::string> families;
  {
    std::lock_guard lock(FontconfigMutex());
    Pattern pat(FcPatternCreate());
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FontSet set(FcFontList(nullptr, pat.p, objects));
    FcObjectSetDestroy(objects);
    for (int i = 0; set.s != nullptr && i < set.s->nfont; ++i) {
      for (std::string& name : StringsOf(set.s->fonts[i], FC_FAMILY)) families.insert(name);
    }
  }
  // Spelling distance, with a family that contains the request (or is
  // contained in it) counted as nearly the same name.
  const std::string wanted = Folded(family);
  std::vector<std::pair<std::size_t, std::string>> ranked;
  for (const std::string& name : families) {
    const std::string folded = Folded(name);
    std::size_t score = EditDistance(wanted, folded) * 8;
    if (!wanted.empty() &&
        (folded.find(wanted) != std::string::npos || wanted.find(folded) != std::string::npos)) {
      score = std::min(score, 4 + (std::max(folded.size(), wanted.size()) -
                                   std::min(folded.size(), wanted.size())));
    }
    ranked.emplace_back(score, name);
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> out;
  for (std::size_t i = 0; i < ranked.size() && i < count; ++i) out.push_back(ranked[i].second);
  return out;
}

FontLookup FindFontFamily(const std::string& pattern, const std::string& style) {
  FontLookup out;
  std::string family;
  std::vector<std::string> matched_families, matched_styles;
  {
    std::lock_guard lock(FontconfigMutex());
    Pattern pat(FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str())));
    if (pat.p == nullptr) {
      out.problem = Quoted(pattern) + " is not a font family or fontconfig pattern";
      return out;
    }
    family = StringOf(pat.p, FC_FAMILY);
    if (family.empty()) {
      out.problem =
          "font pattern " + Quoted(pattern) + " names no family; expected e.g. \"DejaVu Sans\"";
      return out;
    }
    if (!style.empty()) {
      FcPatternDel(pat.p, FC_STYLE);
      FcPatternAddString(pat.p, FC_STYLE, reinterpret_cast<const FcChar8*>(style.c_str()));
    }
    FcConfigSubstitute(nullptr, pat.p, FcMatchPattern);
    FcDefaultSubstitute(pat.p);
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(nullptr, pat.p, &result));
    if (match.p != nullptr) {
      out.face = FaceOf(match.p);
      matched_families = StringsOf(match.p, FC_FAMILY);
      matched_styles = StringsOf(match.p, FC_STYLE);
    }
  }
  const bool same_family =
      IsGenericFamily(family) ||
      std::any_of(matched_families.begin(), matched_families.end(),
                  [&](const std::string& f) { return Folded(f) == Folded(family); });
  if (!out.face || !same_family) {
    out.face.reset();
    out.problem = "font family " + Quoted(family) +
                  " is not installed; closest installed: " + QuotedList(CloseFamilies(family)) +
                  " (see vantrel fonts)";
    return out;
  }
  if (!style.empty() &&
      std::none_of(matched_styles.begin(), matched_styles.end(),
                   [&](const std::string& s) { return Folded(s) == Folded(style); })) {
    std::set<std::string> styles;
    for (const FontFace& f : ListFonts(family)) styles.insert(f.style);
    out.face.reset();
    out.no_such_style = true;
    out.problem = "font family " + Quoted(family) + " has no style " + Quoted(style) +
                  "; its styles: " + QuotedList({styles.begin(), styles.end()});
  }
  return out;
}

std::optional<std::filesystem::path> FindInstalledFontFile(const std::string& file_name) {
  std::lock_guard lock(FontconfigMutex());
  for (const FontFace& f : ListLocked("")) {
    if (f.file.filename() == file_name) return f.file;
  }
  return std::nullopt;
}

std::optional<FontFace> FallbackFontFor(uint32_t code_point, const FontFace& like) {
  static std::map<std::tuple<uint32_t, std::string, std::string>, std::optional<FontFace>> cache;
  std::lock_guard lock(FontconfigMutex());
  const auto key = std::make_tuple(code_point, like.family, like.style);
  if (auto it = cache.find(key); it != cache.end()) return it->second;

  // Coverage outranks the family in fontconfig's matching, so the best
  // match has the character if any installed font does; the family and
  // style only pick among those that have it.
  Pattern pat(FcPatternCreate());
  FcCharSet* wanted = FcCharSetCreate();
  FcCharSetAddChar(wanted, code_point);
  FcPatternAddCharSet(pat.p, FC_CHARSET, wanted);
  FcCharSetDestroy(wanted);
  if (!like.family.empty()) {
    FcPatternAddString(pat.p, FC_FAMILY, reinterpret_cast<const FcChar8*>(like.family.c_str()));
  }
  if (!like.style.empty()) {
    FcPatternAddString(pat.p, FC_STYLE, reinterpret_cast<const FcChar8*>(like.style.c_str()));
  }
  FcPatternAddBool(pat.p, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(nullptr, pat.p, FcMatchPattern);
  FcDefaultSubstitute(pat.p);
  FcResult result = FcResultNoMatch;
  Pattern match(FcFontMatch(nullptr, pat.p, &result));
  std::optional<FontFace> found;
  FcCharSet* has = nullptr;
  FcBool outline = FcFalse;
  if (match.p != nullptr && FcPatternGetCharSet(match.p, FC_CHARSET, 0, &has) == FcResultMatch &&
      FcCharSetHasChar(has, code_point) &&
      FcPatternGetBool(match.p, FC_OUTLINE, 0, &outline) == FcResultMatch && outline) {
    found = FaceOf(match.p);
  }
  cache.emplace(key, found);
  return found;
}

std::string FormatCodePoints(const std::vector<uint32_t>& code_points) {
  std::string out;
  for (uint32_t cp : code_points) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
    if (!out.empty()) out += ", ";
    out += buf;
  }
  return out;
}

}  // namespace vantrel::host

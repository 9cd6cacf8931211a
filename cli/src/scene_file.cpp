#include "vantrel/cli/scene_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "vantrel/cli/json_locations.h"
#include "vantrel/host/fonts.h"

namespace vantrel::cli {

namespace fs = std::filesystem;
using host::Animated;
using host::Interpolation;
using host::Keyframe;
using host::Vec2;
using nlohmann::json;

namespace {

constexpr int kMaxDimension = 16384;
// Mistakes reported from one scene file; a file with more says how many
// more there are.
constexpr std::size_t kMaxReportedErrors = 20;

// At most `max_chars` characters of `s` (UTF-8 sequences count once, as in
// the columns of messages), then "…"; control characters are written as
// JSON escapes. A file can make a key, a string or a token as long as it
// likes and put line breaks in it, and a message is one line that quotes only
// the start of it.
std::string Excerpt(std::string_view s, std::size_t max_chars = 40) {
  std::string out;
  std::size_t chars = 0;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    const bool continuation = (c & 0xC0) == 0x80;
    if (!continuation && chars++ == max_chars) return out + "…";
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string Quoted(std::string_view s) { return '"' + Excerpt(s) + '"'; }

std::string QuotedList(std::initializer_list<std::string_view> items) {
  std::string out;
  for (std::string_view s : items) {
    if (!out.empty()) out += ", ";
    out += Quoted(s);
  }
  return out;
}

// A short rendering of a found value for messages.
std::string Shown(const json& value) { return Excerpt(value.dump()); }

std::string FormatNumber(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

class SceneReader {
 public:
  SceneReader(const std::string& text, const fs::path& path, const ControlCatalog& controls)
      : text_(text), path_(path), controls_(controls), where_(LocateJsonValues(text)) {}

  // Reads everything and reports every mistake found, each located, in the
  // order of the file; a mistake in one value does not hide those in others.
  SceneFile Read(const json& root) {
    SceneFile out;
    out.scene.source_file = path_;
    Collect([&] { RequireObject("", root, "the scene"); });
    if (errors_.empty()) {
      CheckKeys("", root, "the scene", {"description", "composition", "layer", "effect"});
      Collect([&] {
        if (root.contains("description")) {
          out.description = String("/description", root["description"], "\"description\"");
        }
      });
      Collect([&] {
        if (root.contains("composition")) ReadComposition(root["composition"], out.scene.comp);
      });
      // The layer's transform defaults to the identity with both points at
      // the composition's centre, so that Scale grows from the middle.
      const Vec2 centre{out.scene.comp.width / 2.0, out.scene.comp.height / 2.0};
      out.scene.layer.position = Animated<Vec2>::Constant(centre);
      out.scene.layer.anchor_point = Animated<Vec2>::Constant(centre);
      out.scene.layer.text_origin = centre;
      Collect([&] {
        if (root.contains("layer")) ReadLayer(root["layer"], out.scene.layer);
      });
      Collect([&] {
        if (root.contains("effect")) ReadEffect(root["effect"], out.scene.effect);
      });
    }
    if (errors_.empty()) return out;
    std::stable_sort(errors_.begin(), errors_.end(),
                     [](const FieldError& a, const FieldError& b) { return a.offset < b.offset; });
    std::string message;
    for (std::size_t i = 0; i < errors_.size() && i < kMaxReportedErrors; ++i) {
      message += (i == 0 ? "" : "\n") + errors_[i].message;
    }
    if (errors_.size() > kMaxReportedErrors) {
      message += "\n" + path_.string() + ": " +
                 std::to_string(errors_.size() - kMaxReportedErrors) + " more errors not shown";
    }
    throw SceneError(message);
  }

 private:
  [[noreturn]] void Fail(const std::string& pointer, bool at_key, const std::string& what) const {
    std::size_t offset = 0;
    if (auto it = where_.find(pointer); it != where_.end()) {
      offset = at_key && it->second.key_offset != std::string::npos ? it->second.key_offset
                                                                    : it->second.value_offset;
    }
    const TextPosition p = PositionOf(text_, offset);
    // One line per mistake: a line break inside a quoted name is shown as \n.
    std::string line;
    for (char c : what)
      line += c == '\n' ? std::string("\\n") : c == '\r' ? "\\r" : std::string(1, c);
    throw FieldError{offset, path_.string() + ":" + std::to_string(p.line) + ":" +
                                 std::to_string(p.column) + ": " + line};
  }

  // One mistake, at a byte offset of the text.
  struct FieldError {
    std::size_t offset;
    std::string message;
  };

  // Runs one part of the reading; a mistake in it is kept and the reading
  // goes on with the next part.
  template <class F>
  void Collect(F&& read) const {
    try {
      read();
    } catch (const FieldError& e) {
      errors_.push_back(e);
    }
  }

  void RequireObject(const std::string& ptr, const json& v, const std::string& what) const {
    if (!v.is_object()) {
      Fail(ptr, false, what + " must be an object {...}; found " + Shown(v));
    }
  }

  void CheckKeys(const std::string& ptr, const json& obj, const std::string& what,
                 std::initializer_list<std::string_view> allowed) const {
    for (const auto& item : obj.items()) {
      const std::string& key = item.key();
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        Collect([&] {
          Fail(AppendPointer(ptr, key), true,
               "unknown key " + Quoted(key) + " in " + what +
                   "; expected one of: " + QuotedList(allowed));
        });
      }
    }
  }

  std::string String(const std::string& ptr, const json& v, const std::string& name) const {
    if (!v.is_string()) Fail(ptr, false, name + " must be a string; found " + Shown(v));
    return v.get<std::string>();
  }

  double Number(const std::string& ptr, const json& v, const std::string& name, double min,
                double max) const {
    if (!v.is_number()) Fail(ptr, false, name + " must be a number; found " + Shown(v));
    const double d = v.get<double>();
    if (!(d >= min && d <= max)) {
      Fail(ptr, false,
           name + " must be from " + FormatNumber(min) + " to " + FormatNumber(max) + "; found " +
               Shown(v));
    }
    return d;
  }

  int Integer(const std::string& ptr, const json& v, const std::string& name, int min,
              int max) const {
    if (!v.is_number_integer() &&
        !(v.is_number_float() && std::floor(v.get<double>()) == v.get<double>())) {
      Fail(ptr, false, name + " must be a whole number; found " + Shown(v));
    }
    return static_cast<int>(Number(ptr, v, name, min, max));
  }

  Vec2 Pair(const std::string& ptr, const json& v, const std::string& name) const {
    if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number()) {
      Fail(ptr, false, name + " must be a pair of numbers [x, y]; found " + Shown(v));
    }
    const double lim = 1e6;
    return Vec2{Number(AppendPointer(ptr, "0"), v[0], name + " x", -lim, lim),
                Number(AppendPointer(ptr, "1"), v[1], name + " y", -lim, lim)};
  }

  // "#rrggbb" or "#aarrggbb".
  PF_Pixel Colour(const std::string& ptr, const json& v, const std::string& name) const {
    const std::string s = v.is_string() ? v.get<std::string>() : std::string();
    const bool hex = (s.size() == 7 || s.size() == 9) && s[0] == '#' &&
                     std::all_of(s.begin() + 1, s.end(), [](char c) {
                       return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                     });
    if (!hex) {
      Fail(ptr, false, name + " must be a colour \"#rrggbb\" or \"#aarrggbb\"; found " + Shown(v));
    }
    auto byte = [&](std::size_t at) {
      return static_cast<A_u_char>(std::stoi(s.substr(at, 2), nullptr, 16));
    };
    if (s.size() == 7) return PF_Pixel{255, byte(1), byte(3), byte(5)};
    return PF_Pixel{byte(1), byte(3), byte(5), byte(7)};
  }

  // A constant, or {"keys": [{"frame": f, "value": v, "interpolation": "ease"}, ...]}.
  template <class T>
  Animated<T> Animate(const std::string& ptr, const json& v, const std::string& name,
                      const std::function<T(const std::string&, const json&)>& value,
                      bool discrete = false) const {
    if (!v.is_object()) return Animated<T>::Constant(value(ptr, v));
    CheckKeys(ptr, v, name, {"keys"});
    const std::string keys_ptr = AppendPointer(ptr, "keys");
    if (!v.contains("keys")) Fail(ptr, false, name + " with keyframes needs \"keys\": [...]");
    const json& keys = v["keys"];
    if (!keys.is_array() || keys.empty()) {
      Fail(keys_ptr, false,
           name + " \"keys\" must be a non-empty list of {\"frame\", \"value\"}; found " +
               Shown(keys));
    }
    Animated<T> out;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::string key_ptr = AppendPointer(keys_ptr, std::to_string(i));
      const json& key = keys[i];
      const std::string what = name + " key " + std::to_string(i + 1);
      RequireObject(key_ptr, key, what);
      CheckKeys(key_ptr, key, what, {"frame", "value", "interpolation"});
      if (!key.contains("frame")) Fail(key_ptr, false, what + " has no \"frame\"");
      if (!key.contains("value")) Fail(key_ptr, false, what + " has no \"value\"");
      Keyframe<T> k;
      const std::string frame_ptr = AppendPointer(key_ptr, "frame");
      k.frame = Number(frame_ptr, key["frame"], what + " \"frame\"", -1e6, 1e6);
      if (!out.keys.empty() && k.frame <= out.keys.back().frame) {
        Fail(frame_ptr, false,
             name + " keyframes must be in increasing time order; frame " + FormatNumber(k.frame) +
                 " comes after frame " + FormatNumber(out.keys.back().frame));
      }
      k.value = value(AppendPointer(key_ptr, "value"), key["value"]);
      k.interpolation = discrete ? Interpolation::kHold : Interpolation::kLinear;
      if (key.contains("interpolation")) {
        const std::string ip = AppendPointer(key_ptr, "interpolation");
        const std::string s = String(ip, key["interpolation"], what + " \"interpolation\"");
        if (s == "hold") {
          k.interpolation = Interpolation::kHold;
        } else if (s == "linear" && !discrete) {
          k.interpolation = Interpolation::kLinear;
        } else if (s == "ease" && !discrete) {
          k.interpolation = Interpolation::kEase;
        } else if (discrete) {
          Fail(ip, false,
               name + " can only hold between keys; expected \"hold\"; found " +
                   Shown(key["interpolation"]));
        } else {
          Fail(ip, false,
               "unknown interpolation " + Shown(key["interpolation"]) +
                   "; expected one of: \"hold\", \"linear\", \"ease\"");
        }
      }
      out.keys.push_back(std::move(k));
    }
    return out;
  }

  void ReadComposition(const json& c, host::Composition& comp) const {
    const std::string p = "/composition";
    RequireObject(p, c, "\"composition\"");
    CheckKeys(p, c, "\"composition\"",
              {"width", "height", "fps", "duration", "background", "pixel_aspect"});
    Collect([&] {
      if (c.contains("width")) {
        comp.width = Integer(p + "/width", c["width"], "\"width\"", 1, kMaxDimension);
      }
    });
    Collect([&] {
      if (c.contains("height")) {
        comp.height = Integer(p + "/height", c["height"], "\"height\"", 1, kMaxDimension);
      }
    });
    Collect([&] {
      if (c.contains("fps")) ReadFrameRate(p + "/fps", c["fps"], comp);
    });
    Collect([&] {
      if (c.contains("duration")) {
        comp.duration_frames =
            Integer(p + "/duration", c["duration"], "\"duration\" (frames)", 1, 100000);
      }
    });
    Collect([&] {
      if (c.contains("background")) {
        comp.background = Colour(p + "/background", c["background"], "\"background\"");
      }
    });
    Collect([&] {
      if (c.contains("pixel_aspect") &&
          !(c["pixel_aspect"].is_number() && c["pixel_aspect"].get<double>() == 1.0)) {
        Fail(p + "/pixel_aspect", false,
             "only square pixels are supported; expected \"pixel_aspect\": 1; found " +
                 Shown(c["pixel_aspect"]));
      }
    });
  }

  // 30, 25, 29.97 (read as 30000/1001), or "30000/1001".
  void ReadFrameRate(const std::string& ptr, const json& v, host::Composition& comp) const {
    const std::string expected =
        "\"fps\" must be a frame rate such as 30, 29.97 or \"30000/1001\"; found " + Shown(v);
    if (v.is_string()) {
      const std::string s = v.get<std::string>();
      const std::size_t slash = s.find('/');
      const auto digits = [](std::string_view d) {
        return !d.empty() && d.size() <= 6 &&
               std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
      };
      if (slash == std::string::npos || !digits(std::string_view(s).substr(0, slash)) ||
          !digits(std::string_view(s).substr(slash + 1))) {
        Fail(ptr, false, expected);
      }
      comp.fps_num = std::stoi(s.substr(0, slash));
      comp.fps_den = std::stoi(s.substr(slash + 1));
      if (comp.fps_num == 0 || comp.fps_den == 0 || comp.fps_num > 1000 * comp.fps_den) {
        Fail(ptr, false, expected);
      }
      return;
    }
    if (!v.is_number()) Fail(ptr, false, expected);
    const double fps = Number(ptr, v, "\"fps\"", 1, 999);
    if (std::floor(fps) == fps) {
      comp.fps_num = static_cast<int>(fps);
      comp.fps_den = 1;
    } else if (std::fabs(fps * 1.001 - std::round(fps * 1.001)) < 1e-3) {
      comp.fps_num = static_cast<int>(std::round(fps * 1.001)) * 1000;  // NTSC rates
      comp.fps_den = 1001;
    } else {
      comp.fps_num = static_cast<int>(std::round(fps * 1000));
      comp.fps_den = 1000;
    }
  }

  void ReadLayer(const json& l, host::TextLayerSpec& layer) const {
    const std::string p = "/layer";
    RequireObject(p, l, "\"layer\"");
    CheckKeys(p, l, "\"layer\"",
              {"text", "font", "style", "size", "fill", "tracking", "leading", "align", "origin",
               "position", "anchor_point", "scale"});
    Collect([&] {
      if (l.contains("text")) layer.text = String(p + "/text", l["text"], "\"text\"");
    });
    Collect([&] { ReadFont(p, l, layer); });
    Collect([&] {
      if (l.contains("size")) layer.font_size = Number(p + "/size", l["size"], "\"size\"", 1, 2000);
    });
    Collect([&] {
      if (l.contains("fill")) layer.fill = Colour(p + "/fill", l["fill"], "\"fill\"");
    });
    Collect([&] {
      if (l.contains("tracking")) {
        layer.tracking =
            Number(p + "/tracking", l["tracking"], "\"tracking\" (1/1000 em)", -1000, 10000);
      }
    });
    Collect([&] {
      if (l.contains("leading")) {
        layer.leading =
            Number(p + "/leading", l["leading"], "\"leading\" (pixels, 0 = automatic)", 0, 10000);
      }
    });
    Collect([&] {
      if (l.contains("align")) {
        const std::string s = String(p + "/align", l["align"], "\"align\"");
        if (s == "left") {
          layer.align = host::TextAlign::kLeft;
        } else if (s == "center") {
          layer.align = host::TextAlign::kCenter;
        } else if (s == "right") {
          layer.align = host::TextAlign::kRight;
        } else {
          Fail(p + "/align", false,
               "unknown \"align\" " + Shown(l["align"]) +
                   "; expected one of: \"left\", \"center\", \"right\"");
        }
      }
    });
    Collect([&] {
      if (l.contains("origin")) layer.text_origin = Pair(p + "/origin", l["origin"], "\"origin\"");
    });
    const std::function<Vec2(const std::string&, const json&)> pair_of =
        [this](const std::string& ptr, const json& v) { return Pair(ptr, v, "the value"); };
    Collect([&] {
      if (l.contains("position")) {
        layer.position = Animate<Vec2>(p + "/position", l["position"], "\"position\"", pair_of);
      }
    });
    Collect([&] {
      if (l.contains("anchor_point")) {
        layer.anchor_point =
            Animate<Vec2>(p + "/anchor_point", l["anchor_point"], "\"anchor_point\"", pair_of);
      }
    });
    Collect([&] {
      if (l.contains("scale")) {
        // Percent; one number scales both axes.
        const std::function<Vec2(const std::string&, const json&)> scale_of =
            [this](const std::string& ptr, const json& v) {
              if (v.is_number()) {
                const double s = Number(ptr, v, "\"scale\"", -1e5, 1e5);
                return Vec2{s, s};
              }
              return Pair(ptr, v, "\"scale\" (percent, a number or [x, y])");
            };
        layer.scale = Animate<Vec2>(p + "/scale", l["scale"], "\"scale\"", scale_of);
      }
    });
  }

  // A font file (a name ending in a font extension or holding a folder) or
  // a family name or fontconfig pattern, with "style" for a family.
  void ReadFont(const std::string& p, const json& l, host::TextLayerSpec& layer) const {
    const std::string style =
        l.contains("style") ? String(p + "/style", l["style"], "\"style\"") : "";
    if (!l.contains("font")) {
      if (!style.empty()) {
        Fail(p + "/style", false, "\"style\" needs a \"font\" family, such as \"DejaVu Sans\"");
      }
      return;
    }
    const std::string name = String(p + "/font", l["font"], "\"font\"");
    if (!IsFontFileName(name)) {
      const host::FontLookup found = host::FindFontFamily(name, style);
      if (!found.face) Fail(p + (found.no_such_style ? "/style" : "/font"), false, found.problem);
      layer.font_file = found.face->file;
      layer.font_index = found.face->index;
      return;
    }
    if (!style.empty()) {
      Fail(p + "/style", false,
           "\"style\" goes with a family name; the font file " + Quoted(name) +
               " is one style already");
    }
    layer.font_file = ResolveFontFile(p + "/font", name);
  }

  static bool IsFontFileName(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name.find('/') != std::string::npos || ext == ".ttf" || ext == ".otf" || ext == ".ttc" ||
           ext == ".otc" || ext == ".pfb" || ext == ".woff" || ext == ".woff2";
  }

  fs::path ResolveFontFile(const std::string& ptr, const fs::path& name) const {
    std::error_code ec;
    if (name.is_absolute()) {
      if (fs::is_regular_file(name, ec)) return name;
      Fail(ptr, false, "font file " + Quoted(name.string()) + " not found");
    }
    const fs::path beside = path_.parent_path() / name;
    if (fs::is_regular_file(beside, ec)) return fs::absolute(beside, ec);
    if (!name.has_parent_path()) {
      if (auto installed = host::FindInstalledFontFile(name.string())) return *installed;
    }
    const std::string folder =
        path_.parent_path().empty() ? std::string(".") : path_.parent_path().string();
    Fail(ptr, false,
         "font file " + Quoted(name.string()) + " not found; looked in \"" + folder + "\"" +
             (name.has_parent_path() ? "" : " and the installed fonts") +
             "; expected a .ttf or .otf file, relative to the scene file or absolute");
  }

  void ReadEffect(const json& e, host::EffectSettings& effect) const {
    const std::string p = "/effect";
    RequireObject(p, e, "\"effect\"");
    for (const auto& item : e.items()) {
      const std::string& name = item.key();
      const json& value = item.value();
      Collect([&] {
        const std::string ptr = AppendPointer(p, name);
        const ControlInfo* control = controls_.Find(name);
        if (control == nullptr) {
          Fail(ptr, true,
               "unknown control " + Quoted(name) + "; expected one of: " + controls_.NameList());
        }
        const std::function<double(const std::string&, const json&)> read =
            [this, control](const std::string& vp, const json& v) {
              return ControlValue(vp, v, *control);
            };
        effect.controls[control->index] =
            Animate<double>(ptr, value, Quoted(name), read, control->kind != ControlKind::kSlider);
      });
    }
  }

  double ControlValue(const std::string& ptr, const json& v, const ControlInfo& c) const {
    const std::string name = Quoted(c.name);
    switch (c.kind) {
      case ControlKind::kSlider:
        return Number(ptr, v, name, c.min, c.max);
      case ControlKind::kCheckbox:
        if (!v.is_boolean()) Fail(ptr, false, name + " must be true or false; found " + Shown(v));
        return v.get<bool>() ? 1 : 0;
      case ControlKind::kPopup: {
        std::string list;
        for (const std::string& choice : c.choices) {
          if (!list.empty()) list += ", ";
          list += Quoted(choice);
        }
        if (v.is_string()) {
          const auto it = std::find(c.choices.begin(), c.choices.end(), v.get<std::string>());
          if (it != c.choices.end()) return static_cast<double>(it - c.choices.begin() + 1);
          Fail(ptr, false,
               "unknown choice " + Shown(v) + " for " + name + "; expected one of: " + list);
        }
        Fail(ptr, false, name + " must be one of: " + list + "; found " + Shown(v));
      }
    }
    return 0;
  }

  const std::string& text_;
  fs::path path_;
  const ControlCatalog& controls_;
  std::map<std::string, JsonLocation> where_;
  mutable std::vector<FieldError> errors_;
};

// "[json.exception.out_of_range.406] number overflow parsing '1e400'" ->
// "number overflow parsing '1e400'".
std::string WithoutExceptionId(const std::string& what) {
  const std::size_t end = what.rfind("] ", what.find(' '));
  return end == std::string::npos ? what : what.substr(end + 2);
}

// The library's message without its "[json.exception...] parse error at line
// L, column C: " prefix (the caller locates the error itself), and with the
// token it quotes ('...') cut to an excerpt: the token runs to wherever the
// parser stopped, which a file can put megabytes away. `last_token` is the
// token as the parser handed it to the error callback, the same text the
// message quotes.
std::string LibraryErrorDetail(const std::string& what, const std::string& last_token) {
  std::string detail = WithoutExceptionId(what);
  if (const std::size_t at = detail.find(" at line "); at != std::string::npos) {
    if (const std::size_t colon = detail.find(": ", at); colon != std::string::npos) {
      detail.erase(0, colon + 2);
    }
  }
  if (const std::size_t at = detail.find('\'' + last_token + '\'');
      !last_token.empty() && at != std::string::npos) {
    detail.replace(at + 1, last_token.size(), Excerpt(last_token));
  }
  return detail;
}

// The library's builder of JSON values, remembering where the parser stopped:
// the library reports a number beyond the range of double as an out_of_range
// error, which carries no position.
class LocatingDomParser : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  using json_sax_dom_parser::json_sax_dom_parser;

  template <class Exception>
  bool parse_error(std::size_t position, const std::string& last_token, const Exception& ex) {
    token_start = position >= last_token.size() ? position - last_token.size() : 0;
    token = last_token;
    return json_sax_dom_parser::parse_error(position, last_token, ex);
  }

  std::size_t token_start = 0;
  std::string token;
};

// A scene file nests six levels deep ({"layer": {"position": {"keys": [{"value":
// [...]}]}}}); much deeper text is refused before the location scan and the
// messages' value dumps, both of which recurse once per level.
constexpr int kMaxNesting = 64;

}  // namespace

SceneFile ParseSceneText(const std::string& text, const fs::path& path,
                         const ControlCatalog& controls) {
  json root;
  LocatingDomParser parser(root);
  try {
    json::sax_parse(text, &parser);
  } catch (const json::parse_error& e) {
    // The exception's byte counts from 1 and points just past the character
    // at which the parser gave up.
    const TextPosition p = PositionOf(text, e.byte == 0 ? 0 : e.byte - 1);
    throw SceneError(path.string() + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) +
                     ": not valid JSON: " + LibraryErrorDetail(e.what(), parser.token));
  } catch (const json::exception& e) {
    const TextPosition p = PositionOf(text, parser.token_start);
    throw SceneError(path.string() + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) +
                     ": " + LibraryErrorDetail(e.what(), parser.token));
  }
  if (const std::size_t at = FindNestingBeyond(text, kMaxNesting); at != std::string::npos) {
    const TextPosition p = PositionOf(text, at);
    throw SceneError(path.string() + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) +
                     ": nested deeper than " + std::to_string(kMaxNesting) +
                     " levels of [...] and {...}");
  }
  return SceneReader(text, path, controls).Read(root);
}

SceneFile ReadSceneFile(const fs::path& path, const ControlCatalog& controls) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SceneError(path.string() + ": cannot open the scene file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw SceneError(path.string() + ": cannot read the scene file");
  return ParseSceneText(text.str(), path, controls);
}

}  // namespace vantrel::cli

#include "vantrel/cli/json_locations.h"

#include <nlohmann/json.hpp>

namespace vantrel::cli {

namespace {

// A UTF-8 byte order mark, which the JSON parser skips and editors do not show.
std::size_t SkipByteOrderMark(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

}  // namespace

TextPosition PositionOf(std::string_view text, std::size_t offset) {
  TextPosition p;
  offset = std::min(offset, text.size());
  for (std::size_t i = SkipByteOrderMark(text); i < offset; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++p.line;
      p.column = 1;
    } else if ((c & 0xC0) != 0x80) {  // not a UTF-8 continuation byte
      ++p.column;
    }
  }
  return p;
}

std::string AppendPointer(const std::string& pointer, std::string_view token) {
  std::string out = pointer + '/';
  for (char c : token) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::map<std::string, JsonLocation> Run() {
    pos_ = SkipByteOrderMark(text_);
    Value("", std::string::npos);
    return std::move(found_);
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  // Reads a string literal at pos_ and returns it decoded.
  std::string String() {
    const std::size_t start = pos_++;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      pos_ += text_[pos_] == '\\' ? 2 : 1;
    }
    ++pos_;
    return nlohmann::json::parse(text_.substr(start, pos_ - start)).get<std::string>();
  }

  void Value(const std::string& pointer, std::size_t key_offset) {
    SkipSpace();
    found_[pointer] = JsonLocation{key_offset, pos_};
    if (pos_ >= text_.size()) return;
    const char c = text_[pos_];
    if (c == '{') {
      ++pos_;
      for (;;) {
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] == '}') break;
        if (text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        const std::size_t key_at = pos_;
        const std::string key = String();
        SkipSpace();
        ++pos_;  // ':'
        Value(AppendPointer(pointer, key), key_at);
      }
      ++pos_;
    } else if (c == '[') {
      ++pos_;
      int index = 0;
      for (;;) {
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] == ']') break;
        if (text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        Value(AppendPointer(pointer, std::to_string(index++)), std::string::npos);
      }
      ++pos_;
    } else if (c == '"') {
      String();
    } else {
      while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != ']' &&
             text_[pos_] != '}' && text_[pos_] != ' ' && text_[pos_] != '\n' &&
             text_[pos_] != '\r' && text_[pos_] != '\t') {
        ++pos_;
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::map<std::string, JsonLocation> found_;
};

}  // namespace

std::size_t FindNestingBeyond(std::string_view text, int max_depth) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;  // the escaped character
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::string::npos;
}

std::map<std::string, JsonLocation> LocateJsonValues(std::string_view text) {
  return Scanner(text).Run();
}

}  // namespace vantrel::cli

// Where each value of a JSON text sits, so that a message about a value can
// name its line and column. The JSON library checks the syntax; this scanner
// runs afterwards over text already known to be valid.
#ifndef VANTREL_CLI_JSON_LOCATIONS_H
#define VANTREL_CLI_JSON_LOCATIONS_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace vantrel::cli {

struct TextPosition {
  int line = 1;    // 1-based
  int column = 1;  // 1-based, in characters (UTF-8 sequences count once)
};

// Byte offset -> line and column.
TextPosition PositionOf(std::string_view text, std::size_t offset);

struct JsonLocation {
  std::size_t key_offset =
      std::string::npos;  // the member's key; npos for array items and the root
  std::size_t value_offset = 0;
};

// Locations by JSON pointer ("" for the root, "/layer/position/keys/0"),
// with "~" and "/" in keys escaped as "~0" and "~1". `text` must be valid JSON.
std::map<std::string, JsonLocation> LocateJsonValues(std::string_view text);

// The offset of the first '[' or '{' that opens a level deeper than
// `max_depth` (the root value is level 1), or npos when there is none. `text`
// must be valid JSON. Works in one pass without recursion.
std::size_t FindNestingBeyond(std::string_view text, int max_depth);

// One more reference token appended to a JSON pointer.
std::string AppendPointer(const std::string& pointer, std::string_view token);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_JSON_LOCATIONS_H

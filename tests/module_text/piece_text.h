// Pieces written as text, so that a failing test shows the whole list:
// "[l=10 r=22 t=5 b=30 line=0 idx=0] [l=...]". Numbers are the shortest
// text that reads back as the same double, so equal text means equal values.
#ifndef VANTREL_TESTS_MODULE_TEXT_PIECE_TEXT_H
#define VANTREL_TESTS_MODULE_TEXT_PIECE_TEXT_H

#include <charconv>
#include <string>
#include <vector>

#include "text/text.h"

namespace vantrel::testing {

inline std::string Number(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

inline std::string PiecesText(const std::vector<Piece>& pieces) {
  std::string text;
  for (const Piece& piece : pieces) {
    if (!text.empty()) text += ' ';
    text += "[l=" + Number(piece.left) + " r=" + Number(piece.right) + " t=" + Number(piece.top) +
            " b=" + Number(piece.bottom) + " line=" + std::to_string(piece.line) +
            " idx=" + std::to_string(piece.index);
    if (piece.tracking_offset != 0) text += " trk=" + Number(piece.tracking_offset);
    text += ']';
  }
  return text;
}

// A fresh piece with only its box set, as the outline walk leaves it.
inline Piece Box(double left, double right, double top, double bottom) {
  Piece piece;
  piece.left = left;
  piece.right = right;
  piece.top = top;
  piece.bottom = bottom;
  return piece;
}

}  // namespace vantrel::testing

#endif  // VANTREL_TESTS_MODULE_TEXT_PIECE_TEXT_H

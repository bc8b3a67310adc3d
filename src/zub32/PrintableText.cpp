#include "zub32/PrintableText.h"

#include <algorithm>

namespace zub32 {
namespace {

constexpr std::string_view kEllipsis = "...";

bool IsLineSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string OneLine(std::string_view text, std::size_t max_length) {
  // Each piece is one byte as shown; the cut falls between pieces.
  std::string line;
  std::size_t cut = std::string::npos;  // where the ellipsis would go
  const std::size_t keep = max_length > kEllipsis.size() ? max_length - kEllipsis.size() : 0;
  bool pending_blank = false;
  for (const char c : text) {
    if (IsLineSpace(c)) {
      pending_blank = !line.empty();
      continue;
    }
    std::string piece = pending_blank ? " " : "";
    piece += PrintableBytes(std::string_view(&c, 1));
    pending_blank = false;
    if (cut == std::string::npos && line.size() + piece.size() > keep) cut = line.size();
    if (line.size() + piece.size() > max_length) {
      // Too long: cut where the ellipsis still fits, or bare where it does
      // not fit at all.
      if (max_length <= kEllipsis.size()) {
        line.resize(std::min(line.size(), max_length));
      } else {
        line.resize(cut);
        line += kEllipsis;
      }
      return line;
    }
    line += piece;
  }
  return line;
}

}  // namespace zub32

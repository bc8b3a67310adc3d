#include "zub32/PrintableText.h"

#include <algorithm>

namespace zub32 {
namespace {

constexpr std::string_view kEllipsis = "...";

bool IsLineSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

BoundedText::BoundedText(std::size_t max_length, std::string_view mark)
    : max_length_(max_length),
      keep_(max_length > mark.size() ? max_length - mark.size() : 0),
      mark_(mark) {}

bool BoundedText::Append(std::string_view piece) {
  if (full_) return false;
  if (cut_ == std::numeric_limits<std::size_t>::max() &&
      (text_.size() > keep_ || piece.size() > keep_ - text_.size())) {
    cut_ = text_.size();
  }
  if (piece.size() <= max_length_ - text_.size()) {
    text_ += piece;
    return true;
  }
  full_ = true;
  if (max_length_ <= mark_.size()) {
    text_.resize(std::min(text_.size(), max_length_));
  } else {
    text_.resize(cut_);
    text_ += mark_;
  }
  return false;
}

std::string OneLine(std::string_view text, std::size_t max_length) {
  BoundedText line(max_length, kEllipsis);
  bool pending_blank = false;
  for (const char c : text) {
    if (IsLineSpace(c)) {
      pending_blank = !line.text().empty();
      continue;
    }
    std::string piece = pending_blank ? " " : "";
    piece += PrintableBytes(std::string_view(&c, 1));
    pending_blank = false;
    if (!line.Append(piece)) break;
  }
  return line.text();
}

}  // namespace zub32

// Arbitrary texts and delimiters for Between, the program's only text
// extractor. The result must be a part of the source (it is cut out of the
// page or the feed, never made up) and equal what a plain byte-by-byte
// definition gives.
//
// Input: one byte with the start delimiter's length, one with the end
// delimiter's (each modulo 16), the two delimiters, then the source.
#include <cstddef>
#include <cstdint>
#include <string>

#include "zub32/TextFiles.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The first position at or after from where part occurs in text, or
// text.size() + 1 when it does not; an empty part occurs at from.
std::size_t FirstAt(const std::string& text, const std::string& part, std::size_t from) {
  for (std::size_t i = from; i + part.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t k = 0; k < part.size() && same; ++k) same = text[i + k] == part[k];
    if (same) return i;
  }
  return text.size() + 1;
}

// Everything after the first start delimiter, cut before the first end
// delimiter after it; empty when the start delimiter does not occur.
std::string Reference(const std::string& source, const std::string& start, const std::string& end) {
  const std::size_t found = FirstAt(source, start, 0);
  if (found > source.size()) return "";
  const std::size_t from = found + start.size();
  std::size_t to = end.empty() ? source.size() : FirstAt(source, end, from);
  if (to > source.size()) to = source.size();
  return source.substr(from, to - from);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t start_length = data[0] % 16;
  const std::size_t end_length = data[1] % 16;
  if (size - 2 < start_length + end_length) return 0;
  const char* text = reinterpret_cast<const char*>(data) + 2;
  const std::string start(text, start_length);
  const std::string end(text + start_length, end_length);
  const std::string source(text + start_length + end_length, size - 2 - start_length - end_length);

  const std::string result = zub32::Between(source, start, end);
  Check(result.size() <= source.size());
  Check(source.find(result) != std::string::npos);
  Check(result == Reference(source, start, end));
  // The end delimiter never occurs inside the result.
  Check(end.empty() || result.find(end) == std::string::npos);
  return 0;
}

#include "support/LoopPage30Listing.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "support/Golden.h"

namespace testing_support {
namespace {

constexpr std::string_view kPlaceholders[] = {"{CREATED}", "{VERSION}", "{SELFNAME}",
                                              "{HOST}",    "{DELAY}",   "{CB}"};

std::vector<std::string> SplitPageLines(const std::string& page, bool& ends_with_crlf,
                                        bool& stray_line_end) {
  std::vector<std::string> lines;
  ends_with_crlf = page.size() >= 2 && page.compare(page.size() - 2, 2, "\r\n") == 0;
  stray_line_end = false;
  std::size_t start = 0;
  while (start < page.size()) {
    const std::size_t end = page.find("\r\n", start);
    const std::string line =
        page.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.find_first_of("\r\n") != std::string::npos) stray_line_end = true;
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

// The placeholder at position i of a listing line, or empty.
std::string_view PlaceholderAt(const std::string& line, std::size_t i) {
  for (std::string_view name : kPlaceholders) {
    if (line.compare(i, name.size(), name) == 0) return name;
  }
  return {};
}

}  // namespace

ValueCheck Exactly(std::string expected) {
  return [expected = std::move(expected)](const std::string& value) { return value == expected; };
}

ValueCheck AnyOfForms(std::vector<std::string> forms) {
  return [forms = std::move(forms)](const std::string& value) {
    for (const std::string& form : forms) {
      bool matches = form.size() == value.size();
      for (std::size_t k = 0; matches && k < form.size(); ++k) {
        matches = form[k] == '#' ? (value[k] >= '0' && value[k] <= '9') : value[k] == form[k];
      }
      if (matches) return true;
    }
    return false;
  };
}

std::vector<std::string> LoopPage30ListingLines() {
  std::vector<std::string> lines;
  std::istringstream in(Golden("loop-page-30.listing"));
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string DiffAgainstLoopPage30(const std::string& page, const ListingValues& values) {
  if (!values.created || values.cache_busters.empty()) return "incomplete listing values";
  bool ends_with_crlf = false;
  bool stray_line_end = false;
  const std::vector<std::string> actual = SplitPageLines(page, ends_with_crlf, stray_line_end);
  const std::vector<std::string> expected = LoopPage30ListingLines();
  if (!ends_with_crlf) return "the page does not end with CR LF";
  if (stray_line_end) return "the page has a line end other than CR LF";
  if (actual.size() != expected.size()) {
    return "the page has " + std::to_string(actual.size()) + " lines, the listing " +
           std::to_string(expected.size());
  }
  std::size_t cache_buster = 0;
  for (std::size_t n = 0; n < expected.size(); ++n) {
    const std::string& line = expected[n];
    const std::string& text = actual[n];
    const std::string difference =
        "line " + std::to_string(n + 1) + " is \"" + text + "\", the listing has \"" + line + "\"";
    // Literal pieces must match exactly; a placeholder's value runs up to
    // the next literal piece (no inserted value contains the text after it).
    std::size_t at = 0;
    for (std::size_t i = 0; i < line.size();) {
      const std::string_view name = PlaceholderAt(line, i);
      if (name.empty()) {
        if (at >= text.size() || text[at] != line[i]) return difference;
        ++at;
        ++i;
        continue;
      }
      i += name.size();
      std::size_t literal_end = i;
      while (literal_end < line.size() && PlaceholderAt(line, literal_end).empty()) ++literal_end;
      const std::string literal = line.substr(i, literal_end - i);
      const std::size_t value_end = literal.empty() ? text.size() : text.find(literal, at);
      if (value_end == std::string::npos) return difference;
      const std::string value = text.substr(at, value_end - at);
      at = value_end;
      bool matches = false;
      if (name == "{CREATED}") {
        matches = values.created(value);
      } else if (name == "{VERSION}") {
        matches = value == values.version;
      } else if (name == "{SELFNAME}") {
        matches = value == values.self_name;
      } else if (name == "{HOST}") {
        matches = value == values.host;
      } else if (name == "{DELAY}") {
        matches = value == values.delay;
      } else {
        const std::size_t k = std::min(cache_buster, values.cache_busters.size() - 1);
        matches = values.cache_busters[k](value);
        ++cache_buster;
      }
      if (!matches) return difference + " (value \"" + value + "\")";
    }
    if (at != text.size()) return difference;
  }
  return "";
}

}  // namespace testing_support

#include "zub32/IniFile.h"

#include "platform/AsciiText.h"

namespace zub32 {

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::map<std::string, std::string> ParseIni(std::string_view text,
                                            std::vector<std::string>& warnings,
                                            std::vector<std::string>* keys_as_written) {
  std::map<std::string, std::string> values;
  // A byte-order mark, as some editors write one, is not part of the first key.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw_line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    const std::string_view line = Trim(raw_line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') continue;
    const std::size_t equals = line.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
    if (key.empty()) {
      warnings.push_back(std::string(kConfigFileName) + " line " + std::to_string(line_number) +
                         ": not a Key=Value line; skipped");
      continue;
    }
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    values[platform::AsciiLower(key)] = std::string(value);
    if (keys_as_written != nullptr) keys_as_written->emplace_back(key);
  }
  return values;
}

}  // namespace zub32

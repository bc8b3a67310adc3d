// The configuration file: its name, its size limit and its Key=Value lines.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zub32 {

// The name of the configuration file in the program directory.
inline constexpr const char* kConfigFileName = "vesk.ini";
// A longer configuration file, or one that is not a regular file, is not
// read.
inline constexpr std::size_t kMaxConfigFileBytes = 64 * 1024;

// Parses the text of vesk.ini: Key=Value lines, keys without regard to case
// (the map's keys are lower-cased), blanks around keys and values trimmed,
// one pair of double quotes around a value removed; lines whose first
// non-blank character is '#' or ';' are comments, [section] lines and blank
// lines are skipped, a later line wins over an earlier one. A line of any
// other form adds a warning (with its line number) and is skipped. When
// keys_as_written is given, each key is appended to it as the file spells
// it, in file order.
std::map<std::string, std::string> ParseIni(std::string_view text,
                                            std::vector<std::string>& warnings,
                                            std::vector<std::string>* keys_as_written = nullptr);

// The text without the blanks and line ends around it, as keys and values
// are read.
std::string_view Trim(std::string_view text);

}  // namespace zub32

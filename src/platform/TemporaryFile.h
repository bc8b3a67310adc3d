// The names this program gives its temporary files, and the removal of
// those a killed run left behind.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace platform {

// How many fresh temporary names are tried before giving up on a clash.
inline constexpr int kMaxTempNameAttempts = 100;

// Splits path at its last '/' into the directory ("." when there is none,
// "/" at the root) and the name within it (empty when path ends in '/').
void SplitPath(const std::string& path, std::string& directory, std::string& base);

// A fresh temporary name beside the file base of directory; IsTemporaryName
// knows its form.
std::string TemporaryName(const std::string& directory, const std::string& base);

// True for a name that this program gives its temporary files: "." + the
// name it stands for + "." + eight random letters or digits + ".tmp".
bool IsTemporaryName(std::string_view name);

// Removes the temporary files of this program's naming in directory that
// date from before started: what a run that was killed left behind. Only
// regular files are removed; nothing is reported, since a leftover that
// stays harms nothing but space.
void RemoveStaleTemporaries(const std::string& directory,
                            std::chrono::system_clock::time_point started);

}  // namespace platform

// System information helpers: memory, up-time, the program directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zub32/Records.h"

namespace zub32 {

void GetMemoryStatus(tMemoryStatusRec& Rec);
void MachineUpTime(tMachineUpTime& Rec);
// The same arithmetic for a given tick count.
void MachineUpTimeFromTicks(std::uint32_t ticks, tMachineUpTime& Rec);

// The environment variable that names another program directory than the
// executable's own.
inline constexpr const char* kHomeVariable = "VESK_HOME";

// The directory VESK_HOME names, as it is set; nullopt when it is unset or
// empty.
std::optional<std::string> HomeFromEnvironment();

// The program directory with a trailing '/' for an empty ExeName: VESK_HOME
// when set and non-empty, else the executable's own directory.
std::string GetEXEPath(const std::string& ExeName);

// Why the executable's own directory (with a trailing '/') must not serve as
// the program directory: "a system directory (under /usr)" for one under
// /usr, /bin, /sbin or /opt, else what platform::DirectoryWriteProblem
// finds ("not writable for this user (<reason>)"). nullopt when it may.
std::optional<std::string> SystemDirectoryProblem(const std::string& directory);

// Whether the program directory could be made the working directory, and
// which directory that is (empty when it could not even be found).
struct ProgramDirectoryEntry {
  bool entered = false;
  std::string directory;
};

// Makes the program directory the working directory and records it in
// GlobalSettings.EXEPath.
ProgramDirectoryEntry EnterProgramDirectory();

// EnterProgramDirectory with a text result: the directory, or
// "Error - " + directory.
std::string SetPathToEXEPath();

std::string BooleanTStr(bool Value, const std::string& TrueText, const std::string& FalseText);

}  // namespace zub32

// Entering the program directory at the start of a run: the directory
// itself, whether this user can create files in it, the run lock and the
// configuration.
#pragma once

#include <optional>

#include "platform/FileLock.h"
#include "refresh/RunContext.h"

namespace refresh {

// The run lock's file in the program directory.
inline constexpr const char* kLockFileName = "vesk.lock";

// Enters the program directory and sets the run's names. The exit code when
// the run ends here: the directory cannot be entered, is a system directory
// (without VESK_HOME) or holds no file this user can create.
std::optional<int> EnterDirectory(RunContext& run);

// Takes the run lock in the program directory for the rest of the run. False
// when another run holds it: a scheduler started this run while the last one
// was still going, and this one leaves every file to it. A lock file that
// cannot be locked (a link or a directory at its name, a file system
// without locks) does not stop the run.
bool TakeRunLock(std::optional<platform::FileLock>& lock);

// Loads the run's configuration and prints its warnings on standard error.
void LoadRunConfiguration(RunContext& run);

}  // namespace refresh

// One refresh run from start to exit: its start in the program directory,
// then its stages in order, each due by the outcome of those before it.
#pragma once

#include "platform/Version.h"

namespace refresh {

inline constexpr const char* kSelfName = "VESK";
inline constexpr const char* kVersion = platform::kVeskVersion;
inline constexpr const char* kExceptionFileName = "e!vesk.xml";
// Exit code of a run whose program directory cannot be entered, holds no
// file this user can create or, without VESK_HOME, is a system directory;
// every run that gets going ends with 0, failures included.
inline constexpr int kExitNoProgramDirectory = 2;

// One refresh run; first_parameter is null when there is none.
int Run(const char* first_parameter);

}  // namespace refresh

// Saves what a test may change of the program's process-wide state and
// puts it back when it goes away, so that no test leaks into the next.
#pragma once

#include <filesystem>

#include "zub32/Records.h"

namespace testing_support {

// Keeps GlobalSettings and the working directory, and on destruction
// restores them, returns the clock and the regional settings to the
// system's, and the reports to their state outside a run (nothing written
// yet, no syslog). Hold one as the first member of a fixture.
class ProgramState {
 public:
  ProgramState();
  ~ProgramState();
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

 private:
  zub32::tGlobalSettings settings_;
  std::filesystem::path directory_;
};

}  // namespace testing_support

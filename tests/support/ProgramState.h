// Saves what a test may change of the program's process-wide state and
// puts it back when it goes away, so that no test leaks into the next.
#pragma once

#include <filesystem>

#include "zub32/Config.h"
#include "zub32/Records.h"

namespace testing_support {

// Keeps GlobalSettings, the run's configuration and the working directory,
// and on destruction restores them and returns the clock and the regional
// settings to the system's. Hold one as the first member of a fixture.
class ProgramState {
 public:
  ProgramState();
  ~ProgramState();
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

 private:
  zub32::tGlobalSettings settings_;
  zub32::Configuration config_;
  std::filesystem::path directory_;
};

}  // namespace testing_support

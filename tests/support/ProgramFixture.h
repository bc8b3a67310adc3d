// The set-up the end-to-end tests share: the built vesk copied into a
// temporary program directory, so that it finds its directory next to
// itself, and a second empty directory to run it from.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace testing_support {

class ProgramFixture : public ::testing::Test {
 protected:
  // With a background, the program directory also holds the simulator's
  // map, on which a run with a new frame draws the overlay.
  explicit ProgramFixture(bool with_background = false) : with_background_(with_background) {}

  // Fails without VESK_BINARY (and VESK_SIM_BINARY for the background).
  void SetUp() override;

  // The copied vesk's options (see VeskRunOptions, which turns syslog off)
  // from elsewhere_, with both hosts at host_port unless it is empty.
  ProcessOptions RunOptions(const std::string& host_port = "") const;

  // Runs it to its end; a run that times out or fails fails the test.
  static ProcessResult RunToSuccess(const ProcessOptions& options);

  TempDir program_;
  TempDir elsewhere_;

 private:
  bool with_background_;
};

}  // namespace testing_support

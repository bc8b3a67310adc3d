#include "support/ProgramFixture.h"

#include "support/RequireEnvironment.h"
#include "support/SimProcess.h"

namespace testing_support {

void ProgramFixture::SetUp() {
  REQUIRE_ENVIRONMENT("VESK_BINARY");
  CopyExecutable(VeskBinary(), program_.File("vesk"));
  if (!with_background_) return;
  REQUIRE_ENVIRONMENT("VESK_SIM_BINARY");
  ASSERT_TRUE(WriteSimBackground(program_.File("IDR641.background.bmp")));
}

ProcessOptions ProgramFixture::RunOptions(const std::string& host_port) const {
  ProcessOptions options = VeskRunOptions(program_.File("vesk"), elsewhere_.path());
  if (!host_port.empty()) {
    options.environment["VESK_RADAR_HOST"] = host_port;
    options.environment["VESK_PUBLISH_HOST"] = host_port;
  }
  return options;
}

ProcessResult ProgramFixture::RunToSuccess(const ProcessOptions& options) {
  ProcessResult result = RunProcess(options);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  return result;
}

}  // namespace testing_support

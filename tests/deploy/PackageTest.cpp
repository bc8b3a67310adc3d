// The Debian package made from the built tree (CPack, as scripts/package
// does it), unpacked into a temporary root with dpkg-deb: its dependencies,
// its files, and the unpacked program doing a whole refresh run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/FindProgram.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

using testing_support::FindProgram;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::RunTool;
using testing_support::TempDir;

constexpr const char* kVersion = "2024.7.22.2151";

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cpack_ = FindProgram("cpack");
    dpkg_deb_ = FindProgram("dpkg-deb");
    if (cpack_.empty()) GTEST_SKIP() << "cpack is not installed";
    if (dpkg_deb_.empty()) GTEST_SKIP() << "dpkg-deb is not installed";
    if (!std::filesystem::exists(VESK_CPACK_CONFIG)) {
      GTEST_SKIP() << VESK_CPACK_CONFIG << " is missing";
    }
  }

  std::string cpack_;
  std::string dpkg_deb_;
};

TEST_F(PackageTest, UnpackedPackageRunsARefresh) {
  // Packing takes the programs as built; nothing is compiled here.
  TempDir work;
  ProcessOptions pack;
  pack.binary = cpack_;
  pack.args = {"-G", "DEB", "--config", VESK_CPACK_CONFIG, "-B", work.path()};
  pack.working_directory = work.path();
  pack.time_limit = std::chrono::minutes(4);
  const ProcessResult packed = RunProcess(pack);
  ASSERT_EQ(packed.exit_code, 0) << packed.out << packed.err;
  std::vector<std::string> debs;
  for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
    if (entry.path().extension() == ".deb") debs.push_back(entry.path());
  }
  ASSERT_EQ(debs.size(), 1u) << packed.out;
  const std::string deb = debs.front();

  const ProcessResult fields =
      RunTool(dpkg_deb_, {"--field", deb, "Package", "Version", "Depends"});
  ASSERT_EQ(fields.exit_code, 0) << fields.err;
  EXPECT_NE(fields.out.find("Package: vesk\n"), std::string::npos) << fields.out;
  EXPECT_NE(fields.out.find(std::string("Version: ") + kVersion), std::string::npos) << fields.out;
  // What a run needs: FreeType, fontconfig and a font for the overlay, OpenSSL and the
  // certificate store for https, libpng and libwebp for loop.webp.
  for (const char* dependency :
       {"libfreetype6", "libfontconfig1", "libssl3", "ca-certificates", "fonts-dejavu-core",
        "libc6", "libstdc++6", "libpng16-16", "libwebp7", "libwebpmux3"}) {
    EXPECT_NE(fields.out.find(dependency), std::string::npos) << dependency << "\n" << fields.out;
  }

  TempDir root;
  const ProcessResult unpacked = RunTool(dpkg_deb_, {"-x", deb, root.path()});
  ASSERT_EQ(unpacked.exit_code, 0) << unpacked.err;
  for (const char* file :
       {"usr/bin/vesk", "usr/bin/vesk-sim", "usr/share/man/man1/vesk.1",
        "usr/share/doc/vesk/README.md", "usr/share/doc/vesk/examples/vesk.service",
        "usr/share/doc/vesk/examples/vesk.timer", "usr/share/doc/vesk/examples/vesk.cron",
        "usr/share/doc/vesk/examples/nginx-vesk.conf", "usr/share/doc/vesk/examples/vesk@.service",
        "usr/share/doc/vesk/examples/vesk@.timer"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(root.File(file))) << file;
  }

  const std::string vesk = root.File("usr/bin/vesk");
  const ProcessResult version = RunTool(vesk, {"--version"});
  EXPECT_EQ(version.exit_code, 0) << version.err;
  EXPECT_EQ(version.out, std::string("vesk ") + kVersion + "\n");

  // A whole run of the unpacked program, its directory given as a packaged
  // install gives it.
  REQUIRE_ENVIRONMENT("VESK_SIM_BINARY");
  testing_support::SimProcess sim({});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  TempDir home;
  ASSERT_TRUE(testing_support::WriteSimBackground(home.File("IDR641.background.bmp")));
  ProcessOptions run;
  run.binary = vesk;
  run.args = {"500"};
  run.environment = {{"VESK_HOME", home.path()},          {"VESK_SYSLOG", "off"},
                     {"VESK_RADAR_HOST", sim.HostPort()}, {"VESK_PUBLISH_HOST", sim.HostPort()},
                     {"VESK_FONT", std::nullopt},         {"LC_ALL", "C"}};
  run.time_limit = std::chrono::seconds(60);
  const ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ASSERT_FALSE(result.OutLines().empty());
  EXPECT_EQ(result.OutLines().back().rfind("Summary: frames downloaded 7, overlay drawn, ", 0), 0u)
      << result.out;
  EXPECT_FALSE(home.Exists("e!vesk.xml"));
}

}  // namespace

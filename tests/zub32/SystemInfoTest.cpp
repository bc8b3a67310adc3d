#include "zub32/SystemInfo.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/Process.h"
#include "support/TempDir.h"

namespace zub32 {
namespace {

using testing_support::TempDir;

TEST(SystemInfoTest, MachineUpTimeSplitsTheTickCount) {
  tMachineUpTime rec;
  MachineUpTimeFromTicks(0, rec);
  EXPECT_EQ(rec.UpTimeText, "0w0d00h00m00s");
  EXPECT_EQ(rec.Ticks, 0);
  EXPECT_EQ(rec.Days, 0.0);

  MachineUpTimeFromTicks(694861000, rec);  // 8 days, 1 hour, 1 minute, 1 second
  EXPECT_EQ(rec.UpTimeText, "1w1d01h01m01s");
  EXPECT_EQ(rec.Ticks, 694861000);
  EXPECT_DOUBLE_EQ(rec.Days, 8 + 1.0 / 24 + 1.0 / 1440 + 1.0 / 86400);

  MachineUpTimeFromTicks(4294967295u, rec);  // the largest count, taken without sign
  EXPECT_EQ(rec.UpTimeText, "7w0d17h02m47s");
  EXPECT_EQ(rec.Ticks, 4294967295LL);

  MachineUpTimeFromTicks(86399999u, rec);  // milliseconds below a second are dropped
  EXPECT_EQ(rec.UpTimeText, "0w0d23h59m59s");
}

TEST(SystemInfoTest, MemoryStatusIsConsistent) {
  tMemoryStatusRec rec;
  GetMemoryStatus(rec);
  ASSERT_TRUE(rec.Valid);
  EXPECT_GT(rec.TotalPhys, 0);
  EXPECT_EQ(rec.UsedPhys, rec.TotalPhys - rec.AvailPhys);
  EXPECT_DOUBLE_EQ(rec.AvailPhysPercent, 100.0 * rec.AvailPhys / rec.TotalPhys);
  EXPECT_EQ(rec.UsedVirtual, rec.TotalVirtual - rec.AvailVirtual);
  EXPECT_GT(rec.AvailVirtualPercent, 0.0);
  EXPECT_LE(rec.AvailVirtualPercent, 100.0);
}

class ProgramDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = getenv("VESK_HOME");
    if (home != nullptr) saved_home_ = home;
    saved_directory_ = std::filesystem::current_path().string();
    saved_exe_path_ = GlobalSettings.EXEPath;
  }
  void TearDown() override {
    if (saved_home_) {
      setenv("VESK_HOME", saved_home_->c_str(), 1);
    } else {
      unsetenv("VESK_HOME");
    }
    std::filesystem::current_path(saved_directory_);
    GlobalSettings.EXEPath = saved_exe_path_;
  }

  std::optional<std::string> saved_home_;
  std::string saved_directory_;
  std::string saved_exe_path_;
};

TEST_F(ProgramDirectoryTest, ExecutableDirectoryUnlessVeskHomeIsSet) {
  unsetenv("VESK_HOME");
  const std::string executable = platform::ExecutablePath();
  EXPECT_EQ(GetEXEPath(""), executable.substr(0, executable.rfind('/') + 1));
  setenv("VESK_HOME", "", 1);
  EXPECT_EQ(GetEXEPath(""), executable.substr(0, executable.rfind('/') + 1));

  setenv("VESK_HOME", "/srv/www/vesk", 1);
  EXPECT_EQ(GetEXEPath(""), "/srv/www/vesk/");
  setenv("VESK_HOME", "/srv/www/vesk/", 1);
  EXPECT_EQ(GetEXEPath(""), "/srv/www/vesk/");
  // A relative directory is taken from where the process started, also
  // after a change of directory.
  setenv("VESK_HOME", "demo/./site", 1);
  const std::string expected = saved_directory_ + "/demo/site/";
  EXPECT_EQ(GetEXEPath(""), expected);
  std::filesystem::current_path("/");
  EXPECT_EQ(GetEXEPath(""), expected);

  EXPECT_EQ(GetEXEPath("notepad.exe"), "");
}

TEST_F(ProgramDirectoryTest, SetPathToEXEPathEntersTheDirectory) {
  TempDir dir;
  setenv("VESK_HOME", dir.path().c_str(), 1);
  GlobalSettings.EXEPath = "";
  EXPECT_EQ(SetPathToEXEPath(), dir.path());
  EXPECT_EQ(GlobalSettings.EXEPath, dir.path());
  EXPECT_EQ(std::filesystem::current_path().string() + "/",
            std::filesystem::canonical(dir.path()).string() + "/");

  std::filesystem::current_path(saved_directory_);
  GlobalSettings.EXEPath = "";
  setenv("VESK_HOME", (dir.path() + "gone").c_str(), 1);
  EXPECT_EQ(SetPathToEXEPath(), "Error - " + dir.path() + "gone/");
  EXPECT_EQ(GlobalSettings.EXEPath, "");
  EXPECT_EQ(std::filesystem::current_path().string(), saved_directory_);
}

// Installed programs' directories are refused by their place alone; a
// directory elsewhere only when it cannot be written.
TEST(SystemInfoTest, SystemDirectories) {
  for (const char* system : {"/usr/bin/", "/usr/local/bin/", "/bin/", "/sbin/", "/opt/vesk/"}) {
    EXPECT_NE(SystemDirectoryProblem(system), std::nullopt) << system;
  }
  EXPECT_EQ(SystemDirectoryProblem("/usr/bin/"), "a system directory (under /usr)");
  TempDir dir;
  EXPECT_EQ(SystemDirectoryProblem(dir.path()), std::nullopt);
}

}  // namespace
}  // namespace zub32

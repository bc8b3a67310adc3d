#include "platform/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "platform/Console.h"
#include "platform/Exceptions.h"

namespace platform {
namespace {

TEST(ProcessTest, ExecutablePathNamesThisProgram) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "ProcessTest");
  EXPECT_FALSE(ChangeDirectory("/nonexistent-vesk-directory"));
}

TEST(ProcessTest, VirtualFiguresFollowTheAddressSpaceLimit) {
  // The limit lies 64 GiB above what the process uses now, whatever that is
  // (a sanitizer build reserves a great deal of address space).
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  ASSERT_TRUE(statm >> pages);
  constexpr std::uint64_t kHeadroom = std::uint64_t{64} << 30;
  const std::uint64_t limit = pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) + kHeadroom;
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limit) GTEST_SKIP() << "hard limit";
  struct rlimit lowered = saved;
  lowered.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
  MemoryFigures figures;
  const bool read = ReadMemoryFigures(figures);
  setrlimit(RLIMIT_AS, &saved);

  ASSERT_TRUE(read);
  EXPECT_EQ(figures.total_virtual, limit);
  EXPECT_NEAR(static_cast<double>(figures.avail_virtual), static_cast<double>(kHeadroom),
              static_cast<double>(std::uint64_t{1} << 30));
  EXPECT_GT(figures.total_phys, 0u);
  EXPECT_LE(figures.avail_phys, figures.total_phys);
  EXPECT_LE(figures.avail_page_file, figures.total_page_file);
}

TEST(ProcessTest, UpTimeAgreesWithTheKernel) {
  std::ifstream uptime("/proc/uptime");
  double seconds = 0;
  ASSERT_TRUE(uptime >> seconds);
  const std::uint32_t expected = static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(std::llround(seconds * 1000)) & 0xFFFFFFFFu);
  const std::uint32_t difference = UpTimeMilliseconds() - expected;
  EXPECT_LT(std::min(difference, 0u - difference), 5000u);
}

TEST(ProcessTest, ConsoleWriteFailureIsAnError) {
  std::fflush(stdout);
  const int saved = dup(1);
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  dup2(full, 1);
  bool raised = false;
  try {
    WriteLine("a line that cannot be written");
  } catch (const EOSError&) {
    raised = true;
  }
  dup2(saved, 1);
  close(saved);
  close(full);
  EXPECT_TRUE(raised);
}

}  // namespace
}  // namespace platform

#include "zub32/TextFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "platform/DateTimeFormat.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "zub32/Records.h"

namespace zub32 {
namespace {

using testing_support::TempDir;

std::size_t EntryCount(const TempDir& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()),
                                                std::filesystem::directory_iterator()));
}

// Sets a file's last-write time to a local date and time.
void SetLocalWriteTime(const std::string& path, int year, int month, int day, int hour, int minute,
                       int second) {
  struct tm local {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const time_t seconds = mktime(&local);
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(TextFilesTest, StringToFileReplacesAppendsAndSkipsEmptyText) {
  TempDir dir;
  EXPECT_EQ(StringToFile("", dir.File("none.txt"), false, ""), -1);
  EXPECT_FALSE(dir.Exists("none.txt"));
  dir.Write("keep.txt", "old");
  EXPECT_EQ(StringToFile("", dir.File("keep.txt"), false, ""), -1);
  EXPECT_EQ(dir.Read("keep.txt"), "old");

  EXPECT_EQ(StringToFile("first", dir.File("log.txt"), true, ""), 0);  // append creates
  EXPECT_EQ(StringToFile("+second", dir.File("log.txt"), true, ""), 0);
  EXPECT_EQ(dir.Read("log.txt"), "first+second");

  dir.Write("page.html", "a longer page than the next one");
  EXPECT_EQ(StringToFile("short", dir.File("page.html"), false, ""), 0);
  EXPECT_EQ(dir.Read("page.html"), "short");

  const std::string frame("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  EXPECT_EQ(StringToFile(frame, dir.File("Image0.png"), false, ""), 0);
  EXPECT_EQ(dir.Read("Image0.png"), frame);
  EXPECT_EQ(EntryCount(dir), 4u);
}

TEST(TextFilesTest, StringToFileFailureKeepsTheOldFile) {
  TempDir dir;
  EXPECT_EQ(StringToFile("x", dir.File("missing/page.html"), false, ""), -5);
  EXPECT_EQ(EntryCount(dir), 0u);

  dir.Write("index.html", "the published page");
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit lowered = saved;
  lowered.rlim_cur = 8;
  setrlimit(RLIMIT_FSIZE, &lowered);
  const std::int32_t result =
      StringToFile("a page that no longer fits", dir.File("index.html"), false, "");
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(result, -5);
  EXPECT_EQ(dir.Read("index.html"), "the published page");
  EXPECT_EQ(EntryCount(dir), 1u);

  chmod(dir.path().c_str(), 0555);
  const std::optional<bool> refused = testing_support::RunUnprivileged(
      [&] { return StringToFile("new", dir.File("index.html"), false, "") == -5; });
  chmod(dir.path().c_str(), 0700);
  if (!refused) GTEST_SKIP() << "cannot run without root's rights here";
  EXPECT_TRUE(*refused);
  EXPECT_EQ(dir.Read("index.html"), "the published page");
  EXPECT_EQ(EntryCount(dir), 1u);
}

TEST(TextFilesTest, BetweenCutsAfterStartAndBeforeEnd) {
  const std::string page = "x;theImageNames[6] = \"/radar/IDR641.T.202407221150.png\";\n";
  EXPECT_EQ(Between(page, "theImageNames[6]", ";"), " = \"/radar/IDR641.T.202407221150.png\"");
  EXPECT_EQ(Between(Between(page, "theImageNames[6]", ";"), "\"", "\""),
            "/radar/IDR641.T.202407221150.png");
  EXPECT_EQ(Between(page, "theImageNames[7]", ";"), "");
  EXPECT_EQ(Between(page, "THEIMAGENAMES[6]", ";"), "");
  EXPECT_EQ(Between("abc;def", "", ";"), "abc");
  EXPECT_EQ(Between("key=value", "=", ";"), "value");
  EXPECT_EQ(Between("key=value", "=", ""), "value");
  EXPECT_EQ(Between("[];", "[", "]"), "");
  // Only the rest after the start is searched for the end.
  EXPECT_EQ(Between("b;a=1;", "a=", ";"), "1");
  const std::string binary("s\0x\0e", 5);
  EXPECT_EQ(Between(binary, std::string("s\0", 2), std::string("\0", 1)), "x");
}

TEST(TextFilesTest, FileToBinAndFileExists) {
  TempDir dir;
  dir.Write("empty", "");
  const std::string bytes("\0\1\2", 3);
  dir.Write("bytes", bytes);
  EXPECT_EQ(FileToBin(dir.File("missing")), "");
  EXPECT_EQ(FileToBin(dir.File("empty")), "");
  EXPECT_EQ(FileToBin(dir.File("bytes")), bytes);

  const std::string saved = GlobalSettings.EXEPath;
  GlobalSettings.EXEPath = dir.path();
  EXPECT_TRUE(FileExists("bytes"));
  EXPECT_FALSE(FileExists("missing"));
  std::filesystem::create_directory(dir.File("sub"));
  EXPECT_TRUE(FileExists("sub"));
  GlobalSettings.EXEPath = saved;
}

TEST(TextFilesTest, MyFileAgePacksLocalTimeAsDosDateTime) {
  TempDir dir;
  dir.Write("f", "x");
  // 2024-07-22 21:51:31: date word 44<<9 | 7<<5 | 22, time word 21<<11 | 51<<5 | 31/2.
  SetLocalWriteTime(dir.File("f"), 2024, 7, 22, 21, 51, 31);
  EXPECT_EQ(MyFileAge(dir.File("f")), 0x58F6AE6F);
  EXPECT_EQ(FileDateToDateTime(0x58F6AE6F), platform::EncodeDateTime(2024, 7, 22, 21, 51, 30, 0));

  SetLocalWriteTime(dir.File("f"), 1980, 1, 1, 0, 0, 0);
  EXPECT_EQ(MyFileAge(dir.File("f")), 0x00210000);
  SetLocalWriteTime(dir.File("f"), 2107, 12, 31, 23, 59, 59);
  EXPECT_EQ(MyFileAge(dir.File("f")), static_cast<std::int32_t>(0xFF9FBF7Du));
  EXPECT_EQ(FileDateToDateTime(static_cast<std::int32_t>(0xFF9FBF7Du)),
            platform::EncodeDateTime(2107, 12, 31, 23, 59, 58, 0));

  SetLocalWriteTime(dir.File("f"), 1979, 12, 31, 23, 59, 59);
  EXPECT_EQ(MyFileAge(dir.File("f")), -1);
  SetLocalWriteTime(dir.File("f"), 2108, 1, 1, 0, 0, 0);
  EXPECT_EQ(MyFileAge(dir.File("f")), -1);
  EXPECT_EQ(MyFileAge(dir.File("missing")), -1);
  EXPECT_EQ(MyFileAge(dir.path()), -1);

  EXPECT_EQ(FileDateToDateTime(0), 0.0);                        // month 0
  EXPECT_EQ(FileDateToDateTime(0x00220000 | (24 << 11)), 0.0);  // hour 24
}

TEST(TextFilesTest, StringOfStringUsesShortDateAndLongTime) {
  platform::SetLocaleFormatForTesting(platform::CLocaleFormat());
  EXPECT_EQ(StringOfString(0), "");
  EXPECT_EQ(StringOfString(platform::EncodeDateTime(2024, 7, 22, 21, 51, 30, 0)),
            "07/22/24 21:51:30");
  EXPECT_EQ(StringOfString(platform::EncodeDateTime(2024, 7, 22, 0, 0, 0, 0)), "07/22/24");
  EXPECT_EQ(StringOfString(platform::EncodeDateTime(2024, 7, 22, 0, 0, 0, 500)), "07/22/24");
  EXPECT_EQ(StringOfString(platform::EncodeDateTime(2024, 7, 22, 0, 0, 1, 0)), "07/22/24 00:00:01");

  platform::FormatSettings german = platform::CLocaleFormat();
  german.date_separator = ".";
  german.short_date_format = "dd/mm/yyyy";
  platform::SetLocaleFormatForTesting(german);
  EXPECT_EQ(StringOfString(platform::EncodeDateTime(2024, 7, 22, 9, 5, 0, 0)),
            "22.07.2024 09:05:00");
  platform::SetLocaleFormatForTesting(std::nullopt);
}

}  // namespace
}  // namespace zub32

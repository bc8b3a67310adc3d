#include "platform/FileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "platform/ContentDigest.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace platform {
namespace {

using testing_support::FileSizeLimit;
using testing_support::TempDir;

TEST(FileSystemTest, ReplaceWritesWholeContentAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string bytes("PNG\0\r\n\x1a\xff", 8);
  EXPECT_EQ(ReplaceFileAtomically(dir.File("a.png"), bytes).reason(), "");
  EXPECT_EQ(dir.Read("a.png"), bytes);
  dir.Write("b.txt", "a much longer old content");
  EXPECT_EQ(ReplaceFileAtomically(dir.File("b.txt"), "new").reason(), "");
  EXPECT_EQ(dir.Read("b.txt"), "new");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.png", "b.txt"}));
}

TEST(FileSystemTest, ReplaceKeepsPermissionsOfARegularFile) {
  TempDir dir;
  dir.Write("page.html", "old");
  chmod(dir.File("page.html").c_str(), 0640);
  EXPECT_EQ(ReplaceFileAtomically(dir.File("page.html"), "new").reason(), "");
  struct stat status {};
  ASSERT_EQ(stat(dir.File("page.html").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
  EXPECT_EQ(dir.Read("page.html"), "new");
}

// Every writer puts a new regular file in place of a link at its name: the
// link's target, in or out of the directory, is neither written, created nor
// lends its mode.
TEST(FileSystemTest, WritersReplaceLinksAndNeverWriteThroughThem) {
  const std::pair<const char*, std::function<std::string(const TempDir&)>> writers[] = {
      {"replace",
       [](const TempDir& d) { return ReplaceFileAtomically(d.File("name"), "new").reason(); }},
      {"copy",
       [](const TempDir& d) {
         return CopyFileAtomically(d.File("source"), d.File("name")).reason();
       }},
      {"copy by link",
       [](const TempDir& d) {
         return CopyFileByLinkAtomically(d.File("source"), d.File("name")).reason();
       }},
  };
  for (const auto& [what, write] : writers) {
    for (const bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(what) + (dangling ? ", dangling link" : ", link to a file"));
      TempDir dir, outside;
      dir.Write("source", "new");
      if (!dangling) {
        outside.Write("secret", "kept");
        chmod(outside.File("secret").c_str(), 0600);
      }
      ASSERT_EQ(symlink(outside.File("secret").c_str(), dir.File("name").c_str()), 0);
      EXPECT_EQ(write(dir), "");
      EXPECT_TRUE(IsRegularEntry(dir.File("name")));
      EXPECT_EQ(dir.Read("name"), "new");
      struct stat status {};
      ASSERT_EQ(stat(dir.File("name").c_str(), &status), 0);
      EXPECT_NE(status.st_mode & 0777, 0600u);
      EXPECT_EQ(outside.Read("secret"), dangling ? "<missing>" : "kept");
    }
  }
  // Appending refuses a link, and a copy refuses a source that is one.
  TempDir dir, outside;
  outside.Write("secret", "kept");
  ASSERT_EQ(symlink(outside.File("secret").c_str(), dir.File("link").c_str()), 0);
  EXPECT_NE(AppendToFile(dir.File("link"), "more").reason(), "");
  EXPECT_EQ(CopyFileAtomically(dir.File("link"), dir.File("copy")).reason(),
            "Cannot read \"" + dir.File("link") + "\": Not a regular file");
  EXPECT_NE(CopyFileByLinkAtomically(dir.File("link"), dir.File("copy")).reason(), "");
  EXPECT_EQ(outside.Read("secret"), "kept");
  EXPECT_FALSE(dir.Exists("copy"));
}

// A FIFO, a directory, a file past the limit and a link are read as no file
// (or followed, for the link), at once and without reading from them.
TEST(FileSystemTest, ReadsTakeRegularFilesWithinTheirLimitOnly) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  dir.Write("small", "12345");
  ASSERT_EQ(symlink("small", dir.File("link").c_str()), 0);
  EXPECT_EQ(ReadWholeFile(dir.File("fifo")), std::nullopt);
  EXPECT_EQ(ReadWholeFile(dir.File("small"), 4), std::nullopt);
  EXPECT_EQ(ReadWholeFile(dir.File("small"), 5), std::optional<std::string>("12345"));
  EXPECT_EQ(ReadWholeFile(dir.File("link")), std::optional<std::string>("12345"));
  EXPECT_NE(CopyFileAtomically(dir.File("fifo"), dir.File("copy")).reason(), "");
  EXPECT_FALSE(IsRegularEntry(dir.File("fifo")));
  EXPECT_FALSE(IsRegularEntry(dir.File("link")));
  EXPECT_EQ(LastWriteTimeLocal(dir.File("link")), std::nullopt);
  EXPECT_EQ(LastWriteTimeLocal(dir.File("fifo")), std::nullopt);
  // A file's digest, taken in pieces, is that of its bytes; a file over the
  // limit and a FIFO give none.
  const std::string large(3 * kCopyBufferSize + 7, 'x');
  dir.Write("large", large);
  EXPECT_EQ(DigestOfFile(dir.File("large"), large.size()), DigestOf(large));
  EXPECT_EQ(DigestOfFile(dir.File("link"), 5), DigestOf("12345"));
  EXPECT_EQ(DigestOfFile(dir.File("small"), 4), std::nullopt);
  EXPECT_EQ(DigestOfFile(dir.File("fifo"), 5), std::nullopt);
}

// A staged file is invisible until committed and leaves nothing behind when
// dropped.
TEST(FileSystemTest, StagedFileAppearsOnlyWhenCommitted) {
  TempDir dir;
  dir.Write("ring0.bmp", "old");
  const std::string_view pieces[] = {"n", "ew"};
  {
    StagedFile dropped = StagedFile::Write(dir.File("ring0.bmp"), pieces);
    EXPECT_EQ(dropped.Reason(), "");
  }
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"ring0.bmp"});
  StagedFile staged = StagedFile::Write(dir.File("ring0.bmp"), pieces);
  EXPECT_EQ(dir.Read("ring0.bmp"), "old");
  EXPECT_EQ(staged.Commit().reason(), "");
  EXPECT_EQ(dir.Read("ring0.bmp"), "new");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"ring0.bmp"});
}

// The files of a batch keep their old content through staging and flushing,
// one that fails changes no other, and each appears when committed, in the
// order the caller commits them.
TEST(FileSystemTest, BatchPublishesNothingBeforeCommitAndCommitsInOrder) {
  TempDir dir;
  dir.Write("Image0.png", "old 0");
  dir.Write("LastImageURI.txt", "old uri");
  const std::string_view frame[] = {"new 0"}, uri[] = {"new uri"};
  {
    StagedBatch batch;
    StagedFile& image = batch.Write(dir.File("Image0.png"), frame);
    StagedFile& lost = batch.Write(dir.File("missing/Image1.png"), frame);
    StagedFile& record = batch.Write(dir.File("LastImageURI.txt"), uri);
    EXPECT_NE(lost.Reason(), "");
    batch.FlushAll();
    EXPECT_EQ(dir.Read("Image0.png"), "old 0");
    EXPECT_EQ(dir.Read("LastImageURI.txt"), "old uri");
    EXPECT_NE(lost.Commit().reason(), "");
    EXPECT_EQ(record.Commit().reason(), "");
    EXPECT_EQ(dir.Read("Image0.png"), "old 0");
    EXPECT_EQ(dir.Read("LastImageURI.txt"), "new uri");
    EXPECT_EQ(image.Commit().reason(), "");
    EXPECT_EQ(dir.Read("Image0.png"), "new 0");
    // A file left uncommitted goes with the batch.
    batch.Write(dir.File("Image2.png"), frame);
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Image0.png", "LastImageURI.txt"}));
}

// Only this program's temporary names from before the run are removed: not a
// fresh one, another naming or a directory.
TEST(FileSystemTest, RemovesOnlyStaleTemporariesOfOwnNaming) {
  TempDir dir;
  const std::vector<std::string> stale = {".index.html.ab12cd34.tmp", ".Image0.png.00000000.tmp"};
  const std::vector<std::string> kept = {".index.html.AB12CD34.tmp", ".index.html.ab12cd3.tmp",
                                         ".index.html.tmp",          "index.html.ab12cd34.tmp",
                                         "..ab12cd34.tmp",           ".x.ab12cd34.tmp.bak"};
  for (const std::string& name : stale) dir.Write(name, "left by a killed run");
  for (const std::string& name : kept) dir.Write(name, "not ours");
  std::filesystem::create_directory(dir.File(".dir.ab12cd34.tmp"));
  // File times come from a clock that may lag a few milliseconds behind.
  constexpr auto kClockLag = std::chrono::milliseconds(30);
  std::this_thread::sleep_for(kClockLag);
  const auto started = std::chrono::system_clock::now();
  std::this_thread::sleep_for(kClockLag);
  dir.Write(".index24.html.ab12cd34.tmp", "this run's own");
  RemoveStaleTemporaries(dir.path(), started);
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {".dir.ab12cd34.tmp", ".index24.html.ab12cd34.tmp"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.Names(), expected);
}

TEST(FileSystemTest, FailedReplaceKeepsOldContentAndLeavesNoTemporaryFile) {
  TempDir dir;
  // Missing directory: nothing is created anywhere.
  EXPECT_NE(ReplaceFileAtomically(dir.File("missing/x.txt"), "x").reason(), "");
  EXPECT_TRUE(dir.Names().empty());

  // The target is a directory: the rename fails after the data was written.
  std::filesystem::create_directory(dir.File("index.html"));
  EXPECT_NE(ReplaceFileAtomically(dir.File("index.html"), "page").reason(), "");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"index.html"});
  std::filesystem::remove(dir.File("index.html"));

  // The disk fills up in the middle of the write.
  dir.Write("frame.png", "old frame");
  {
    FileSizeLimit limit(4);
    EXPECT_NE(
        ReplaceFileAtomically(dir.File("frame.png"), "a new frame, longer than four").reason(), "");
  }
  EXPECT_EQ(dir.Read("frame.png"), "old frame");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"frame.png"});
}

TEST(FileSystemTest, ReplaceInReadOnlyDirectoryFails) {
  TempDir dir;
  dir.Write("index.html", "old");
  chmod(dir.path().c_str(), 0555);
  const std::optional<bool> failed = testing_support::RunUnprivileged(
      [&] { return !ReplaceFileAtomically(dir.File("index.html"), "new").reason().empty(); });
  chmod(dir.path().c_str(), 0700);
  if (!failed) GTEST_SKIP() << "cannot run without root's rights here";
  EXPECT_TRUE(*failed);
  EXPECT_EQ(dir.Read("index.html"), "old");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"index.html"});
}

TEST(FileSystemTest, AppendAndCopy) {
  TempDir dir;
  EXPECT_EQ(AppendToFile(dir.File("log"), "one").reason(), "");
  EXPECT_EQ(AppendToFile(dir.File("log"), "two").reason(), "");
  EXPECT_EQ(dir.Read("log"), "onetwo");

  const std::string bitmap("BM\0\0\x01\x02", 6);
  dir.Write("overlay.bmp", bitmap);
  dir.Write("ring0.bmp", "older ring content");
  EXPECT_EQ(CopyFileAtomically(dir.File("overlay.bmp"), dir.File("ring0.bmp")).reason(), "");
  EXPECT_EQ(dir.Read("ring0.bmp"), bitmap);
  EXPECT_NE(CopyFileAtomically(dir.File("missing.bmp"), dir.File("ring0.bmp")).reason(), "");
  EXPECT_EQ(dir.Read("ring0.bmp"), bitmap);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"log", "overlay.bmp", "ring0.bmp"}));
}

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// A ring member handed down by a link: the same bytes without a copy, and a
// separate file again once the source is replaced, as the ring does next.
TEST(FileSystemTest, CopyByLinkSharesTheFileUntilEitherIsReplaced) {
  TempDir dir;
  dir.Write("ring1.bmp", "picture one");
  dir.Write("ring2.bmp", "picture two");
  EXPECT_EQ(CopyFileByLinkAtomically(dir.File("ring1.bmp"), dir.File("ring2.bmp")).reason(), "");
  EXPECT_EQ(dir.Read("ring2.bmp"), "picture one");
  EXPECT_EQ(InodeOf(dir.File("ring2.bmp")), InodeOf(dir.File("ring1.bmp")));
  EXPECT_EQ(ReplaceFileAtomically(dir.File("ring1.bmp"), "picture zero").reason(), "");
  EXPECT_EQ(dir.Read("ring2.bmp"), "picture one");
  // Already the same file, or a missing source: nothing changes.
  EXPECT_EQ(CopyFileByLinkAtomically(dir.File("ring2.bmp"), dir.File("ring2.bmp")).reason(), "");
  EXPECT_NE(CopyFileByLinkAtomically(dir.File("missing.bmp"), dir.File("ring2.bmp")).reason(), "");
  EXPECT_EQ(dir.Read("ring2.bmp"), "picture one");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ring1.bmp", "ring2.bmp"}));
}

TEST(FileSystemTest, CopyByLinkCopiesAcrossFileSystems) {
  // A hard link cannot cross file systems; the bytes are copied instead.
  char shm_template[] = "/dev/shm/vesk-link-test-XXXXXX";
  if (::mkdtemp(shm_template) == nullptr) GTEST_SKIP() << "no /dev/shm here";
  const std::string other = shm_template;
  TempDir dir;
  struct stat here {};
  struct stat there {};
  ::stat(dir.path().c_str(), &here);
  ::stat(other.c_str(), &there);
  if (here.st_dev == there.st_dev) {
    std::filesystem::remove_all(other);
    GTEST_SKIP() << "the temporary directory is on /dev/shm's file system";
  }
  { std::ofstream(other + "/ring0.bmp") << "picture zero"; }
  dir.Write("ring1.bmp", "picture one");
  EXPECT_EQ(CopyFileByLinkAtomically(other + "/ring0.bmp", dir.File("ring1.bmp")).reason(), "");
  EXPECT_EQ(dir.Read("ring1.bmp"), "picture zero");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ring1.bmp"}));
  std::filesystem::remove_all(other);
}

TEST(FileSystemTest, ReadWholeFileAndLastWriteTime) {
  TempDir dir;
  dir.Write("empty", "");
  EXPECT_EQ(ReadWholeFile(dir.File("empty")), std::optional<std::string>(""));
  EXPECT_EQ(ReadWholeFile(dir.File("missing")), std::nullopt);
  EXPECT_EQ(ReadWholeFile(dir.path()), std::nullopt);

  const struct timespec times[2] = {{1721685090, 0}, {1721685090, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.File("empty").c_str(), times, 0), 0);
  const std::optional<TDateTime> written = LastWriteTimeLocal(dir.File("empty"));
  ASSERT_TRUE(written.has_value());
  time_t seconds = 1721685090;
  struct tm local {};
  localtime_r(&seconds, &local);
  EXPECT_EQ(*written, EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec, 0));
  EXPECT_EQ(LastWriteTimeLocal(dir.path()), std::nullopt);
  EXPECT_EQ(LastWriteTimeLocal(dir.File("missing")), std::nullopt);

  ASSERT_EQ(symlink("nowhere", dir.File("dangling").c_str()), 0);
  EXPECT_TRUE(EntryExists(dir.File("dangling")));
  EXPECT_FALSE(EntryExists(dir.File("missing")));
}

}  // namespace
}  // namespace platform

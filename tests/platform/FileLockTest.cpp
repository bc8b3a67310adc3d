#include "platform/FileLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <utility>

#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace platform {
namespace {

using State = FileLock::State;
using testing_support::TempDir;

TEST(FileLockTest, OneHolderAtATimeUntilItGoesAway) {
  TempDir dir;
  const std::string path = dir.File("run.lock");
  {
    FileLock first = FileLock::TryExclusive(path);
    ASSERT_EQ(first.GetState(), State::kAcquired) << first.Reason();
    // flock belongs to the open file, so a second open in the same process
    // stands for another run.
    EXPECT_EQ(FileLock::TryExclusive(path).GetState(), State::kHeldElsewhere);

    // Moving the lock keeps it held; the moved-from object releases nothing.
    FileLock moved = std::move(first);
    EXPECT_EQ(FileLock::TryExclusive(path).GetState(), State::kHeldElsewhere);
    FileLock assigned = FileLock::TryExclusive(dir.File("other.lock"));
    assigned = std::move(moved);
    EXPECT_EQ(FileLock::TryExclusive(dir.File("other.lock")).GetState(), State::kAcquired);
    EXPECT_EQ(FileLock::TryExclusive(path).GetState(), State::kHeldElsewhere);
  }
  EXPECT_EQ(FileLock::TryExclusive(path).GetState(), State::kAcquired);
  // The lock file stays for the next run and is never written.
  EXPECT_EQ(dir.Read("run.lock"), "");
}

TEST(FileLockTest, FileThatCannotBeCreatedIsUnavailableWithTheReason) {
  TempDir dir;
  const FileLock lock = FileLock::TryExclusive(dir.File("missing/run.lock"));
  EXPECT_EQ(lock.GetState(), State::kUnavailable);
  EXPECT_EQ(lock.Reason(), "No such file or directory");
}

TEST(FileLockTest, ReadOnlyDirectoryLocksAnExistingFileOnly) {
  TempDir dir;
  dir.Write("run.lock", "");
  ASSERT_EQ(::chmod(dir.File("run.lock").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  // Another user in a directory it may not write: the existing file, which it
  // may only read, still locks; a missing one cannot be made.
  const std::optional<bool> checked = testing_support::RunUnprivileged([&] {
    const FileLock existing = FileLock::TryExclusive(dir.File("run.lock"));
    const FileLock missing = FileLock::TryExclusive(dir.File("new.lock"));
    return existing.GetState() == State::kAcquired && missing.GetState() == State::kUnavailable &&
           missing.Reason() == "Permission denied";
  });
  ::chmod(dir.path().c_str(), 0700);
  ASSERT_TRUE(checked.has_value()) << "the unprivileged check did not run";
  EXPECT_TRUE(*checked);
}

}  // namespace
}  // namespace platform

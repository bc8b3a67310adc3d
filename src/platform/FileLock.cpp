#include "platform/FileLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/FileSystem.h"

namespace platform {

FileLock FileLock::TryExclusive(const std::string& path) {
  // Opened for reading only: flock does not need write access, so a lock
  // file that belongs to another user, or lies in a directory that has become
  // read-only, still serves as long as it can be read. A link at the name is
  // not followed, so no file is ever created or locked elsewhere through
  // one, and a FIFO there is not waited on.
  FileDescriptor fd;
  do {
    fd = FileDescriptor(::open(
        path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  } while (!fd.valid() && errno == EINTR);
  if (!fd.valid() && errno == ELOOP) return FileLock({}, State::kUnavailable, "a symbolic link");
  if (!fd.valid()) return FileLock({}, State::kUnavailable, SystemErrorText(errno));
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return FileLock({}, State::kUnavailable, "not a regular file");
  }

  int result = 0;
  do {
    result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return FileLock(std::move(fd), State::kAcquired, "");
  if (errno == EWOULDBLOCK) return FileLock({}, State::kHeldElsewhere, "");
  return FileLock({}, State::kUnavailable, SystemErrorText(errno));
}

// Closing the only descriptor of the open file, when the lock goes away,
// releases the lock.
FileLock::FileLock(FileDescriptor fd, State state, std::string reason)
    : fd_(std::move(fd)), state_(state), reason_(std::move(reason)) {}

}  // namespace platform

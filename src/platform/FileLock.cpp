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
  // read-only, still serves as long as it can be read.
  // A link at the name is not followed, so no file is ever created or
  // locked elsewhere through one, and a FIFO there is not waited on.
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ELOOP) return FileLock(-1, State::kUnavailable, "a symbolic link");
  if (fd < 0) return FileLock(-1, State::kUnavailable, SystemErrorText(errno));
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return FileLock(-1, State::kUnavailable, "not a regular file");
  }

  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return FileLock(fd, State::kAcquired, "");
  const int error_number = errno;
  ::close(fd);
  if (error_number == EWOULDBLOCK) return FileLock(-1, State::kHeldElsewhere, "");
  return FileLock(-1, State::kUnavailable, SystemErrorText(error_number));
}

FileLock::FileLock(int fd, State state, std::string reason)
    : fd_(fd), state_(state), reason_(std::move(reason)) {}

FileLock::~FileLock() {
  // Closing the only descriptor of the open file releases the lock.
  if (fd_ >= 0) ::close(fd_);
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      state_(std::exchange(other.state_, State::kUnavailable)),
      reason_(std::move(other.reason_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    state_ = std::exchange(other.state_, State::kUnavailable);
    reason_ = std::move(other.reason_);
  }
  return *this;
}

}  // namespace platform

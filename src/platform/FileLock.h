// An exclusive advisory lock on a file (flock), held for the lifetime of the
// object. Runs started by a scheduler use it to keep out of each other's
// way: the lock belongs to the open file, so it goes away with the process
// however that ends, and no stale lock file can block later runs.
#pragma once

#include <string>

#include "platform/FileDescriptor.h"

namespace platform {

class FileLock {
 public:
  enum class State {
    kAcquired,       // this object holds the lock
    kHeldElsewhere,  // another open file (normally another process) holds it
    kUnavailable,    // the file cannot be opened or locked; see Reason()
  };

  // Opens path (creating it when missing) and tries once, without waiting,
  // to lock it exclusively. The descriptor is not inherited by programs the
  // process starts, so a child cannot keep the lock after the process ends.
  static FileLock TryExclusive(const std::string& path);

  FileLock(FileLock&& other) noexcept = default;
  FileLock& operator=(FileLock&& other) noexcept = default;

  State GetState() const { return state_; }
  // The system's reason when the state is kUnavailable, otherwise empty.
  const std::string& Reason() const { return reason_; }

 private:
  FileLock(FileDescriptor fd, State state, std::string reason);

  FileDescriptor fd_;
  State state_ = State::kUnavailable;
  std::string reason_;
};

}  // namespace platform

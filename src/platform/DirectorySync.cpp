#include "platform/DirectorySync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <utility>

#include "platform/FileDescriptor.h"

namespace platform {
namespace {

// Directories with renames not yet made durable. One flush of a directory
// makes all its renames durable, so they are flushed together when the
// process ends rather than once per file.
class PendingDirectories {
 public:
  static PendingDirectories& Instance() {
    // Never destroyed: the exit handler below may run after static objects
    // are gone.
    static PendingDirectories* pending = new PendingDirectories;
    return *pending;
  }

  void Add(const std::string& directory) {
    const std::lock_guard lock(mutex_);
    if (!exit_handler_) exit_handler_ = std::atexit([] { SyncDirectories(); }) == 0;
    // Without an exit handler nothing would flush it later: flush it now.
    if (!exit_handler_) return Flush(directory);
    directories_.insert(directory);
  }

  void FlushAll() {
    std::set<std::string> directories;
    {
      const std::lock_guard lock(mutex_);
      directories.swap(directories_);
    }
    // One directory may have been named in several ways ("." and its path).
    std::set<std::pair<dev_t, ino_t>> flushed;
    for (const std::string& directory : directories) Flush(directory, &flushed);
  }

 private:
  // A failure here loses nothing that is visible now, so it is not reported.
  static void Flush(const std::string& directory,
                    std::set<std::pair<dev_t, ino_t>>* flushed = nullptr) {
    FileDescriptor dir_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir_fd.valid()) return;
    struct stat status {};
    if (flushed != nullptr && ::fstat(dir_fd.get(), &status) == 0 &&
        !flushed->emplace(status.st_dev, status.st_ino).second) {
      return;
    }
    ::fsync(dir_fd.get());
  }

  std::mutex mutex_;
  bool exit_handler_ = false;
  std::set<std::string> directories_;
};

}  // namespace

void SyncDirectoryAtExit(const std::string& directory) {
  PendingDirectories::Instance().Add(directory);
}

void SyncDirectories() { PendingDirectories::Instance().FlushAll(); }

}  // namespace platform

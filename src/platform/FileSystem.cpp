#include "platform/FileSystem.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <utility>

namespace platform {
namespace {

// A descriptor closed when the object goes away, unless Close() was called.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports the result: a failed close can mean lost data.
  int Close() { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

// Longest part of the target's name kept in a temporary name, so that the
// temporary name stays within the file system's limit for one name.
constexpr std::size_t kMaxTempBaseLength = 200;
constexpr int kMaxTempNameAttempts = 100;
constexpr std::size_t kCopyBufferSize = 64 * 1024;
// Reading does not trust a file's reported size beyond this for its first
// allocation; larger files still grow the buffer as they are read.
constexpr std::size_t kMaxInitialReserve = 64 * 1024 * 1024;

std::string Describe(const std::string& what, const std::string& path, int error_number) {
  return what + " \"" + path + "\": " + SystemErrorText(error_number);
}

// Writes all bytes, retrying after interruptions and short writes; returns 0
// or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return 0;
}

// The file a write to path lands in: a symbolic link is followed, so that
// replacing the file keeps the link.
std::string ResolveTarget(const std::string& path) {
  struct stat link_status {};
  if (::lstat(path.c_str(), &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  }
  return path;
}

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

void SplitPath(const std::string& path, std::string& directory, std::string& base) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    directory = ".";
    base = path;
  } else {
    directory = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
}

std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[8] = {};
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Without random bytes the pid and a counter still give distinct names;
    // O_EXCL below catches any clash.
    static unsigned counter = 0;
    const unsigned value = static_cast<unsigned>(::getpid()) * 2654435761u + ++counter;
    for (std::size_t k = 0; k < sizeof random; ++k) {
      random[k] = static_cast<unsigned char>(value >> ((k % 4) * 8));
    }
  }
  std::string suffix;
  for (unsigned char byte : random) suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return suffix;
}

// Creates a temporary file beside the target, fills it with fill(fd), makes
// it durable and renames it over the target. On any failure the temporary
// file is removed and the target keeps its old content.
std::string ReplaceViaTemporary(const std::string& path,
                                const std::function<std::string(int fd)>& fill) {
  if (path.empty()) return "Cannot write a file without a name";
  const std::string target = ResolveTarget(path);
  std::string directory, base;
  SplitPath(target, directory, base);
  if (base.empty()) return Describe("Cannot write", path, EISDIR);

  std::string temp_path;
  FileDescriptor fd;
  for (int attempt = 0; attempt < kMaxTempNameAttempts && !fd.valid(); ++attempt) {
    temp_path =
        directory + "/." + base.substr(0, kMaxTempBaseLength) + "." + RandomSuffix() + ".tmp";
    // Created with 0666 so that the process's umask decides the permissions
    // of a new file, as for any file the program creates.
    fd = FileDescriptor(::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.valid() && errno != EEXIST) {
      return Describe("Cannot create a temporary file for", path, errno);
    }
  }
  if (!fd.valid()) return Describe("Cannot create a temporary file for", path, EEXIST);

  auto fail = [&](std::string reason) {
    if (fd.valid()) fd.Close();
    ::unlink(temp_path.c_str());
    return reason;
  };

  // A replaced file keeps its permissions and, where the process may set
  // them, its owner, so that the web server can still read it.
  struct stat old_status {};
  if (::stat(target.c_str(), &old_status) == 0 && S_ISREG(old_status.st_mode)) {
    ::fchmod(fd.get(), old_status.st_mode & 07777);
    if (::fchown(fd.get(), old_status.st_uid, old_status.st_gid) != 0) {
      // Only a privileged process may give a file away; the new file then
      // stays with the process's own user, which is what wrote it.
    }
  }

  std::string reason = fill(fd.get());
  if (!reason.empty()) return fail(reason);
  if (::fsync(fd.get()) != 0) return fail(Describe("Cannot flush", path, errno));
  if (fd.Close() != 0) return fail(Describe("Cannot close", path, errno));
  if (::rename(temp_path.c_str(), target.c_str()) != 0) {
    return fail(Describe("Cannot replace", path, errno));
  }
  // The rename itself becomes durable with the directory's flush at exit.
  // The bytes are durable already, so a crash before it leaves this name
  // with the old file or the new one, whole either way.
  PendingDirectories::Instance().Add(directory);
  return "";
}

}  // namespace

bool EntryExists(const std::string& path) {
  struct stat status {};
  return !path.empty() && ::lstat(path.c_str(), &status) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || S_ISDIR(status.st_mode)) return std::nullopt;
  std::string content;
  if (status.st_size > 0) {
    content.reserve(
        std::min<std::size_t>(static_cast<std::size_t>(status.st_size), kMaxInitialReserve));
  }
  char buffer[kCopyBufferSize];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (count == 0) break;
    content.append(buffer, static_cast<std::size_t>(count));
  }
  return content;
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  return ReplaceViaTemporary(path, [&](int fd) -> std::string {
    const int error_number = WriteAll(fd, bytes);
    return error_number == 0 ? "" : Describe("Cannot write", path, error_number);
  });
}

std::string AppendToFile(const std::string& path, std::string_view bytes) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.valid()) return Describe("Cannot open", path, errno);
  const int error_number = WriteAll(fd.get(), bytes);
  if (error_number != 0) return Describe("Cannot write", path, error_number);
  if (::fsync(fd.get()) != 0) return Describe("Cannot flush", path, errno);
  if (fd.Close() != 0) return Describe("Cannot close", path, errno);
  return "";
}

std::string CopyFileAtomically(const std::string& source, const std::string& destination) {
  FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return Describe("Cannot open", source, errno);
  struct stat status {};
  if (::fstat(in.get(), &status) != 0) return Describe("Cannot read", source, errno);
  if (S_ISDIR(status.st_mode)) return Describe("Cannot read", source, EISDIR);
  return ReplaceViaTemporary(destination, [&](int out) -> std::string {
    char buffer[kCopyBufferSize];
    for (;;) {
      const ssize_t count = ::read(in.get(), buffer, sizeof buffer);
      if (count < 0) {
        if (errno == EINTR) continue;
        return Describe("Cannot read", source, errno);
      }
      if (count == 0) return "";
      const int error_number =
          WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(count)));
      if (error_number != 0) return Describe("Cannot write", destination, error_number);
    }
  });
}

std::string CopyFileByLinkAtomically(const std::string& source, const std::string& destination) {
  struct stat source_status {};
  if (::stat(source.c_str(), &source_status) != 0) return Describe("Cannot open", source, errno);
  if (!S_ISREG(source_status.st_mode)) return CopyFileAtomically(source, destination);
  const std::string target = ResolveTarget(destination);
  struct stat target_status {};
  if (::stat(target.c_str(), &target_status) == 0 && target_status.st_dev == source_status.st_dev &&
      target_status.st_ino == source_status.st_ino) {
    return "";  // already the same file
  }
  std::string directory, base;
  SplitPath(target, directory, base);
  if (base.empty()) return Describe("Cannot write", destination, EISDIR);

  std::string temp_path;
  bool linked = false;
  for (int attempt = 0; attempt < kMaxTempNameAttempts && !linked; ++attempt) {
    temp_path =
        directory + "/." + base.substr(0, kMaxTempBaseLength) + "." + RandomSuffix() + ".tmp";
    // A source that is a symbolic link is followed: the new name is the file's.
    linked =
        ::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temp_path.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked && errno != EEXIST) return CopyFileAtomically(source, destination);
  }
  if (!linked) return Describe("Cannot create a temporary file for", destination, EEXIST);
  if (::rename(temp_path.c_str(), target.c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temp_path.c_str());
    return Describe("Cannot replace", destination, error_number);
  }
  // The source's bytes are on disk already; only the new name needs making
  // durable, with the directory's flush at exit.
  PendingDirectories::Instance().Add(directory);
  return "";
}

void SyncDirectories() { PendingDirectories::Instance().FlushAll(); }

std::optional<TDateTime> LastWriteTimeLocal(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return std::nullopt;
  return UnixToLocalDateTime(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
}

std::string SystemErrorText(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be the buffer.
  const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : "error " + std::to_string(error_number);
}

}  // namespace platform

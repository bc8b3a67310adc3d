#include "platform/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/FileDescriptor.h"

namespace platform {
namespace {

// Longest part of the target's name kept in a temporary name, so that the
// temporary name stays within the file system's limit for one name.
constexpr std::size_t kMaxTempBaseLength = 200;
constexpr int kMaxTempNameAttempts = 100;
constexpr std::size_t kRandomSuffixLength = 8;
constexpr std::string_view kTempNameEnd = ".tmp";
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

// Writes the pieces, one after the other, in gathered writes of up to
// IOV_MAX pieces; a short write leaves the rest of a piece for the next
// round. Returns 0 or the errno of the failure.
int WritePieces(int fd, std::span<const std::string_view> all) {
  std::vector<std::string_view> pieces(all.begin(), all.end());
  std::vector<iovec> batch;
  std::size_t next = 0;
  while (next < pieces.size()) {
    batch.clear();
    for (std::size_t i = next; i < pieces.size() && batch.size() < IOV_MAX; ++i) {
      batch.push_back(iovec{const_cast<char*>(pieces[i].data()), pieces[i].size()});
    }
    ssize_t written = ::writev(fd, batch.data(), static_cast<int>(batch.size()));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    while (next < pieces.size() && static_cast<std::size_t>(written) >= pieces[next].size()) {
      written -= static_cast<ssize_t>(pieces[next].size());
      ++next;
    }
    if (next < pieces.size()) pieces[next].remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
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

constexpr std::string_view kSuffixAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string RandomSuffix() {
  unsigned char random[kRandomSuffixLength] = {};
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
  for (unsigned char byte : random) suffix += kSuffixAlphabet[byte % kSuffixAlphabet.size()];
  return suffix;
}

// A fresh temporary name beside a file of the directory; IsTemporaryName
// knows its form.
std::string TemporaryName(const std::string& directory, const std::string& base) {
  return directory + "/." + base.substr(0, kMaxTempBaseLength) + "." + RandomSuffix() +
         std::string(kTempNameEnd);
}

// Makes a new, empty temporary file beside path; on failure returns an
// invalid descriptor and sets reason and error_number.
FileDescriptor CreateTemporary(const std::string& path, const std::string& directory,
                               const std::string& base, std::string& temp_path, std::string& reason,
                               int& error_number) {
  for (int attempt = 0; attempt < kMaxTempNameAttempts; ++attempt) {
    temp_path = TemporaryName(directory, base);
    // O_EXCL never follows a planted link. 0666 lets the process's umask
    // decide the permissions of a new file, as for any file the program
    // creates.
    FileDescriptor fd(::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.valid()) return fd;
    if (errno != EEXIST) break;
  }
  error_number = errno;
  reason = Describe("Cannot create a temporary file for", path, error_number);
  temp_path.clear();
  return FileDescriptor();
}

// A replaced regular file keeps its permissions and, where the process may
// set them, its owner, so that the web server can still read it. Anything
// else at the name (a link above all) lends the new file nothing.
void KeepOwnerAndMode(int fd, const std::string& path) {
  struct stat old_status {};
  if (::lstat(path.c_str(), &old_status) != 0 || !S_ISREG(old_status.st_mode)) return;
  ::fchmod(fd, old_status.st_mode & 07777);
  if (::fchown(fd, old_status.st_uid, old_status.st_gid) != 0) {
    // Only a privileged process may give a file away; the new file then
    // stays with the process's own user, which is what wrote it.
  }
}

}  // namespace

FileDescriptor OpenRegularFile(const std::string& path, bool follow_links, struct stat& status,
                               int& error_number) {
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow_links ? 0 : O_NOFOLLOW);
  FileDescriptor fd(::open(path.c_str(), flags));
  error_number = fd.valid() ? 0 : errno;
  if (fd.valid() && ::fstat(fd.get(), &status) != 0) error_number = errno;
  if (error_number == 0 && !S_ISREG(status.st_mode)) {
    error_number = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
  }
  return error_number == 0 ? std::move(fd) : FileDescriptor();
}

bool EntryExists(const std::string& path) {
  struct stat status {};
  return !path.empty() && ::lstat(path.c_str(), &status) == 0;
}

bool IsRegularEntry(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

EntryKind KindOfEntry(const std::string& path, int& error_number) {
  error_number = 0;
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return EntryKind::kMissing;
    error_number = errno;
    return EntryKind::kUnreadable;
  }
  if (S_ISREG(status.st_mode)) return EntryKind::kRegularFile;
  if (S_ISDIR(status.st_mode)) return EntryKind::kDirectory;
  if (S_ISLNK(status.st_mode)) return EntryKind::kSymbolicLink;
  return EntryKind::kOther;
}

std::optional<std::string> SymbolicLinkTarget(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
  // A target that fills the whole buffer may have been cut.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(length));
}

FileResult CreateSymbolicLink(const std::string& target, const std::string& link) {
  if (::symlink(target.c_str(), link.c_str()) == 0) return {};
  return FileResult::Failure(SystemErrorText(errno), errno);
}

FileResult ReplaceSymbolicLink(const std::string& target, const std::string& link) {
  std::string directory, base;
  SplitPath(link, directory, base);
  const std::size_t base_start = link.size() - base.size();
  const std::string temporary = link.substr(0, base_start) + "." + base + ".link";
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0)
    return FileResult::Failure(SystemErrorText(errno));
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    return FileResult::Failure(SystemErrorText(error_number));
  }
  PendingDirectories::Instance().Add(directory);
  return {};
}

std::optional<std::string> DirectoryWriteProblem(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return "cannot be found (" + SystemErrorText(errno) + ")";
  }
  if (!S_ISDIR(status.st_mode)) return std::string("is not a directory");
  // Every published file is replaced by a rename inside the directory, so
  // writing and searching it is all a run needs.
  if (::access(path.c_str(), W_OK | X_OK) != 0) {
    return "not writable for this user (" + SystemErrorText(errno) + ")";
  }
  return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  struct stat status {};
  int error_number = 0;
  const FileDescriptor fd = OpenRegularFile(path, true, status, error_number);
  if (!fd.valid()) return std::nullopt;
  const auto size = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
  if (size > max_bytes) return std::nullopt;
  std::string content;
  // The size is only a hint: the file may grow while it is read, up to the
  // limit.
  content.reserve(std::min(size, kMaxInitialReserve));
  char buffer[kCopyBufferSize];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (count == 0) break;
    if (max_bytes - content.size() < static_cast<std::size_t>(count)) return std::nullopt;
    content.append(buffer, static_cast<std::size_t>(count));
  }
  return content;
}

StagedFile::~StagedFile() { Discard(); }

StagedFile::StagedFile(StagedFile&& other) noexcept
    : path_(std::move(other.path_)),
      directory_(std::move(other.directory_)),
      temp_path_(std::exchange(other.temp_path_, std::string())),
      unflushed_(std::move(other.unflushed_)),
      reason_(std::move(other.reason_)),
      error_number_(other.error_number_) {}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    Discard();
    path_ = std::move(other.path_);
    directory_ = std::move(other.directory_);
    temp_path_ = std::exchange(other.temp_path_, std::string());
    unflushed_ = std::move(other.unflushed_);
    reason_ = std::move(other.reason_);
    error_number_ = other.error_number_;
  }
  return *this;
}

void StagedFile::Discard() {
  unflushed_ = FileDescriptor();
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
}

void StagedFile::Fail(std::string reason, int error_number) {
  Discard();
  reason_ = std::move(reason);
  error_number_ = error_number;
}

StagedFile StagedFile::Make(const std::string& path, Flush flush, const Filler& fill) {
  StagedFile staged;
  staged.path_ = path;
  if (path.empty()) {
    staged.Fail("Cannot write a file without a name", ENOENT);
    return staged;
  }
  std::string base;
  SplitPath(path, staged.directory_, base);
  if (base.empty()) {
    staged.Fail(Describe("Cannot write", path, EISDIR), EISDIR);
    return staged;
  }
  std::string reason;
  int error_number = 0;
  FileDescriptor fd =
      CreateTemporary(path, staged.directory_, base, staged.temp_path_, reason, error_number);
  if (!fd.valid()) {
    staged.Fail(reason, error_number);
    return staged;
  }
  KeepOwnerAndMode(fd.get(), path);
  auto [fill_reason, fill_error] = fill(fd.get());
  if (!fill_reason.empty()) {
    staged.Fail(std::move(fill_reason), fill_error);
  } else if (flush == Flush::kLater) {
    // Only starts the write-back, so that the disk writes this file while
    // the step prepares the next; a failure here shows in the later flush.
    ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    staged.unflushed_ = std::move(fd);
    staged.reason_.clear();
  } else if (::fsync(fd.get()) != 0) {
    staged.Fail(Describe("Cannot flush", path, errno), errno);
  } else if (fd.Close() != 0) {
    staged.Fail(Describe("Cannot close", path, errno), errno);
  } else {
    staged.reason_.clear();
  }
  return staged;
}

StagedFile StagedFile::Write(const std::string& path, std::span<const std::string_view> pieces,
                             Flush flush) {
  return Make(path, flush, [&](int fd) -> std::pair<std::string, int> {
    const int error_number = WritePieces(fd, pieces);
    if (error_number == 0) return {"", 0};
    return {Describe("Cannot write", path, error_number), error_number};
  });
}

StagedFile StagedFile::Copy(const std::string& source, const std::string& destination,
                            Flush flush) {
  struct stat status {};
  int error_number = 0;
  const FileDescriptor in = OpenRegularFile(source, false, status, error_number);
  if (!in.valid()) {
    StagedFile staged;
    staged.path_ = destination;
    staged.Fail(error_number == EINVAL || error_number == ELOOP
                    ? "Cannot read \"" + source + "\": Not a regular file"
                    : Describe("Cannot open", source, error_number),
                error_number);
    return staged;
  }
  return Make(destination, flush, [&](int out) -> std::pair<std::string, int> {
    char buffer[kCopyBufferSize];
    for (;;) {
      const ssize_t count = ::read(in.get(), buffer, sizeof buffer);
      if (count < 0) {
        if (errno == EINTR) continue;
        return {Describe("Cannot read", source, errno), errno};
      }
      if (count == 0) return {"", 0};
      const int write_error =
          WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(count)));
      if (write_error != 0)
        return {Describe("Cannot write", destination, write_error), write_error};
    }
  });
}

void StagedFile::WaitForFlush() {
  if (!unflushed_.valid()) return;
  // The data and what it takes to read it back; the file's times and owner
  // need not be on disk before the rename.
  if (::fdatasync(unflushed_.get()) != 0) {
    const int error_number = errno;
    Fail(Describe("Cannot flush", path_, error_number), error_number);
  } else if (unflushed_.Close() != 0) {
    const int error_number = errno;
    Fail(Describe("Cannot close", path_, error_number), error_number);
  }
}

FileResult StagedFile::Commit() {
  WaitForFlush();
  if (!reason_.empty()) return FileResult::Failure(reason_, error_number_);
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    const int error_number = errno;
    Fail(Describe("Cannot replace", path_, error_number), error_number);
    return FileResult::Failure(reason_, error_number_);
  }
  temp_path_.clear();
  reason_ = "Already committed";
  // The rename itself becomes durable with the directory's flush at exit.
  // The bytes are durable already, so a crash before it leaves this name
  // with the old file or the new one, whole either way.
  PendingDirectories::Instance().Add(directory_);
  return {};
}

StagedFile& StagedBatch::Add(StagedFile file) { return files_.emplace_back(std::move(file)); }

StagedFile& StagedBatch::Write(const std::string& path, std::span<const std::string_view> pieces) {
  return Add(StagedFile::Write(path, pieces, Flush::kLater));
}

void StagedBatch::FlushAll() {
  // Every write-back was started when its file was staged, so the first
  // wait takes about as long as one flush and the others find their bytes
  // on disk already.
  for (StagedFile& file : files_) file.WaitForFlush();
}

FileResult ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string_view pieces[] = {bytes};
  return StagedFile::Write(path, pieces).Commit();
}

FileResult AppendToFile(const std::string& path, std::string_view bytes) {
  FileDescriptor fd(::open(
      path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd.valid()) return FileResult::Failure(Describe("Cannot open", path, errno));
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0)
    return FileResult::Failure(Describe("Cannot open", path, errno));
  if (!S_ISREG(status.st_mode))
    return FileResult::Failure("Cannot write \"" + path + "\": Not a regular file");
  const int error_number = WriteAll(fd.get(), bytes);
  if (error_number != 0) return FileResult::Failure(Describe("Cannot write", path, error_number));
  if (::fsync(fd.get()) != 0) return FileResult::Failure(Describe("Cannot flush", path, errno));
  if (fd.Close() != 0) return FileResult::Failure(Describe("Cannot close", path, errno));
  return {};
}

FileResult CopyFileAtomically(const std::string& source, const std::string& destination) {
  return StagedFile::Copy(source, destination).Commit();
}

FileResult CopyFileByLinkAtomically(const std::string& source, const std::string& destination) {
  struct stat source_status {};
  if (::lstat(source.c_str(), &source_status) != 0)
    return FileResult::Failure(Describe("Cannot open", source, errno));
  if (!S_ISREG(source_status.st_mode)) return CopyFileAtomically(source, destination);
  struct stat target_status {};
  if (::lstat(destination.c_str(), &target_status) == 0 &&
      target_status.st_dev == source_status.st_dev &&
      target_status.st_ino == source_status.st_ino) {
    return {};  // already the same file
  }
  std::string directory, base;
  SplitPath(destination, directory, base);
  if (base.empty()) return FileResult::Failure(Describe("Cannot write", destination, EISDIR));

  std::string temp_path;
  bool linked = false;
  for (int attempt = 0; attempt < kMaxTempNameAttempts && !linked; ++attempt) {
    temp_path = TemporaryName(directory, base);
    // Without AT_SYMLINK_FOLLOW the new name is the source entry's own,
    // which was checked to be a regular file, never a link's target.
    linked = ::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temp_path.c_str(), 0) == 0;
    if (!linked && errno != EEXIST) return CopyFileAtomically(source, destination);
  }
  if (!linked)
    return FileResult::Failure(Describe("Cannot create a temporary file for", destination, EEXIST));
  // The source may have been swapped for something else since it was
  // checked; the name made is then not put in place.
  struct stat linked_status {};
  if (::lstat(temp_path.c_str(), &linked_status) != 0 || !S_ISREG(linked_status.st_mode)) {
    ::unlink(temp_path.c_str());
    return FileResult::Failure("Cannot read \"" + source + "\": Not a regular file");
  }
  if (::rename(temp_path.c_str(), destination.c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temp_path.c_str());
    return FileResult::Failure(Describe("Cannot replace", destination, error_number));
  }
  // The source's bytes are on disk already; only the new name needs making
  // durable, with the directory's flush at exit.
  PendingDirectories::Instance().Add(directory);
  return {};
}

bool IsTemporaryName(std::string_view name) {
  // "." + at least one character of the name + "." + the suffix + ".tmp".
  constexpr std::size_t kShortest = 3 + kRandomSuffixLength + kTempNameEnd.size();
  if (name.size() < kShortest || name.front() != '.' || !name.ends_with(kTempNameEnd)) {
    return false;
  }
  name.remove_suffix(kTempNameEnd.size());
  const std::string_view suffix = name.substr(name.size() - kRandomSuffixLength);
  return name[name.size() - kRandomSuffixLength - 1] == '.' &&
         suffix.find_first_not_of(kSuffixAlphabet) == std::string_view::npos;
}

void RemoveStaleTemporaries(const std::string& directory,
                            std::chrono::system_clock::time_point started) {
  FileDescriptor dir_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_fd.valid()) return;
  struct CloseListing {
    void operator()(DIR* listing) const { ::closedir(listing); }
  };
  const std::unique_ptr<DIR, CloseListing> listing(::fdopendir(dir_fd.get()));
  if (listing == nullptr) return;
  dir_fd.Release();  // now closed with the listing
  const auto started_ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(started.time_since_epoch()).count();
  const int fd = ::dirfd(listing.get());
  while (const dirent* entry = ::readdir(listing.get())) {
    if (!IsTemporaryName(entry->d_name)) continue;
    struct stat status {};
    if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      continue;
    }
    // The change time, not the write time: a temporary made by a hard link
    // keeps its source's write time, but the link itself changed it.
    const long long changed_ns =
        static_cast<long long>(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec;
    if (changed_ns < started_ns) ::unlinkat(fd, entry->d_name, 0);
  }
}

std::optional<std::unordered_set<std::string>> EntryNames(const std::string& directory) {
  struct CloseListing {
    void operator()(DIR* listing) const { ::closedir(listing); }
  };
  const std::unique_ptr<DIR, CloseListing> listing(::opendir(directory.c_str()));
  if (listing == nullptr) return std::nullopt;
  std::unordered_set<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace(name);
  }
  // A listing cut short by an error would report existing names missing.
  if (errno != 0) return std::nullopt;
  return names;
}

void SyncDirectories() { PendingDirectories::Instance().FlushAll(); }

std::optional<TDateTime> LastWriteTimeLocal(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return UnixToLocalDateTime(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
}

std::optional<std::chrono::system_clock::time_point> LastWriteTime(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(status.st_mtim.tv_sec) +
          std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
}

FileResult RemoveEntry(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    const int error_number = errno;
    return FileResult::Failure("Cannot remove \"" + path + "\": " + SystemErrorText(error_number),
                               error_number);
  }
  return {};
}

std::string SystemErrorText(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be the buffer.
  const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : "error " + std::to_string(error_number);
}

}  // namespace platform

#include "platform/StagedFile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

#include "platform/DirectorySync.h"
#include "platform/RegularFile.h"
#include "platform/TemporaryFile.h"

namespace platform {
namespace {

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
  reason = FileErrorText("Cannot create a temporary file for", path, error_number);
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
    staged.Fail(FileErrorText("Cannot write", path, EISDIR), EISDIR);
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
    staged.Fail(FileErrorText("Cannot flush", path, errno), errno);
  } else if (fd.Close() != 0) {
    staged.Fail(FileErrorText("Cannot close", path, errno), errno);
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
    return {FileErrorText("Cannot write", path, error_number), error_number};
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
                    : FileErrorText("Cannot open", source, error_number),
                error_number);
    return staged;
  }
  return Make(destination, flush, [&](int out) -> std::pair<std::string, int> {
    char buffer[kCopyBufferSize];
    for (;;) {
      const ssize_t count = ::read(in.get(), buffer, sizeof buffer);
      if (count < 0) {
        if (errno == EINTR) continue;
        return {FileErrorText("Cannot read", source, errno), errno};
      }
      if (count == 0) return {"", 0};
      const int write_error =
          WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(count)));
      if (write_error != 0)
        return {FileErrorText("Cannot write", destination, write_error), write_error};
    }
  });
}

void StagedFile::WaitForFlush() {
  if (!unflushed_.valid()) return;
  // The data and what it takes to read it back; the file's times and owner
  // need not be on disk before the rename.
  if (::fdatasync(unflushed_.get()) != 0) {
    const int error_number = errno;
    Fail(FileErrorText("Cannot flush", path_, error_number), error_number);
  } else if (unflushed_.Close() != 0) {
    const int error_number = errno;
    Fail(FileErrorText("Cannot close", path_, error_number), error_number);
  }
}

FileResult StagedFile::Commit() {
  WaitForFlush();
  if (!reason_.empty()) return FileResult::Failure(reason_, error_number_);
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    const int error_number = errno;
    Fail(FileErrorText("Cannot replace", path_, error_number), error_number);
    return FileResult::Failure(reason_, error_number_);
  }
  temp_path_.clear();
  reason_ = "Already committed";
  // The rename itself becomes durable with the directory's flush at exit.
  // The bytes are durable already, so a crash before it leaves this name
  // with the old file or the new one, whole either way.
  SyncDirectoryAtExit(directory_);
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

FileResult CopyFileAtomically(const std::string& source, const std::string& destination) {
  return StagedFile::Copy(source, destination).Commit();
}

FileResult CopyFileByLinkAtomically(const std::string& source, const std::string& destination) {
  struct stat source_status {};
  if (::lstat(source.c_str(), &source_status) != 0)
    return FileResult::Failure(FileErrorText("Cannot open", source, errno));
  if (!S_ISREG(source_status.st_mode)) return CopyFileAtomically(source, destination);
  struct stat target_status {};
  if (::lstat(destination.c_str(), &target_status) == 0 &&
      target_status.st_dev == source_status.st_dev &&
      target_status.st_ino == source_status.st_ino) {
    return {};  // already the same file
  }
  std::string directory, base;
  SplitPath(destination, directory, base);
  if (base.empty()) return FileResult::Failure(FileErrorText("Cannot write", destination, EISDIR));

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
    return FileResult::Failure(
        FileErrorText("Cannot create a temporary file for", destination, EEXIST));
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
    return FileResult::Failure(FileErrorText("Cannot replace", destination, error_number));
  }
  // The source's bytes are on disk already; only the new name needs making
  // durable, with the directory's flush at exit.
  SyncDirectoryAtExit(directory);
  return {};
}

}  // namespace platform

// Files published by atomic replacement: the bytes go to a temporary file
// in the same directory, are flushed, and the file is renamed over the
// target, so a reader never sees a partial file and a failed write leaves
// the old content in place. The files of one step can be flushed together
// (StagedBatch) before any of them is renamed; the renames become durable
// with their directories' flush (DirectorySync.h).
#pragma once

#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/FileDescriptor.h"
#include "platform/FileResult.h"

namespace platform {

// When the bytes of a staged file must be on disk.
enum class Flush {
  kNow,    // before the file is handed back
  kLater,  // write-back is started; WaitForFlush() or Commit() waits for it
};

// A new content for one name, written to a temporary file beside it and made
// durable, but not yet in place: Commit() renames it over the name. One that
// is never committed is removed when the object goes away, so a step that
// fails half-way leaves no trace. A link at the name is replaced, never
// followed; a replaced regular file keeps its permissions and, where the
// process may set it, its owner; a new file gets 0666 less the umask.
class StagedFile {
 public:
  StagedFile() = default;
  ~StagedFile();
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Writes the pieces, one after the other, as the new content of path.
  static StagedFile Write(const std::string& path, std::span<const std::string_view> pieces,
                          Flush flush = Flush::kNow);
  // Copies a regular file (not a link) as the new content of destination.
  static StagedFile Copy(const std::string& source, const std::string& destination,
                         Flush flush = Flush::kNow);

  // Waits until the bytes of a file staged with Flush::kLater are on disk;
  // nothing to do for one flushed already. A file whose flush fails takes
  // that failure as its reason and is never renamed.
  void WaitForFlush();

  // Empty while the content waits for its rename; otherwise why staging
  // failed.
  const std::string& Reason() const { return reason_; }
  // The errno behind a failure, 0 when there is none.
  int ErrorNumber() const { return error_number_; }

  // Renames the content over its name, once its bytes are on disk. Returns
  // the reason on failure (that of the staging when that failed); the name keeps its old file on
  // failure.
  FileResult Commit();

 private:
  // Writes the new content to fd; returns the reason and errno of a failure.
  using Filler = std::function<std::pair<std::string, int>(int fd)>;
  static StagedFile Make(const std::string& path, Flush flush, const Filler& fill);
  void Fail(std::string reason, int error_number);
  void Discard();

  std::string path_;
  std::string directory_;
  std::string temp_path_;
  // Open only while the flush of a Flush::kLater file is still to be waited
  // for.
  FileDescriptor unflushed_;
  std::string reason_ = "Nothing was staged";
  int error_number_ = 0;
};

// The files of one step, made durable together: each one's write-back
// starts as soon as it is staged, FlushAll() then waits for all of them, so
// that the disk writes them in one go rather than one flush after another.
// The step commits the files itself, in the order its rules need, after
// FlushAll(); a file that is never committed is removed with the batch.
class StagedBatch {
 public:
  // Takes a staged file into the batch. The reference stays valid as long
  // as the batch.
  StagedFile& Add(StagedFile file);
  // Stages the pieces as the new content of path, with Flush::kLater.
  StagedFile& Write(const std::string& path, std::span<const std::string_view> pieces);
  // Waits for the flush of every file in the batch.
  void FlushAll();

 private:
  std::deque<StagedFile> files_;
};

// Replaces the file's content atomically (StagedFile::Write, then Commit).
// Returns the system's reason on failure. No
// temporary file is left on any path.
FileResult ReplaceFileAtomically(const std::string& path, std::string_view bytes);

// Copies a regular file (not a link) over destination atomically. Returns
// the reason on failure; the destination is left as it
// was on failure.
FileResult CopyFileAtomically(const std::string& source, const std::string& destination);

// As CopyFileAtomically, but where the file system allows it without copying
// a byte: the destination becomes another name (a hard link) of the source
// file, put in place by a rename. For files that are only ever replaced
// whole, never written in place (as every file this program writes), the two
// names are separate files again as soon as either is replaced. Falls back
// to a copy where a hard link cannot be made (another file system, no hard
// links). The source's bytes are taken as they are on disk: this program made
// them durable when it wrote them. The destination then has the source's
// permissions. A source that is not a regular file (a link included) is
// refused. Returns the reason on failure; the destination
// is left as it was on failure.
FileResult CopyFileByLinkAtomically(const std::string& source, const std::string& destination);

}  // namespace platform

// Files: whole-file read, atomic whole-file replace, copy, existence and
// last-write time. Every file the run publishes is replaced atomically: the
// bytes go to a temporary file in the same directory, are flushed, and the
// file is renamed over the target, so a reader never sees a partial file and
// a failed write leaves the old content in place. The files of one step can
// be flushed together (StagedBatch) before any of them is renamed. The
// renames are made durable together: each directory written to is flushed
// once, when the process ends (or SyncDirectories is called); until then a
// crash can only take a name back to its old, whole file.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/DateTime.h"
#include "platform/FileDescriptor.h"

namespace platform {

// The outcome of a file operation that may fail: success, or the reason,
// which names the file and gives the system's words, and the errno behind
// it (0 where there is none).
class [[nodiscard]] FileResult {
 public:
  FileResult() = default;
  static FileResult Failure(std::string reason, int error_number = 0) {
    FileResult result;
    result.failed_ = true;
    result.reason_ = std::move(reason);
    result.error_number_ = error_number;
    return result;
  }
  bool ok() const { return !failed_; }
  // Empty on success.
  const std::string& reason() const { return reason_; }
  int error_number() const { return error_number_; }

 private:
  bool failed_ = false;
  std::string reason_;
  int error_number_ = 0;
};

// True when any entry (file, directory, link to either) has this name.
bool EntryExists(const std::string& path);
// True for a regular file itself: a link is not one, whatever it points at.
bool IsRegularEntry(const std::string& path);

// What stands at a name, a link itself rather than what it points at.
enum class EntryKind { kMissing, kRegularFile, kDirectory, kSymbolicLink, kOther, kUnreadable };
// kUnreadable (with the errno in error_number) when the name cannot be
// looked up for another reason than its absence.
EntryKind KindOfEntry(const std::string& path, int& error_number);

// The text a symbolic link holds, or nullopt when it cannot be read.
std::optional<std::string> SymbolicLinkTarget(const std::string& path);

// Makes a new symbolic link at link that holds target. Returns the system's
// reason on failure (an entry there already, say).
FileResult CreateSymbolicLink(const std::string& target, const std::string& link);

// Replaces the link at link by one that holds target, in one rename of a
// new link made beside it as "." + link + ".link", so that the name never
// goes missing for a reader. Returns the reason on failure; no temporary link is left either way.
FileResult ReplaceSymbolicLink(const std::string& target, const std::string& link);

// Whether the program may write into a directory: nullopt when it is a
// directory this user may write and search, otherwise why not, in the form
// "cannot be found (<reason>)", "is not a directory" or "not writable for
// this user (<reason>)".
std::optional<std::string> DirectoryWriteProblem(const std::string& path);

// Opens a file to read only when it is a regular file: the open never waits
// (for the writer of a FIFO, say) and a link at the name itself is refused
// when follow_links is false. Returns the descriptor and fills status, or
// returns an invalid one with the errno in error_number (EISDIR for a
// directory, EINVAL for another entry that is not a regular file, ELOOP for
// a link that is not followed).
FileDescriptor OpenRegularFile(const std::string& path, bool follow_links, struct stat& status,
                               int& error_number);

// The largest file ReadWholeFile reads unless told otherwise.
inline constexpr std::size_t kMaxWholeFileBytes = std::size_t{1} << 30;

// The whole content of a regular file (a link to one is followed), or
// nullopt when there is no regular file of that name, it cannot be read or
// it holds more than max_bytes. A FIFO, device or socket is refused without
// opening it for long: the open does not wait for a writer, and nothing is
// read from it.
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t max_bytes = kMaxWholeFileBytes);

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

// Appends to an existing regular file (creates it when missing; a link is
// not followed). Returns the reason on failure.
FileResult AppendToFile(const std::string& path, std::string_view bytes);

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

// True for a name that this program gives its temporary files: "." + the
// name it stands for + "." + eight random letters or digits + ".tmp".
bool IsTemporaryName(std::string_view name);

// Removes the temporary files of this program's naming in directory that
// date from before started: what a run that was killed left behind. Only
// regular files are removed; nothing is reported, since a leftover that
// stays harms nothing but space.
void RemoveStaleTemporaries(const std::string& directory,
                            std::chrono::system_clock::time_point started);

// Makes every rename done so far durable: flushes each directory a file was
// replaced in. Runs by itself when the process ends normally.
void SyncDirectories();

// The names in a directory (without "." and ".."), or nullopt when it
// cannot be listed. One listing answers "which of these names exist" for
// hundreds of names at the cost of a few system calls.
std::optional<std::unordered_set<std::string>> EntryNames(const std::string& directory);

// The last-write time of a regular file (not a link) in local time, or
// nullopt.
std::optional<TDateTime> LastWriteTimeLocal(const std::string& path);

// The last-write time of a regular file (not a link), or nullopt.
std::optional<std::chrono::system_clock::time_point> LastWriteTime(const std::string& path);

// Removes a name that is not a directory. Returns the reason on failure; a
// name that is already missing is no failure.
FileResult RemoveEntry(const std::string& path);

// The text of errno as the system states it.
std::string SystemErrorText(int error_number);

}  // namespace platform

// Files: whole-file read, atomic whole-file replace, copy, existence and
// last-write time. Every file the run publishes is replaced atomically: the
// bytes go to a temporary file in the same directory, are flushed, and the
// file is renamed over the target, so a reader never sees a partial file and
// a failed write leaves the old content in place. The renames are made
// durable together: each directory written to is flushed once, when the
// process ends (or SyncDirectories is called); until then a crash can only
// take a name back to its old, whole file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace platform {

// True when any entry (file, directory, link to either) has this name.
bool EntryExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

// The whole content, or nullopt when the file cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Replaces the file's content atomically. Returns an empty string on success,
// otherwise the system's reason. No temporary file is left on any path. A
// symbolic link is followed (the link stays), and a replaced file keeps its
// permissions; a new file gets 0666 less the umask.
std::string ReplaceFileAtomically(const std::string& path, std::string_view bytes);

// Appends to an existing file (creates it when missing). Returns the reason on
// failure, empty on success.
std::string AppendToFile(const std::string& path, std::string_view bytes);

// Copies source over destination atomically (temporary file and rename).
// Returns the reason on failure, empty on success; the destination is left
// as it was on failure.
std::string CopyFileAtomically(const std::string& source, const std::string& destination);

// As CopyFileAtomically, but where the file system allows it without copying
// a byte: the destination becomes another name (a hard link) of the source
// file, put in place by a rename. For files that are only ever replaced
// whole, never written in place (as every file this program writes), the two
// names are separate files again as soon as either is replaced. Falls back
// to a copy where a hard link cannot be made (another file system, no hard
// links). The source's bytes are taken as they are on disk: this program made
// them durable when it wrote them. The destination then has the source's
// permissions. Returns the
// reason on failure, empty on success; the destination is left as it was on
// failure.
std::string CopyFileByLinkAtomically(const std::string& source, const std::string& destination);

// Makes every rename done so far durable: flushes each directory a file was
// replaced in. Runs by itself when the process ends normally.
void SyncDirectories();

// The last-write time of a non-directory entry in local time, or nullopt.
std::optional<TDateTime> LastWriteTimeLocal(const std::string& path);

// The text of errno as the system states it.
std::string SystemErrorText(int error_number);

}  // namespace platform

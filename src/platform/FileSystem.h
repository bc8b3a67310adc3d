// Files: entries in the file system, their kinds and times, directory
// listings, and (through the headers included here) regular files read
// whole, files replaced atomically, links and temporary files.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <unordered_set>

#include "platform/DateTime.h"
#include "platform/DirectorySync.h"
#include "platform/FileResult.h"
#include "platform/RegularFile.h"
#include "platform/StagedFile.h"
#include "platform/SymbolicLink.h"
#include "platform/TemporaryFile.h"

namespace platform {

// True when any entry (file, directory, link to either) has this name.
bool EntryExists(const std::string& path);
// True for a regular file itself: a link is not one, whatever it points at.
bool IsRegularEntry(const std::string& path);

// What stands at a name, a link itself rather than what it points at.
enum class EntryKind { kMissing, kRegularFile, kDirectory, kSymbolicLink, kOther, kUnreadable };
// kUnreadable (with the errno in error_number) when the name cannot be
// looked up for another reason than its absence.
EntryKind KindOfEntry(const std::string& path, int& error_number);

// Whether the program may write into a directory: nullopt when it is a
// directory this user may write and search, otherwise why not, in the form
// "cannot be found (<reason>)", "is not a directory" or "not writable for
// this user (<reason>)".
std::optional<std::string> DirectoryWriteProblem(const std::string& path);

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

// Creates a directory (not its parents) with the given permissions less the
// umask. Returns the reason on failure; a directory (not a link to one)
// already at the name is no failure.
FileResult MakeDirectory(const std::string& path, unsigned mode);

}  // namespace platform

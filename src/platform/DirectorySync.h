// Renames made durable together: each directory a name was replaced in is
// flushed once, when the process ends (or SyncDirectories is called); until
// then a crash can only take a name back to its old, whole file.
#pragma once

#include <string>

namespace platform {

// Marks a directory as holding a rename that is not yet durable: it is
// flushed at exit, or at once when no exit handler can be installed.
void SyncDirectoryAtExit(const std::string& directory);

// Makes every rename done so far durable: flushes each directory a file was
// replaced in. Runs by itself when the process ends normally.
void SyncDirectories();

}  // namespace platform

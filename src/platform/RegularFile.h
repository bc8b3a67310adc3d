// Regular files read whole and appended to in place; other entries at the
// name (FIFOs, devices, links where refused) are turned away unopened for
// long.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileDescriptor.h"
#include "platform/FileResult.h"

namespace platform {

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

// Reads a regular file (a link to one is followed) as ReadWholeFile opens
// it, through a buffer of kCopyBufferSize: opened receives the size the file
// had when it was opened, then piece each piece in order. False when it
// cannot be opened or read, or is or grows larger than max_bytes.
bool ReadFileInPieces(const std::string& path, std::size_t max_bytes,
                      const std::function<void(std::size_t size)>& opened,
                      const std::function<void(std::string_view piece)>& piece);

// Appends to an existing regular file (creates it when missing; a link is
// not followed). Returns the reason on failure.
FileResult AppendToFile(const std::string& path, std::string_view bytes);

// The size of the buffer files are read and copied through.
inline constexpr std::size_t kCopyBufferSize = 64 * 1024;

// Writes all bytes, retrying after interruptions and short writes; returns 0
// or the errno of the failure.
int WriteAll(int fd, std::string_view bytes);

}  // namespace platform

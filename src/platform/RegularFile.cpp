#include "platform/RegularFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace platform {
namespace {

// Reading does not trust a file's reported size beyond this for its first
// allocation; larger files still grow the buffer as they are read.
constexpr std::size_t kMaxInitialReserve = 64 * 1024 * 1024;

}  // namespace

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

bool ReadFileInPieces(const std::string& path, std::size_t max_bytes,
                      const std::function<void(std::size_t size)>& opened,
                      const std::function<void(std::string_view piece)>& piece) {
  struct stat status {};
  int error_number = 0;
  const FileDescriptor fd = OpenRegularFile(path, true, status, error_number);
  if (!fd.valid()) return false;
  const auto size = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
  if (size > max_bytes) return false;
  opened(size);
  std::size_t total = 0;
  char buffer[kCopyBufferSize];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 0) return true;
    if (max_bytes - total < static_cast<std::size_t>(count)) return false;
    total += static_cast<std::size_t>(count);
    piece(std::string_view(buffer, static_cast<std::size_t>(count)));
  }
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  std::string content;
  const bool read = ReadFileInPieces(
      path, max_bytes,
      // The size is only a hint: the file may grow while it is read, up to
      // the limit.
      [&content](std::size_t size) { content.reserve(std::min(size, kMaxInitialReserve)); },
      [&content](std::string_view piece) { content.append(piece); });
  if (!read) return std::nullopt;
  return content;
}

FileResult AppendToFile(const std::string& path, std::string_view bytes) {
  FileDescriptor fd(::open(
      path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd.valid()) return FileResult::Failure(FileErrorText("Cannot open", path, errno));
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0)
    return FileResult::Failure(FileErrorText("Cannot open", path, errno));
  if (!S_ISREG(status.st_mode))
    return FileResult::Failure("Cannot write \"" + path + "\": Not a regular file");
  const int error_number = WriteAll(fd.get(), bytes);
  if (error_number != 0)
    return FileResult::Failure(FileErrorText("Cannot write", path, error_number));
  if (::fsync(fd.get()) != 0)
    return FileResult::Failure(FileErrorText("Cannot flush", path, errno));
  if (fd.Close() != 0) return FileResult::Failure(FileErrorText("Cannot close", path, errno));
  return {};
}

}  // namespace platform

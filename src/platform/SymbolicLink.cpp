#include "platform/SymbolicLink.h"

#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include "platform/DirectorySync.h"
#include "platform/TemporaryFile.h"

namespace platform {

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
  SyncDirectoryAtExit(directory);
  return {};
}

}  // namespace platform

#include "platform/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace platform {

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

FileResult MakeDirectory(const std::string& path, unsigned mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) return {};
  const int error_number = errno;
  struct stat status {};
  if (error_number == EEXIST && ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return {};
  }
  return FileResult::Failure(FileErrorText("Cannot create directory", path, error_number),
                             error_number);
}

}  // namespace platform

#include "platform/TemporaryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/FileDescriptor.h"

namespace platform {
namespace {

// Longest part of the target's name kept in a temporary name, so that the
// temporary name stays within the file system's limit for one name.
constexpr std::size_t kMaxTempBaseLength = 200;
constexpr std::size_t kRandomSuffixLength = 8;
constexpr std::string_view kTempNameEnd = ".tmp";

constexpr std::string_view kSuffixAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string RandomSuffix() {
  unsigned char random[kRandomSuffixLength] = {};
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Without random bytes the pid and a counter still give distinct names;
    // O_EXCL below catches any clash.
    static unsigned counter = 0;
    const unsigned value = static_cast<unsigned>(::getpid()) * 2654435761u + ++counter;
    for (std::size_t k = 0; k < sizeof random; ++k) {
      random[k] = static_cast<unsigned char>(value >> ((k % 4) * 8));
    }
  }
  std::string suffix;
  for (unsigned char byte : random) suffix += kSuffixAlphabet[byte % kSuffixAlphabet.size()];
  return suffix;
}

}  // namespace

void SplitPath(const std::string& path, std::string& directory, std::string& base) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    directory = ".";
    base = path;
  } else {
    directory = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
}

std::string TemporaryName(const std::string& directory, const std::string& base) {
  return directory + "/." + base.substr(0, kMaxTempBaseLength) + "." + RandomSuffix() +
         std::string(kTempNameEnd);
}

bool IsTemporaryName(std::string_view name) {
  // "." + at least one character of the name + "." + the suffix + ".tmp".
  constexpr std::size_t kShortest = 3 + kRandomSuffixLength + kTempNameEnd.size();
  if (name.size() < kShortest || name.front() != '.' || !name.ends_with(kTempNameEnd)) {
    return false;
  }
  name.remove_suffix(kTempNameEnd.size());
  const std::string_view suffix = name.substr(name.size() - kRandomSuffixLength);
  return name[name.size() - kRandomSuffixLength - 1] == '.' &&
         suffix.find_first_not_of(kSuffixAlphabet) == std::string_view::npos;
}

void RemoveStaleTemporaries(const std::string& directory,
                            std::chrono::system_clock::time_point started) {
  FileDescriptor dir_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_fd.valid()) return;
  struct CloseListing {
    void operator()(DIR* listing) const { ::closedir(listing); }
  };
  const std::unique_ptr<DIR, CloseListing> listing(::fdopendir(dir_fd.get()));
  if (listing == nullptr) return;
  dir_fd.Release();  // now closed with the listing
  const auto started_ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(started.time_since_epoch()).count();
  const int fd = ::dirfd(listing.get());
  while (const dirent* entry = ::readdir(listing.get())) {
    if (!IsTemporaryName(entry->d_name)) continue;
    struct stat status {};
    if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      continue;
    }
    // The change time, not the write time: a temporary made by a hard link
    // keeps its source's write time, but the link itself changed it.
    const long long changed_ns =
        static_cast<long long>(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec;
    if (changed_ns < started_ns) ::unlinkat(fd, entry->d_name, 0);
  }
}

}  // namespace platform

#include "platform/Process.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace platform {
namespace {

// The size of the user address space when the process has no limit on it:
// 128 TiB with 48-bit virtual addresses on 64-bit systems, 3 GiB on 32-bit.
constexpr std::uint64_t kUnlimitedAddressSpace =
    sizeof(void*) == 8 ? (std::uint64_t{1} << 47) : (std::uint64_t{3} << 30);
constexpr std::size_t kMaxExecutablePath = 1 << 16;

// Reads "Key:   123 kB" lines of /proc/meminfo; false when a key is missing.
bool ReadMemInfoKilobytes(const std::string& key, std::uint64_t& value) {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size() ||
        line[key.size()] != ':') {
      continue;
    }
    std::istringstream fields(line.substr(key.size() + 1));
    std::uint64_t kilobytes = 0;
    if (!(fields >> kilobytes)) return false;
    value = kilobytes * 1024;
    return true;
  }
  return false;
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  while (buffer.size() <= kMaxExecutablePath) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
  return "";
}

bool ChangeDirectory(const std::string& path) {
  return !path.empty() && ::chdir(path.c_str()) == 0;
}

bool ReadMemoryFigures(MemoryFigures& figures) {
  figures = MemoryFigures{};
  if (!ReadMemInfoKilobytes("MemTotal", figures.total_phys)) return false;
  // MemAvailable counts reclaimable caches as available, as the figure of
  // available physical memory is meant; very old kernels only have MemFree.
  if (!ReadMemInfoKilobytes("MemAvailable", figures.avail_phys) &&
      !ReadMemInfoKilobytes("MemFree", figures.avail_phys)) {
    return false;
  }
  if (!ReadMemInfoKilobytes("SwapTotal", figures.total_page_file) ||
      !ReadMemInfoKilobytes("SwapFree", figures.avail_page_file)) {
    return false;
  }

  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0) return false;
  figures.total_virtual =
      limit.rlim_cur == RLIM_INFINITY ? kUnlimitedAddressSpace : std::uint64_t{limit.rlim_cur};

  // The first field of /proc/self/statm is the process's whole virtual size
  // in pages.
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  if (!(statm >> pages)) return false;
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (page_size <= 0) return false;
  const std::uint64_t used_virtual = pages * static_cast<std::uint64_t>(page_size);
  figures.avail_virtual =
      figures.total_virtual > used_virtual ? figures.total_virtual - used_virtual : 0;
  return true;
}

std::uint32_t UpTimeMilliseconds() {
  struct timespec since_boot {};
  // CLOCK_BOOTTIME keeps counting while the machine is suspended, like the
  // up-time the system reports.
  if (::clock_gettime(CLOCK_BOOTTIME, &since_boot) != 0) {
    ::clock_gettime(CLOCK_MONOTONIC, &since_boot);
  }
  const std::uint64_t milliseconds = static_cast<std::uint64_t>(since_boot.tv_sec) * 1000u +
                                     static_cast<std::uint64_t>(since_boot.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(milliseconds);
}

}  // namespace platform

// The running process and the machine: executable path, working directory,
// memory figures and up-time.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The full path of the running executable (/proc/self/exe), or empty.
std::string ExecutablePath();

// Makes the directory the working directory; false when it cannot be entered.
bool ChangeDirectory(const std::string& path);

// Memory figures in bytes: physical memory, swap in place of the page file,
// and the process's address-space limit and its unused part in place of the
// virtual figures. Returns false when the figures cannot be read.
struct MemoryFigures {
  std::uint64_t total_phys = 0, avail_phys = 0;
  std::uint64_t total_page_file = 0, avail_page_file = 0;
  std::uint64_t total_virtual = 0, avail_virtual = 0;
};
bool ReadMemoryFigures(MemoryFigures& figures);

// Milliseconds since system start (monotonic), reduced modulo 2^32.
std::uint32_t UpTimeMilliseconds();

}  // namespace platform

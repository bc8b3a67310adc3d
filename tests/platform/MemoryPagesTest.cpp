#include "platform/MemoryPages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace platform {
namespace {

// The anonymous memory of this process held in large pages, in KiB.
std::uint64_t LargePageKib() {
  std::ifstream rollup("/proc/self/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line)) {
    if (line.starts_with("AnonHugePages:")) return std::stoull(line.substr(14));
  }
  return 0;
}

// A heap left in ordinary pages (a grow block the allocator maps on its own,
// say) costs a run on a virtual machine much of its time and shows nowhere else.
TEST(MemoryPagesTest, HeapServesBlocksFromLargePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps a heap of its own";
#endif
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  if (!std::getline(setting, modes) || modes.find("[never]") != std::string::npos) {
    GTEST_SKIP() << "large pages are off on this system";
  }
  const std::uint64_t before = LargePageKib();
  PreferLargePagesForHeap(kRunHeapReserve);
  const std::vector<std::vector<char>> blocks(8, std::vector<char>(std::size_t{1} << 20, 'x'));
  EXPECT_GE(LargePageKib() - before, 2048u) << "8 MiB of 1 MiB blocks, none in a large page";
}

}  // namespace
}  // namespace platform

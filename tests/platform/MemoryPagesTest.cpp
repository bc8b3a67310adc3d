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
  std::string name;
  std::uint64_t kib = 0;
  while (rollup >> name) {
    if (name == "AnonHugePages:" && rollup >> kib) return kib;
    rollup.ignore(1 << 10, '\n');
  }
  return 0;
}

// A heap that silently stays in ordinary pages (a grow block the allocator
// maps on its own, an advice on the wrong range) costs a run on a virtual
// machine much of its time, and nothing else would show it.
TEST(MemoryPagesTest, HeapServesBlocksFromLargePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps a heap of its own";
#endif
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(setting, modes);
  if (modes.empty() || modes.find("[never]") != std::string::npos) {
    GTEST_SKIP() << "large pages are off on this system";
  }
  const std::uint64_t before = LargePageKib();
  PreferLargePagesForHeap(kRunHeapReserve);
  std::vector<std::vector<char>> blocks;
  for (int i = 0; i < 8; ++i) blocks.emplace_back(std::size_t{1} << 20, 'x');
  EXPECT_GE(LargePageKib() - before, 2048u) << "8 MiB of 1 MiB blocks, none in a large page";
}

}  // namespace
}  // namespace platform

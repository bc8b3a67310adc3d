#include "platform/MemoryPages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace platform {

namespace {

// Calls madvise on the whole pages inside the range; partial pages at either
// end may hold other data and are left alone.
void AdviseInnerPages(char* data, std::size_t size, int advice) {
  static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  auto begin = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t end = begin + size;
  std::uintptr_t first = (begin + page - 1) / page * page;
  std::uintptr_t last = end / page * page;
  if (first >= last) return;
  // The advice is only an optimisation: a failure changes nothing visible.
  (void)::madvise(reinterpret_cast<void*>(first), last - first, advice);
}

}  // namespace

void ReleasePages(char* data, std::size_t size) { AdviseInnerPages(data, size, MADV_DONTNEED); }

void PreferLargePages(char* data, std::size_t size) { AdviseInnerPages(data, size, MADV_HUGEPAGE); }

void PreferLargePagesForHeap(std::size_t reserve) {
  // Blocks from this size up are mapped on their own rather than taken from
  // the heap (the allocator's largest setting).
  constexpr std::size_t kMapThreshold = 32 * 1024 * 1024;
  // The block that makes the heap grow: below the threshold, so that it is
  // taken from the heap.
  constexpr std::size_t kGrowBlock = kMapThreshold - 1024 * 1024;
  constexpr std::size_t kMaxPad = 1024 * 1024 * 1024;
  // The allocator's own padding of each growth.
  constexpr int kDefaultPad = 128 * 1024;
  if (reserve <= kGrowBlock) return;
  const int pad = static_cast<int>(std::min(reserve - kGrowBlock, kMaxPad));
  // Every thread allocates from the main heap and big blocks come from it
  // too; it grows by the reserve once and is never trimmed while the run
  // lasts, so that it stays one range of large pages.
  if (::mallopt(M_ARENA_MAX, 1) == 0 || ::mallopt(M_MMAP_THRESHOLD, kMapThreshold) == 0 ||
      ::mallopt(M_TRIM_THRESHOLD, INT32_MAX) == 0 || ::mallopt(M_TOP_PAD, pad) == 0) {
    return;
  }
  // A block bigger than what the heap has free makes it grow; from the block
  // to the heap's new end is then advised, and the block handed back. An
  // allocator that did not take it from the heap (a checking one, say) leaves
  // the heap's end where it was, and nothing is advised.
  const auto heap_end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  void* block = std::malloc(kGrowBlock);
  // Later growth goes in small steps again, as it did: under a tight limit
  // of address space a big step could fail where a small one would not.
  ::mallopt(M_TOP_PAD, kDefaultPad);
  if (block == nullptr) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (end > heap_end && start < end && end - start >= kGrowBlock) {
    PreferLargePages(static_cast<char*>(block), end - start);
  }
  std::free(block);
}

}  // namespace platform

#include "platform/MemoryPages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

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

}  // namespace platform

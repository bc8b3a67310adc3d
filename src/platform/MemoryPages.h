// Page-level hints to the kernel about memory the program owns.
#pragma once

#include <cstddef>

namespace platform {

// Gives back to the system the whole pages inside [data, data + size). Their
// content is lost (they read as zeros afterwards); for storage that is about
// to be freed after it was copied, so that the copy and the original are not
// both resident at once.
void ReleasePages(char* data, std::size_t size);

// Asks for large pages for the whole pages inside [data, data + size), which
// makes filling a big buffer cheaper. Only a hint; ignored where unsupported.
void PreferLargePages(char* data, std::size_t size);

// Lets the allocator serve this process from one heap that is grown once, by
// reserve bytes of address space, and backed by large pages: on virtual
// machines that trap every page fault, filling fresh memory page by page is
// what many short runs spend most of their time on. Call once at start,
// before any thread is started; without effect where the allocator or the
// system does not allow it. Only address space is reserved: pages become
// resident when first written, as before, in steps of a large page.
void PreferLargePagesForHeap(std::size_t reserve);

// The reserve a run takes: one with the loop picture and the forecast keeps
// under 40 MiB at its peak; beyond it the heap still grows, in ordinary
// pages.
inline constexpr std::size_t kRunHeapReserve = 64 * 1024 * 1024;

}  // namespace platform

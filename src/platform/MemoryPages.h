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

}  // namespace platform

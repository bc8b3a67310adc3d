#include "platform/FileResult.h"

#include <string.h>

namespace platform {

std::string FileErrorText(const std::string& what, const std::string& path, int error_number) {
  return what + " \"" + path + "\": " + SystemErrorText(error_number);
}

std::string SystemErrorText(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be the buffer.
  const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : "error " + std::to_string(error_number);
}

}  // namespace platform

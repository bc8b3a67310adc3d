#include "platform/Console.h"

#include <errno.h>

#include <cstdio>
#include <string>

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace platform {

void WriteLine(std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                       std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
  if (!written) {
    const int error_number = errno;
    std::clearerr(stdout);
    throw EOSError("Cannot write to standard output: " +
                   (error_number != 0 ? SystemErrorText(error_number) : std::string("I/O error")));
  }
}

}  // namespace platform

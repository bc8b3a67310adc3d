#include "platform/Console.h"

#include <errno.h>

#include <cstdio>
#include <string>

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace platform {

namespace {

bool PutLine(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fputc('\n', stdout) != EOF;
}

void FlushLines(bool written) {
  written = written && std::fflush(stdout) == 0;
  if (!written) {
    const int error_number = errno;
    std::clearerr(stdout);
    throw EOSError("Cannot write to standard output: " +
                   (error_number != 0 ? SystemErrorText(error_number) : std::string("I/O error")));
  }
}

}  // namespace

void WriteLine(std::string_view text) {
  errno = 0;
  FlushLines(PutLine(text));
}

void WriteLines(std::span<const std::string> texts) {
  errno = 0;
  bool written = true;
  for (const std::string& text : texts) written = written && PutLine(text);
  FlushLines(written);
}

}  // namespace platform

#include "platform/Console.h"

#include <errno.h>

#include <cstdio>
#include <string>

#include "platform/AsciiText.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace platform {

namespace {

constexpr std::string_view kCutMark = "...";

bool PutLine(std::FILE* stream, std::string_view text) {
  const std::string line = ConsoleText(text);
  return std::fwrite(line.data(), 1, line.size(), stream) == line.size() &&
         std::fputc('\n', stream) != EOF;
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

std::string ConsoleText(std::string_view text) {
  // Each byte shows as itself or as a four-byte escape; the cut falls
  // between them, where the mark still fits.
  std::size_t shown = 0;
  std::size_t keep = 0;  // the bytes of text that fit before the mark
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t piece = (byte >= 0x20 && byte <= 0x7E) || byte == '\t' ? 1 : 4;
    if (keep == at && shown + piece <= kMaxConsoleLineBytes - kCutMark.size()) keep = at + 1;
    if (kMaxConsoleLineBytes - shown < piece) {
      return PrintableBytes(text.substr(0, keep)) + std::string(kCutMark);
    }
    shown += piece;
  }
  return PrintableBytes(text);
}

void WriteLine(std::string_view text) {
  errno = 0;
  FlushLines(PutLine(stdout, text));
}

void WriteLines(std::span<const std::string> texts) {
  errno = 0;
  bool written = true;
  for (const std::string& text : texts) written = written && PutLine(stdout, text);
  FlushLines(written);
}

void WriteErrorLine(std::string_view text) {
  PutLine(stderr, text);
  std::fflush(stderr);
}

}  // namespace platform

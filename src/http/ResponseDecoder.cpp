#include "http/ResponseDecoder.h"

#include <limits>
#include <string>

#include "http/ChunkedDecoder.h"
#include "platform/Exceptions.h"

namespace http {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A TLS host answers a plain request, if at all, with a TLS record (an alert
// or a handshake message): content type 0x15 or 0x16, then major version 3.
bool IsTlsRecordStart(std::string_view bytes) {
  return bytes.size() == 2 && (bytes[0] == '\x15' || bytes[0] == '\x16') && bytes[1] == '\x03';
}

}  // namespace

void ChargeHead(HeadBudget& budget, std::size_t consumed, bool header_line) {
  if (header_line && budget.lines == 0)
    throw platform::EIdException("Response head has more than " + std::to_string(kMaxHeaderLines) +
                                 " lines.");
  if (budget.bytes < consumed)
    throw platform::EIdException("Response head is longer than " + std::to_string(kMaxHeadBytes) +
                                 " bytes.");
  if (header_line) --budget.lines;
  budget.bytes -= consumed;
}

std::size_t ParseChunkSize(const std::string& line, std::size_t limit) {
  std::size_t end = line.find_first_of(" \t;");
  std::string_view digits = std::string_view(line).substr(0, end);
  if (digits.empty())
    throw platform::EIdException("Invalid chunk size line \"" + line.substr(0, 64) + "\".");
  std::size_t size = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0)
      throw platform::EIdException("Invalid chunk size line \"" + line.substr(0, 64) + "\".");
    // Checked before it is taken: size * 16 + digit <= limit.
    if (limit < static_cast<std::size_t>(digit) ||
        size > (limit - static_cast<std::size_t>(digit)) / 16)
      return std::numeric_limits<std::size_t>::max();
    size = size * 16 + static_cast<std::size_t>(digit);
  }
  return size;
}

bool ReadResponseHead(InputBuffer& input, TIdHTTPResponse& response, std::size_t max_line_length,
                      HeadBudget& budget) {
  response.Clear();
  if (IsTlsRecordStart(input.Peek(2))) throw platform::EIdException(kTlsAnswerMessage);
  std::size_t consumed = 0;
  response.SetStatusLine(input.ReadLn(max_line_length, &consumed));
  ChargeHead(budget, consumed, false);
  bool cut = false;
  for (;;) {
    std::string line;
    try {
      line = input.ReadLn(max_line_length, &consumed);
    } catch (const platform::EIdConnClosedGracefully&) {
      cut = true;
      break;
    }
    ChargeHead(budget, consumed, !line.empty());
    if (line.empty()) break;
    response.RawHeaders.Add(std::move(line));
  }
  response.ProcessHeaders();
  return cut;
}

bool IsChunked(const TIdHTTPResponse& response) {
  return ContainsIgnoreCase(response.TransferEncoding, "chunked");
}

bool IsInterimStatus(int status_code) {
  return status_code >= 100 && status_code <= 199 && status_code != 101;
}

bool HasNoBody(int status_code) {
  return (status_code >= 100 && status_code <= 199) || status_code == 204 || status_code == 304;
}

void ReadBody(InputBuffer& input, const TIdHTTPResponse& response, BodyDestination& destination,
              std::size_t max_line_length) {
  if (HasNoBody(response.ResponseCode)) return;
  // A body whose end the head gives two ways cannot be told from the start
  // of the next answer: taking either would save bytes the server may not
  // have meant as the body.
  if (response.ContentLengthConflict)
    throw platform::EIdException("Response declares conflicting Content-Length values.");
  if (response.ContentLengthMalformed)
    throw platform::EIdException("Response declares a malformed Content-Length value.");
  bool chunked = IsChunked(response);
  if (chunked && response.HasContentLength())
    throw platform::EIdException(
        "Response declares both a Content-Length and the chunked transfer-coding.");
  if (response.ContentLength > 0) {
    if (static_cast<std::uint64_t>(response.ContentLength) > destination.Remaining())
      destination.RaiseTooLarge();
    auto length = static_cast<std::size_t>(response.ContentLength);
    destination.ExpectTotal(length);
    input.ReadExact(length, destination);
  } else if (chunked) {
    ChunkedDecoder decoder(max_line_length, destination.Remaining(), destination.Limit());
    input.ReadFiltered(decoder, destination);
  } else if (!response.HasContentLength()) {
    input.ReadToClose(destination);
  }
}

}  // namespace http

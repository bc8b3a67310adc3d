// Reading a response head and a response body from an InputBuffer. Free of
// I/O: every byte comes through the buffer's ByteSource, so the same code
// runs over a socket, over memory in tests and under the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "http/BodyDestination.h"
#include "http/InputBuffer.h"
#include "http/TIdHTTPResponse.h"

namespace http {

// Bounds against broken or hostile servers.
inline constexpr std::size_t kMaxHeaderLines = 1000;             // per response
inline constexpr std::size_t kMaxHeadBytes = 1024 * 1024;        // per response
inline constexpr std::size_t kMaxBodyBytes = 256 * 1024 * 1024;  // per body
inline constexpr std::size_t kDefaultMaxLineLength = 16384;

// What one response may still spend on heads; interim heads (100 Continue)
// draw on the same budget as the final one.
struct HeadBudget {
  std::size_t lines = kMaxHeaderLines;
  std::size_t bytes = kMaxHeadBytes;
};

// Charges consumed head bytes, and one header line when header_line is set,
// to the budget; raises EIdException when it runs out.
void ChargeHead(HeadBudget& budget, std::size_t consumed, bool header_line);

// What a TLS record in place of a status line means to the operator.
inline constexpr const char* kTlsAnswerMessage =
    "The host answered with TLS: use https:// in its address (RadarHost, PublishHost).";

// Reads a status line and header lines up to the empty line into response
// (cleared first) and fills its fields. An answer that starts as a TLS record
// raises EIdException kTlsAnswerMessage. A close of the peer after the status
// line ends the head where it is; the result is then true ("cut"). A close
// before the status line raises EIdConnClosedGracefully. Passing the budget
// raises EIdException.
bool ReadResponseHead(InputBuffer& input, TIdHTTPResponse& response, std::size_t max_line_length,
                      HeadBudget& budget);

// Whether the body is framed by the chunked transfer-coding.
bool IsChunked(const TIdHTTPResponse& response);

// Interim answers that a final one follows: 1xx except 101, whose switch of
// protocols a GET never asks for.
bool IsInterimStatus(int status_code);

// Answers that never carry a body: 1xx, 204 and 304.
bool HasNoBody(int status_code);

// Reads the body of response into destination: by Content-Length, chunked,
// or until the peer closes; nothing for an answer that has no body. A body cut short by a close
// raises EIdConnClosedGracefully; a chunk-size line that is not a hexadecimal number, a body
// larger than the destination's limit, conflicting or malformed Content-Length values, or a
// Content-Length together with the chunked coding raise EIdException.
void ReadBody(InputBuffer& input, const TIdHTTPResponse& response, BodyDestination& destination,
              std::size_t max_line_length);

// The size of a chunk-size line: the hexadecimal number before any blank,
// tab or ";" (chunk extensions). Raises EIdException when there is no such
// number; a number above limit gives SIZE_MAX.
std::size_t ParseChunkSize(const std::string& line, std::size_t limit);

}  // namespace http

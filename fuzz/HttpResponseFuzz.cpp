// Arbitrary bytes as a server's answer to the response-head reader and the
// body decoders, through an in-memory connection. Besides crashes and
// sanitizer findings it checks two properties: a body read by length has
// exactly that length, and the outcome does not depend on how the bytes
// were split into receives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "http/ResponseDecoder.h"
#include "platform/Exceptions.h"

namespace {

// A body limit far below the real one keeps each run fast; the checks
// against it are the same code.
constexpr std::size_t kFuzzBodyLimit = 1 << 20;

// Hands the bytes out at most piece bytes per receive, then reports the
// close.
class MemorySource : public http::ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size, std::size_t piece)
      : data_(data), size_(size), piece_(piece) {}

  std::size_t Receive(char* buffer, std::size_t max_bytes) override {
    std::size_t count = std::min({max_bytes, piece_, size_ - offset_});
    if (count > 0) std::memcpy(buffer, data_ + offset_, count);
    offset_ += count;
    return count;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t piece_;
  std::size_t offset_ = 0;
};

// Decodes one answer as the client does (interim 1xx heads skipped) and
// describes the outcome: status, header count, body, or the error raised.
std::string Decode(const std::uint8_t* data, std::size_t size, std::size_t piece,
                   std::size_t block) {
  MemorySource source(data, size, piece);
  http::InputBuffer input(source, block);
  http::TIdHTTPResponse response;
  http::HeadBudget budget;
  std::string outcome;
  try {
    bool cut = false;
    do {
      cut = http::ReadResponseHead(input, response, http::kDefaultMaxLineLength, budget);
    } while (http::IsInterimStatus(response.ResponseCode) && !cut);
    std::string body;
    {
      http::BodyDestination destination(body, kFuzzBodyLimit);
      http::ReadBody(input, response, destination, http::kDefaultMaxLineLength);
    }
    if (response.ContentLength > 0 && !http::HasNoBody(response.ResponseCode) &&
        body.size() != static_cast<std::size_t>(response.ContentLength))
      __builtin_trap();
    outcome = std::to_string(response.ResponseCode) + "|" +
              std::to_string(response.RawHeaders.Count()) + "|" + (cut ? "cut|" : "|") + body;
  } catch (const platform::Exception& error) {
    outcome = "error|" + error.ClassName() + "|" + error.Message();
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string whole = Decode(data, size, size + 1, 32768);
  // The split of the stream into receives is taken from the input's first
  // byte, so that the fuzzer explores it too.
  std::size_t piece = size > 0 ? 1 + data[0] % 13 : 1;
  std::string split = Decode(data, size, piece, 7);
  if (whole != split) __builtin_trap();
  return 0;
}

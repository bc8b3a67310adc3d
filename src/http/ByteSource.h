// The narrow interface through which the response decoders get bytes: a
// socket in the client, memory in tests and the fuzz target.
#pragma once

#include <cstddef>

namespace http {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Receives at most max_bytes into buffer, waiting as long as the source's
  // time-out allows. Returns the count received (at least 1), or 0 once the
  // peer has closed the stream for good. A wait that runs out raises
  // EIdReadTimeout; other failures raise their EId* class.
  virtual std::size_t Receive(char* buffer, std::size_t max_bytes) = 0;
};

}  // namespace http

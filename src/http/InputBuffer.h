// Bytes received but not yet consumed, with the reads the response decoders
// need: lines, an exact count, everything until the peer closes. Free of I/O
// itself: more bytes come from a ByteSource only when a read needs them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "http/BodyDestination.h"
#include "http/ByteSource.h"

namespace http {

// Cuts the framing out of body bytes in place, as the chunked
// transfer-coding needs (see ChunkedDecoder).
class BodyFilter {
 public:
  virtual ~BodyFilter() = default;
  // Takes bytes from data[0, size) up to the end of the body, moving their
  // payload to data[0, *payload); returns the count taken, which is less
  // than size only once Done().
  virtual std::size_t Filter(char* data, std::size_t size, std::size_t* payload) = 0;
  virtual bool Done() const = 0;
};

class InputBuffer {
 public:
  // block_size is the most bytes asked from the source in one receive.
  explicit InputBuffer(ByteSource& source, std::size_t block_size = 32768);

  // Reads one line: it ends at LF, and one CR before the LF is removed.
  // Raises EIdReadLnMaxLineLengthExceeded "Max line length exceeded." for a
  // line (or, while no LF has arrived, the buffered bytes) longer than
  // max_line_length, and EIdConnClosedGracefully when the peer closes before
  // the LF; the bytes of an unfinished line then stay buffered. consumed
  // receives the count of bytes taken, line end included.
  std::string ReadLn(std::size_t max_line_length, std::size_t* consumed = nullptr);

  // The first count bytes of what is to come, without consuming them: fewer
  // only when the peer closes first.
  std::string_view Peek(std::size_t count);

  // Reads exactly count bytes into destination. Raises
  // EIdConnClosedGracefully when the peer closes first; the bytes that did
  // arrive are in destination then.
  void ReadExact(std::size_t count, BodyDestination& destination);

  // Reads everything until the peer closes into destination; raises when
  // more arrives than destination may hold.
  void ReadToClose(BodyDestination& destination);

  // Reads a framed body through filter until it is done: buffered bytes
  // first, then blocks received straight into destination and filtered
  // there. Bytes after the body stay buffered. Raises
  // EIdConnClosedGracefully when the peer closes before the end.
  void ReadFiltered(BodyFilter& filter, BodyDestination& destination);

  // The peer has closed the stream: nothing more will arrive.
  bool SourceClosed() const { return source_closed_; }
  std::size_t Buffered() const { return end_ - start_; }
  // Drops buffered bytes and forgets an earlier close, for a new stream.
  void Reset();

 private:
  // Receives once into the buffer; false when the peer has closed.
  bool Fill();
  // Receives once into destination, at most count bytes; 0 when closed.
  std::size_t ReceiveInto(BodyDestination& destination, std::size_t count);
  void TakeBuffered(std::size_t count, BodyDestination& destination);
  // Puts bytes received elsewhere into the empty buffer.
  void Keep(const char* data, std::size_t count);

  ByteSource& source_;
  std::size_t block_size_;
  std::vector<char> data_;  // data_[start_, end_) is unconsumed; the rest is room
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::size_t scanned_ = 0;  // unconsumed bytes already searched for LF
  bool source_closed_ = false;
};

}  // namespace http

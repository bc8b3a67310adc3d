// The chunked transfer-coding, decoded from bytes pushed in. It works in
// place: the payload of the bytes given is moved to their front and the
// framing (chunk-size lines, line ends, trailer) dropped, so that a body
// received straight into its destination is never copied again.
#pragma once

#include <cstddef>
#include <string>

#include "http/InputBuffer.h"
#include "http/ResponseDecoder.h"

namespace http {

class ChunkedDecoder : public BodyFilter {
 public:
  // body_room is how many payload bytes the destination may still take;
  // body_limit is the destination's whole limit, named in the error.
  ChunkedDecoder(std::size_t max_line_length, std::size_t body_room, std::size_t body_limit);

  // Takes bytes from data[0, size) up to the end of the body and moves their
  // payload to data[0, *payload). Returns the count taken, less than size
  // only once the body has ended. Malformed framing raises: a line longer
  // than max_line_length EIdReadLnMaxLineLengthExceeded, a chunk-size line
  // that is no hexadecimal number, chunk data longer than its size, a body
  // past its limit or a trailer past the head limits EIdException.
  std::size_t Filter(char* data, std::size_t size, std::size_t* payload) override;
  bool Done() const override { return state_ == State::kDone; }

 private:
  enum class State { kSizeLine, kData, kDataEnd, kTrailer, kDone };

  // Takes bytes of the current line from data; true once its LF has
  // arrived, line_ then holding it without CR LF.
  bool TakeLine(const char* data, std::size_t size, std::size_t* taken);
  void EndLine();

  State state_ = State::kSizeLine;
  std::size_t max_line_length_;
  std::size_t body_room_;
  std::size_t body_limit_;
  std::size_t chunk_left_ = 0;  // payload bytes the current chunk still owes
  std::string line_;            // the line being read
  std::size_t line_bytes_ = 0;  // its bytes so far, line end included
  HeadBudget trailer_;
};

}  // namespace http

#include "http/ChunkedDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/Exceptions.h"

namespace http {

ChunkedDecoder::ChunkedDecoder(std::size_t max_line_length, std::size_t body_room,
                               std::size_t body_limit)
    : max_line_length_(max_line_length), body_room_(body_room), body_limit_(body_limit) {}

bool ChunkedDecoder::TakeLine(const char* data, std::size_t size, std::size_t* taken) {
  // An acceptable line has at most max_line_length bytes and CR LF; there is
  // no need to look further for its LF.
  std::size_t acceptable = max_line_length_ + 2;
  std::size_t scan = std::min(size, acceptable - std::min(line_.size(), acceptable));
  const void* lf = scan > 0 ? std::memchr(data, '\n', scan) : nullptr;
  if (lf != nullptr) {
    std::size_t count = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    line_.append(data, count - 1);
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > max_line_length_)
      throw platform::EIdReadLnMaxLineLengthExceeded("Max line length exceeded.");
    line_bytes_ += count;
    *taken = count;
    return true;
  }
  line_.append(data, scan);
  line_bytes_ += scan;
  // Without its LF the line is at least what has arrived, less a CR that
  // may turn out to end it; more bytes past the scan make it too long.
  std::size_t least = line_.size() - (!line_.empty() && line_.back() == '\r' ? 1 : 0);
  if (least > max_line_length_ || scan < size)
    throw platform::EIdReadLnMaxLineLengthExceeded("Max line length exceeded.");
  *taken = scan;
  return false;
}

void ChunkedDecoder::EndLine() {
  line_.clear();
  line_bytes_ = 0;
}

std::size_t ChunkedDecoder::Filter(char* data, std::size_t size, std::size_t* payload) {
  std::size_t position = 0;
  std::size_t out = 0;
  while (position < size && state_ != State::kDone) {
    if (state_ == State::kData) {
      std::size_t count = std::min(chunk_left_, size - position);
      if (out != position) std::memmove(data + out, data + position, count);
      out += count;
      position += count;
      chunk_left_ -= count;
      if (chunk_left_ == 0) state_ = State::kDataEnd;
      continue;
    }
    std::size_t taken = 0;
    bool complete = TakeLine(data + position, size - position, &taken);
    position += taken;
    if (!complete) break;
    switch (state_) {
      case State::kSizeLine: {
        std::size_t chunk = ParseChunkSize(line_, body_room_);
        if (chunk > body_room_) RaiseBodyTooLarge(body_limit_);
        body_room_ -= chunk;
        chunk_left_ = chunk;
        state_ = chunk == 0 ? State::kTrailer : State::kData;
        break;
      }
      case State::kDataEnd:
        // The chunk data ends with its own line end; anything else means
        // the size was wrong and the body is corrupt.
        if (!line_.empty()) throw platform::EIdException("Chunk data longer than its chunk size.");
        state_ = State::kSizeLine;
        break;
      case State::kTrailer:
        // Trailer lines up to the empty line that ends the body, bounded
        // like head lines.
        ChargeHead(trailer_, line_bytes_, !line_.empty());
        if (line_.empty()) state_ = State::kDone;
        break;
      case State::kData:
      case State::kDone:
        break;
    }
    EndLine();
  }
  *payload = out;
  return position;
}

}  // namespace http

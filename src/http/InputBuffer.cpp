#include "http/InputBuffer.h"

#include <algorithm>
#include <cstring>

#include "platform/Exceptions.h"

namespace http {

namespace {

// A rest of a body at least this long is received straight into the
// destination; a shorter one is not worth a receive of its own.
constexpr std::size_t kDirectReceiveMinimum = 4096;

[[noreturn]] void RaiseClosed() {
  throw platform::EIdConnClosedGracefully("Connection Closed Gracefully.");
}

[[noreturn]] void RaiseLineTooLong() {
  throw platform::EIdReadLnMaxLineLengthExceeded("Max line length exceeded.");
}

}  // namespace

InputBuffer::InputBuffer(ByteSource& source, std::size_t block_size)
    : source_(source), block_size_(block_size == 0 ? 1 : block_size) {}

void InputBuffer::Reset() {
  start_ = 0;
  end_ = 0;
  scanned_ = 0;
  source_closed_ = false;
}

bool InputBuffer::Fill() {
  if (source_closed_) return false;
  // Move the unconsumed bytes to the front before receiving, so that the
  // buffer stays about one line plus one block long however much passes
  // through it.
  if (start_ > 0) {
    std::memmove(data_.data(), data_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (data_.size() - end_ < block_size_) data_.resize(end_ + block_size_);
  std::size_t received = source_.Receive(data_.data() + end_, block_size_);
  end_ += received;
  if (received == 0) source_closed_ = true;
  return received > 0;
}

std::string InputBuffer::ReadLn(std::size_t max_line_length, std::size_t* consumed) {
  for (;;) {
    const char* begin = data_.data() + start_;
    std::size_t available = Buffered();
    // A line of max_line_length bytes takes at most two more for CR LF;
    // there is no need to search further than that.
    std::size_t limit = std::min(available, max_line_length + 2);
    std::size_t unscanned = limit - std::min(scanned_, limit);
    const void* lf = unscanned > 0 ? std::memchr(begin + scanned_, '\n', unscanned) : nullptr;
    if (lf != nullptr) {
      std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
      std::size_t length = end;
      if (length > 0 && begin[length - 1] == '\r') --length;
      if (length > max_line_length) RaiseLineTooLong();
      std::string line(begin, length);
      start_ += end + 1;
      scanned_ = 0;
      if (consumed != nullptr) *consumed = end + 1;
      return line;
    }
    scanned_ = limit;
    // Without an LF the line is at least the buffered bytes, less a CR that
    // may turn out to end it.
    std::size_t least = available;
    if (least > 0 && begin[least - 1] == '\r') --least;
    if (least > max_line_length) RaiseLineTooLong();
    if (!Fill()) RaiseClosed();
  }
}

std::string_view InputBuffer::Peek(std::size_t count) {
  while (Buffered() < count && Fill()) {
  }
  return std::string_view(data_.data() + start_, std::min(count, Buffered()));
}

void InputBuffer::TakeBuffered(std::size_t count, BodyDestination& destination) {
  destination.Append(data_.data() + start_, count);
  start_ += count;
  scanned_ = 0;
  if (start_ == end_) start_ = end_ = 0;
}

std::size_t InputBuffer::ReceiveInto(BodyDestination& destination, std::size_t count) {
  if (source_closed_) return 0;
  char* room = destination.Room(count);
  std::size_t received = source_.Receive(room, count);
  destination.Commit(received);
  if (received == 0) source_closed_ = true;
  return received;
}

void InputBuffer::ReadExact(std::size_t count, BodyDestination& destination) {
  if (destination.Remaining() < count) destination.RaiseTooLarge();
  std::size_t from_buffer = std::min(count, Buffered());
  TakeBuffered(from_buffer, destination);
  std::size_t left = count - from_buffer;
  while (left > 0) {
    std::size_t received = 0;
    if (left >= kDirectReceiveMinimum) {
      // Straight into the destination, never more than the body still
      // owes: what follows belongs to the next read.
      received = ReceiveInto(destination, std::min(left, block_size_));
    } else {
      // A short rest goes through the buffer, whose receive also takes
      // what follows (the next chunk-size line, say) in the same call.
      if (Fill()) {
        received = std::min(left, Buffered());
        TakeBuffered(received, destination);
      }
    }
    if (received == 0) RaiseClosed();
    left -= received;
  }
}

void InputBuffer::Keep(const char* data, std::size_t count) {
  if (data_.size() < count) data_.resize(count);
  std::memcpy(data_.data(), data, count);
  start_ = 0;
  end_ = count;
  scanned_ = 0;
}

void InputBuffer::ReadFiltered(BodyFilter& filter, BodyDestination& destination) {
  for (;;) {
    if (Buffered() > 0) {
      std::size_t payload = 0;
      std::size_t consumed = filter.Filter(data_.data() + start_, Buffered(), &payload);
      destination.Append(data_.data() + start_, payload);
      start_ += consumed;
      scanned_ = 0;
      if (start_ == end_) start_ = end_ = 0;
    }
    if (filter.Done()) return;
    // The filter takes everything it is given until the body ends, so the
    // buffer is empty here.
    if (source_closed_) RaiseClosed();
    if (destination.Remaining() < block_size_) {
      // Near the limit a block may hold more framing than the destination
      // has room: such blocks go through the buffer.
      if (!Fill()) RaiseClosed();
      continue;
    }
    char* room = destination.Room(block_size_);
    std::size_t received = source_.Receive(room, block_size_);
    if (received == 0) {
      source_closed_ = true;
      destination.Commit(0);
      RaiseClosed();
    }
    std::size_t payload = 0;
    std::size_t consumed = filter.Filter(room, received, &payload);
    // What follows the body belongs to the next read; it is kept before the
    // destination lets go of the bytes past the payload.
    if (consumed < received) Keep(room + consumed, received - consumed);
    destination.Commit(payload);
  }
}

void InputBuffer::ReadToClose(BodyDestination& destination) {
  std::size_t buffered = Buffered();
  if (destination.Remaining() < buffered) destination.RaiseTooLarge();
  TakeBuffered(buffered, destination);
  for (;;) {
    if (destination.Remaining() == 0) {
      // The destination is full: the body is complete only if the peer
      // closes now.
      if (Fill()) destination.RaiseTooLarge();
      return;
    }
    if (ReceiveInto(destination, std::min(destination.Remaining(), block_size_)) == 0) return;
  }
}

}  // namespace http

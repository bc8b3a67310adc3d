#include "http/BodyDestination.h"

#include <algorithm>

#include "platform/Exceptions.h"
#include "platform/MemoryPages.h"

namespace http {

namespace {

// Bodies of unknown size grow in doubling steps from kFirstCapacity. Past
// kLastDoubling the storage is reserved up to the limit at once: that takes
// address space only (untouched pages are never resident), spares a big body
// the copies of further doublings, and lets it be filled in large pages,
// which costs far less than filling it page by page.
constexpr std::size_t kFirstCapacity = 64 * 1024;
constexpr std::size_t kLastDoubling = 1024 * 1024;
// Buffers of at least this size ask for large pages.
constexpr std::size_t kLargePageThreshold = 4 * 1024 * 1024;
// Growing copies the old storage in slices of this size, giving each slice
// back to the system once it is copied.
constexpr std::size_t kCopySlice = 4 * 1024 * 1024;

}  // namespace

BodyDestination::BodyDestination(std::string& target, std::size_t limit)
    : target_(&target), limit_(limit) {
  target_->clear();
}

BodyDestination::BodyDestination(std::size_t limit) : limit_(limit) {}

BodyDestination::~BodyDestination() { Finish(); }

void RaiseBodyTooLarge(std::size_t limit) {
  throw platform::EIdException("Response body exceeds " + std::to_string(limit) + " bytes");
}

void BodyDestination::RaiseTooLarge() const { RaiseBodyTooLarge(limit_); }

void BodyDestination::ExpectTotal(std::size_t total) {
  if (limit_ - used_ < total) RaiseTooLarge();
  if (target_ == nullptr) return;
  std::size_t needed = used_ + total;
  if (needed > target_->capacity()) Grow(needed);
}

void BodyDestination::MakeRoom(std::size_t count) {
  std::size_t needed = used_ + count;
  if (needed <= target_->capacity()) return;
  std::size_t capacity = target_->capacity();
  std::size_t next = capacity < kLastDoubling ? std::max(kFirstCapacity, capacity * 2) : limit_;
  Grow(std::max(needed, std::min(next, limit_)));
}

char* BodyDestination::Room(std::size_t count) {
  if (target_ == nullptr) {
    if (scratch_.size() < count) scratch_.resize(count);
    return scratch_.data();
  }
  MakeRoom(count);
  target_->resize(used_ + count);
  return target_->data() + used_;
}

void BodyDestination::Commit(std::size_t count) {
  used_ += count;
  if (target_ != nullptr) target_->resize(used_);
}

void BodyDestination::Append(const char* data, std::size_t count) {
  if (limit_ - used_ < count) RaiseTooLarge();
  if (target_ != nullptr) {
    MakeRoom(count);
    target_->append(data, count);
  }
  used_ += count;
}

void BodyDestination::Finish() {
  if (target_ != nullptr && target_->size() != used_) target_->resize(used_);
}

void BodyDestination::Grow(std::size_t capacity) {
  std::string bigger;
  bigger.reserve(capacity);
  if (capacity >= kLargePageThreshold) platform::PreferLargePages(bigger.data(), capacity);
  // Copy what was taken so far slice by slice and hand each copied slice of
  // the old storage back at once, so that the old and new storage are never
  // both resident in full.
  char* old = target_->data();
  for (std::size_t offset = 0; offset < used_; offset += kCopySlice) {
    std::size_t count = std::min(kCopySlice, used_ - offset);
    bigger.append(old + offset, count);
    platform::ReleasePages(old + offset, count);
  }
  target_->swap(bigger);
}

}  // namespace http

// Arbitrary bytes as a stored status.json: through the JSON reader, the
// round trip of a run (read, carry over, write, read again), the Retry-After
// parser and vesk --status's description of the document. The first five
// bytes choose the run: whether it failed or found a new frame, and its
// clock as an offset from a fixed time. Besides crashes and sanitizer
// findings it checks that strings the reader returns are written back to the
// same strings and are cut within their bound, that every document the
// program writes stays within kMaxStatusDocumentBytes and reads back with the
// same counts and wait, that the failures in a row never go down on a failed
// run, and that a wait or a description stays within its range.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "http/RetryAfter.h"
#include "refresh/BackOff.h"
#include "refresh/RunStatus.h"
#include "refresh/StatusCommand.h"
#include "site/StatusDocument.h"
#include "zub32/Json.h"

namespace {

constexpr std::size_t kHeaderBytes = 5;
// 2024-07-22T11:50:00Z.
constexpr std::int64_t kBaseTime = 1721649000;
// The strings are also written with a bound this small, so that cuts happen
// often.
constexpr std::size_t kSmallBound = 40;
constexpr std::string_view kCutMark = "\xE2\x80\xA6";

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A string the reader returned is written back to itself, and within any
// bound as a prefix of itself.
void CheckString(const std::string& text, std::size_t bound) {
  const std::optional<zub32::JsonValue> again = zub32::ParseJson(zub32::JsonString(text));
  Check(again && again->AsString() == text);
  const std::string cut = zub32::JsonString(text, bound);
  Check(cut.size() - 2 <= bound);
  const std::optional<zub32::JsonValue> cut_back = zub32::ParseJson(cut);
  Check(cut_back.has_value());
  const std::string& kept = cut_back->text;
  if (kept == text) return;
  const std::string_view stem = std::string_view(kept).ends_with(kCutMark)
                                    ? std::string_view(kept).substr(0, kept.size() - 3)
                                    : std::string_view(kept);
  Check(std::string_view(text).starts_with(stem));
}

void CheckTree(const zub32::JsonValue& value, std::size_t bound) {
  if (value.type == zub32::JsonValue::Type::kString) CheckString(value.text, bound);
  for (const zub32::JsonValue& item : value.items) CheckTree(item, bound);
  for (const zub32::JsonMember& member : value.members) {
    CheckString(member.name, bound);
    CheckTree(member.value, bound);
  }
}

void CheckRoundTrip(const site::RunStatus& previous, bool failed, bool new_frame,
                    std::int64_t now) {
  // Whatever was read is written again as a document that reads back.
  Check(site::ParseStatusJson(site::StatusJson(previous)).has_value());

  site::RunStatus next;
  next.version = previous.version;
  next.product = previous.product;
  next.started = now;
  next.finished = now;
  next.outcome = failed ? site::RunResult::kFailed
                        : (new_frame ? site::RunResult::kNewFrame : site::RunResult::kNoChange);
  if (failed) next.failure = previous.failure.value_or(site::RunFailure{});
  next.newest_frame = previous.newest_frame;
  next.not_before = refresh::PendingWait(previous.not_before, now);
  refresh::CarryOverStatus(next, previous, {{"Image0.png", previous.product}}, now);
  Check(next.frames.size() <= 7);
  if (failed) {
    Check(next.consecutive_failures >= previous.consecutive_failures);
    Check(next.consecutive_failures > 0);
  } else {
    Check(next.consecutive_failures == 0 && next.last_success == now);
  }
  if (next.not_before) {
    Check(*next.not_before > now && *next.not_before - now <= refresh::kMaxBackOffSeconds);
  }

  const std::string written = site::StatusJson(next);
  Check(written.size() <= site::kMaxStatusDocumentBytes);
  const std::optional<site::RunStatus> back = site::ParseStatusJson(written);
  Check(back.has_value());
  Check(back->consecutive_failures == next.consecutive_failures);
  Check(back->not_before == next.not_before);
  Check(back->last_success == next.last_success);
  Check(back->frames.size() == next.frames.size());
  Check(site::StatusJson(*back).size() <= site::kMaxStatusDocumentBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderBytes) return 0;
  const bool failed = (data[0] & 1) != 0;
  const bool new_frame = (data[0] & 2) != 0;
  std::int32_t offset = 0;
  std::memcpy(&offset, data + 1, sizeof offset);
  const std::int64_t now = kBaseTime + offset;
  const std::string_view text(reinterpret_cast<const char*>(data + kHeaderBytes),
                              size - kHeaderBytes);

  if (const std::optional<zub32::JsonValue> document = zub32::ParseJson(text)) {
    CheckTree(*document, kSmallBound);
  }

  // The first line as a Retry-After value.
  const std::optional<std::int64_t> wait =
      http::RetryAfterSeconds(text.substr(0, text.find('\n')), now, refresh::kMaxBackOffSeconds);
  if (wait) Check(*wait > 0 && *wait <= refresh::kMaxBackOffSeconds);

  if (const std::optional<site::RunStatus> previous = site::ParseStatusJson(text)) {
    Check(previous->consecutive_failures >= 0);
    CheckRoundTrip(*previous, failed, new_frame, now);
  }

  const refresh::StatusReport report = refresh::DescribeStatus(true, std::string(text), now);
  Check(report.exit_code >= 0 && report.exit_code <= 3 && !report.lines.empty());
  if (report.exit_code == 0) {
    const std::optional<site::RunStatus> status = site::ParseStatusJson(text);
    Check(status && status->consecutive_failures == 0 && !status->stale &&
          !refresh::PendingWait(status->not_before, now));
  }
  return 0;
}

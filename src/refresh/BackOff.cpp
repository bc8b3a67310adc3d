#include "refresh/BackOff.h"

#include "platform/CheckedArithmetic.h"
#include "platform/FileSystem.h"
#include "site/SiteNames.h"
#include "site/StatusDocument.h"

namespace refresh {

bool WaitTooFarAhead(std::int64_t not_before, std::int64_t now) {
  const std::optional<std::int64_t> ahead = platform::CheckedSub(not_before, now);
  return ahead ? *ahead > kMaxBackOffSeconds : not_before > now;
}

std::optional<std::int64_t> PendingWait(std::optional<std::int64_t> not_before, std::int64_t now) {
  if (!not_before || *not_before <= now || WaitTooFarAhead(*not_before, now)) return std::nullopt;
  return not_before;
}

std::optional<std::int64_t> PendingNotBefore(const std::string& directory, std::int64_t now) {
  const std::optional<std::string> text =
      platform::ReadWholeFile(directory + site::kStatusFileName, site::kMaxStatusFileBytes);
  if (!text) return std::nullopt;
  const std::optional<site::RunStatus> status = site::ParseStatusJson(*text);
  if (!status) return std::nullopt;
  return PendingWait(status->not_before, now);
}

}  // namespace refresh

// How the simulator answers for its files and generated layers as a web host
// does: validators that let a client revalidate its copy, 304 answers when
// that copy is current, and gzip coding of pages and bitmaps for clients that
// accept it. Pictures that are already compressed are sent as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "HttpMessage.h"

namespace sim {

inline constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// What identifies one version of a file: its size and modification time.
struct FileVersion {
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;  // since the epoch
};

// The 200 or 304 answer to a GET or HEAD for this version of a file. It
// carries Cache-Control: no-cache, Last-Modified, and an ETag that differs
// between the plain and the gzip-coded body. If-None-Match, when present,
// decides alone; otherwise If-Modified-Since not older than the
// modification time gives 304.
HttpResponse VersionedResponse(const HttpRequest& request, std::string content_type,
                               std::string body, const FileVersion& version);

}  // namespace sim

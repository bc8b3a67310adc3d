#include "refresh/LoopCache.h"

#include <charconv>
#include <future>
#include <optional>
#include <span>
#include <string_view>

#include "picture/WebpAnimation.h"
#include "platform/ContentDigest.h"
#include "platform/FileSystem.h"

namespace refresh {
namespace {

// The first word of every entry; another format gets another word.
constexpr std::string_view kEntryMagic = "vesk-loop-entry-1";
// The header line is shorter than this.
constexpr std::size_t kMaxHeaderBytes = 200;
constexpr unsigned kCacheDirectoryMode = 0700;

// The next space- or newline-ended field of the header as a number from 0
// to limit, advancing text past it.
std::optional<std::int64_t> TakeNumber(std::string_view& text, std::int64_t limit) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || end == text.data() + text.size() ||
      *end != ' ' || value < 0 || value > limit) {
    return std::nullopt;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return value;
}

// The cache entries of a frame's whole picture and of its difference from
// the frame before it.
constexpr const char* kWholeSuffix = ".whole";
constexpr const char* kDifferenceSuffix = ".diff";

// The kept whole picture of the loop's first position, when it covers the
// canvas.
std::optional<LoopEntry> FindWhole(LoopCache& cache, const std::string& name) {
  std::optional<LoopEntry> whole = cache.Find(name);
  if (whole && (whole->x != 0 || whole->y != 0 || whole->width != cache.canvas_width() ||
                whole->height != cache.canvas_height() || whole->blend)) {
    return std::nullopt;
  }
  return whole;
}

// The picture of a position kept whole, decoded: a sound entry holds
// exactly the composite it was encoded from, at a fraction of the cost of
// compositing it again.
std::optional<picture::RgbaImage> KeptPicture(LoopCache& cache, const std::string& name) {
  const std::optional<LoopEntry> whole = FindWhole(cache, name);
  if (!whole) return std::nullopt;
  return picture::DecodeWebpStill(whole->picture, cache.canvas_width(), cache.canvas_height());
}

LoopEntry EncodeDifference(const picture::RgbaImage& previous, const picture::RgbaImage& current) {
  picture::FramePatch patch = picture::DifferencePatch(previous, current);
  // An equal frame has no picture; a replacing patch keeps the colours under
  // its transparent pixels, which it draws as they are.
  std::string encoded = patch.image.width == 0
                            ? std::string()
                            : picture::EncodeLosslessWebp(patch.image, !patch.blend);
  return {patch.x, patch.y, patch.image.width, patch.image.height, patch.blend, std::move(encoded)};
}

// One position of the loop. previous holds the composite of the position
// before when it was drawn, and receives this one's.
LoopEntry EncodePosition(LoopCache& cache, const std::vector<std::string>& keys,
                         std::size_t position, const LoopCompositor& composite,
                         std::optional<picture::RgbaImage>& previous) {
  const std::string whole_name = keys[position] + kWholeSuffix;
  const bool first = position == 0;
  const bool needs_whole = first || (cache.Problem().empty() && !cache.Holds(whole_name));
  std::optional<LoopEntry> whole = first ? FindWhole(cache, whole_name) : std::nullopt;
  std::optional<LoopEntry> difference;
  std::string difference_name;
  if (!first) {
    difference_name =
        platform::ContentDigest().Add(keys[position - 1]).Add(keys[position]).Finish() +
        kDifferenceSuffix;
    difference = cache.Find(difference_name);
  }
  const int at = static_cast<int>(position);
  std::optional<picture::RgbaImage> current;
  if ((needs_whole && !whole) || (!first && !difference)) current = composite(at);
  // The whole picture is encoded on a second thread while this one works on
  // the difference (where no thread can be had, when it is asked for).
  std::future<std::string> whole_encoding;
  if (needs_whole && !whole) {
    whole_encoding = std::async(std::launch::async | std::launch::deferred,
                                [&current] { return picture::EncodeLosslessWebp(*current, true); });
  }
  if (!first && !difference) {
    if (!previous) previous = KeptPicture(cache, keys[position - 1] + kWholeSuffix);
    if (!previous) previous = composite(at - 1);
    difference = EncodeDifference(*previous, *current);
    cache.Store(difference_name, *difference);
  }
  if (whole_encoding.valid()) {
    whole =
        LoopEntry{0, 0, cache.canvas_width(), cache.canvas_height(), false, whole_encoding.get()};
    cache.Store(whole_name, *whole);
  }
  previous = std::move(current);
  return first ? std::move(*whole) : std::move(*difference);
}

}  // namespace

std::vector<LoopEntry> EncodeLoop(LoopCache& cache, const std::vector<std::string>& keys,
                                  const LoopCompositor& composite) {
  std::vector<LoopEntry> entries;
  entries.reserve(keys.size());
  std::optional<picture::RgbaImage> previous;
  for (std::size_t position = 0; position < keys.size(); ++position) {
    entries.push_back(EncodePosition(cache, keys, position, composite, previous));
  }
  return entries;
}

std::string EncodeLoopEntry(const LoopEntry& entry) {
  return std::string(kEntryMagic) + " " + std::to_string(entry.x) + " " + std::to_string(entry.y) +
         " " + std::to_string(entry.width) + " " + std::to_string(entry.height) + " " +
         (entry.blend ? "1" : "0") + " " + std::to_string(entry.picture.size()) + " " +
         platform::DigestOf(entry.picture) + "\n" + entry.picture;
}

std::optional<LoopEntry> DecodeLoopEntry(std::string_view bytes, int canvas_width,
                                         int canvas_height) {
  const std::size_t end_of_header = bytes.find('\n');
  if (end_of_header == std::string_view::npos || end_of_header > kMaxHeaderBytes) {
    return std::nullopt;
  }
  std::string_view header = bytes.substr(0, end_of_header);
  const std::string_view picture = bytes.substr(end_of_header + 1);
  if (header.substr(0, kEntryMagic.size()) != kEntryMagic || header.size() <= kEntryMagic.size() ||
      header[kEntryMagic.size()] != ' ') {
    return std::nullopt;
  }
  header.remove_prefix(kEntryMagic.size() + 1);
  const auto x = TakeNumber(header, canvas_width);
  const auto y = TakeNumber(header, canvas_height);
  const auto width = TakeNumber(header, canvas_width);
  const auto height = TakeNumber(header, canvas_height);
  const auto blend = TakeNumber(header, 1);
  const auto size = TakeNumber(header, static_cast<std::int64_t>(kMaxLoopEntryBytes));
  if (!x || !y || !width || !height || !blend || !size) return std::nullopt;
  // What is left of the header is the picture's digest.
  if (picture.size() != static_cast<std::size_t>(*size) || platform::DigestOf(picture) != header) {
    return std::nullopt;
  }
  LoopEntry entry{static_cast<int>(*x),      static_cast<int>(*y), static_cast<int>(*width),
                  static_cast<int>(*height), *blend == 1,          std::string(picture)};
  if (entry.width == 0) {
    // A frame equal to the one before it has no picture.
    if (!entry.picture.empty() || entry.height != 0) return std::nullopt;
    return entry;
  }
  const auto still = picture::WebpStillSize(entry.picture);
  if (!still || still->first != entry.width || still->second != entry.height || entry.x % 2 != 0 ||
      entry.y % 2 != 0 || entry.x + entry.width > canvas_width ||
      entry.y + entry.height > canvas_height) {
    return std::nullopt;
  }
  return entry;
}

LoopCache::LoopCache(std::string directory, int canvas_width, int canvas_height)
    : directory_(std::move(directory)), canvas_width_(canvas_width), canvas_height_(canvas_height) {
  const platform::FileResult made = platform::MakeDirectory(directory_, kCacheDirectoryMode);
  if (!made.ok()) problem_ = made.reason();
}

std::optional<LoopEntry> LoopCache::Find(const std::string& name) {
  kept_.insert(name);
  if (!problem_.empty()) return std::nullopt;
  const std::optional<std::string> bytes =
      platform::ReadWholeFile(Path(name), kMaxLoopEntryBytes + kMaxHeaderBytes);
  if (!bytes) return std::nullopt;
  return DecodeLoopEntry(*bytes, canvas_width_, canvas_height_);
}

bool LoopCache::Holds(const std::string& name) {
  kept_.insert(name);
  return problem_.empty() && platform::IsRegularEntry(Path(name));
}

void LoopCache::Store(const std::string& name, const LoopEntry& entry) {
  kept_.insert(name);
  if (!problem_.empty()) return;
  const std::string bytes = EncodeLoopEntry(entry);
  const std::string_view pieces[] = {bytes};
  pending_.emplace_back(name, &staged_.Write(Path(name), pieces));
}

std::string LoopCache::Finish() {
  if (!problem_.empty()) return problem_;
  std::string reason;
  staged_.FlushAll();
  for (auto& [name, staged] : pending_) {
    const platform::FileResult committed = staged->Commit();
    if (!committed.ok() && reason.empty()) reason = committed.reason();
  }
  pending_.clear();
  const std::optional<std::unordered_set<std::string>> names = platform::EntryNames(directory_);
  if (!names) return reason.empty() ? directory_ + " cannot be listed" : reason;
  for (const std::string& name : *names) {
    if (kept_.count(name) != 0) continue;
    const platform::FileResult removed = platform::RemoveEntry(Path(name));
    if (!removed.ok() && reason.empty()) reason = removed.reason();
  }
  return reason;
}

}  // namespace refresh

#include "picture/FontLookupCache.h"

#include <errno.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>
#include <string_view>
#include <utility>

#include "platform/FileSystem.h"

namespace picture {
namespace {

constexpr std::string_view kFormatLine = "vesk font lookup 1";
constexpr const char* kApplicationDirectory = "vesk";
constexpr const char* kFileName = "font-lookup";
// A cache file is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kMaxCacheBytes = 16 * 1024;
// The environment fontconfig reads its configuration by.
constexpr const char* kFontconfigVariables[] = {"FONTCONFIG_FILE", "FONTCONFIG_PATH",
                                                "FONTCONFIG_SYSROOT"};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string AbsoluteOrEmpty(std::string path) {
  return !path.empty() && path.front() == '/' ? path : std::string();
}

// The font file's identity: a file replaced or rewritten in place changes
// its modification time or its size.
struct FileStamp {
  std::int64_t size = 0;
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
};

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileStamp{status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

// Every field is one line, so a value must not break one.
bool FitsOnALine(std::string_view value) {
  return value.find_first_of("\r\n") == std::string_view::npos;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// The key=value lines after the format line; nullopt when the text is not a
// cache file of this format or a key repeats.
std::optional<std::map<std::string, std::string, std::less<>>> ParseFields(std::string_view text) {
  std::map<std::string, std::string, std::less<>> fields;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // every line ends
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (first) {
      if (line != kFormatLine) return std::nullopt;
      first = false;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    if (!fields.emplace(line.substr(0, equals), line.substr(equals + 1)).second) {
      return std::nullopt;
    }
  }
  if (first) return std::nullopt;
  return fields;
}

// The fields that must match the question for an answer to apply.
std::map<std::string, std::string, std::less<>> QuestionFields(const FaceQuestion& question) {
  std::map<std::string, std::string, std::less<>> fields = {
      {"family", question.family},
      {"bold", question.bold ? "1" : "0"},
      {"pixel-height", std::to_string(question.pixel_height)},
  };
  for (const char* name : kFontconfigVariables) fields.emplace(name, Environment(name));
  return fields;
}

}  // namespace

FontLookupCache::FontLookupCache(std::string path, std::chrono::seconds lifetime)
    : path_(std::move(path)), lifetime_(lifetime) {}

std::string FontLookupCache::DefaultPath() {
  std::string base = AbsoluteOrEmpty(Environment("XDG_CACHE_HOME"));
  if (base.empty()) {
    const std::string home = AbsoluteOrEmpty(Environment("HOME"));
    if (home.empty()) return "";
    base = home + "/.cache";
  }
  return base + "/" + kApplicationDirectory + "/" + kFileName;
}

std::optional<FaceLocation> FontLookupCache::Find(const FaceQuestion& question) const {
  if (path_.empty()) return std::nullopt;
  const std::optional<FileStamp> cache_stamp = StampOf(path_);
  if (!cache_stamp || static_cast<std::uint64_t>(cache_stamp->size) > kMaxCacheBytes) {
    return std::nullopt;
  }
  const std::optional<std::string> text = platform::ReadWholeFile(path_);
  if (!text || text->size() > kMaxCacheBytes) return std::nullopt;
  const auto fields = ParseFields(*text);
  if (!fields) return std::nullopt;

  for (const auto& [key, value] : QuestionFields(question)) {
    const auto found = fields->find(key);
    if (found == fields->end() || found->second != value) return std::nullopt;
  }
  auto field = [&](std::string_view key) -> std::optional<std::string> {
    const auto found = fields->find(key);
    if (found == fields->end()) return std::nullopt;
    return found->second;
  };
  auto number = [&](std::string_view key) -> std::optional<std::int64_t> {
    const std::optional<std::string> value = field(key);
    return value ? ParseInteger(*value) : std::nullopt;
  };

  // Written in the future means the clock was set back: the age is unknown.
  const std::optional<std::int64_t> written = number("written");
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (!written || *written > now || now - *written >= lifetime_.count()) return std::nullopt;

  const std::optional<std::string> file = field("file");
  const std::optional<std::int64_t> index = number("index");
  const std::optional<std::int64_t> size = number("file-size");
  const std::optional<std::int64_t> seconds = number("file-mtime-seconds");
  const std::optional<std::int64_t> nanoseconds = number("file-mtime-nanoseconds");
  if (!file || file->empty() || !index || *index < 0 || *index > std::numeric_limits<int>::max() ||
      !size || !seconds || !nanoseconds) {
    return std::nullopt;
  }
  const std::optional<FileStamp> now_stamp = StampOf(*file);
  if (!now_stamp || now_stamp->size != *size || now_stamp->seconds != *seconds ||
      now_stamp->nanoseconds != *nanoseconds) {
    return std::nullopt;
  }
  return FaceLocation{*file, static_cast<int>(*index)};
}

void FontLookupCache::Store(const FaceQuestion& question, const FaceLocation& location) const {
  if (path_.empty() || location.file.empty()) return;
  const std::optional<FileStamp> stamp = StampOf(location.file);
  if (!stamp) return;
  std::string text(kFormatLine);
  text += '\n';
  for (const auto& [key, value] : QuestionFields(question)) {
    if (!FitsOnALine(value)) return;
    text += key + "=" + value + "\n";
  }
  if (!FitsOnALine(location.file)) return;
  text += "file=" + location.file + "\n";
  text += "index=" + std::to_string(location.index) + "\n";
  text += "file-size=" + std::to_string(stamp->size) + "\n";
  text += "file-mtime-seconds=" + std::to_string(stamp->seconds) + "\n";
  text += "file-mtime-nanoseconds=" + std::to_string(stamp->nanoseconds) + "\n";
  text += "written=" + std::to_string(static_cast<std::int64_t>(std::time(nullptr))) + "\n";

  // The cache directory and the one above it are private to the user, as
  // the base directory of user caches is meant to be.
  const std::size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string directory = path_.substr(0, slash);
    const std::size_t parent_slash = directory.rfind('/');
    if (parent_slash != std::string::npos && parent_slash > 0) {
      ::mkdir(directory.substr(0, parent_slash).c_str(), 0700);
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
  // A cache that cannot be saved is looked up afresh by the next run.
  static_cast<void>(platform::ReplaceFileAtomically(path_, text));
}

}  // namespace picture

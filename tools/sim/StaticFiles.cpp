#include "StaticFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "HttpCaching.h"
#include "platform/FileDescriptor.h"

namespace sim {
namespace {

// The publication's files are pages and pictures; anything far larger is not
// meant to be served by a test stand-in.
constexpr off_t kMaxServedFileBytes = 64 << 20;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) return std::nullopt;
    const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

std::optional<std::string> Resolve(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

HttpResponse Refuse(int status) { return ErrorResponse(status); }

}  // namespace

StaticFiles::StaticFiles(const std::string& directory) {
  const std::optional<std::string> resolved = Resolve(directory);
  struct stat info {};
  if (!resolved || stat(resolved->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw std::runtime_error("not a directory: " + directory);
  }
  root_ = *resolved;
  if (root_ == "/") root_.clear();  // so that root_ + "/" + name stays well-formed
}

HttpResponse StaticFiles::Serve(const HttpRequest& request, std::string_view encoded_path) const {
  const std::optional<std::string> decoded = PercentDecode(encoded_path);
  if (!decoded || decoded->find('\0') != std::string::npos) return Refuse(400);
  std::string relative = *decoded;
  if (relative.empty() || relative.back() == '/') relative += "loop.html";

  // Every segment must be an ordinary name: no "..", no ".", no empty one
  // (which a leading "/" would make, turning the name absolute).
  std::string_view rest = relative;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    if (segment.empty() || segment == "." || segment == "..") return Refuse(403);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }

  const std::string full = root_ + "/" + relative;
  struct stat link_info {};
  if (lstat(full.c_str(), &link_info) != 0) return Refuse(404);
  // A symbolic link is followed only when it stays inside the directory, as
  // the run's image0.png links to Image0.png do.
  const std::optional<std::string> target = Resolve(full);
  if (!target) return Refuse(404);
  if (!target->starts_with(root_ + "/")) return Refuse(403);

  platform::FileDescriptor fd(
      ::open(target->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return Refuse(errno == ENOENT ? 404 : 403);
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return Refuse(403);
  if (info.st_size > kMaxServedFileBytes) return Refuse(403);

  std::string body(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t filled = 0;
  while (filled < body.size()) {
    const ssize_t count = ::read(fd.get(), body.data() + filled, body.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return Refuse(500);
    if (count == 0) break;  // the file shrank while being read
    filled += static_cast<std::size_t>(count);
  }
  body.resize(filled);
  const FileVersion version{
      static_cast<std::uint64_t>(info.st_size),
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * kNanosPerSecond + info.st_mtim.tv_nsec};
  return VersionedResponse(request, ContentTypeFor(relative), std::move(body), version);
}

std::string ContentTypeFor(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kTypes = {{
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".png", "image/png"},
      {".bmp", "image/bmp"},
      {".gif", "image/gif"},
      {".webp", "image/webp"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".json", "application/json"},
      {".xml", "application/xml"},
      {".txt", "text/plain; charset=utf-8"},
      {".css", "text/css"},
      {".js", "text/javascript"},
  }};
  const std::size_t slash = name.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const std::size_t dot = base.rfind('.');
  if (dot != std::string_view::npos) {
    std::string extension(base.substr(dot));
    for (char& c : extension) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& [suffix, type] : kTypes) {
      if (extension == suffix) return std::string(type);
    }
  }
  return "application/octet-stream";
}

}  // namespace sim

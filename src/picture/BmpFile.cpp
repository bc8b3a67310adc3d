#include "picture/BmpCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "picture/BmpLayout.h"
#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace picture {
namespace bmp {
namespace {

std::string OpenErrorMessage(const std::string& path, int error_number) {
  return "Cannot open file \"" + path + "\". " + platform::SystemErrorText(error_number);
}

// The start of a file read before its layout is known: every header, the
// masks and the largest palette fit in far less.
constexpr std::size_t kHeadBytes = 64 * 1024;
// Uncompressed pixels are read into a buffer of about this size at a time.
constexpr std::size_t kPixelChunkBytes = 64 * 1024;

// Appends what the file gives until `wanted` bytes were appended or it
// ends; returns the count appended.
std::size_t AppendFromFile(int fd, std::string& bytes, std::size_t wanted,
                           const std::string& path) {
  char buffer[65536];
  std::size_t appended = 0;
  while (appended < wanted) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, wanted - appended));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw platform::EFOpenError(OpenErrorMessage(path, errno));
    }
    if (got == 0) break;
    if (kMaxFileBytes - bytes.size() < static_cast<std::size_t>(got)) Invalid();
    bytes.append(buffer, static_cast<std::size_t>(got));
    appended += static_cast<std::size_t>(got);
  }
  return appended;
}

// Fills data with exactly count bytes: first what is left of `pending`, then
// from the file. A file that ends first is not a valid picture.
void ReadExactly(int fd, std::string_view& pending, uint8_t* data, std::size_t count,
                 const std::string& path) {
  const std::size_t from_pending = std::min(pending.size(), count);
  std::copy(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(from_pending), data);
  pending.remove_prefix(from_pending);
  std::size_t filled = from_pending;
  while (filled < count) {
    const ssize_t got = read(fd, data + filled, count - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw platform::EFOpenError(OpenErrorMessage(path, errno));
    }
    if (got == 0) Invalid();
    filled += static_cast<std::size_t>(got);
  }
}

// An uncompressed picture whose pixels start within the head, read from the
// file in chunks straight into the picture; nullopt for any other layout.
// A copy of the whole file in memory beside the picture would cost more in
// fresh pages than the reading does.
std::optional<Bitmap> LoadStreamed(int fd, const std::string& head, std::size_t file_bytes,
                                   std::size_t max_pixel_bytes, const std::string& path) {
  const ByteReader in(head);
  if (!in.Has(0, kFileHeaderSize + 4 + 20)) return std::nullopt;
  const bool core = in.U32(kFileHeaderSize) == kCoreHeaderSize;
  const uint32_t compression = core ? kCompressionRgb : in.U32(kFileHeaderSize + 16);
  if (compression != kCompressionRgb && compression != kCompressionBitfields) return std::nullopt;
  if (in.U32(10) > head.size()) return std::nullopt;
  // Every field the layout is made of lies before the pixels, so the head
  // gives the same layout as the whole file would.
  Layout layout = ReadLayout(in, kMaxDimension);
  CheckPixelMemory(layout, file_bytes, max_pixel_bytes);
  std::optional<Bitmap> bitmap;
  std::vector<uint8_t> chunk;
  try {
    bitmap.emplace(layout.width, layout.height, layout.bit_count, std::move(layout.palette),
                   layout.masks);
    bitmap->SetResolution(layout.x_pels_per_meter, layout.y_pels_per_meter);
    chunk.resize(std::max(kPixelChunkBytes / bitmap->Stride(), std::size_t{1}) * bitmap->Stride());
  } catch (const std::bad_alloc&) {
    Invalid();
  }
  const std::size_t stride = bitmap->Stride();
  const std::size_t rows_per_chunk = chunk.size() / stride;
  const auto height = static_cast<std::size_t>(layout.height);
  std::string_view pending = std::string_view(head).substr(layout.pixel_offset);
  for (std::size_t first = 0; first < height; first += rows_per_chunk) {
    const std::size_t rows = std::min(rows_per_chunk, height - first);
    ReadExactly(fd, pending, chunk.data(), rows * stride, path);
    for (std::size_t i = 0; i < rows; ++i) {
      CopyStoredRow(chunk.data() + i * stride, first + i, layout, *bitmap);
    }
  }
  if (bitmap->IsIndexed()) CheckIndices(*bitmap);
  return bitmap;
}

}  // namespace
}  // namespace bmp

Bitmap LoadBmpFile(const std::string& path, std::size_t max_pixel_bytes) {
  // Opened without waiting, so that a FIFO or a device at the name cannot
  // hold the run; anything but a regular file is refused before a byte is
  // read.
  struct stat status {};
  int error_number = 0;
  const platform::FileDescriptor file = platform::OpenRegularFile(path, true, status, error_number);
  if (error_number == EINVAL) {
    throw platform::EFOpenError("Cannot open file \"" + path + "\". Not a regular file");
  }
  if (!file.valid()) throw platform::EFOpenError(bmp::OpenErrorMessage(path, error_number));
  if (static_cast<uint64_t>(status.st_size) > bmp::kMaxFileBytes) bmp::Invalid();
  const auto file_bytes = static_cast<std::size_t>(status.st_size);

  std::string bytes;
  try {
    if (bmp::AppendFromFile(file.get(), bytes, bmp::kHeadBytes, path) == bmp::kHeadBytes) {
      if (std::optional<Bitmap> bitmap =
              bmp::LoadStreamed(file.get(), bytes, file_bytes, max_pixel_bytes, path)) {
        return *std::move(bitmap);
      }
      // Compressed pixels, or pixels far into the file: read it whole.
      bytes.reserve(file_bytes);
      bmp::AppendFromFile(file.get(), bytes, bmp::kMaxFileBytes, path);
    }
  } catch (const std::bad_alloc&) {
    bmp::Invalid();
  }
  return DecodeBmp(bytes, kMaxDimension, max_pixel_bytes);
}

platform::StagedFile StageBmpFile(const Bitmap& bitmap, const std::string& path,
                                  platform::Flush flush) {
  // The rows are written from the picture itself: a copy of the whole file
  // in memory would cost more in fresh pages than the writing does.
  const std::string head = bmp::EncodeHead(bitmap);
  const std::vector<std::string_view> pieces = bmp::Pieces(bitmap, head);
  return platform::StagedFile::Write(path, pieces, flush);
}

void CommitBmpFile(platform::StagedFile& staged, const std::string& path) {
  if (!staged.Commit().ok()) {
    throw platform::EFCreateError("Cannot create file \"" + path + "\". " +
                                  platform::SystemErrorText(staged.ErrorNumber()));
  }
}

void SaveBmpFile(const Bitmap& bitmap, const std::string& path) {
  platform::StagedFile staged = StageBmpFile(bitmap, path, platform::Flush::kNow);
  CommitBmpFile(staged, path);
}

}  // namespace picture

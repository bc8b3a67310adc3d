// The encoded frames of loop.webp kept between runs: after a run, six of the
// seven composited frames of the next run's loop are the same pictures one
// place along, so each run encodes only what is new and reuses the rest.
// Every entry is named after the digest of everything that went into its
// picture, so a changed input can never find a stale entry.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "picture/RgbaImage.h"
#include "platform/StagedFile.h"

namespace refresh {

// An encoded frame of the loop: a still lossless WebP picture placed at x, y
// on the canvas, drawn over it (blend) or replacing its rectangle. An empty
// picture stands for a frame equal to the one before it.
struct LoopEntry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool blend = false;
  std::string picture;
};

// The largest entry read back; a larger file is foreign and ignored.
inline constexpr std::size_t kMaxLoopEntryBytes = std::size_t{16} << 20;

// The entry's file content: a header line naming the placement, the
// picture's size and its digest, then the picture.
std::string EncodeLoopEntry(const LoopEntry& entry);
// The entry in a file's content, or nullopt for one that is torn, foreign
// or does not fit a canvas of the given size: the header must be whole, the
// picture of the stated size and digest, a still WebP picture of the stated
// width and height, placed at even coordinates inside the canvas.
std::optional<LoopEntry> DecodeLoopEntry(std::string_view bytes, int canvas_width,
                                         int canvas_height);

// The cache directory of one run: entries found are checked as they are
// read, new ones are staged and put in place together by Finish(), which
// then removes every entry the run did not use.
class LoopCache {
 public:
  // Creates the directory when it is missing; one that cannot be created
  // leaves the cache unusable (every entry is encoded, none kept).
  LoopCache(std::string directory, int canvas_width, int canvas_height);

  // Why the cache cannot be used, or empty.
  const std::string& Problem() const { return problem_; }
  int canvas_width() const { return canvas_width_; }
  int canvas_height() const { return canvas_height_; }

  // The entry of that name when it is on disk and sound; the name is kept
  // by Finish() either way.
  std::optional<LoopEntry> Find(const std::string& name);
  // Whether an entry of that name is on disk, sound or not; the name is
  // kept by Finish().
  bool Holds(const std::string& name);
  // Stages an entry under its name; it is put in place by Finish().
  void Store(const std::string& name, const LoopEntry& entry);

  // Puts the stored entries in place and removes every other name in the
  // directory. Returns the reason of the first failure, or empty; a failure
  // changes nothing about the picture made.
  std::string Finish();

 private:
  std::string Path(const std::string& name) const { return directory_ + "/" + name; }

  std::string directory_;
  int canvas_width_;
  int canvas_height_;
  std::string problem_;
  std::set<std::string> kept_;
  platform::StagedBatch staged_;
  std::vector<std::pair<std::string, platform::StagedFile*>> pending_;
};

// Draws the composited picture of a position of the loop, oldest first.
using LoopCompositor = std::function<picture::RgbaImage(int position)>;

// The encodings of a loop whose positions have these keys (each the digest
// of everything that went into its picture), oldest first: the first
// position whole, every later one as its difference from the one before.
// Each comes from the cache when it holds it sound; otherwise the pictures
// it needs are composited and it is encoded and stored. The whole picture of
// every position is kept too, since each one becomes the oldest in a later
// run: a run with one new frame then encodes that frame whole and its
// difference, nothing else.
std::vector<LoopEntry> EncodeLoop(LoopCache& cache, const std::vector<std::string>& keys,
                                  const LoopCompositor& composite);

}  // namespace refresh

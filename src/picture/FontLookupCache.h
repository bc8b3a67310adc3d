// The font file fontconfig chose for a face request, remembered between
// processes. Loading fontconfig's configuration parses some sixty files on
// every start and costs a refresh run more time than drawing its text; the
// answer changes only when fonts or the configuration change, so a run
// reuses the last answer while it can still be trusted and asks fontconfig
// again otherwise.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace picture {

// What was asked for. The fontconfig environment variables in force belong
// to the question: another configuration may give another answer.
struct FaceQuestion {
  std::string family;
  bool bold = false;
  int pixel_height = 0;
};

// The face fontconfig named: a font file and the face's index in it.
struct FaceLocation {
  std::string file;
  int index = 0;
};

class FontLookupCache {
 public:
  // A font installed or a configuration changed is noticed within this time
  // at the latest; a replaced font file at once.
  static constexpr std::chrono::seconds kLifetime{3600};

  // The cache kept in the file at path; an empty path keeps nothing.
  explicit FontLookupCache(std::string path, std::chrono::seconds lifetime = kLifetime);

  // $XDG_CACHE_HOME/vesk/font-lookup, or $HOME/.cache/vesk/font-lookup when
  // XDG_CACHE_HOME is unset; empty when neither names an absolute path.
  static std::string DefaultPath();

  const std::string& Path() const { return path_; }

  // The remembered answer to this question, when it was given for the same
  // question and fontconfig environment less than the lifetime ago (by the
  // wall clock) and its font file still has the size and modification time
  // it had then. Anything else, a missing or damaged cache file included,
  // gives nullopt.
  std::optional<FaceLocation> Find(const FaceQuestion& question) const;

  // Remembers the answer, replacing the file atomically and creating its
  // directory (mode 0700) when missing. Best effort: a cache that cannot be
  // written only costs the next process a lookup.
  void Store(const FaceQuestion& question, const FaceLocation& location) const;

 private:
  std::string path_;
  std::chrono::seconds lifetime_;
};

}  // namespace picture

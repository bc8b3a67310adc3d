// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory with a trailing '/'.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

  // Writes a file in the directory (test set-up, not atomic).
  void Write(const std::string& name, const std::string& bytes) const;
  // The file's content, or the text "<missing>" when it cannot be read.
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // The names of every entry in the directory, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

}  // namespace testing_support

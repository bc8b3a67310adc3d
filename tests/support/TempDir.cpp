#include "support/TempDir.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have made the directory read-only; make it writable again so
  // that it can be removed.
  chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + File(name));
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(const std::string& name) const {
  struct stat st;
  return lstat(File(name).c_str(), &st) == 0;
}

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace testing_support

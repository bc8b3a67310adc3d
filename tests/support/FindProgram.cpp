#include "support/FindProgram.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace testing_support {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/sbin:/usr/bin:/sbin:/bin";
  directories += ":/usr/sbin:/sbin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = directories.substr(start, end - start);
    start = end + 1;
    if (directory.empty()) continue;
    const std::string candidate = directory + "/" + name;
    struct stat status {};
    if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

}  // namespace testing_support

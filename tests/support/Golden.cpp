#include "support/Golden.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {

std::string Golden(const std::string& name) {
  const std::string path = std::string(VESK_GOLDEN_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the golden file " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support

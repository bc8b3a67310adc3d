// The golden files the tests compare written pages with: data files under
// tests/site/golden, so that a listing reads as the page itself.
#pragma once

#include <string>

namespace testing_support {

// The bytes of the golden file of that name; throws std::runtime_error when
// it cannot be read.
std::string Golden(const std::string& name);

}  // namespace testing_support

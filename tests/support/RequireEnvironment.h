// Ends a test with a failure when a variable that CTest passes it (the built
// binaries, the source tree) is missing, so that a test binary run by hand
// without them fails loudly instead of passing without testing anything.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

namespace testing_support {

// The names of the variables that are unset or empty, joined by ", ".
inline std::string MissingVariables(std::initializer_list<const char*> names) {
  std::string missing;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') continue;
    if (!missing.empty()) missing += ", ";
    missing += name;
  }
  return missing;
}

}  // namespace testing_support

// Fails the test and returns from the calling function (a test body or
// SetUp) when one of the named variables is missing.
#define REQUIRE_ENVIRONMENT(...)                                                     \
  if (const std::string missing_ = testing_support::MissingVariables({__VA_ARGS__}); \
      !missing_.empty())                                                             \
  GTEST_FAIL() << "not set (CTest sets it): " << missing_

// The error a GET raised, for tests that expect one.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "http/TIdHTTP.h"
#include "platform/Exceptions.h"

namespace testing_support {

struct Raised {
  std::string class_name;
  std::string message;
};

// Runs the GET and returns the error it raised, by class name and message;
// a GET that succeeds fails the test.
inline Raised GetFails(http::TIdHTTP& client, const std::string& url) {
  try {
    client.Get(url);
  } catch (const platform::Exception& error) {
    return {error.ClassName(), error.Message()};
  }
  ADD_FAILURE() << "GET " << url << " did not fail";
  return {};
}

}  // namespace testing_support

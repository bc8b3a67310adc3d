// The 30-minute loop page "index.html" as it is published, for comparing a
// written page byte for byte with the inserted values filled in.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// The 321 lines without their CR LF; inserted values are written as
// {CREATED}, {VERSION}, {SELFNAME}, {HOST}, {CB} (a cache-buster) and
// {DELAY}.
std::vector<std::string> LoopPage30ListingLines();

// A test of one inserted value.
using ValueCheck = std::function<bool(const std::string&)>;
ValueCheck Exactly(std::string expected);
// The value has one of the forms, where '#' stands for any digit.
ValueCheck AnyOfForms(std::vector<std::string> forms);

struct ListingValues {
  std::string version = "2024.7.22.2151";
  std::string self_name = "VESK";
  std::string host = "localhost";
  std::string delay = "333";
  // The values that depend on the clock.
  ValueCheck created;
  // One per cache-buster in page order; the last one serves the rest.
  std::vector<ValueCheck> cache_busters;
};

// Empty when the page is the listing with these values, every line ending in
// CR LF, the last one included; otherwise the first difference.
std::string DiffAgainstLoopPage30(const std::string& page, const ListingValues& values);

}  // namespace testing_support

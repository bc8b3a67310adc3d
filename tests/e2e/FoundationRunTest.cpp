// The real binary copied into an empty directory and started from another
// working directory, as a scheduler would start it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/LoopPage30Listing.h"
#include "support/ProgramFixture.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::TempDir;

// C locale: the creation time is "hh:nn:ss dd/mm/yy"; a cache-buster is the
// short date "mm/dd/yy" and the long time "hh:nn:ss" without the space, or
// the date alone at midnight.
// ('#' stands for a digit.)
constexpr const char* kCreated = "##:##:## ##/##/##";
constexpr const char* kCacheBuster = "##/##/####:##:##";
constexpr const char* kMidnightCacheBuster = "##/##/##";

class FoundationRunTest : public testing_support::ProgramFixture {
 protected:
  ProcessResult Run() {
    ProcessOptions options = RunOptions();
    options.time_limit = std::chrono::seconds(120);
    return testing_support::RunProcess(options);
  }
};

TEST_F(FoundationRunTest, WritesTheListedPageInItsOwnDirectory) {
  const ProcessResult result = Run();
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::vector<std::string> lines = result.OutLines();
  ASSERT_GE(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines[0], "HTML delay: 333ms (Param1)");
  EXPECT_EQ(lines[1], "v2024.7.22.2151");
  EXPECT_EQ(lines[2], "Writing index.html");

  testing_support::ListingValues values;
  values.created = testing_support::AnyOfForms({kCreated});
  values.cache_busters = {testing_support::AnyOfForms({kCacheBuster, kMidnightCacheBuster})};
  EXPECT_EQ(testing_support::DiffAgainstLoopPage30(program_.Read("index.html"), values), "");

  EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path()));
  for (const auto& entry : std::filesystem::directory_iterator(program_.path())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "temporary file left behind";
  }

  // A second run replaces the page rather than adding to it, and removes
  // what a killed run left of its own naming, and only that.
  program_.Write(".index24.html.ab12cd34.tmp", "left by a killed run");
  program_.Write(".notes.tmp", "someone else's");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the file clock's lag
  EXPECT_EQ(Run().exit_code, 0);
  EXPECT_EQ(testing_support::DiffAgainstLoopPage30(program_.Read("index.html"), values), "");
  EXPECT_FALSE(program_.Exists(".index24.html.ab12cd34.tmp"));
  EXPECT_TRUE(program_.Exists(".notes.tmp"));
}

}  // namespace

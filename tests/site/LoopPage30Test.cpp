#include "site/LoopPage30.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/DateTimeFormat.h"
#include "support/LoopPage30Listing.h"
#include "support/ProgramState.h"
#include "support/TempDir.h"
#include "zub32/Config.h"
#include "zub32/Records.h"

namespace site {
namespace {

using testing_support::DiffAgainstLoopPage30;
using testing_support::ListingValues;

// 2024-07-22 21:51:30, a Monday.
const platform::TDateTime kWritten = platform::EncodeDateTime(2024, 7, 22, 21, 51, 30, 0);

class LoopPage30Test : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocaleFormatForTesting(platform::CLocaleFormat());
    platform::SetClockForTesting([] { return kWritten; });
    zub32::GlobalSettings.SelfName = "VESK";
    zub32::GlobalSettings.Version = "2024.7.22.2151";
  }

  static ListingValues FixedClockValues() {
    ListingValues values;
    values.created = testing_support::Exactly("21:51:30 22/07/24");
    // The C locale's short date and long time with the space removed.
    values.cache_busters = {testing_support::Exactly("07/22/2421:51:30")};
    return values;
  }

  testing_support::ProgramState saved_;
};

TEST_F(LoopPage30Test, PageIsTheListingByteForByte) {
  const std::string page = BuildLoopPage30(333, PageAddresses::ForPublishHost("localhost"));
  EXPECT_EQ(DiffAgainstLoopPage30(page, FixedClockValues()), "");
  EXPECT_EQ(page.substr(page.size() - 9), "</html>\r\n");
  EXPECT_EQ(page.find("\xEF\xBB\xBF"), std::string::npos);
}

TEST_F(LoopPage30Test, DelayAndHostAreInsertedAsGiven) {
  for (const std::int32_t delay : {-5, 0, 1000, 333}) {
    ListingValues values = FixedClockValues();
    values.delay = std::to_string(delay);
    values.host = "www.example.org:8080";
    EXPECT_EQ(
        DiffAgainstLoopPage30(
            BuildLoopPage30(delay, PageAddresses::ForPublishHost("www.example.org:8080")), values),
        "")
        << delay;
  }
}

TEST_F(LoopPage30Test, ClockIsReadForEachValueInPageOrder) {
  // Every reading of the clock is one second later than the one before.
  int readings = 0;
  platform::SetClockForTesting([&] { return kWritten + (readings++) / 86400.0; });
  ListingValues values = FixedClockValues();
  values.cache_busters.clear();
  for (int k = 1; k <= 16; ++k) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "07/22/2421:51:%02d", 30 + k);
    values.cache_busters.push_back(testing_support::Exactly(expected));
  }
  EXPECT_EQ(DiffAgainstLoopPage30(BuildLoopPage30(333, PageAddresses::ForPublishHost("localhost")),
                                  values),
            "");
  EXPECT_EQ(readings, 17);
}

TEST_F(LoopPage30Test, AtMidnightTheCacheBusterIsTheDateAlone) {
  platform::SetClockForTesting([] { return platform::EncodeDateTime(2024, 7, 22, 0, 0, 0, 0); });
  ListingValues values;
  values.created = testing_support::Exactly("00:00:00 22/07/24");
  values.cache_busters = {testing_support::Exactly("07/22/24")};
  EXPECT_EQ(DiffAgainstLoopPage30(BuildLoopPage30(333, PageAddresses::ForPublishHost("localhost")),
                                  values),
            "");
}

TEST_F(LoopPage30Test, WriterReplacesThePageInTheWorkingDirectory) {
  testing_support::TempDir dir;
  std::filesystem::current_path(dir.path());
  dir.Write("index.html", std::string(20000, 'x'));
  const PageAddresses addresses = PageAddresses::ForPublishHost("publish.example");
  testing::internal::CaptureStdout();
  WriteLoopPage30(500, addresses, zub32::kDefaultProduct);
  const std::string page_text = WriteLoopPage30(500, addresses, zub32::kDefaultProduct);
  const std::string printed = testing::internal::GetCapturedStdout();

  EXPECT_EQ(printed, "Writing index.html\nWriting index.html\n");
  EXPECT_EQ(dir.Read("index.html"), page_text);
  ListingValues values = FixedClockValues();
  values.host = "publish.example";
  values.delay = "500";
  EXPECT_EQ(DiffAgainstLoopPage30(dir.Read("index.html"), values), "");
}

}  // namespace
}  // namespace site

#include "site/LoopPage24.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "support/Golden.h"
#include "support/ProgramState.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "zub32/Config.h"
#include "zub32/DaySlot.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace site {
namespace {

using testing_support::SplitAt;

using platform::TDateTime;

constexpr double kMinute = 1.0 / 1440;
constexpr double kSecond = 1.0 / 86400;

// Monday 22 July 2024; the day before is a Sunday.
TDateTime Monday(int hour, int minute, int second) {
  return platform::EncodeDateTime(2024, 7, 22, hour, minute, second, 0);
}

// Runs the writer inside a temporary directory with a fixed clock and the C
// locale's day names, and restores all three afterwards.
class LoopPage24Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir_.path());
    platform::SetLocaleFormatForTesting(platform::CLocaleFormat());
    SetClock(Monday(12, 30, 0));  // slot 150
  }

  void SetClock(TDateTime now) {
    now_ = now;
    platform::SetClockForTesting([now] { return now; });
  }

  // A file whose last-write time is the given local date-time.
  void Archive(const std::string& name, TDateTime written) {
    dir_.Write(name, "x");
    const std::time_t seconds = platform::LocalDateTimeToUnix(written);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, dir_.File(name).c_str(), times, 0), 0) << name;
  }

  std::string Assemble(zub32::ArchiveLines archive_lines = zub32::ArchiveLines::kEach) {
    console_.clear();
    LoopPage24Inputs inputs{"VESK", "2024.7.22.2151", PageAddresses::ForPublishHost("example.org"),
                            333};
    inputs.archive_lines = archive_lines;
    shown_.clear();
    return BuildLoopPage24(
        inputs, [this](std::string_view line) { console_.emplace_back(line); }, &shown_);
  }

  bool Printed(const std::string& line) const {
    return std::find(console_.begin(), console_.end(), line) != console_.end();
  }

  testing_support::ProgramState saved_;
  testing_support::TempDir dir_;
  TDateTime now_ = 0;
  std::vector<std::string> console_;
  std::vector<ShownArchiveSlot> shown_;  // what status.json and the viewer get
};

TEST_F(LoopPage24Test, EmptyDirectoryGivesListedPageAndReportsEveryFrame) {
  SetClock(Monday(21, 51, 30));  // slot 262
  const std::string page = Assemble();
  EXPECT_EQ(page, testing_support::Golden("loop-page-24-empty.html"));
  EXPECT_EQ(SplitAt(page, "\r\n", true).size(), 116u);

  ASSERT_EQ(console_.size(), 576u);
  EXPECT_EQ(console_[0], "Image-MO000.png Doesnt Exists!");
  EXPECT_EQ(console_[262], "Image-MO262.png Doesnt Exists!");
  EXPECT_EQ(console_[263], "Image-SU263.png Doesnt Exists!");  // yesterday's later slots
  EXPECT_EQ(console_[287], "Image-SU287.png Doesnt Exists!");
  EXPECT_EQ(console_[288], "Image-MO000.png - misisng?????????????????");
  EXPECT_EQ(console_[575], "Image-MO287.png - misisng?????????????????");
}

// Slot 150 is the current one: slots after it are looked up under Sunday's
// tag. Shown slots are numbered in time order, Sunday's first, and each
// one's overlay rule and both divs carry its number, whatever the archive
// lacks.
TEST_F(LoopPage24Test, PairsEachShownSlotWithTheOverlayOfItsOwnSlot) {
  const TDateTime now = now_;
  Archive("Image-MO000.png", now - 2 * kMinute);
  Archive("Image-MO001.png", now - 1.0 - 2 * kSecond);                 // stale: not shown
  Archive("Image-MO002.png", now - 23 * 60 * kMinute - 59 * kMinute);  // 23 h 59 min: fresh
  Archive("Image-MO004.png", platform::EncodeDateTime(2050, 1, 1, 0, 0, 0, 0));  // packs negative
  Archive("Image-MO005.png", platform::EncodeDateTime(1975, 1, 1, 0, 0, 0, 0));  // cannot pack
  std::filesystem::create_directory("Image-MO006.png");
  Archive("Image-SU151.png", now - 1.0 + 5 * kMinute);
  Archive("Image-MO151.png", now - 7.0 + 5 * kMinute);  // last week's: not looked at

  Archive("SESOverlay-MO000.bmp", now - 2 * kMinute);
  Archive("SESOverlay-MO001.bmp", now - 2 * kMinute);        // its frame is stale
  Archive("SESOverlay-MO002.bmp", now - 1.0 - 2 * kSecond);  // stale: no rule
  Archive("SESOverlay-MO003.bmp", now - 2 * kMinute);        // no frame
  Archive("SESOverlay-MO004.bmp", now - 2 * kMinute);
  Archive("SESOverlay-SU151.bmp", now - 1.0 + 5 * kMinute);
  Archive("SESOverlay-MO151.bmp", now - 2 * kMinute);  // not the weekday of its frame

  const std::string page = Assemble();
  const std::vector<std::string> lines = SplitAt(page, "\r\n", true);
  std::vector<std::string> rules, divs;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("      .weather-box") || lines[i].starts_with("      .sesoverlay-box"))
      rules.push_back(lines[i] + " " + lines[i + 4].substr(lines[i + 4].find("vesk/") + 5, 16));
    if (lines[i].starts_with("      <div id=\"myDiv") &&
        lines[i].find("-box\"") == std::string::npos)
      divs.push_back(lines[i].substr(lines[i].find("class")));
  }
  EXPECT_EQ(
      rules,
      (std::vector<std::string>{
          "      .weather-box0 Image-SU151.png?", "      .weather-box1 Image-MO000.png?",
          "      .weather-box2 Image-MO002.png?", "      .weather-box3 Image-MO004.png?",
          "      .sesoverlay-box0 SESOverlay-SU151", "      .sesoverlay-box1 SESOverlay-MO000",
          "      .sesoverlay-box3 SESOverlay-MO004"}));
  EXPECT_EQ(divs, (std::vector<std::string>{
                      "class=\"weather-box0\"></div>", "class=\"weather-box1\"></div>",
                      "class=\"weather-box2\"></div>", "class=\"weather-box3\"></div>",
                      "class=\"sesoverlay-box0\"></div>", "class=\"sesoverlay-box1\"></div>",
                      "class=\"sesoverlay-box2\"></div>", "class=\"sesoverlay-box3\"></div>"}));
  // Every shown slot is shown, the newest included.
  EXPECT_NE(page.find("\r\n      if (i1<4)\r\n"), std::string::npos);
  EXPECT_NE(page.find("\r\n          for (i2=0; i2<4;i2++)\r\n"), std::string::npos);

  // One rule, fully: frames sit above overlays.
  const std::string buster = "07/22/2412:30:00";  // the C locale's, blanks removed
  const auto overlay = std::find(lines.begin(), lines.end(), "      .sesoverlay-box0");
  ASSERT_LE(overlay + 13, lines.end());
  EXPECT_EQ(
      std::vector<std::string>(overlay, overlay + 13),
      (std::vector<std::string>{
          "      .sesoverlay-box0", "      {", "        z-index:1;", "        position:absolute;",
          "        background:url(\"https://example.org/vesk/SESOverlay-SU151.bmp?foo=" + buster +
              "\") no-repeat;",
          "        display:none;", "        overflow:hidden;", "        height:600px;",
          "        width:100%;", "        left:0px;", "        top:0px;", "      }", ""}));

  // Five frames are found in each frame section; the directory and the file
  // from before 1980 count as missing.
  EXPECT_EQ(console_.size(), 2u * (288 - 5));
  EXPECT_TRUE(Printed("Image-MO003.png Doesnt Exists!"));
  EXPECT_TRUE(Printed("Image-MO005.png Doesnt Exists!"));
  EXPECT_TRUE(Printed("Image-MO006.png Doesnt Exists!"));
  EXPECT_TRUE(Printed("Image-SU152.png Doesnt Exists!"));
  EXPECT_FALSE(Printed("Image-SU151.png Doesnt Exists!"));
  EXPECT_TRUE(Printed("Image-MO006.png - misisng?????????????????"));
  EXPECT_TRUE(Printed("Image-MO152.png - misisng?????????????????"));
  EXPECT_FALSE(Printed("Image-MO151.png - misisng?????????????????"));
}

// A full, fresh archive: the page is the listed one, rules and divs 0 to
// 287 pairing slot by slot, except that the script now runs through all 288.
TEST_F(LoopPage24Test, FullArchiveShowsEverySlot) {
  for (int slot = 0; slot < 288; ++slot) {
    const std::string tag = zub32::SlotTag(slot <= 150 ? now_ : now_ - 1.0, slot);
    Archive("Image-" + tag + ".png", now_ - 2 * kMinute);
    Archive("SESOverlay-" + tag + ".bmp", now_ - 2 * kMinute);
    if (slot > 150) Archive("Image-MO" + tag.substr(2) + ".png", now_ - 7.0 + kMinute);
  }
  const std::string page = Assemble();
  EXPECT_TRUE(console_.empty());
  const std::vector<std::string> lines = SplitAt(page, "\r\n", true);
  EXPECT_EQ(lines.size(), 67u + 2 * 288 * 13 + 11 + 2 * 288 + 38);
  // From the slot after the current one, around midnight, to the current one.
  EXPECT_NE(lines[67 + 4].find("/vesk/Image-SU151.png?foo="), std::string::npos);
  EXPECT_NE(lines[67 + 136 * 13 + 4].find("/vesk/Image-SU287.png?foo="), std::string::npos);
  EXPECT_NE(lines[67 + 137 * 13 + 4].find("/vesk/Image-MO000.png?foo="), std::string::npos);
  EXPECT_EQ(lines[67 + 287 * 13], "      .weather-box287");
  EXPECT_NE(lines[67 + 287 * 13 + 4].find("/vesk/Image-MO150.png?foo="), std::string::npos);
  EXPECT_NE(lines[67 + 288 * 13 + 287 * 13 + 4].find("/vesk/SESOverlay-MO150.bmp?foo="),
            std::string::npos);
  ASSERT_EQ(shown_.size(), 288u);
  for (std::size_t k = 1; k < shown_.size(); ++k) {
    EXPECT_EQ(shown_[k].slot_start - shown_[k - 1].slot_start, 300) << shown_[k].tag;
  }
  EXPECT_EQ(shown_.back().tag, "MO150");
  EXPECT_EQ(lines[67 + 288 * 13 + 287 * 13], "      .sesoverlay-box287");
  EXPECT_EQ(lines[67 + 2 * 288 * 13 + 11 + 288 + 287],
            "      <div id=\"myDivSES287\" class=\"sesoverlay-box287\"></div>");
  EXPECT_EQ(lines[lines.size() - 38 + 12], "      if (i1<288)");
  EXPECT_EQ(lines[lines.size() - 38 + 17], "          for (i2=0; i2<288;i2++)");
}

TEST_F(LoopPage24Test, SlotBoundariesOfTheDay) {
  SetClock(Monday(0, 0, 0));
  EXPECT_EQ(zub32::DaySlot(now_), 0);
  EXPECT_EQ(zub32::CurrentSlotTag(), "MO000");
  Archive("Image-MO000.png", now_ - 2 * kSecond);
  Archive("Image-SU001.png", now_ - 1.0 + 5 * kMinute);
  Archive("Image-SU287.png", now_ - 5 * kMinute);
  const std::string first = Assemble();
  // Yesterday's slots come first, Monday's first slot last.
  std::vector<std::string> order;
  for (const ShownArchiveSlot& slot : shown_) order.push_back(slot.tag);
  EXPECT_EQ(order, (std::vector<std::string>{"SU001", "SU287", "MO000"}));
  EXPECT_LT(shown_[1].slot_start, shown_[2].slot_start);
  EXPECT_LT(first.find("Image-SU001.png?"), first.find("Image-SU287.png?"));
  EXPECT_LT(first.find("Image-SU287.png?"), first.find("Image-MO000.png?"));
  std::vector<std::string> missing_rules(console_.begin(), console_.begin() + 285);
  EXPECT_EQ(missing_rules.front(), "Image-SU002.png Doesnt Exists!");
  EXPECT_EQ(missing_rules.back(), "Image-SU286.png Doesnt Exists!");
  EXPECT_EQ(console_[285], "Image-MO001.png - misisng?????????????????");

  SetClock(Monday(23, 59, 59));
  EXPECT_EQ(zub32::DaySlot(now_), 287);
  EXPECT_EQ(zub32::CurrentSlotTag(), "MO287");
  const std::string page = Assemble();
  ASSERT_EQ(console_.size(), 2u * 287);  // MO000 is the only frame under Monday's tag
  EXPECT_EQ(console_[286], "Image-MO287.png Doesnt Exists!");
  EXPECT_EQ(std::count_if(console_.begin(), console_.end(),
                          [](const std::string& line) { return line.starts_with("Image-SU"); }),
            0);
  // MO000 is now one day and one second old: present, but not shown, so the
  // page has the numbers of an empty one.
  EXPECT_EQ(page.find("myDiv0"), std::string::npos);
  EXPECT_NE(page.find("\r\n      if (i1<-1)\r\n"), std::string::npos);
  EXPECT_NE(page.find("\r\n          for (i2=0; i2<287;i2++)\r\n"), std::string::npos);
}

// The summary counts the shown frames and the overlays shown with them, and
// changes nothing in the page.
TEST_F(LoopPage24Test, SummaryLineCountsWhatThePageShows) {
  Archive("Image-MO000.png", now_ - 2 * kMinute);
  Archive("SESOverlay-MO000.bmp", now_ - 2 * kMinute);
  Archive("Image-SU200.png", now_ - 1.0 + 5 * kMinute);
  Archive("Image-MO001.png", now_ - 1.0 - 2 * kSecond);  // stale, with its overlay
  Archive("SESOverlay-MO001.bmp", now_ - 2 * kMinute);
  Archive("SESOverlay-MO002.bmp", now_ - 2 * kMinute);  // no frame
  const std::string listed = Assemble();
  EXPECT_EQ(Assemble(zub32::ArchiveLines::kSummary), listed);
  EXPECT_EQ(console_, std::vector<std::string>{"Archive: 2 of 288 frames, 1 overlays"});
}

TEST_F(LoopPage24Test, RunStepWritesThePageWhole) {
  zub32::GlobalSettings.SelfName = "VESK";
  zub32::GlobalSettings.Version = "2024.7.22.2151";
  LoopPage24Inputs inputs;
  inputs.self_name = zub32::GlobalSettings.SelfName;
  inputs.version = zub32::GlobalSettings.Version;
  inputs.addresses = PageAddresses::ForPublishHost("127.0.0.1:8080");
  inputs.html_delay = -5;
  ::testing::internal::CaptureStdout();
  const std::string page_text = WriteLoopPage24(inputs, nullptr);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 577);
  // The missing frames are reported while the page is assembled, before it is written.
  EXPECT_TRUE(
      printed.ends_with("Image-MO287.png - misisng?????????????????\nWriting index24.html....\n"));
  EXPECT_EQ(dir_.Read("index24.html"), page_text);
  EXPECT_TRUE(page_text.ends_with("\r\n    },-5)\r\n  </script>\r\n</html>"));
  EXPECT_NE(page_text.find("https://127.0.0.1:8080/vesk/IDR641.range.png"), std::string::npos);
  EXPECT_NE(page_text.find("    SELFNAME: VESK\r\n"), std::string::npos);
}

}  // namespace
}  // namespace site

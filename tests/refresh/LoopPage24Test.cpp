#include "refresh/LoopPage24.h"

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
#include "support/ProgramState.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "zub32/Config.h"
#include "zub32/DaySlot.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

using testing_support::SplitAt;

using platform::TDateTime;

constexpr double kMinute = 1.0 / 1440;
constexpr double kSecond = 1.0 / 86400;

// Monday 22 July 2024; the day before is a Sunday.
TDateTime Monday(int hour, int minute, int second) {
  return platform::EncodeDateTime(2024, 7, 22, hour, minute, second, 0);
}

std::string ToCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
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
    const platform::DateTimeParts parts = platform::DecodeDateTime(written);
    std::tm local{};
    local.tm_year = parts.year - 1900;
    local.tm_mon = parts.month - 1;
    local.tm_mday = parts.day;
    local.tm_hour = parts.hour;
    local.tm_min = parts.minute;
    local.tm_sec = parts.second;
    local.tm_isdst = -1;
    const std::time_t seconds = mktime(&local);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, dir_.File(name).c_str(), times, 0), 0) << name;
  }

  std::string Assemble() {
    console_.clear();
    LoopPage24Inputs inputs{"VESK", "2024.7.22.2151", "example.org", 333};
    return BuildLoopPage24(inputs, [this](std::string_view line) { console_.emplace_back(line); });
  }

  bool Printed(const std::string& line) const {
    return std::find(console_.begin(), console_.end(), line) != console_.end();
  }

  testing_support::ProgramState saved_;
  testing_support::TempDir dir_;
  TDateTime now_ = 0;
  std::vector<std::string> console_;
};

// The page of a directory without archive, as listed line by line.
constexpr const char* kEmptyPage = R"(<!DOCTYPE html>
<html lang="en">
  <!--
    FUNCTION: Main()
    CREATED: 21:51:30 22/07/24
    VERSION: 2024.7.22.2151
    SELFNAME: VESK
  -->
  <head>
    <style>
      .container
      {
        position:relative;
      }

      .background-box
      {
        z-index:0;
        background:url("https://example.org/vesk/IDR641.background.png") no-repeat;
        display:block;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .topography-box
      {
        z-index:2;
        background:url("https://example.org/vesk/IDR641.topography.png") no-repeat;
        display:block;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .locations-box
      {
        z-index:3;
        background:url("https://example.org/vesk/IDR641.locations.png") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .range-box
      {
        z-index:4;
        background:url("https://example.org/vesk/IDR641.range.png") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

    </style>
    <title>VESK 24hr loop</title>
  </head>

  <body>
    <!-- <h1>Zelvo Zozuzoro Vazu VESK loop.</h1> -->
    <div class="container">
      <div id="myDivBackground" class="background-box"></div>
      <div id="myDivTopography" class="topography-box"></div>
      <div id="myDivLocations" class="locations-box"></div>
      <div id="myDivRange" class="range-box"></div>
    </div>
  </body>

  <script type="text/javascript">
    document.getElementById("myDivBackground").style.display="none";
    document.getElementById("myDivTopography").style.display="block";
    document.getElementById("myDivLocations").style.display="block";
    document.getElementById("myDivRange").style.display="block";
    let i1=0;

    setInterval(function()
    {
      if (i1<-1)
      {
        //console.log("i1="+i1);
        try
        {
          for (i2=0; i2<287;i2++)
          {
            if (i1!=i2)
            {
              document.getElementById("myDiv"+i2).style.display="none";
              document.getElementById("myDivSES"+i2).style.display="none";
          } else {
              document.getElementById("myDiv"+i1).style.display="block";
              document.getElementById("myDivSES"+i1).style.display="block";
            }
          }
        }
        catch (e) {};
        i1++;
      } else
      {
        i1=0;
      }
    },333)
  </script>
</html>)";

TEST_F(LoopPage24Test, EmptyDirectoryGivesListedPageAndReportsEveryFrame) {
  SetClock(Monday(21, 51, 30));  // slot 262
  const std::string page = Assemble();
  EXPECT_EQ(page, ToCrLf(kEmptyPage));
  EXPECT_EQ(SplitAt(page, "\r\n", true).size(), 116u);

  ASSERT_EQ(console_.size(), 576u);
  EXPECT_EQ(console_[0], "Image-MO000.png Doesnt Exists!");
  EXPECT_EQ(console_[262], "Image-MO262.png Doesnt Exists!");
  EXPECT_EQ(console_[263], "Image-SU263.png Doesnt Exists!");  // yesterday's later slots
  EXPECT_EQ(console_[287], "Image-SU287.png Doesnt Exists!");
  EXPECT_EQ(console_[288], "Image-MO000.png - misisng?????????????????");
  EXPECT_EQ(console_[575], "Image-MO287.png - misisng?????????????????");
}

// Slot 150 is the current one: rule sections look up slots after it under
// Sunday's tag, div sections always under Monday's.
TEST_F(LoopPage24Test, NumbersRulesAndDivsIndependently) {
  const TDateTime now = now_;
  Archive("Image-MO000.png", now - 2 * kMinute);
  Archive("Image-MO001.png", now - 1.0 - 2 * kSecond);                 // stale: gap in rule numbers
  Archive("Image-MO002.png", now - 23 * 60 * kMinute - 59 * kMinute);  // 23 h 59 min: fresh
  Archive("Image-MO004.png", platform::EncodeDateTime(2050, 1, 1, 0, 0, 0, 0));  // packs negative
  Archive("Image-MO005.png", platform::EncodeDateTime(1975, 1, 1, 0, 0, 0, 0));  // cannot pack
  std::filesystem::create_directory("Image-MO006.png");
  Archive("Image-SU151.png", now - 1.0 + 5 * kMinute);
  Archive("Image-MO151.png", now - 7.0 + 5 * kMinute);  // last week: a div, no rule

  Archive("SESOverlay-MO000.bmp", now - 2 * kMinute);
  Archive("SESOverlay-MO002.bmp", now - 2 * kMinute);        // MO001 missing: gap
  Archive("SESOverlay-MO003.bmp", now - 1.0 - 2 * kSecond);  // stale: gap, still a div
  Archive("SESOverlay-SU151.bmp", now - 1.0 + 5 * kMinute);

  const std::string page = Assemble();
  const std::vector<std::string> lines = SplitAt(page, "\r\n", true);
  auto count = [&](const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  std::vector<std::string> frame_rules, overlay_rules, divs;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("      .weather-box")) frame_rules.push_back(lines[i + 4]);
    if (lines[i].starts_with("      .sesoverlay-box")) overlay_rules.push_back(lines[i]);
    if (lines[i].starts_with("      <div id=\"myDiv") &&
        lines[i].find("-box\"") == std::string::npos)
      divs.push_back(lines[i]);
  }
  // The C locale's short date and long time of Monday 12:30, blanks removed.
  const std::string buster = "07/22/2412:30:00";
  auto frame_url = [&](const std::string& name) {
    return "        background:url(\"https://example.org/vesk/" + name + "?foo=" + buster +
           "\") no-repeat;";
  };
  EXPECT_EQ(frame_rules,
            (std::vector<std::string>{frame_url("Image-MO000.png"), frame_url("Image-MO002.png"),
                                      frame_url("Image-MO004.png"), frame_url("Image-SU151.png")}));
  EXPECT_EQ(count("      .weather-box0"), 1);
  EXPECT_EQ(count("      .weather-box1"), 0);  // the stale frame
  EXPECT_EQ(count("      .weather-box2"), 1);
  EXPECT_EQ(count("      .weather-box3"), 1);
  EXPECT_EQ(count("      .weather-box4"), 1);
  EXPECT_EQ(overlay_rules,
            (std::vector<std::string>{"      .sesoverlay-box0", "      .sesoverlay-box2",
                                      "      .sesoverlay-box151"}));
  EXPECT_EQ(divs, (std::vector<std::string>{
                      "      <div id=\"myDiv0\" class=\"weather-box0\"></div>",
                      "      <div id=\"myDiv1\" class=\"weather-box1\"></div>",
                      "      <div id=\"myDiv2\" class=\"weather-box2\"></div>",
                      "      <div id=\"myDiv3\" class=\"weather-box3\"></div>",
                      "      <div id=\"myDiv4\" class=\"weather-box4\"></div>",
                      "      <div id=\"myDivSES0\" class=\"sesoverlay-box0\"></div>",
                      "      <div id=\"myDivSES1\" class=\"sesoverlay-box1\"></div>",
                      "      <div id=\"myDivSES2\" class=\"sesoverlay-box2\"></div>"}));
  EXPECT_EQ(count("      if (i1<2)"), 1);
  EXPECT_EQ(count("          for (i2=0; i2<287;i2++)"), 1);

  // One overlay rule, fully: frames sit above overlays.
  const auto overlay = std::find(lines.begin(), lines.end(), "      .sesoverlay-box151");
  ASSERT_LE(overlay + 13, lines.end());
  EXPECT_EQ(std::vector<std::string>(overlay, overlay + 13),
            (std::vector<std::string>{
                "      .sesoverlay-box151", "      {", "        z-index:1;",
                "        position:absolute;", frame_url("SESOverlay-SU151.bmp"),
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

TEST_F(LoopPage24Test, SlotBoundariesOfTheDay) {
  SetClock(Monday(0, 0, 0));
  EXPECT_EQ(zub32::DaySlot(now_), 0);
  EXPECT_EQ(zub32::CurrentSlotTag(), "MO000");
  Archive("Image-MO000.png", now_ - 2 * kSecond);
  Archive("Image-SU001.png", now_ - 1.0 + 5 * kMinute);
  Archive("Image-SU287.png", now_ - 5 * kMinute);
  Assemble();
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
  // MO000 is now one day and one second old: present, but without a rule.
  EXPECT_EQ(page.find(".weather-box"), std::string::npos);
  EXPECT_NE(page.find("      <div id=\"myDiv0\" class=\"weather-box0\"></div>"), std::string::npos);
}

TEST_F(LoopPage24Test, RunStepWritesThePageWhole) {
  zub32::GlobalSettings.SelfName = "VESK";
  zub32::GlobalSettings.Version = "2024.7.22.2151";
  RunContext run;
  run.config.publish_host.text = "127.0.0.1:8080";
  run.html_delay = -5;
  run.page_text = "the 30-minute page";
  ::testing::internal::CaptureStdout();
  WriteLoopPage24(run);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 577);
  // The missing frames are reported while the page is assembled, before it is written.
  EXPECT_TRUE(
      printed.ends_with("Image-MO287.png - misisng?????????????????\nWriting index24.html....\n"));
  const std::string& page_text = run.page_text;
  EXPECT_EQ(dir_.Read("index24.html"), page_text);
  EXPECT_TRUE(page_text.ends_with("\r\n    },-5)\r\n  </script>\r\n</html>"));
  EXPECT_NE(page_text.find("https://127.0.0.1:8080/vesk/IDR641.range.png"), std::string::npos);
  EXPECT_NE(page_text.find("    SELFNAME: VESK\r\n"), std::string::npos);
}

}  // namespace
}  // namespace refresh

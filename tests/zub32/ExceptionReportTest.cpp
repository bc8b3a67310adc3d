#include "zub32/ExceptionReport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "platform/Exceptions.h"
#include "support/ProgramState.h"
#include "support/Regex.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "support/UdpListener.h"
#include "zub32/Config.h"
#include "zub32/Records.h"

namespace zub32 {
namespace {

using testing_support::SplitAt;

using testing_support::TempDir;
using testing_support::UdpListener;

// The clock every test runs on: 2024-01-02 03:04:05.006, so that each field
// of the time stamps needs its zero padding.
platform::TDateTime FixedTime() { return platform::EncodeDateTime(2024, 1, 2, 3, 4, 5, 6); }

class ExceptionReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BeginRunReports(Syslog());
    GlobalSettings.ExceptionFileName = "e!vesk.xml";
    GlobalSettings.SelfName = "VESK";
    GlobalSettings.Version = "2024.7.22.2151";
    GlobalSettings.EXEPath = dir_.path();
    GlobalSettings.SyslogSequence = 0;
    platform::SetClockForTesting(FixedTime);
  }

  // The summaries go to the test's listener.
  SyslogSetting Syslog() const { return {SyslogMode::kUnicast, "127.0.0.1", listener_.port()}; }

  static tExceptionRec MainFailure() {
    tExceptionRec rec;
    rec.Function = "Main()";
    rec.ClassName = "EIdHTTPProtocolException";
    rec.Message = "HTTP/1.1 404 Not Found";
    rec.Trace = 100;
    rec.FileName = "e!vesk.xml";
    rec.Beep = true;
    return rec;
  }

  testing_support::ProgramState saved_;
  TempDir dir_;
  UdpListener listener_;
  // The call depth before the test, which reporting must leave as it was.
  const std::int32_t depth_before_ = GlobalSettings.CallDepth;
};

TEST_F(ExceptionReportTest, WritesEveryLineWithCrLfAndPostsTheSummary) {
  tExceptionRec rec = MainFailure();
  rec.SQL = "select 1";
  rec.CallingFunction = "caller";
  rec.Notes = "notes";
  rec.Count = -7;

  EXPECT_EQ(SaveExceptionRecAsXML(rec), "e!vesk.xml");

  const std::string text = dir_.Read("e!vesk.xml");
  const std::vector<std::string> lines = SplitAt(text, "\r\n", true);
  ASSERT_EQ(lines.size(), 19u) << text;  // 18 lines, each ended by CR LF
  EXPECT_EQ(lines[18], "");
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "a lone line break in " << line;
  }

  const std::string colon = platform::LocaleFormat().time_separator;
  EXPECT_EQ(lines[0], "<xml>");
  EXPECT_EQ(lines[1], "<Exception>");
  EXPECT_EQ(lines[2], "<DateTime>2024-01-02 03" + colon + "04" + colon + "05.006</DateTime>");
  EXPECT_TRUE(std::regex_match(
      lines[3], std::regex(R"(<MachineUpTime>\d+w\d+d\d\dh\d\dm\d\ds</MachineUpTime>)")))
      << lines[3];
  EXPECT_TRUE(
      std::regex_match(lines[4], std::regex(R"(<UsedMemory>\d[^%]*\d% \(\d[^)]*\) </UsedMemory>)")))
      << lines[4];
  EXPECT_EQ(lines[5], "<SelfName>VESK</SelfName>");
  EXPECT_EQ(lines[6], "<Version>2024.7.22.2151</Version>");
  EXPECT_EQ(lines[7], "<Function>Main():100</Function>");
  EXPECT_EQ(lines[8], "<Trace>100</Trace>");
  EXPECT_EQ(lines[9], "<CallingFunction>caller</CallingFunction>");
  EXPECT_EQ(lines[10], "<HostName></HostName>");
  EXPECT_EQ(lines[11], "<ClassName>EIdHTTPProtocolException</ClassName>");
  EXPECT_EQ(lines[12], "<e.Message>HTTP/1.1 404 Not Found</e.Message>");
  EXPECT_EQ(lines[13], "<SQL>select 1</SQL>");
  EXPECT_EQ(lines[14], "<Notes>notes</Notes>");
  EXPECT_EQ(lines[15], "<Count>-7</Count>");
  EXPECT_EQ(lines[16], "</Exception>");
  EXPECT_EQ(lines[17], "</xml>");

  const auto summary = listener_.Receive();
  ASSERT_TRUE(summary.has_value()) << "no syslog line arrived";
  EXPECT_EQ(summary->payload,
            "<0>VESK:00001 EXCEPTION:Func=Main() Trace=100 File=\"e!vesk.xml\" SelfNameVESK "
            "Version=2024.7.22.2151 H=\"\" (ID=05003)");
  EXPECT_FALSE(listener_.Receive(200).has_value()) << "the summary is sent once";
}

TEST_F(ExceptionReportTest, EscapesMarkupAndEveryUnprintableByte) {
  GlobalSettings.Version = "1&2";
  // A status line from a hostile peer: markup, a line break, a zero byte
  // (the message goes on after it), an escape sequence and bytes that are
  // not UTF-8.
  ReportException("Main()", "EIdException",
                  std::string("bad <b>&amp;</b>\r\nsecond\0line\x1b[2J\x80\xff\tend", 39), 120);

  const std::string text = dir_.Read("e!vesk.xml");
  EXPECT_NE(text.find("<e.Message>bad &lt;b&gt;&amp;amp;&lt;/b&gt;\\x0D\\x0Asecond\\x00line"
                      "\\x1B[2J\\x80\\xFF\tend</e.Message>\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<Version>1&amp;2</Version>\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("<Function>Main():120</Function>\r\n"), std::string::npos) << text;
  // The summary is a syslog line, not markup: it stays as it is.
  const auto summary = listener_.Receive();
  ASSERT_TRUE(summary.has_value());
  EXPECT_NE(summary->payload.find("Version=1&2 "), std::string::npos) << summary->payload;

  // A huge value is cut at 16 KiB as escaped, between two entities.
  BeginRunReports(Syslog());
  ReportException("Main()", "EIdException", std::string(400 * 1024, '<'), 120);
  std::string cut;
  for (int i = 0; i < (16 * 1024 - 3) / 4; ++i) cut += "&lt;";
  const std::string huge = dir_.Read("e!vesk.xml");
  EXPECT_NE(huge.find("<e.Message>" + cut + "...</e.Message>\r\n"), std::string::npos);
  EXPECT_LT(huge.size(), 20u * 1024);
}

TEST_F(ExceptionReportTest, KeepsTheRunsFirstReportAndSaysWhyLaterOnesAreNotWritten) {
  tExceptionRec first = MainFailure();
  EXPECT_EQ(SaveExceptionRecAsXML(first), "e!vesk.xml");
  EXPECT_TRUE(LastReportOutcome().written);
  tExceptionRec later = MainFailure();
  later.ClassName = "EFCreateError";
  later.Message = "1 file was not written";
  EXPECT_EQ(SaveExceptionRecAsXML(later), "e!vesk.xml");
  EXPECT_FALSE(LastReportOutcome().written);
  EXPECT_EQ(LastReportOutcome().reason, "e!vesk.xml holds an earlier failure");
  EXPECT_NE(dir_.Read("e!vesk.xml").find("HTTP/1.1 404 Not Found"), std::string::npos);
  // Both failures are posted.
  EXPECT_TRUE(listener_.Receive().has_value());
  EXPECT_TRUE(listener_.Receive().has_value());

  // A new run starts afresh.
  BeginRunReports(Syslog());
  EXPECT_EQ(SaveExceptionRecAsXML(later), "e!vesk.xml");
  EXPECT_TRUE(LastReportOutcome().written);
  EXPECT_NE(dir_.Read("e!vesk.xml").find("1 file was not written"), std::string::npos);
}

TEST_F(ExceptionReportTest, ExpandsOnlyTheFirstOfEachPlaceholder) {
  struct Case {
    std::string file_name_template;
    std::string expected;
  };
  const Case cases[] = {
      {"", "E!VESK-20240102030405006.xml"},
      {"{selfname}-{selfname}-{timestamp}-{timestamp}.xml",
       "VESK-{selfname}-20240102030405006-{timestamp}.xml"},
      {"{SelfName}{TIMESTAMP}.xml", "{SelfName}{TIMESTAMP}.xml"},
  };
  for (const Case& c : cases) {
    tExceptionRec rec = MainFailure();
    rec.FileName = c.file_name_template;
    EXPECT_EQ(SaveExceptionRecAsXML(rec), c.expected) << "template " << c.file_name_template;
    EXPECT_TRUE(dir_.Exists(c.expected)) << c.expected;
    const auto summary = listener_.Receive();
    ASSERT_TRUE(summary.has_value());
    EXPECT_NE(summary->payload.find(" File=\"" + c.expected + "\" "), std::string::npos)
        << summary->payload;
  }
}

TEST_F(ExceptionReportTest, WritesAndSendsNothingWithoutASelfName) {
  GlobalSettings.SelfName.clear();
  EXPECT_EQ(SaveExceptionRecAsXML(MainFailure()), "");
  EXPECT_TRUE(dir_.Names().empty());
  EXPECT_FALSE(listener_.Receive(300).has_value());
  EXPECT_EQ(GlobalSettings.SyslogSequence, 0);
  EXPECT_EQ(GlobalSettings.CallDepth, depth_before_);
}

TEST_F(ExceptionReportTest, UnwritableDirectoryStillReturnsTheNameAndPostsTheSummary) {
  std::vector<std::string> places = {dir_.File("missing/")};
  const std::string read_only = dir_.File("read-only/");
  ASSERT_EQ(mkdir(read_only.c_str(), 0500), 0);
  // A privileged user writes into a read-only directory anyway; the missing
  // directory covers the same path then.
  if (access(read_only.c_str(), W_OK) != 0) places.push_back(read_only);

  for (const std::string& place : places) {
    GlobalSettings.EXEPath = place;
    EXPECT_EQ(SaveExceptionRecAsXML(MainFailure()), "e!vesk.xml") << place;
    EXPECT_FALSE(std::filesystem::exists(place + "e!vesk.xml")) << place;
    EXPECT_FALSE(LastReportOutcome().written);
    EXPECT_NE(LastReportOutcome().reason.find("e!vesk.xml\": "), std::string::npos)
        << LastReportOutcome().reason;
    const auto summary = listener_.Receive();
    ASSERT_TRUE(summary.has_value()) << place;
    EXPECT_NE(summary->payload.find("File=\"e!vesk.xml\""), std::string::npos);
  }
  chmod(read_only.c_str(), 0700);
}

TEST_F(ExceptionReportTest, ReportsItsOwnFailureOnceWithTheMarkerReached) {
  // A clock that always fails: the report fails, the report about that
  // failure fails the same way and ends the chain instead of recursing.
  int calls = 0;
  platform::SetClockForTesting([&calls]() -> platform::TDateTime {
    ++calls;
    throw platform::EOSError("clock unavailable");
  });
  EXPECT_EQ(SaveExceptionRecAsXML(MainFailure()), "");
  EXPECT_LE(calls, 4);
  EXPECT_TRUE(dir_.Names().empty());
  EXPECT_FALSE(listener_.Receive(300).has_value());

  // A clock that fails once: the report about the failure is written under
  // GlobalSettings.ExceptionFileName, names the marker reached and keeps the
  // reported record's other fields.
  calls = 0;
  platform::SetClockForTesting([&calls] {
    if (++calls == 1) throw platform::EOSError("clock unavailable");
    return FixedTime();
  });
  GlobalSettings.ExceptionFileName = "e!own.xml";
  tExceptionRec rec = MainFailure();
  rec.FileName = "first.xml";
  rec.SQL = "kept sql";
  rec.Notes = "kept notes";
  rec.Count = 3;
  EXPECT_EQ(SaveExceptionRecAsXML(rec), "");
  EXPECT_FALSE(dir_.Exists("first.xml"));
  const std::string text = dir_.Read("e!own.xml");
  std::smatch marker;
  ASSERT_TRUE(std::regex_search(
      text, marker,
      std::regex(
          "<Function>zub32\\.SaveExceptionRecAsXML:(\\d+)</Function>\r\n<Trace>(\\d+)</Trace>")))
      << text;
  EXPECT_EQ(marker[1], marker[2]);
  EXPECT_NE(text.find("<ClassName>EOSError</ClassName>\r\n<e.Message>clock unavailable</e.Message>"
                      "\r\n<SQL>kept sql</SQL>\r\n<Notes>kept notes</Notes>\r\n<Count>3</Count>"),
            std::string::npos)
      << text;
  const auto summary = listener_.Receive();
  ASSERT_TRUE(summary.has_value());
  EXPECT_NE(summary->payload.find("Func=zub32.SaveExceptionRecAsXML Trace=" + marker[1].str() +
                                  " File=\"e!own.xml\""),
            std::string::npos)
      << summary->payload;
  EXPECT_EQ(GlobalSettings.CallDepth, depth_before_);
}

}  // namespace
}  // namespace zub32

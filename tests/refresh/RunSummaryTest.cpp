// The summary line that ends every run: its forms, and error messages from
// remote peers squeezed onto one bounded line.
#include "refresh/RunSummary.h"

#include <gtest/gtest.h>

#include <string>

namespace refresh {
namespace {

TEST(RunSummaryTest, FormsOfTheLine) {
  RunOutcome outcome;
  outcome.frames_downloaded = 7;
  outcome.overlay = OverlayOutcome::kDrawn;
  outcome.report_file = "e!vesk.xml";
  outcome.elapsed_ms = 412;
  EXPECT_EQ(SummaryLine(outcome), "Summary: frames downloaded 7, overlay drawn, 412 ms");

  outcome.overlay = OverlayOutcome::kFailed;
  outcome.files_not_written = 1;
  EXPECT_EQ(SummaryLine(outcome),
            "Summary: frames downloaded 7, overlay failed (report e!vesk.xml), 1 file not written "
            "(report e!vesk.xml), 412 ms");

  RunOutcome failed;
  failed.failed = true;
  failed.failure_class = "EIdSocketError";
  failed.failure_message = "Socket Error # 111\r\nConnection refused";
  failed.report_file = "e!vesk.xml";
  failed.elapsed_ms = 4;
  EXPECT_EQ(SummaryLine(failed),
            "Summary: run failed: EIdSocketError: Socket Error # 111 Connection refused (report "
            "e!vesk.xml); frames downloaded 0, overlay not drawn, 4 ms");

  RunOutcome skipped;
  skipped.skipped = true;
  EXPECT_EQ(SummaryLine(skipped),
            "Summary: skipped, another run is going on; frames downloaded 0, overlay not drawn, 0 "
            "ms");
}

TEST(RunSummaryTest, OneLineSqueezesAndBoundsTheText) {
  EXPECT_EQ(OneLine("", 10), "");
  EXPECT_EQ(OneLine(" \r\n\t ", 10), "");
  EXPECT_EQ(OneLine("\r\nHTTP/1.1 404 Not Found\r\n\r\n", 80), "HTTP/1.1 404 Not Found");
  // Control characters a hostile peer may send, an escape sequence among
  // them, never reach the log as such.
  EXPECT_EQ(OneLine(std::string("a\0b\x1b[2Jc\x7f", 10), 80), "a b [2Jc");
  EXPECT_EQ(OneLine("0123456789", 10), "0123456789");
  EXPECT_EQ(OneLine("0123456789A", 10), "0123456...");
  EXPECT_EQ(OneLine(std::string(100000, 'x'), kMaxSummaryMessage).size(), kMaxSummaryMessage);
  EXPECT_EQ(OneLine("abcdef", 2), "ab");
}

}  // namespace
}  // namespace refresh

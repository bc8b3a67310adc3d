// The summary line that ends every run: its forms, and where each failure's
// report is or why there is none.
#include "refresh/RunSummary.h"

#include <gtest/gtest.h>

#include <string>

namespace refresh {
namespace {

zub32::ReportOutcome Written() { return {"e!vesk.xml", true, ""}; }

TEST(RunSummaryTest, FormsOfTheLine) {
  RunOutcome outcome;
  outcome.frames_downloaded = 7;
  outcome.overlay = OverlayOutcome::kDrawn;
  outcome.elapsed_ms = 412;
  EXPECT_EQ(SummaryLine(outcome), "Summary: frames downloaded 7, overlay drawn, 412 ms");

  outcome.overlay = OverlayOutcome::kFailed;
  outcome.overlay_report = Written();
  outcome.files_not_written = 1;
  outcome.write_report = Written();
  EXPECT_EQ(SummaryLine(outcome),
            "Summary: frames downloaded 7, overlay failed (report e!vesk.xml), 1 file not written "
            "(report e!vesk.xml), 412 ms");
  // Layers that were not fetched write no report, so none is named.
  outcome.layers_not_fetched = 2;
  EXPECT_EQ(SummaryLine(outcome),
            "Summary: frames downloaded 7, overlay failed (report e!vesk.xml), 1 file not written "
            "(report e!vesk.xml), 2 map layers not fetched, 412 ms");

  RunOutcome failed;
  failed.failed = true;
  failed.failure_class = "EIdSocketError";
  failed.failure_message = "Socket Error # 111\r\nConnection refused";
  failed.failure_report = Written();
  failed.elapsed_ms = 4;
  EXPECT_EQ(SummaryLine(failed),
            "Summary: run failed: EIdSocketError: Socket Error # 111 Connection refused (report "
            "e!vesk.xml); frames downloaded 0, overlay not drawn, 4 ms");

  // A report that could not be written, or one the run's first failure
  // already holds, is not named as if it were there.
  failed.failure_report = {"e!vesk.xml", false, "Cannot write \"e!vesk.xml\":\r\nNo space"};
  failed.files_not_written = 2;
  failed.write_report = {"e!vesk.xml", false, "e!vesk.xml holds an earlier failure"};
  EXPECT_EQ(
      SummaryLine(failed),
      "Summary: run failed: EIdSocketError: Socket Error # 111 Connection refused (report not "
      "written: Cannot write \"e!vesk.xml\": No space); frames downloaded 0, overlay not "
      "drawn, 2 files not written (report not written: e!vesk.xml holds an earlier "
      "failure), 4 ms");

  RunOutcome skipped;
  skipped.skipped = true;
  EXPECT_EQ(SummaryLine(skipped),
            "Summary: skipped, another run is going on; frames downloaded 0, overlay not drawn, 0 "
            "ms");
}

}  // namespace
}  // namespace refresh

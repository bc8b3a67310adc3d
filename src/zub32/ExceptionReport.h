// The exception report: an XML file in the program directory and a syslog
// summary line.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "zub32/Config.h"
#include "zub32/Records.h"

namespace zub32 {

// What became of the report a failure asked for.
struct ReportOutcome {
  std::string file_name;  // without directory; empty when no report was asked for
  bool written = false;
  std::string reason;  // why it was not written
};

// Writes the report for Rec and posts its summary; returns the report's file
// name without directory, or empty when GlobalSettings.SelfName is empty.
// The first report a run writes to a file is kept: a later failure of the
// run that names the same file is printed as one line and posted, but does
// not replace it.
std::string SaveExceptionRecAsXML(tExceptionRec Rec);

// The outcome of the last SaveExceptionRecAsXML call.
const ReportOutcome& LastReportOutcome();

// Forgets the reports written so far, so that the next run's first report
// replaces an older run's, and sends the summaries of the run's reports as
// its Syslog setting says (none before a run begins, or with the default).
void BeginRunReports(const SyslogSetting& syslog = {});

// Posts the summary line of a failure for which no report is written, as
// SaveExceptionRecAsXML posts it after the report; File="" names none.
void PostExceptionSummary(const tExceptionRec& Rec);

// Sends a syslog line of the run's own (code and message, after the usual
// prefix) as the run's Syslog setting says, the way a report's summary goes.
void PostRunSyslogLine(std::int32_t code, const std::string& message);

// Fills a record for a caught error in the usual way (Function, ClassName,
// Message, Trace, FileName from GlobalSettings, Beep) and saves it.
std::string ReportException(const std::string& function, const std::string& class_name,
                            const std::string& message, std::int32_t trace);

// The class name a report shows for a caught error: the catalogue's name for
// the program's own errors, the type's name for any other.
std::string ExceptionClassName(const std::exception& error);

}  // namespace zub32

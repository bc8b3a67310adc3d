#include "zub32/ExceptionReport.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string_view>
#include <typeinfo>

#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "platform/Exceptions.h"
#include "platform/NumberFormat.h"
#include "zub32/Config.h"
#include "zub32/PrintableText.h"
#include "zub32/Syslog.h"
#include "zub32/SystemInfo.h"
#include "zub32/TextFiles.h"

namespace zub32 {
namespace {

constexpr std::string_view kDefaultFileNameTemplate = "E!{selfname}-{timestamp}.xml";
constexpr std::string_view kSelfNamePlaceholder = "{selfname}";
constexpr std::string_view kTimestampPlaceholder = "{timestamp}";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::int32_t kSummaryCode = 5003;
// The longest message a line about an unreported failure shows.
constexpr std::size_t kMaxPrintedMessage = 200;
// The longest value of a report element as written, and what ends one cut
// short there.
constexpr std::size_t kMaxReportValueBytes = 16 * 1024;
constexpr std::string_view kCutMark = "...";

// True while the report about the writer's own failure is being written. A
// failure inside that report is not reported again, which bounds the chain of
// reports to one nested report.
bool reporting_own_failure = false;

class OwnFailureScope {
 public:
  OwnFailureScope() { reporting_own_failure = true; }
  ~OwnFailureScope() { reporting_own_failure = false; }
  OwnFailureScope(const OwnFailureScope&) = delete;
  OwnFailureScope& operator=(const OwnFailureScope&) = delete;
};

// The reports of the current run: the paths written so far, and what became
// of the last one.
struct RunReports {
  // Where the summaries go: off until a run says otherwise.
  SyslogSetting syslog;
  std::set<std::string> written_paths;
  ReportOutcome last;
};

RunReports& Reports() {
  static RunReports reports;
  return reports;
}

// Messages and status lines come from the network; escaping keeps them from
// breaking the document or injecting elements into it, and writing every
// other byte as "\xHH" keeps the file well-formed UTF-8 without control
// characters, which XML does not allow. The escaped text is cut at
// kMaxReportValueBytes, never inside an entity or an escape, so that one
// hostile value cannot swell the report.
std::string EscapeXml(std::string_view value) {
  BoundedText escaped(kMaxReportValueBytes, kCutMark);
  for (const char c : value) {
    std::string piece;
    switch (c) {
      case '&':
        piece = "&amp;";
        break;
      case '<':
        piece = "&lt;";
        break;
      case '>':
        piece = "&gt;";
        break;
      default:
        piece = PrintableBytes(std::string_view(&c, 1));
    }
    if (!escaped.Append(piece)) break;
  }
  return escaped.text();
}

void AddLine(std::string& report, std::string_view line) {
  report += line;
  report += kLineEnd;
}

void AddElement(std::string& report, std::string_view name, std::string_view value) {
  report += '<';
  report += name;
  report += '>';
  report += EscapeXml(value);
  report += "</";
  report += name;
  report += '>';
  report += kLineEnd;
}

void ReplaceFirst(std::string& text, std::string_view placeholder, std::string_view value) {
  const std::size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}

std::string ExpandFileName(const std::string& file_name_template) {
  std::string name =
      file_name_template.empty() ? std::string(kDefaultFileNameTemplate) : file_name_template;
  ReplaceFirst(name, kSelfNamePlaceholder, GlobalSettings.SelfName);
  if (name.find(kTimestampPlaceholder) != std::string::npos) {
    ReplaceFirst(name, kTimestampPlaceholder,
                 platform::FormatDateTime("yyyymmddhhnnsszzz", platform::Now()));
  }
  return name;
}

std::string UsedMemoryText(const tMemoryStatusRec& memory) {
  return platform::FormatGroupedNumber(100.0 - memory.AvailVirtualPercent, 2) + "% (" +
         platform::FormatGroupedNumber(
             static_cast<double>(memory.TotalVirtual - memory.AvailVirtual), 0) +
         ") ";
}

std::string SummaryLine(const tExceptionRec& Rec, const std::string& file_name) {
  return "EXCEPTION:Func=" + Rec.Function + " Trace=" + std::to_string(Rec.Trace) + " File=\"" +
         file_name + "\" SelfName" + GlobalSettings.SelfName + " Version=" + GlobalSettings.Version;
}

void PostSummary(const std::string& summary) { PostRunSyslogLine(kSummaryCode, summary); }

// The report's XML, element by element, with the step marker of each.
std::string ReportText(const tExceptionRec& Rec, const tMemoryStatusRec& memory, tLogRec& Log) {
  std::string report;
  AddLine(report, "<xml>");
  Log.Trace = 230;
  AddLine(report, "<Exception>");
  Log.Trace = 300;
  AddElement(report, "DateTime",
             platform::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", platform::Now()));
  Log.Trace = 305;
  tMachineUpTime up_time;
  MachineUpTime(up_time);
  AddElement(report, "MachineUpTime", up_time.UpTimeText);
  AddElement(report, "UsedMemory", UsedMemoryText(memory));
  Log.Trace = 310;
  AddElement(report, "SelfName", GlobalSettings.SelfName);
  Log.Trace = 315;
  AddElement(report, "Version", GlobalSettings.Version);
  Log.Trace = 320;
  AddElement(report, "Function", Rec.Function + ":" + std::to_string(Rec.Trace));
  AddElement(report, "Trace", std::to_string(Rec.Trace));
  Log.Trace = 325;
  AddElement(report, "CallingFunction", Rec.CallingFunction);
  Log.Trace = 330;
  AddElement(report, "HostName", GlobalSettings.HostName);
  Log.Trace = 340;
  AddElement(report, "ClassName", Rec.ClassName);
  Log.Trace = 350;
  AddElement(report, "e.Message", Rec.Message);
  Log.Trace = 360;
  AddElement(report, "SQL", Rec.SQL);
  Log.Trace = 370;
  AddElement(report, "Notes", Rec.Notes);
  AddElement(report, "Count", std::to_string(Rec.Count));
  AddLine(report, "</Exception>");
  AddLine(report, "</xml>");
  return report;
}

// Writes the report unless this run already wrote one to the same file,
// which then keeps the run's first failure.
void WriteReport(const tExceptionRec& Rec, const std::string& report, ReportOutcome& outcome) {
  const std::string path = GlobalSettings.EXEPath + outcome.file_name;
  RunReports& reports = Reports();
  if (reports.written_paths.count(path) != 0) {
    outcome.reason = outcome.file_name + " holds an earlier failure";
    platform::WriteLine("Failure not reported in " + outcome.file_name +
                        ", which holds an earlier one: " + Rec.Function + ":" +
                        std::to_string(Rec.Trace) + " " + Rec.ClassName + ": " +
                        OneLine(Rec.Message, kMaxPrintedMessage));
    return;
  }
  // The report's own write failure, if any, gives the reason; the run's list
  // gets it too when the scope ends.
  WriteFailureList failures;
  const WriteFailureScope scope(failures);
  if (StringToFile(report, path, false, "") == 0) {
    reports.written_paths.insert(path);
    outcome.written = true;
    return;
  }
  outcome.reason = failures.empty() ? "the file could not be written" : failures.back();
}

}  // namespace

const ReportOutcome& LastReportOutcome() { return Reports().last; }

void PostRunSyslogLine(std::int32_t code, const std::string& message_text) {
  const SyslogSetting& setting = Reports().syslog;
  tSyslogRec message;
  message.Code = code;
  message.Message = message_text;
  switch (setting.mode) {
    case SyslogMode::kOff:
      return;
    case SyslogMode::kBroadcast:
      message.Port = 0;
      PostSyslogMsg(message, "");
      return;
    case SyslogMode::kUnicast:
      // An empty host would turn the unicast into a broadcast, which this
      // setting never asked for.
      if (setting.host.empty()) return;
      message.Port = setting.port;
      PostSyslogMsg(message, setting.host);
      return;
  }
}

void PostExceptionSummary(const tExceptionRec& Rec) { PostSummary(SummaryLine(Rec, "")); }

void BeginRunReports(const SyslogSetting& syslog) {
  Reports() = RunReports();
  Reports().syslog = syslog;
}

std::string ExceptionClassName(const std::exception& error) {
  if (const auto* own = dynamic_cast<const platform::Exception*>(&error)) return own->ClassName();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(typeid(error).name());
}

std::string SaveExceptionRecAsXML(tExceptionRec Rec) {
  tLogRec Log;
  Log.Trace = 100;
  CallDepthScope depth;
  ReportOutcome outcome;
  if (GlobalSettings.SelfName.empty()) {
    outcome.reason = "no program name is set";
    Reports().last = outcome;
    return "";
  }

  std::string file_name;
  try {
    tMemoryStatusRec memory;
    GetMemoryStatus(memory);

    const std::string report = ReportText(Rec, memory, Log);

    Log.Trace = 380;
    file_name = ExpandFileName(Rec.FileName);

    Log.Trace = 420;
    // A report that cannot be written is lost; the summary still goes out,
    // and the outcome tells the run's summary line why.
    outcome.file_name = file_name;
    WriteReport(Rec, report, outcome);

    // Rec.Beep asks for four tones (200, 400, 800 and 1600 Hz, 50 ms each);
    // there is no tone device, so none are sounded.
    Log.Trace = 460;

    Log.Trace = 480;
    PostSummary(SummaryLine(Rec, file_name));
  } catch (const std::exception& error) {
    if (!outcome.written) {
      outcome.file_name = file_name;
      outcome.reason = "the report failed: " + std::string(error.what());
    }
    if (!reporting_own_failure) {
      OwnFailureScope own_failure;
      tExceptionRec own = Rec;
      own.Function = "zub32.SaveExceptionRecAsXML";
      DescribeException(error, own.ClassName, own.Message);
      own.Trace = Log.Trace;
      own.FileName = GlobalSettings.ExceptionFileName;
      own.Beep = true;
      SaveExceptionRecAsXML(own);
    }
  }
  // The outcome is this report's, not that of a nested one about its own
  // failure.
  Reports().last = outcome;
  return file_name;
}

std::string ReportException(const std::string& function, const std::string& class_name,
                            const std::string& message, std::int32_t trace) {
  tExceptionRec Rec;
  Rec.Function = function;
  Rec.ClassName = class_name;
  Rec.Message = message;
  Rec.Trace = trace;
  Rec.FileName = GlobalSettings.ExceptionFileName;
  Rec.Beep = true;
  return SaveExceptionRecAsXML(Rec);
}

}  // namespace zub32

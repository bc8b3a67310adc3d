#include "zub32/TextFiles.h"

#include <exception>
#include <optional>
#include <utility>

#include "platform/Console.h"
#include "platform/DateTimeFormat.h"
#include "platform/FileSystem.h"
#include "zub32/Records.h"

namespace zub32 {
namespace {

// Limits of the packed MS-DOS date: seven bits of years from 1980.
constexpr int kFirstPackableYear = 1980;
constexpr int kLastPackableYear = 2107;

// The list of the run going on, if any.
WriteFailureList*& CurrentFailures() {
  static WriteFailureList* failures = nullptr;
  return failures;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::int32_t StringToFile(const std::string& Text, const std::string& FileName, bool bAppend,
                          const std::string& CallingFunction) {
  // The caller's name is kept in the interface for the callers' sake; no
  // output depends on it.
  (void)CallingFunction;
  if (Text.empty()) return -1;
  try {
    // Appending to a file that does not exist is the same as creating it.
    const bool append = bAppend && platform::EntryExists(FileName);
    const platform::FileResult result = append ? platform::AppendToFile(FileName, Text)
                                               : platform::ReplaceFileAtomically(FileName, Text);
    if (result.ok()) return 0;
    NoteWriteFailure(result.reason());
    return -5;
  } catch (const std::exception&) {
    return -5;
  }
}

WriteFailureScope::WriteFailureScope(WriteFailureList& failures)
    : failures_(failures), previous_(std::exchange(CurrentFailures(), &failures)) {}

WriteFailureScope::~WriteFailureScope() {
  CurrentFailures() = previous_;
  try {
    if (previous_ != nullptr)
      previous_->insert(previous_->end(), failures_.begin(), failures_.end());
  } catch (const std::exception&) {
    // Without memory the outer list misses these; each was printed already.
  }
}

void NoteWriteFailure(const std::string& reason) {
  try {
    if (CurrentFailures() != nullptr) CurrentFailures()->push_back(reason);
    platform::WriteLine(reason);
  } catch (const std::exception&) {
    // Without memory or a standard output the failure can only go unsaid;
    // the file itself has kept its old content either way.
  }
}

std::string_view BetweenView(std::string_view Source, std::string_view StartDelim,
                             std::string_view EndDelim) {
  std::size_t start = 0;
  if (!StartDelim.empty()) {
    const std::size_t found = Source.find(StartDelim);
    if (found == std::string_view::npos) return {};
    start = found + StartDelim.size();
  }
  // Searching Source from the start on is searching the remainder.
  const std::size_t end = EndDelim.empty() ? std::string_view::npos : Source.find(EndDelim, start);
  return Source.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::string Between(const std::string& Source, const std::string& StartDelim,
                    const std::string& EndDelim) {
  std::string result;
  try {
    result = BetweenView(Source, StartDelim, EndDelim);
  } catch (const std::exception& error) {
    ReportFailure("zub32.Between", error, 0);
  }
  return result;
}

std::string FileToBin(const std::string& FileName) {
  try {
    std::optional<std::string> content = platform::ReadWholeFile(FileName, kMaxFileToBinBytes);
    return content ? std::move(*content) : std::string();
  } catch (const std::exception&) {
    return std::string();
  }
}

bool FileExists(const std::string& Name) {
  tLogRec Log;
  Log.Trace = 100;
  Log.Started = platform::Now();
  CallDepthScope depth;
  try {
    return platform::EntryExists(GlobalSettings.EXEPath + Name);
  } catch (const std::exception& error) {
    ReportFailure("zub32.FileExists", error, Log.Trace);
    return false;
  }
}

std::int32_t MyFileAge(const std::string& FileName) {
  try {
    const std::optional<platform::TDateTime> written = platform::LastWriteTimeLocal(FileName);
    if (!written) return -1;
    const platform::DateTimeParts parts = platform::DecodeDateTime(*written);
    if (parts.year < kFirstPackableYear || parts.year > kLastPackableYear) return -1;
    const std::uint32_t date = (static_cast<std::uint32_t>(parts.year - kFirstPackableYear) << 9) |
                               (static_cast<std::uint32_t>(parts.month) << 5) |
                               static_cast<std::uint32_t>(parts.day);
    const std::uint32_t time = (static_cast<std::uint32_t>(parts.hour) << 11) |
                               (static_cast<std::uint32_t>(parts.minute) << 5) |
                               static_cast<std::uint32_t>(parts.second / 2);
    // Years from 2044 on set the top bit, so the packed value is negative
    // then; only -1 (an impossible date) means "no age".
    return static_cast<std::int32_t>((date << 16) | time);
  } catch (const std::exception& error) {
    ReportFailure("zub32.MyFileAge", error, 0);
    return -1;
  }
}

platform::TDateTime FileDateToDateTime(std::int32_t packed) {
  const std::uint32_t bits = static_cast<std::uint32_t>(packed);
  const int year = static_cast<int>(bits >> 25) + kFirstPackableYear;
  const int month = static_cast<int>((bits >> 21) & 0x0F);
  const int day = static_cast<int>((bits >> 16) & 0x1F);
  const int hour = static_cast<int>((bits >> 11) & 0x1F);
  const int minute = static_cast<int>((bits >> 5) & 0x3F);
  const int second = static_cast<int>(bits & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return 0;
  }
  return platform::EncodeDateTime(year, month, day, hour, minute, second, 0);
}

std::string StringOfString(platform::TDateTime DateTime) {
  try {
    if (DateTime == 0) return std::string();
    const platform::FormatSettings& settings = platform::LocaleFormat();
    std::string text = platform::FormatDateTime(settings.short_date_format, DateTime, settings);
    const platform::DateTimeParts parts = platform::DecodeDateTime(DateTime);
    if (parts.hour != 0 || parts.minute != 0 || parts.second != 0) {
      text += ' ';
      text += platform::FormatDateTime(settings.long_time_format, DateTime, settings);
    }
    return text;
  } catch (const std::exception& error) {
    ReportFailure("zub32.StringOfString", error, 0);
    return std::string();
  }
}

}  // namespace zub32

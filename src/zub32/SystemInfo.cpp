#include "zub32/SystemInfo.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>

#include "platform/AsciiText.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

namespace zub32 {
namespace {

constexpr std::uint32_t kMsPerWeek = 604800000;
constexpr std::uint32_t kMsPerDay = 86400000;
constexpr std::uint32_t kMsPerHour = 3600000;
constexpr std::uint32_t kMsPerMinute = 60000;

// The exception report reads the memory figures and the up-time; when one of
// those fails, its own report must not start another report of the same
// failure, or a machine without the figures would report forever.
class ReportGuard {
 public:
  explicit ReportGuard(bool& active) : active_(active), first_(!active) { active_ = true; }
  ~ReportGuard() {
    if (first_) active_ = false;
  }
  ReportGuard(const ReportGuard&) = delete;
  ReportGuard& operator=(const ReportGuard&) = delete;
  bool first() const { return first_; }

 private:
  bool& active_;
  bool first_;
};

bool memory_report_active = false;
bool up_time_report_active = false;

double Percent(std::uint64_t part, std::uint64_t whole) {
  return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole) * 100.0;
}

std::int64_t Widen(std::uint64_t bytes) { return static_cast<std::int64_t>(bytes); }

// The figures cannot exceed the total in a consistent reading; a reading
// taken while memory changes is clamped rather than wrapped around.
std::int64_t Used(std::uint64_t total, std::uint64_t avail) {
  return total > avail ? Widen(total - avail) : 0;
}

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::string() : current.string();
}

// The working directory the process started in, taken before main runs: a
// relative VESK_HOME names a directory relative to it, also after the run
// has changed directory.
const std::string start_directory = CurrentDirectory();

const std::string& StartDirectory() { return start_directory; }

std::string WithTrailingSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

}  // namespace

std::optional<std::string> HomeFromEnvironment() {
  const char* home = std::getenv(kHomeVariable);
  if (home == nullptr || *home == '\0') return std::nullopt;
  return std::string(home);
}

namespace {

std::string ProgramDirectory() {
  if (const std::optional<std::string> home = HomeFromEnvironment()) {
    std::filesystem::path path(*home);
    if (path.is_relative()) path = std::filesystem::path(StartDirectory()) / path;
    return WithTrailingSlash(path.lexically_normal().string());
  }
  const std::string executable = platform::ExecutablePath();
  const std::size_t slash = executable.rfind('/');
  if (slash == std::string::npos) {
    throw platform::EOSError("Cannot read the path of the running executable");
  }
  return executable.substr(0, slash + 1);
}

}  // namespace

void GetMemoryStatus(tMemoryStatusRec& Rec) {
  tLogRec Log;
  Log.Trace = 100;
  Log.Started = platform::Now();
  CallDepthScope depth;
  Rec = tMemoryStatusRec{};
  try {
    platform::MemoryFigures figures;
    if (!platform::ReadMemoryFigures(figures)) {
      throw platform::EOSError("Cannot read the memory status of the machine");
    }
    Rec.TotalPhys = Widen(figures.total_phys);
    Rec.AvailPhys = Widen(figures.avail_phys);
    Rec.UsedPhys = Used(figures.total_phys, figures.avail_phys);
    Rec.AvailPhysPercent = Percent(figures.avail_phys, figures.total_phys);
    Rec.TotalPageFile = Widen(figures.total_page_file);
    Rec.AvailPageFile = Widen(figures.avail_page_file);
    Rec.UsedPageFile = Used(figures.total_page_file, figures.avail_page_file);
    Rec.AvailPageFilePercent = Percent(figures.avail_page_file, figures.total_page_file);
    Rec.TotalVirtual = Widen(figures.total_virtual);
    Rec.AvailVirtual = Widen(figures.avail_virtual);
    Rec.UsedVirtual = Used(figures.total_virtual, figures.avail_virtual);
    Rec.AvailVirtualPercent = Percent(figures.avail_virtual, figures.total_virtual);
    Rec.Valid = true;
  } catch (const std::exception& error) {
    Rec.Valid = false;
    ReportGuard guard(memory_report_active);
    if (guard.first()) ReportFailure("zub32.GetMemoryStatus", error, Log.Trace);
  }
}

void MachineUpTimeFromTicks(std::uint32_t ticks, tMachineUpTime& Rec) {
  std::uint32_t rest = ticks;
  const std::uint32_t weeks = rest / kMsPerWeek;
  rest %= kMsPerWeek;
  const std::uint32_t days = rest / kMsPerDay;
  rest %= kMsPerDay;
  const std::uint32_t hours = rest / kMsPerHour;
  rest %= kMsPerHour;
  const std::uint32_t minutes = rest / kMsPerMinute;
  rest %= kMsPerMinute;
  const std::uint32_t seconds = rest / 1000;

  char text[64];
  std::snprintf(text, sizeof text, "%uw%ud%02uh%02um%02us", weeks, days, hours, minutes, seconds);
  Rec.UpTimeText = text;
  Rec.Ticks = static_cast<std::int64_t>(ticks);
  Rec.Days =
      static_cast<double>(weeks * 7 + days) + hours / 24.0 + minutes / 1440.0 + seconds / 86400.0;
}

void MachineUpTime(tMachineUpTime& Rec) {
  tLogRec Log;
  Log.Started = platform::Now();
  try {
    MachineUpTimeFromTicks(platform::UpTimeMilliseconds(), Rec);
  } catch (const std::exception& error) {
    ReportGuard guard(up_time_report_active);
    if (guard.first()) ReportFailure("zub32.MachineUpTime", error, Log.Trace);
  }
}

std::string GetEXEPath(const std::string& ExeName) {
  tLogRec Log;
  Log.Trace = 100;
  Log.Started = platform::Now();
  CallDepthScope depth;
  try {
    if (ExeName.empty()) return ProgramDirectory();
    // The one program the unit knows by a fixed install location.
    static const std::string kQselPath = "C:\\Program Files (x86)\\Tovanel\\Qsel\\Qsel.exe";
    if (platform::AsciiLower(ExeName) == "qsel.exe") {
      return platform::EntryExists(kQselPath) ? kQselPath : std::string();
    }
    // Other programs are registered under "App Paths" on the original
    // platform; Linux keeps no such register, so the answer is empty.
    return std::string();
  } catch (const std::exception& error) {
    ReportFailure("zub32.GetEXEPath", error, Log.Trace);
    return std::string();
  }
}

std::optional<std::string> SystemDirectoryProblem(const std::string& directory) {
  // Installed programs live here; a run there would publish beside them.
  for (const char* system : {"/usr/", "/bin/", "/sbin/", "/opt/"}) {
    if (directory.starts_with(system)) {
      return "a system directory (under " + std::string(system, std::strlen(system) - 1) + ")";
    }
  }
  return platform::DirectoryWriteProblem(directory);
}

ProgramDirectoryEntry EnterProgramDirectory() {
  ProgramDirectoryEntry entry;
  try {
    entry.directory = GetEXEPath("");
    if (platform::ChangeDirectory(entry.directory)) {
      GlobalSettings.EXEPath = entry.directory;
      entry.entered = true;
    }
  } catch (const std::exception& error) {
    ReportFailure("zub32.SetPathToEXEPath", error, 0);
  }
  return entry;
}

std::string SetPathToEXEPath() {
  const ProgramDirectoryEntry entry = EnterProgramDirectory();
  return entry.entered ? entry.directory : "Error - " + entry.directory;
}

std::string BooleanTStr(bool Value, const std::string& TrueText, const std::string& FalseText) {
  try {
    return Value ? TrueText : FalseText;
  } catch (const std::exception& error) {
    ReportFailure("zub32.BooleanTStr", error, 0);
    return "Exception";
  }
}

}  // namespace zub32

// Run-wide settings and the record types through which the utility unit's
// routines describe a failure, trace their progress, send a syslog message
// and report up-time and memory.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/DateTime.h"

namespace zub32 {

struct tGlobalSettings {
  std::string SelfName;
  std::string Version;
  std::string HostName;           // never assigned: reports show it empty
  std::string ExceptionFileName;  // report file-name template
  std::int32_t CallDepth = 0;
  std::string EXEPath;  // program directory with a trailing '/'
  std::int16_t SyslogSequence = 0;
};

// The single run-wide instance.
extern tGlobalSettings GlobalSettings;

struct tExceptionRec {
  std::string Function;
  std::string ClassName;
  std::string Message;
  std::int32_t Trace = 0;
  std::string SQL;
  std::string CallingFunction;
  std::string Notes;
  std::string FileName;
  bool Beep = false;
  std::int32_t Count = 0;
};

struct tLogRec {
  std::int32_t LogID = 0;
  std::int32_t Trace = 0;
  platform::TDateTime Started = 0;
};

struct tSyslogRec {
  std::int32_t Code = 0;
  std::string Message;
  std::int32_t Port = 0;  // 0 means 514
};

struct tMachineUpTime {
  std::string UpTimeText;
  std::int64_t Ticks = 0;
  double Days = 0;
};

struct tMemoryStatusRec {
  std::int64_t TotalPhys = 0, AvailPhys = 0, UsedPhys = 0;
  double AvailPhysPercent = 0;
  std::int64_t TotalPageFile = 0, AvailPageFile = 0, UsedPageFile = 0;
  double AvailPageFilePercent = 0;
  std::int64_t TotalVirtual = 0, AvailVirtual = 0, UsedVirtual = 0;
  double AvailVirtualPercent = 0;
  bool Valid = false;
};

// Raises GlobalSettings.CallDepth for the lifetime of the object, so that it
// is lowered again on every exit path, exceptions included.
class CallDepthScope {
 public:
  CallDepthScope() { ++GlobalSettings.CallDepth; }
  ~CallDepthScope() { --GlobalSettings.CallDepth; }
  CallDepthScope(const CallDepthScope&) = delete;
  CallDepthScope& operator=(const CallDepthScope&) = delete;
};

// The class name and message of a caught error: the catalogue's own for a
// platform::Exception, the type name and what() for any other standard error.
void DescribeException(const std::exception& error, std::string& class_name, std::string& message);

// Reports a caught error as every routine of the unit does: an exception
// report with the routine's log name and its step marker at the failure.
// Never throws.
void ReportFailure(const std::string& function, const std::exception& error,
                   std::int32_t trace) noexcept;

}  // namespace zub32

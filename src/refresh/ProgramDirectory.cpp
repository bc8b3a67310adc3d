#include "refresh/ProgramDirectory.h"

#include <string>

#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "refresh/RunDriver.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/SystemInfo.h"

namespace refresh {
namespace {

bool VeskHomeIsSet() { return zub32::HomeFromEnvironment().has_value(); }

// Why no file can be created in the program directory, or nullopt when one
// can: an empty file is staged beside the lock file and discarded. The lock
// file alone proves nothing, since one that exists is opened for reading.
std::optional<std::string> FileCreationProblem() {
  const platform::StagedFile probe =
      platform::StagedFile::Write(kLockFileName, {}, platform::Flush::kLater);
  if (probe.Reason().empty()) return std::nullopt;
  return probe.ErrorNumber() != 0 ? platform::SystemErrorText(probe.ErrorNumber()) : probe.Reason();
}

}  // namespace

bool TakeRunLock(std::optional<platform::FileLock>& lock) {
  lock.emplace(platform::FileLock::TryExclusive(kLockFileName));
  switch (lock->GetState()) {
    case platform::FileLock::State::kAcquired:
      return true;
    case platform::FileLock::State::kHeldElsewhere:
      platform::WriteLine(std::string("Another run holds ") + kLockFileName +
                          "; this run does nothing.");
      return false;
    case platform::FileLock::State::kUnavailable:
      break;
  }
  platform::WriteLine(std::string("Cannot lock ") + kLockFileName + " (" + lock->Reason() +
                      "); this run goes on without the lock.");
  return true;
}

void LoadRunConfiguration(RunContext& run) {
  run.config = zub32::LoadConfiguration(zub32::GlobalSettings.EXEPath);
  for (const std::string& warning : run.config.warnings) platform::WriteErrorLine(warning);
}

std::optional<int> EnterDirectory(RunContext& run) {
  const zub32::ProgramDirectoryEntry entered = zub32::EnterProgramDirectory();
  if (!entered.entered) {
    // Without its own directory the run would read and write its files
    // wherever it was started; nothing is written and nothing is sent.
    const std::string& directory = entered.directory;
    platform::WriteErrorLine(
        "Cannot enter the program directory \"" + directory + "\" (" +
        (platform::EntryExists(directory) ? "not an accessible directory" : "it does not exist") +
        "); check VESK_HOME");
    return kExitNoProgramDirectory;
  }
  // Without VESK_HOME a packaged program would publish into /usr/bin, or
  // fail on every write; nothing is written and nothing is sent.
  if (!VeskHomeIsSet()) {
    if (const std::optional<std::string> problem =
            zub32::SystemDirectoryProblem(entered.directory)) {
      platform::WriteErrorLine("The executable's directory " + entered.directory + " is " +
                               *problem + "; set VESK_HOME to the program directory");
      return kExitNoProgramDirectory;
    }
  }
  zub32::GlobalSettings.ExceptionFileName = kExceptionFileName;
  zub32::GlobalSettings.SelfName = kSelfName;
  zub32::GlobalSettings.Version = kVersion;
  zub32::GlobalSettings.EXEPath = zub32::GetEXEPath("");
  // A directory this user cannot create files in would have every file of
  // the run fail after all was fetched; nothing is fetched or written, and
  // the syslog line tells whoever does not read the console.
  if (const std::optional<std::string> problem = FileCreationProblem()) {
    platform::WriteErrorLine("Cannot create a file in the program directory \"" +
                             entered.directory + "\" (" + *problem + "); this run fetches nothing");
    LoadRunConfiguration(run);
    zub32::BeginRunReports(run.config.syslog);
    zub32::tExceptionRec rec;
    rec.Function = "Main()";
    rec.Trace = run.Log.Trace;
    zub32::PostExceptionSummary(rec);
    return kExitNoProgramDirectory;
  }
  return std::nullopt;
}

}  // namespace refresh

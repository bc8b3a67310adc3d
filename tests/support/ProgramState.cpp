#include "support/ProgramState.h"

#include <system_error>

#include "platform/DateTime.h"
#include "platform/LocaleFormat.h"
#include "zub32/ExceptionReport.h"

namespace testing_support {

ProgramState::ProgramState()
    : settings_(zub32::GlobalSettings), directory_(std::filesystem::current_path()) {}

ProgramState::~ProgramState() {
  zub32::GlobalSettings = settings_;
  zub32::BeginRunReports();
  std::error_code ignored;
  std::filesystem::current_path(directory_, ignored);
  platform::SetClockForTesting({});
  platform::SetLocaleFormatForTesting(std::nullopt);
}

}  // namespace testing_support

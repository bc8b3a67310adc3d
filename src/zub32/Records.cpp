#include "zub32/Records.h"

#include "platform/Exceptions.h"
#include "zub32/ExceptionReport.h"

namespace zub32 {

tGlobalSettings GlobalSettings;

void DescribeException(const std::exception& error, std::string& class_name, std::string& message) {
  class_name = ExceptionClassName(error);
  // The program's own errors keep every byte of their message, zero bytes
  // included; what() would end it at the first one.
  const auto* own = dynamic_cast<const platform::Exception*>(&error);
  message = own != nullptr ? own->Message() : std::string(error.what());
}

void ReportFailure(const std::string& function, const std::exception& error,
                   std::int32_t trace) noexcept {
  // A failure while reporting (out of memory) must not reach the routine's
  // caller either; the report is then lost.
  try {
    std::string class_name, message;
    DescribeException(error, class_name, message);
    ReportException(function, class_name, message, trace);
  } catch (const std::exception&) {
  }
}

}  // namespace zub32

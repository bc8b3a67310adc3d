// The metrics file: the status of the last run in the Prometheus text
// format, replaced by each run that writes status.json.
#pragma once

#include <string>

#include "site/StatusDocument.h"

namespace refresh {

// The metrics in the Prometheus text format, every sample labelled with the
// product; a time that is not known leaves its sample out.
std::string MetricsText(const site::RunStatus& status);

}  // namespace refresh

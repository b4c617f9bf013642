#pragma once

#include <ostream>

#include "options.h"

namespace tamsel {

// Per offer: how many events of each code, the rejection reasons and the
// failure texts with their counts. Returns the process exit code.
int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tamsel

#pragma once

#include "options.h"

namespace tamsel {

// Serves until SIGTERM or SIGINT; returns the process exit code. The caller
// must have blocked those signals in every thread (see BlockStopSignals).
int RunService(const ServeOptions& options);

// Blocks SIGTERM and SIGINT so that only the service's own waiter sees them;
// call before any thread starts.
void BlockStopSignals();

}  // namespace tamsel

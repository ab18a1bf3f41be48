// The report dispatcher: runs the report that a validated command line selects.
#pragma once

#include "driver/CommandOptions.h"

namespace cmplxview {

// Returns 0 when everything asked for was shown, 1 otherwise.
int runReports(CommandOptions options);

}  // namespace cmplxview

#pragma once

#include "core/plans/plan_report.h"

namespace marvalo {

// A plan's run as TAP version 14, on stdout, once the run has ended (the
// plan line counts every case, so it cannot come earlier).
void printTap(const SuiteReport &report);

}  // namespace marvalo

#pragma once

#include "core/plans/plan_report.h"

namespace marvalo {

// When a run started and on which host, taken once at its start: every
// report the run writes, JUnit and JSON alike, names the same two.
ReportStamp stampNow();

}  // namespace marvalo

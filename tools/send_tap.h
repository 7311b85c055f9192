#pragma once

#include <cstddef>

#include "core/plans/plan_report.h"

namespace marvalo {

// A plan's run as TAP version 14 on stdout, streamed: the header before the
// first case, then each case the moment it ends, so a run that is killed
// leaves every case it finished.
void printTapHeader(std::size_t cases);
void printTapCase(std::size_t number, const CaseResult &result);

}  // namespace marvalo

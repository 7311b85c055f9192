#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/frames/bytes.h"
#include "core/plans/plan_report.h"
#include "core/sim/frame_timing.h"
#include "core/sim/line_engine.h"

namespace marvalo::sim {

// One request as the line brought it, times in microseconds since the line
// opened.
struct SeenRequest {
    Bytes bytes;
    double startUs = 0;       // its first byte
    double endUs = 0;         // its last byte
    double longestGapUs = 0;  // the longest pause between its bytes
    // From the end of the frame before it (our reply, or its own request
    // when we kept quiet) to its first byte; none for the first.
    std::optional<double> afterPreviousUs;
    bool previousWasOurs = false;
    LineAnswer answer;
};

// What the master did wrong in one request. Probing an address nobody has
// is named, not counted as a fault.
enum class MasterFault {
    None,
    BadCheck,
    UnknownAddress,
    GapInside,
    EarlyStart,
    UnsupportedFunction,
    RefusedQuantity,
    RefusedRange,
    ReadOnlyWrite,
};
const char *masterFaultKey(MasterFault fault);  // "bad-check", "gap-inside", ...

struct MasterVerdict {
    SeenRequest seen;
    MasterFault fault = MasterFault::None;
    std::string message;  // Spanish, for the report
};

// Verdicts on the master that talks to the simulator: its check codes, the
// addresses it asks, its line timing, what the instruments refused it, and
// how long it takes to come back after a reply.
class MasterJudge {
  public:
    explicit MasterJudge(CharTiming timing) : timing_(timing) {}

    void add(SeenRequest seen);

    const std::vector<MasterVerdict> &verdicts() const { return verdicts_; }
    // JUnit: a testcase a request, a master's fault as its failure.
    SuiteReport report(const std::string &name) const;
    std::string json() const;
    // One line: requests, faults by kind, the master's turnaround.
    std::string summary() const;

  private:
    CharTiming timing_;
    std::vector<MasterVerdict> verdicts_;
    std::vector<double> turnaroundsUs_;  // after our reply, to its next request
};

}  // namespace marvalo::sim

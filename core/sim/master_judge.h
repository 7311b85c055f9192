#pragma once

#include <cstddef>
#include <deque>
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
    Malformed,
};
const char *masterFaultKey(MasterFault fault);  // "bad-check", "gap-inside", ...

struct MasterVerdict {
    std::size_t number = 0;  // from 1, in the order the line brought them
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

    // At most kKept verdicts, faults kept before passes: a master that
    // runs for days costs a bounded memory; the counts and the
    // turnaround cover every request.
    static constexpr std::size_t kKept = 2000;
    const std::deque<MasterVerdict> &verdicts() const { return verdicts_; }
    std::size_t requests() const { return requests_; }
    // JUnit: a testcase a request, a master's fault as its failure.
    SuiteReport report(const std::string &name, const ReportStamp &stamp = {}) const;
    // The same, in JSON: when and where first, as the JUnit report says them.
    std::string json(const ReportStamp &stamp = {}) const;
    // One line: requests, faults by kind, the master's turnaround.
    std::string summary() const;

  private:
    CharTiming timing_;
    void count(MasterFault fault, int by) { counts_[static_cast<int>(fault)] += by; }

    std::deque<MasterVerdict> verdicts_;
    std::size_t requests_ = 0;
    std::size_t unlistedFaults_ = 0;
    std::size_t counts_[static_cast<int>(MasterFault::Malformed) + 1] = {};
    // After our reply, to the master's next request.
    std::size_t turnarounds_ = 0;
    double turnaroundMinUs_ = 0, turnaroundMaxUs_ = 0, turnaroundSumUs_ = 0;
};

}  // namespace marvalo::sim

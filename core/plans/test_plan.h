#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/register_values.h"
#include "core/result.h"
#include "core/settings/panel_state.h"
#include "core/text/text_place.h"
#include "core/verdicts/verdict.h"

namespace marvalo {

// Where something stands in a plan file, for messages: "unit.toml:12:5".
using PlanPlace = TextPlace;

// One register a read must bring: equal to a value, or within a range,
// decoded as the monitor and the command line decode it. Finite, exact
// for its format (an integer format's equals an integer in its range), and
// inside the range the step reads: checked when the plan is read.
struct RegisterExpectation {
    int number = 0;  // the register's own number: start 0, words 2 are 0 and 1
    std::optional<double> equals;
    std::optional<double> min;
    std::optional<double> max;
    RegisterView view;
};

// What a step's reply must be. All optional; by default, a good reply.
struct StepExpectation {
    VerdictKind verdict = VerdictKind::Ok;
    // The exact bytes, nullopt where the plan says "??" (any byte).
    std::optional<std::vector<std::optional<std::uint8_t>>> replyBytes;
    std::string replyHexText;  // as written, for messages
    // RE2, searched in the reply's text (see replyText); ^ and $ anchor it.
    std::optional<std::string> textPattern;
    std::vector<RegisterExpectation> registers;
    std::optional<double> maxFirstByteMs;
    // Modbus beyond the registers: the bits a read of 1 or 2 brings (from
    // its start, as many as it asks), the device identification objects by
    // id and the text each must hold (43/14), and which exception must come
    // (implies verdict "exception").
    std::optional<std::vector<bool>> bits;
    std::vector<std::pair<std::uint8_t, std::string>> identity;
    std::optional<std::uint8_t> exception;
};

struct PlanStep {
    std::string name;
    PlanPlace place;
    std::uint8_t protocol = 0;
    std::uint8_t function = 0;  // Modbus: the function code the step sends
    RequestInputs inputs;  // the panel's forms; for the other Modbus steps, start and words read
    // A Modbus request built from the function table (every form but the
    // panel's own), sent instead of what `inputs` would build.
    std::optional<Bytes> request;
    // The format and order its value or values were given in, for a
    // report of what was written: the step's own, never the command line's
    // view of reads, which the request was not built in.
    RegisterView writtenView;
    StepExpectation expect;
    int retries = 0;
    int delayMs = 0;
    int repeat = 1;
    std::optional<bool> stopOnFailure;  // else the plan's
};

// The [line] table: defaults that the command line overrides.
struct PlanLine {
    std::optional<std::string> device;
    std::optional<int> port;
    std::optional<int> baud;
    std::optional<std::uint8_t> linkType;
    std::optional<Parity> parity;
    std::optional<int> dataBits;
    std::optional<int> stopBits;
    // "single", "continuous", "until-complete" or a number of milliseconds.
    std::optional<std::string> waitMode;
    std::optional<int> waitMs;
    bool stopOnFailure = false;
};

struct TestPlan {
    std::string name;  // the file's name without its folder and ".toml"
    PlanLine line;
    std::vector<PlanStep> steps;
};

// A plan from its text (TOML). Every error found, each naming the file, line
// and column, what was found and what is allowed: a plan with any of them
// is refused whole, before anything is sent. The requests are built as the
// panel builds them, so a request the panel would refuse refuses the plan,
// in the panel's words.
Result<TestPlan, std::vector<std::string>> parseTestPlan(std::string_view text,
                                                         const std::string &fileName);

}  // namespace marvalo

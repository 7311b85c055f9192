#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/frames/bytes.h"
#include "core/sim/instrument_model.h"
#include "core/sim/modbus_server.h"

namespace marvalo::sim {

// Which protocol a request frame speaks: one whose Modbus CRC holds is
// Modbus (Modbus address 1 starts like SOH and 42 like "*"; a text frame
// passes the CRC by chance once in 65536), else SOH is ISO 1745 and the
// rest Korvel.
Protocol protocolOf(const Bytes &request);

// What became of one request on the line: whom it was for, what was
// wrong with it, and the answer with the line's faults of the rule that
// applied.
struct LineAnswer {
    Protocol protocol = Protocol::Korvel;
    int address = -1;       // as the request names it; -1 when it names none
    bool known = false;     // an instrument on the line has that address
    bool badCheck = false;  // its CRC or BCC is wrong
    // Too short for any request, or too short or too long for its
    // function: no instrument answers it.
    bool malformed = false;
    std::uint8_t function = 0;  // Modbus
    ModbusOutcome modbus;
    std::optional<Bytes> reply;
    // The rule's line faults: silence is a reply of none.
    bool echo = false;
    int delayMs = 0;
    int slowMs = 0;
    int rule = -1;  // the rule that applied, by its place in the file; -1 none
    std::string ruleWhere;
};

// Every instrument of a file on one line: a request frame in, what each
// instrument does with it out. Pure: `seconds` is the time since the line
// opened, for ramps and sines.
class LineEngine {
  public:
    explicit LineEngine(const InstrumentFile &file);
    ~LineEngine();
    LineEngine(LineEngine &&) noexcept;
    LineEngine &operator=(LineEngine &&) noexcept;

    LineAnswer answer(const Bytes &request, double seconds);

  private:
    struct Played;
    std::vector<std::unique_ptr<Played>> played_;
};

}  // namespace marvalo::sim

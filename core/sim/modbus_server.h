#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/frames/bytes.h"
#include "core/sim/instrument_model.h"

namespace marvalo::sim {

// What one Modbus request met in an instrument.
struct ModbusOutcome {
    std::optional<Bytes> reply;  // with its CRC; none: the instrument stays quiet
    std::uint8_t exception = 0;  // the exception answered, 0 for none
    bool readOnly = false;       // exception 02 for a write to a read-only block
    bool broken = false;         // too short or too long for its function: no answer
};

// One Modbus instrument's answers: a request frame whose CRC holds, for
// our address or the broadcast one, in; the reply out. Checks run in the
// order of the Modbus application protocol's state charts: the function
// (else exception 01), its quantity and byte count (03), the addresses
// against the blocks (02), then the action. Writes persist; a broadcast
// is carried out and never answered.
class ModbusServer {
  public:
    explicit ModbusServer(const Instrument &instrument);

    ModbusOutcome answer(const Bytes &frame, double seconds);

    // A table's word (or bit) at an address; none outside the blocks.
    std::optional<std::uint16_t> word(Table table, std::uint16_t address) const;

  private:
    struct Found {
        std::uint8_t exception = 0;
        bool readOnly = false;
    };
    // Whether [start, start + quantity) lies in the table's blocks (and in
    // writable ones for a write).
    Found check(Table table, std::uint32_t start, std::uint32_t quantity, bool write) const;
    std::uint16_t &at(Table table, std::uint16_t address);
    void moveLiveValues(double seconds);

    Bytes readBits(Table table, std::uint16_t start, std::uint16_t quantity);
    Bytes readWords(Table table, std::uint16_t start, std::uint16_t quantity);
    Bytes identification(std::uint8_t code, std::uint8_t object) const;

    std::uint8_t address_;
    std::vector<Block> blocks_;
    std::vector<LiveValue> values_;
    std::optional<ServerId> serverId_;
    std::map<std::uint8_t, std::string> identity_;
    std::uint8_t exceptionStatus_;
    std::uint64_t requests_ = 0;
};

}  // namespace marvalo::sim

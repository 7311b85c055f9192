#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/frames/bytes.h"
#include "core/records/register_values.h"
#include "core/settings/panel_state.h"
#include "core/text/text_place.h"

namespace marvalo::sim {

// The four Modbus tables, in the order of their names in a file.
enum class Table : std::uint8_t { Coils, DiscreteInputs, Holding, Input };
bool isBitTable(Table table);

// A run of one table's addresses the instrument has. Bit tables hold 0 or 1
// a word.
struct Block {
    Table table = Table::Holding;
    std::uint16_t start = 0;
    std::uint32_t count = 0;  // start + count <= 65536
    std::vector<std::uint16_t> words;
    bool writable = true;
    TextPlace place;
};

enum class Behaviour : std::uint8_t { Constant, Counter, Ramp, Sine, Random };

// A typed value laid over one or two registers of a block, written into the
// block before every request is answered.
struct LiveValue {
    Table table = Table::Holding;
    std::uint16_t address = 0;
    RegisterView view;  // u16 s16 u32 s32 f32 with its word order
    double value = 0;   // the start, and the constant
    Behaviour behaviour = Behaviour::Constant;
    double step = 1;  // counter: a request; ramp: a second
    double mean = 0, amplitude = 1, periodS = 10;
    std::optional<int> periodRequests;  // a sine by requests instead of seconds
    double min = 0, max = 100;
    std::uint64_t seed = 1;
    TextPlace place;
};

// The ways an answer can be spoiled, as the command line's faults name them.
enum class FaultKind : std::uint8_t {
    Silent,
    Delay,
    Echo,
    Exception,
    BadCheck,
    Short,
    WrongAddress,
    Stray,
    Slow,
    Count,
};

// Tried in file order; the first whose given fields all match applies.
struct Rule {
    std::optional<std::uint8_t> function;
    std::optional<std::uint16_t> start;
    std::optional<std::uint16_t> quantity;
    std::optional<std::string> instruction;  // text protocols: RE2 over the whole instruction
    FaultKind fault = FaultKind::Silent;
    std::uint8_t code = 4;  // exception
    int delayMs = 0;        // delay; slow: between bytes
    std::optional<int> as;  // wrong-address: this address, else the next one up
    int count = 1;          // count: registers answered; short: bytes kept
    Bytes stray;
    int every = 1;  // every Nth match
    std::optional<double> probability;
    std::uint64_t seed = 1;
    TextPlace place;
};

struct ServerId {
    std::uint8_t id = 0;
    bool running = true;
    std::string text;
};

// A text protocol's dialogue: an instruction pattern and the reply made of it.
struct TextAnswer {
    std::optional<Protocol> protocol;  // none: every text protocol the instrument speaks
    std::string instruction;           // RE2, the whole instruction
    std::string reply;                 // with {address}, {value[:format]}, {1}..{9}
    int delayMs = 0;
    TextPlace place;
};

struct Instrument {
    int address = 1;
    std::vector<Protocol> protocols;  // one in most files; the built-in one speaks all three
    std::string name;
    std::vector<Block> blocks;
    std::vector<LiveValue> values;
    std::vector<Rule> rules;
    std::optional<ServerId> serverId;
    std::map<std::uint8_t, std::string> identity;  // FC 43/14 objects by number
    std::uint8_t exceptionStatus = 0;              // FC 7
    std::vector<TextAnswer> answers;
    TextPlace place;

    bool speaks(Protocol protocol) const;
};

// [line]: what the file says of the line; the command line wins.
struct LineModel {
    std::optional<int> baud;
    std::optional<char> parity;  // 'n', 'e', 'o'
    std::optional<int> stopBits;
};

struct InstrumentFile {
    LineModel line;
    std::vector<Instrument> instruments;
};

}  // namespace marvalo::sim

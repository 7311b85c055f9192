#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/frames/bytes.h"
#include "core/result.h"

namespace marvalo {

// A Modbus request beyond the panel's four, by function code, as the
// command line and plans give it. Only the members the function's layout
// reads are used (see function_table.h).
struct ModbusCall {
    std::uint8_t address = 1;
    std::uint8_t function = 3;
    int start = 0;                     // 1..6, 15, 16, 22; 23's write start
    int quantity = 0;                  // 1, 2: bits; 3, 4: words; 23: words read
    int readStart = 0;                 // 23
    int value = 0;                     // 5: 0xFF00 on, 0 off; 6: the word
    std::vector<std::uint16_t> words;  // 16, 23: the words written
    std::vector<bool> bits;            // 15: the coils written
    int andMask = 0xFFFF;              // 22
    int orMask = 0;                    // 22
    Bytes data;                        // 8: sub-function 0's data
    std::uint8_t readCode = 1;         // 43/14: 1 basic, 2 regular, 3 extended, 4 one object
    std::uint8_t objectId = 0;         // 43/14: the first object asked
};

inline constexpr int kHighestUnitAddress = 247;
// The panel's form of 5 names its coil by number, in the first hundred
// (the panel's own addresses); other coils take a start and a value.
inline constexpr int kMaxPanelCoil = 99;

// The frame, CRC included, or a Spanish sentence naming what is wrong and
// what is allowed: a quantity outside the function's, a read at the
// broadcast address, a function this table does not hold. Addresses 248..255
// (reserved) only when `anyAddress`.
Result<Bytes, std::string> buildModbusCall(const ModbusCall &call, bool anyAddress = false);

// A write's list of more items than one frame of `call.function` carries,
// said of the list: "da 124 registros; la función 16 escribe de 1 a 123
// en una trama". Whoever took the list puts its name in front.
std::optional<std::string> writtenCountProblem(const ModbusCall &call);

// "01 03 00 00 00 0A": any frame as hex bytes, its CRC appended (`addCrc`)
// or sent as given. Refused: no bytes, a token that is no byte.
Result<Bytes, std::string> rawModbusFrame(std::string_view hexText, bool addCrc);

// The read codes 1..3 by name; a number 0..255 asks for one object (4).
inline constexpr std::array<std::string_view, 3> kDeviceObjectKeys{"basic", "regular", "extended"};
// One of kDeviceObjectKeys or a number 0..255 (one object): the read code
// and first object of a 43/14 request.
Result<std::pair<std::uint8_t, std::uint8_t>, std::string> deviceObjectsOf(std::string_view text);

// The request that fetches what a 43/14 answer says is still to come
// ("more follows" FF, from its next object id); none once it is complete.
std::optional<Bytes> nextIdentificationRequest(const Bytes &request, const Bytes &reply);

// A unit may split its identification over this many parts at most.
inline constexpr std::size_t kMostIdentificationParts = 256;

// Why a 43/14 answer, part `part` (from 1) of its identification, leaves it
// unfinished: "more follows" naming an object that does not move forward
// (it would be asked again and again), or the last part allowed. None when
// it is complete or goes on rightly.
std::optional<std::string> identificationStuck(const Bytes &request, const Bytes &reply,
                                               std::size_t part);

}  // namespace marvalo

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/line/line_types.h"

namespace marvalo {

struct BaudRate {
    std::string_view itemText;  // as the baud list holds it: the leading blank goes on the line
    int bitsPerSecond;
    std::int16_t rs485HoldMs;  // how long RTS stays up after the write returns
};
inline constexpr std::array<BaudRate, 5> kBaudRates{{
    {" 1200", 1200, 80},
    {" 2400", 2400, 60},
    {" 4800", 4800, 30},
    {" 9600", 9600, 30},
    {"19200", 19200, 25},
}};
inline constexpr std::size_t kBaudCount = kBaudRates.size();

// The port list's item i selects serial port number i + 1. The second item
// really has two trailing blanks; captions are built from the index instead.
inline constexpr std::array<std::string_view, 5> kPortItems{" 1", " 2  ", " 3", " 4", " 5"};
inline constexpr std::size_t kPortCount = kPortItems.size();
std::string portCaption(int portIndex);  // "COM 3"

inline constexpr int kAddressCount = 100;
std::string addressText(int address);  // "07": index and number agree

// The panel's "Funciones MODBUS" list: its items in the order shown, each
// naming the function it sends by code. Only the panel and its settings
// speak of a position in this list; everything past it speaks of codes.
enum class ModbusFunctionIndex : int {
    ReadHolding = 0,
    WriteWords = 1,
    ForceCoil = 2,
    ReadInput = 3
};
struct ModbusFunction {
    std::string_view itemText;
    std::uint8_t code;
};
inline constexpr std::array<ModbusFunction, 4> kModbusFunctions{{
    {"Leer n Palabras", 3},
    {"Escribir Variables de Prog  ", 16},
    {"Forzar Estado", 5},
    {"Leer(0x04)", 4},
}};
// The code of the list's item `functionIndex`; none for no item (-1).
std::optional<std::uint8_t> panelFunctionCode(int functionIndex);
// The item that sends `code`; none for a function the panel does not offer.
std::optional<int> panelFunctionIndex(std::uint8_t code);
// The two functions that carry a data text and so show the data input.
bool functionTakesData(int functionIndex);

// What the window remembers beside its controls. After start-up the lists'
// own selections are the live port, address and baud; baudIndex alone is
// read later, by the reply wait.
struct PanelState {
    std::uint8_t linkType = 0;
    std::uint8_t portIndex = 0;
    std::uint8_t addressIndex = 0;
    std::uint8_t baudIndex = 0;
    std::array<std::int16_t, kBaudCount> rs485Hold{};
    std::uint8_t protocol = 0;
};
void fillRs485Hold(PanelState &state);

// Read from the panel when a request is built, never kept. Texts are UTF-8
// as the toolkit and the command line hand them over; the request builder
// narrows them to 8-bit characters and refuses what does not fit.
struct RequestInputs {
    std::string addressText;  // "00".."99"
    int addressNumber = 0;    // 0..99
    std::string instructionText;
    std::string wordCountText;
    std::string dataText;
    int functionIndex = 0;  // -1 when nothing is selected
};

}  // namespace marvalo

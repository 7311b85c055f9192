#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace marvalo {

// Values of PanelState::protocol. The protocol button steps through them in
// this order; any other stored value is a damaged settings line.
enum class Protocol : std::uint8_t { Korvel = 0, Iso1745 = 1, Modbus = 2 };
inline constexpr std::size_t kProtocolCount = 3;
bool isProtocol(std::uint8_t value);
// "korvel", "iso1745", "modbus": for command lines and files.
inline constexpr std::array<std::string_view, kProtocolCount> kProtocolKeys{"korvel", "iso1745",
                                                                            "modbus"};

enum class LinkType : std::uint8_t { Rs232 = 0, Rs485 = 1 };
inline constexpr std::array<std::string_view, 2> kLinkTypeNames{"RS232", "RS485"};

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

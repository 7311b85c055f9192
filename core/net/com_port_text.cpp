#include "core/net/com_port_text.h"

#include <array>

namespace marvalo::net {
namespace {

std::string codeText(std::uint8_t code) {
    return "el código " + std::to_string(code);
}

std::string parityText(std::uint8_t code) {
    constexpr std::array<const char *, 5> kNames = {"ninguna", "impar", "par", "marca", "espacio"};
    const auto first = static_cast<std::uint8_t>(ComPortParity::None);
    if (code < first || code - first >= static_cast<int>(kNames.size()))
        return codeText(code);
    return kNames[static_cast<std::size_t>(code - first)];
}

std::string stopText(std::uint8_t code) {
    constexpr std::uint8_t kOneAndHalf = 3;
    if (code == 1 || code == 2)
        return std::to_string(code);
    return code == kOneAndHalf ? "1,5" : codeText(code);
}

std::string controlText(std::uint8_t code) {
    if (code == kControlRtsOn)
        return "RTS activado";
    if (code == kControlRtsOff)
        return "RTS desactivado";
    return codeText(code) + " (no es de RTS)";
}

}  // namespace

std::string comPortValueText(ComPortCommand command, const Bytes &value) {
    if (value.empty())
        return "nada";
    if (command == ComPortCommand::SetBaudrate && value.size() == 4) {
        std::uint32_t rate = 0;
        for (const std::uint8_t byte : value)
            rate = (rate << 8) | byte;
        return std::to_string(rate);
    }
    if (value.size() != 1)
        return toHex(value);
    const std::uint8_t code = value.front();
    switch (command) {
        case ComPortCommand::SetDatasize:
            return std::to_string(code) + " bits";
        case ComPortCommand::SetParity:
            return parityText(code);
        case ComPortCommand::SetStopsize:
            return stopText(code);
        case ComPortCommand::SetControl:
            return controlText(code);
        default:
            return codeText(code);
    }
}

}  // namespace marvalo::net

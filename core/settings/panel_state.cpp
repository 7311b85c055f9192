#include "core/settings/panel_state.h"

namespace marvalo {

std::string portCaption(int portIndex) {
    return "COM " + std::to_string(portIndex + 1);
}

std::string addressText(int address) {
    return (address < 10 ? "0" : "") + std::to_string(address);
}

std::optional<std::uint8_t> panelFunctionCode(int functionIndex) {
    if (functionIndex < 0 || functionIndex >= static_cast<int>(kModbusFunctions.size()))
        return std::nullopt;
    return kModbusFunctions[static_cast<std::size_t>(functionIndex)].code;
}

std::optional<int> panelFunctionIndex(std::uint8_t code) {
    for (std::size_t i = 0; i < kModbusFunctions.size(); ++i) {
        if (kModbusFunctions[i].code == code)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

bool functionTakesData(int functionIndex) {
    return functionIndex == static_cast<int>(ModbusFunctionIndex::WriteWords) ||
           functionIndex == static_cast<int>(ModbusFunctionIndex::ForceCoil);
}

void fillRs485Hold(PanelState &state) {
    for (std::size_t i = 0; i < kBaudCount; ++i) {
        state.rs485Hold[i] = kBaudRates[i].rs485HoldMs;
    }
}

}  // namespace marvalo

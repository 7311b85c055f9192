#include "core/settings/panel_state.h"

namespace marvalo {

bool isProtocol(std::uint8_t value) {
    return value < kProtocolCount;
}

std::string portCaption(int portIndex) {
    return "COM " + std::to_string(portIndex + 1);
}

std::string addressText(int address) {
    return (address < 10 ? "0" : "") + std::to_string(address);
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

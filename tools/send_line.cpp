#include "tools/send_line.h"

#include <cstdio>

namespace marvalo {

std::string millisecondsText(std::optional<double> ms) {
    if (!ms)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", *ms);
    return text;
}

std::string settingsTextFor(const SendLine &line, Protocol protocol) {
    const bool sevenBits = protocol == Protocol::Iso1745;
    return std::string(kBaudRates[static_cast<std::size_t>(line.baudIndex)].itemText) + "," +
           parityLetter(line.parity.value_or(sevenBits ? Parity::Even : Parity::None)) + "," +
           (sevenBits ? "7" : "8") + "," + std::to_string(line.stopBits.value_or(1));
}

void configurePort(TermiosPort &port, const SendLine &line) {
    port.setKernelRs485(line.kernelRs485);
    if (line.connectTimeoutMs)
        port.setConnectTimeoutMs(*line.connectTimeoutMs);
    // A USB adapter's latency timer would hold a finished reply back.
    port.setLowLatency(line.untilComplete);
    if (line.device)
        port.setDevicePath(*line.device);
    else
        (void)port.setCommPort(line.port);
}

ExchangeSetup setupFor(const SendLine &line, Protocol protocol, const RequestInputs &inputs) {
    ExchangeSetup setup;
    setup.mode = line.mode;
    setup.protocol = static_cast<std::uint8_t>(protocol);
    setup.linkType = line.linkType;
    setup.baudIndex = static_cast<std::uint8_t>(line.baudIndex);
    setup.baudSelection = line.baudIndex;
    for (std::size_t i = 0; i < kBaudCount; ++i)
        setup.rs485Hold[i] = kBaudRates[i].rs485HoldMs;
    setup.inputs = inputs;
    setup.waitMs = line.waitMs;
    setup.endWhenComplete = line.untilComplete;
    return setup;
}

}  // namespace marvalo

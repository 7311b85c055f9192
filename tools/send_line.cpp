#include "tools/send_line.h"

#include <cstdio>

#include "core/frames/line_timing.h"
#include "core/frames/request.h"
#include "core/modbus/function_table.h"

namespace marvalo {

std::string millisecondsText(std::optional<double> ms) {
    if (!ms)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", *ms);
    return text;
}

namespace {

// The protocol's framing as the panel sets it, unless told otherwise.
struct Framing {
    Parity parity;
    int dataBits;
    int stopBits;
};
Framing framingOf(const SendLine &line, Protocol protocol) {
    const bool sevenBits = protocol == Protocol::Iso1745;
    return {line.parity.value_or(sevenBits ? Parity::Even : Parity::None),
            line.dataBits.value_or(sevenBits ? 7 : 8), line.stopBits.value_or(1)};
}

}  // namespace

std::string settingsTextFor(const SendLine &line, Protocol protocol) {
    const Framing framing = framingOf(line, protocol);
    std::string rate = std::to_string(line.baud);
    for (const BaudRate &listed : kBaudRates) {
        if (listed.bitsPerSecond == line.baud)
            rate = listed.itemText;
    }
    return rate + "," + parityLetter(framing.parity) + "," + std::to_string(framing.dataBits) +
           "," + std::to_string(framing.stopBits);
}

void configurePort(PortLine &port, const SendLine &line) {
    port.setKernelRs485(line.kernelRs485);
    port.setKernelRs485Off(line.kernelRs485Off);
    if (line.connectTimeoutMs)
        port.setConnectTimeoutMs(*line.connectTimeoutMs);
    // A USB adapter's latency timer would hold a finished reply back.
    port.setLowLatency(line.untilComplete);
    if (line.device)
        port.setDevicePath(*line.device);
    else
        (void)port.setCommPort(line.port);
}

ExchangeSetup setupFor(const SendLine &line, Protocol protocol, const RequestInputs &inputs,
                       const std::optional<Bytes> &request) {
    ExchangeSetup setup;
    setup.mode = line.mode;
    setup.protocol = static_cast<std::uint8_t>(protocol);
    setup.linkType = line.linkType;
    const Framing framing = framingOf(line, protocol);
    const int bitsPerChar =
        bitsPerCharacter(framing.dataBits, framing.parity != Parity::None, framing.stopBits);
    setup.rs485HoldMs = rs485HoldMsAt(line.baud, bitsPerChar);
    // Any protocol: a Modbus unit on the same line hears every request.
    setup.frameGapUs = frameGapUs(line.baud, bitsPerChar);
    setup.inputs = inputs;
    setup.request = request;
    // Only a Modbus request says how long its answer can be; a refused
    // one never reaches the line, so its wait does not matter.
    const auto built =
        request ? Result<Bytes, RequestError>(*request) : BuildRequest(setup.protocol, inputs);
    const Bytes frame = built ? built.value() : Bytes{};
    const auto form = protocol == Protocol::Modbus ? replyFormOf(frame) : std::nullopt;
    setup.waitMs = line.waitMs.value_or(replyWaitMsFor(
        line.baud, bitsPerChar, line.mode, frame.size() + (form ? longestReplyLength(*form) : 0)));
    setup.endWhenComplete = line.untilComplete;
    return setup;
}

}  // namespace marvalo

#pragma once

#include <optional>
#include <string>

#include "core/settings/panel_state.h"
#include "link/exchange.h"
#include "link/port_line.h"

namespace marvalo {

// The line a run of exchanges uses, once the command line, a plan's [line]
// table and a panel's settings file have had their say.
struct SendLine {
    std::optional<std::string> device;
    int port = kFirstCommPort;
    int baud = 9600;
    std::uint8_t linkType = 0;
    std::optional<Parity> parity;  // else the protocol's
    std::optional<int> dataBits;   // else the protocol's
    std::optional<int> stopBits;
    ExchangeMode mode = ExchangeMode::Single;
    std::optional<int> waitMs;
    bool untilComplete = false;
    bool kernelRs485 = false;
    bool kernelRs485Off = false;          // --rs232 given: a driver's RS485 mode is switched off
    std::optional<int> connectTimeoutMs;  // a serial server's; else the port's default
};

// "5.3 ms", or "-" when there is no such time (no reply).
std::string millisecondsText(std::optional<double> ms);

// The protocol's framing as the panel sets it (7E1 for ISO 1745, else 8N1)
// unless told otherwise: " 9600,e,7,1" (a rate of the panel's list as the
// list writes it, so records read as the panel's), "250000,n,8,1".
std::string settingsTextFor(const SendLine &line, Protocol protocol);

// Device or COM number, kernel RS485 and, for --until-complete, a USB
// adapter's low latency.
void configurePort(PortLine &port, const SendLine &line);

// One exchange's setup as the panel would gather it, sending `request`
// when given (else the one the inputs build). The default reply wait
// leaves room for the longest answer the request can get.
ExchangeSetup setupFor(const SendLine &line, Protocol protocol, const RequestInputs &inputs,
                       const std::optional<Bytes> &request);

}  // namespace marvalo

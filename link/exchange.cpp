#include "link/exchange.h"

#include "core/request.h"

namespace marvalo {
namespace {

ExchangeOutcome failed(std::string message, bool nothingWritten) {
    ExchangeOutcome outcome;
    outcome.kind = ExchangeOutcome::Kind::Failed;
    outcome.failure = std::move(message);
    outcome.nothingWritten = nothingWritten;
    return outcome;
}

// A raised RTS left behind holds an RS485 bus for every other device, so
// every failure path lowers it (best effort: the port may be gone) and
// closes the port before reporting.
ExchangeOutcome abandon(SerialPort &port, bool rtsRaised, const LinkError &why,
                        bool nothingWritten) {
    if (rtsRaised) {
        (void)port.setRts(false);
    }
    if (port.portOpen()) {
        port.close();
    }
    return failed(why.message(), nothingWritten);
}

}  // namespace

ExchangeOutcome runExchange(SerialPort &port, Sleeper &sleeper, const ExchangeSetup &setup,
                            std::int32_t &noReplyCount) {
    auto request = BuildRequest(setup.protocol, setup.inputs);
    if (!request) {
        return failed(request.error().message, true);
    }
    const bool rs485 = setup.linkType == static_cast<std::uint8_t>(LinkType::Rs485);
    // Checked before the port is touched: finding out after the write would
    // leave RTS up with no hold time to lower it after.
    if (rs485 && (setup.baudSelection < 0 || setup.baudSelection >= static_cast<int>(kBaudCount))) {
        return failed(
            "No hay ninguna velocidad seleccionada en \"Baud Rate\": RS485 necesita "
            "una para saber cuánto mantener RTS. Elija una de la lista.",
            true);
    }

    if (!port.portOpen()) {
        if (auto opened = port.open(); !opened) {
            return abandon(port, false, opened.error(), true);
        }
    }
    if (auto cleared = port.discardInput(); !cleared) {
        return abandon(port, false, cleared.error(), true);
    }
    if (rs485) {
        if (auto raised = port.setRts(true); !raised) {
            return abandon(port, true, raised.error(), true);
        }
        sleeper.sleepMs(kRtsLeadMs);
    }
    if (auto written = port.write(request.value()); !written) {
        return abandon(port, rs485, written.error(), false);
    }
    if (rs485) {
        sleeper.sleepMs(setup.rs485Hold[static_cast<std::size_t>(setup.baudSelection)]);
        // A long request at a low rate is still leaving the UART when the
        // hold ends; dropping RTS then would cut its tail off.
        if (auto drained = port.drain(); !drained) {
            return abandon(port, true, drained.error(), false);
        }
        if (auto lowered = port.setRts(false); !lowered) {
            return abandon(port, true, lowered.error(), false);
        }
        // What arrived while we talked is our own echo, not the reply.
        if (auto cleared = port.discardInput(); !cleared) {
            return abandon(port, false, cleared.error(), false);
        }
    }
    sleeper.sleepMs(replyWaitMs(setup.baudIndex, setup.mode));

    auto reply = port.readAvailable();
    if (!reply) {
        return abandon(port, false, reply.error(), false);
    }

    ExchangeOutcome outcome;
    if (setup.mode == ExchangeMode::Continuous && reply.value().empty()) {
        outcome.kind = ExchangeOutcome::Kind::NoReply;
        if (noReplyCount < kMaxNoReplyCount) {
            ++noReplyCount;
        } else {
            outcome.counterAtMaximum = true;
        }
        outcome.noReplyCount = noReplyCount;
        return outcome;  // the port stays open for the next tick
    }
    outcome.kind = ExchangeOutcome::Kind::Shown;
    outcome.display = setup.protocol == static_cast<std::uint8_t>(Protocol::Modbus)
                          ? renderModbusReply(reply.value())
                          : textOf(reply.value());
    if (port.portOpen()) {
        port.close();
    }
    return outcome;
}

}  // namespace marvalo

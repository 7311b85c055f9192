#include "link/exchange.h"

#include <algorithm>
#include <chrono>

#include "core/frames/request.h"

namespace marvalo {
namespace {

std::int64_t wallClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Fills the record as the exchange goes, and closes it on every way out.
class Recording {
  public:
    Recording(const SerialPort &port, const Sleeper &clock, const ExchangeSetup &setup)
        : port_(port), clock_(clock) {
        record_.sequence = setup.sequence;
        record_.mode = setup.mode;
        record_.protocol = setup.protocol;
        record_.linkType = setup.linkType;
        record_.wallStartUs = wallClockUs();
        record_.startUs = clock.steadyUs();
    }

    // The line this exchange resolved to, as the port names it once it has
    // been looked up (or failed to be): the record never asks again.
    void nameLine() {
        record_.port = port_.describe();
        record_.portKind = port_.kind();
        record_.settings = port_.recordedSettings();
        named_ = true;
    }

    ExchangeRecord &record() { return record_; }
    // What the line said of itself, added to what it said before, once.
    void note(std::optional<std::string> notice) {
        if (!notice || (record_.warning && record_.warning->find(*notice) != std::string::npos))
            return;
        record_.warning = record_.warning ? *record_.warning + "; " + *notice : *notice;
    }
    void markSent() { record_.sentUs = clock_.steadyUs(); }
    // False once the reply is full: what came was counted, not kept.
    bool received(const Bytes &bytes) {
        if (bytes.empty())
            return false;
        const std::int64_t now = clock_.steadyUs();
        if (!record_.firstByteUs)
            record_.firstByteUs = now;
        record_.lastByteUs = now;
        const std::size_t room = kMaxReplyBytes - record_.reply.size();
        const std::size_t kept = std::min(room, bytes.size());
        record_.reply.insert(record_.reply.end(), bytes.begin(),
                             bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        record_.droppedBytes += bytes.size() - kept;
        return kept > 0;
    }

    ExchangeOutcome finish(ExchangeOutcome outcome) {
        if (!named_)
            nameLine();  // refused before the line was looked up
        record_.endUs = clock_.steadyUs();
        if (outcome.kind == ExchangeOutcome::Kind::Failed) {
            record_.failure = outcome.failure;
            record_.lineSawRequest = !outcome.nothingWritten;
        } else {
            record_.verdict = judgeReply(record_.protocol, record_.request, record_.reply);
            if (record_.droppedBytes > 0) {
                record_.verdict->text +=
                    "; además se descartaron " + std::to_string(record_.droppedBytes) +
                    " bytes llegados después de los primeros " + std::to_string(kMaxReplyBytes);
            }
        }
        outcome.record = std::move(record_);
        return outcome;
    }

  private:
    const SerialPort &port_;
    const Sleeper &clock_;
    ExchangeRecord record_;
    bool named_ = false;
};

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
    if (why.kind == LinkError::Kind::Stopped) {
        ExchangeOutcome outcome =
            failed("Detenido al " + why.operation + " " + why.port +
                       (nothingWritten ? ": nada se escribió en la línea." : "."),
                   nothingWritten);
        outcome.interrupted = true;
        outcome.stoppedUnderWay = true;
        return outcome;
    }
    return failed(why.message(), nothingWritten);
}

// The reply wait, watched: the port is read whenever bytes arrive, so their
// times are known and a long reply cannot overrun the kernel's buffer, yet
// the wait ends when it always did and the reply is the same bytes one read
// at its end would return.
std::optional<LinkError> watchReply(SerialPort &port, const Sleeper &clock,
                                    const ExchangeSetup &setup, int waitMs, Recording &recording,
                                    bool &stopped) {
    const std::int64_t deadline = clock.steadyUs() + std::int64_t{waitMs} * 1000;
    const ExchangeRecord &record = recording.record();
    constexpr std::int64_t kStopCheckUs = std::int64_t{kStopCheckMs} * 1000;
    while (true) {
        if (setup.stopRequested && setup.stopRequested()) {
            stopped = true;
            break;
        }
        const std::int64_t remaining = deadline - clock.steadyUs();
        if (remaining <= 0)
            break;
        auto ready =
            port.waitForInput(setup.stopRequested ? std::min(remaining, kStopCheckUs) : remaining);
        if (!ready)
            return ready.error();
        if (!ready.value())
            continue;
        auto arrived = port.readAvailable();
        if (!arrived)
            return arrived.error();
        const bool kept = recording.received(arrived.value());
        if (setup.endWhenComplete && kept &&
            replyIsComplete(judgeReply(record.protocol, record.request, record.reply)))
            return std::nullopt;
    }
    auto last = port.readAvailable();
    if (!last)
        return last.error();
    recording.received(last.value());
    return std::nullopt;
}

void waitOutFrameGap(Sleeper &sleeper, const ExchangeSetup &setup) {
    if (!setup.frameGapUs || !setup.lineLastByteUs)
        return;
    const std::int64_t quietAt = *setup.lineLastByteUs + *setup.frameGapUs;
    for (std::int64_t left; (left = quietAt - sleeper.steadyUs()) > 0;) {
        if (setup.stopRequested && setup.stopRequested())
            return;
        sleeper.sleepMs(
            static_cast<int>(std::min<std::int64_t>((left + 999) / 1000, kStopCheckMs)));
    }
}

// One try at the exchange, from the look-up of the line to the reply;
// nullopt when `giveUp` let it start again.
template <typename GiveUp>
std::optional<ExchangeOutcome> exchangeOnce(SerialPort &port, Sleeper &sleeper,
                                            const ExchangeSetup &setup, std::int32_t &noReplyCount,
                                            Recording &recording, const Bytes &request,
                                            GiveUp &giveUp) {
    const bool rs485 = setup.linkType == static_cast<std::uint8_t>(LinkType::Rs485);
    // The one look-up of this exchange: a number that leads elsewhere now
    // closes the line held from the last exchange before the new one opens.
    auto prepared = port.prepareExchange();
    recording.nameLine();
    if (!prepared)
        return giveUp(false, prepared.error(), true);
    auto cleared = port.discardInput();
    recording.note(port.takeNotice());
    if (!cleared)
        return giveUp(false, cleared.error(), true);
    // Whoever stopped us may already have let the unit go on with someone
    // else: from a stop on, not one more byte, nor RTS, reaches the line.
    auto stopNow = [&](bool rtsRaised) -> std::optional<ExchangeOutcome> {
        if (!setup.stopRequested || !setup.stopRequested())
            return std::nullopt;
        ExchangeOutcome outcome = abandon(port, rtsRaised, LinkError{}, true);
        outcome.failure = "Detenido antes de enviar: nada se escribió en la línea.";
        outcome.interrupted = true;
        return recording.finish(std::move(outcome));
    };
    // A driver that switches the transceiver itself times RTS from the last
    // bit on the wire; ours would only fight it.
    const bool timedRts = rs485 && !port.kernelSwitchesRs485();
    waitOutFrameGap(sleeper, setup);
    if (timedRts) {
        if (auto stopped = stopNow(false))
            return *stopped;
        if (auto raised = port.setRts(true); !raised) {
            return giveUp(true, raised.error(), true);
        }
        sleeper.sleepMs(kRtsLeadMs);
    }
    if (auto stopped = stopNow(timedRts))
        return *stopped;
    if (auto written = port.write(request); !written) {
        return giveUp(timedRts, written.error(), false);
    }
    if (rs485) {
        if (timedRts)
            sleeper.sleepMs(setup.rs485HoldMs.value_or(
                setup.rs485Hold[static_cast<std::size_t>(setup.baudSelection)]));
        // A long request at a low rate is still leaving the UART when the
        // hold ends; dropping RTS then would cut its tail off.
        if (auto drained = port.drain(); !drained) {
            return giveUp(timedRts, drained.error(), false);
        }
        recording.markSent();
        if (auto lowered = timedRts ? port.setRts(false) : LinkStatus(Done{}); !lowered) {
            return giveUp(true, lowered.error(), false);
        }
        // What arrived while we talked is our own echo, not the reply.
        if (auto cleared = port.discardInput(); !cleared) {
            return giveUp(false, cleared.error(), false);
        }
    } else {
        recording.markSent();
    }
    const int waitMs = setup.waitMs.value_or(replyWaitMs(setup.baudIndex, setup.mode));
    bool stopped = false;
    if (auto lost = watchReply(port, sleeper, setup, waitMs, recording, stopped)) {
        return giveUp(false, *lost, false);
    }
    const Bytes &reply = recording.record().reply;

    ExchangeOutcome outcome;
    if (setup.mode == ExchangeMode::Continuous && reply.empty()) {
        outcome.kind = ExchangeOutcome::Kind::NoReply;
        if (noReplyCount < kMaxNoReplyCount) {
            ++noReplyCount;
        } else {
            outcome.counterAtMaximum = true;
        }
        outcome.noReplyCount = noReplyCount;
        outcome.interrupted = stopped;
        return recording.finish(std::move(outcome));  // the port stays open for the next tick
    }
    outcome.kind = ExchangeOutcome::Kind::Shown;
    outcome.interrupted = stopped;
    outcome.display = setup.protocol == static_cast<std::uint8_t>(Protocol::Modbus)
                          ? renderModbusReply(reply)
                          : textOf(reply);
    if (port.portOpen()) {
        port.close();
    }
    return recording.finish(std::move(outcome));
}

}  // namespace

std::optional<std::int64_t> lastByteOnLineUs(const ExchangeRecord &record) {
    return record.lastByteUs ? record.lastByteUs : record.sentUs;
}

ExchangeOutcome runExchange(SerialPort &port, Sleeper &sleeper, const ExchangeSetup &setup,
                            std::int32_t &noReplyCount) {
    Recording recording(port, sleeper, setup);
    port.setStopQuery(setup.stopRequested);
    auto request = setup.request ? Result<Bytes, RequestError>(*setup.request)
                                 : BuildRequest(setup.protocol, setup.inputs);
    if (!request) {
        return recording.finish(failed(request.error().message, true));
    }
    recording.record().request = request.value();
    const bool rs485 = setup.linkType == static_cast<std::uint8_t>(LinkType::Rs485);
    // Checked before the port is touched: finding out after the write would
    // leave RTS up with no hold time to lower it after.
    if (rs485 && !setup.rs485HoldMs &&
        (setup.baudSelection < 0 || setup.baudSelection >= static_cast<int>(kBaudCount))) {
        return recording.finish(
            failed("No hay ninguna velocidad seleccionada en \"Baud Rate\": RS485 necesita "
                   "una para saber cuánto mantener RTS. Elija una de la lista.",
                   true));
    }
    // A server that turned away a connection that seemed ours never gave
    // the request to the line: the exchange starts again, as often as the
    // port allows (it bounds the asking), while no reply byte came.
    constexpr int kMostRounds = 8;
    int round = 0;
    auto giveUp = [&](bool rtsRaised, const LinkError &why,
                      bool nothingWritten) -> std::optional<ExchangeOutcome> {
        if (why.askAgain && round < kMostRounds && recording.record().reply.empty()) {
            if (port.portOpen())
                port.close();
            recording.note(port.takeNotice());
            return std::nullopt;
        }
        return recording.finish(abandon(port, rtsRaised, why, nothingWritten || why.lineUntouched));
    };
    for (;; ++round) {
        if (auto done = exchangeOnce(port, sleeper, setup, noReplyCount, recording, request.value(),
                                     giveUp))
            return std::move(*done);
    }
}

}  // namespace marvalo

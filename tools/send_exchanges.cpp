// marvalo-send's request from the command line, --count times.
#include <filesystem>
#include <iostream>
#include <set>

#include "core/frames/request.h"
#include "core/modbus/modbus_request.h"
#include "core/plans/plan_judge.h"
#include "core/text/byte_text.h"
#include "files/atomic_save.h"
#include "files/settings_file.h"
#include "link/port_holders.h"
#include "link/port_line.h"
#include "tools/send_json.h"
#include "tools/send_line.h"
#include "tools/send_modes.h"
#include "tools/send_outputs.h"
#include "tools/send_text.h"
#include "tools/stop_signal.h"

namespace marvalo {
namespace {

// Another program with the port open (ModemManager, a forgotten terminal)
// may eat the reply: said beside the verdict, once per program.
void warnOfHolders(const std::vector<PortHolder> &found, std::set<int> &told) {
    std::vector<PortHolder> fresh;
    for (const PortHolder &holder : found) {
        if (told.insert(holder.pid).second)
            fresh.push_back(holder);
    }
    if (!fresh.empty())
        std::cerr << "marvalo-send: aviso: " << safeText(holdersWarning(fresh)) << ".\n";
}

int exitStatusOf(const ExchangeStats &stats) {
    if (stats.failures > 0)
        return kExitPortFailed;
    if (stats.bad() > 0)
        return kExitBadReply;
    if (stats.count(VerdictKind::Silence) > 0)
        return kExitNoReply;
    return kExitAllGood;
}

}  // namespace

int runExchanges(const SendOptions &options, const RequestArgs &request, BenchPorts &benchPorts) {
    // The bench's panel first, then what was given here.
    std::optional<SettingsValues> bench;
    if (options.settingsFile) {
        std::error_code missing;
        if (!std::filesystem::exists(*options.settingsFile, missing)) {
            std::cerr << "El archivo de configuración \"" << safeText(*options.settingsFile)
                      << "\" no existe.\n";
            return kExitRejected;
        }
        const LoadedSettings loaded = loadSettingsFile(*options.settingsFile);
        if (loaded.problem) {
            std::cerr << *loaded.problem << " Nada se envió; el archivo queda como está.\n";
            return kExitRejected;
        }
        bench = loaded.values;
    }
    auto choice = requestFrom(
        request,
        bench ? std::optional<Protocol>(static_cast<Protocol>(bench->protocol)) : std::nullopt,
        bench ? std::optional<int>(bench->addressIndex) : std::nullopt, options.registers);
    if (!choice) {
        if (choice.error().usage)
            return usage(choice.error().message);
        std::cerr << choice.error().message << "\n";
        return kExitRejected;
    }
    if (auto mismatchedData = mismatchedWriteData(choice.value().frame)) {
        // Sent as the panel sends it: an instrument may be tested so.
        std::cerr << "marvalo-send: aviso: " << *mismatchedData << "; se envía tal cual.\n";
    }

    SendLine line = lineFrom(options, bench);
    PortLine port;
    port.setPortMap(benchPorts);
    configurePort(port, line);
    // Once, for the banner, the outputs' check and the first exchange alike;
    // a number that leads nowhere is that exchange's failure, said there.
    (void)port.resolveFirstLine();
    std::vector<NamedInput> inputs{{benchPorts.tableFile(), "la tabla de puertos"}};
    if (options.settingsFile)
        inputs.emplace_back(*options.settingsFile, "el archivo de configuración");
    const auto outputs = checkSendOutputs(options, port.devicePath(), inputs);
    if (!outputs)
        return kExitRejected;
    if (auto clash = outputClash(options, *outputs))
        return usage(*clash);
    // Written as the run goes: a killed run leaves every exchange it made.
    std::optional<CaptureFile> capture;
    if (outputs->pcap && !(capture = openCapture(*outputs->pcap)))
        return kExitRejected;
    bool captureLost = false;
    if (auto set = port.setSettings(settingsTextFor(line, choice.value().protocol)); !set) {
        std::cerr << set.error().message() << "\n";
        return kExitRejected;
    }
    ExchangeSetup setup =
        setupFor(line, choice.value().protocol, choice.value().inputs, choice.value().frame);

    catchStopSignals();
    setup.stopRequested = stopRequested;

    if (!options.port && !options.device)
        std::cerr << "marvalo-send: sin --port ni --device se usa COM " << line.port
                  << (bench ? " (el de " + safeText(*options.settingsFile) + ")" : std::string())
                  << ": " << safeText(port.describe()) << "\n";
    std::set<int> holdersTold;
    HolderWatch holderWatch;
    std::uint64_t changesSeen = port.lineChanges();

    ThreadSleeper sleeper;
    ExchangeStats stats;
    bool outputClosed = false;
    std::int32_t noReplyCount = 0;
    std::uint64_t sequence = 0;
    std::uint64_t parts = 0;
    ExchangeSetup current = setup;
    std::optional<std::int64_t> lastByteUs;
    for (long n = 1; n <= options.count && !stopRequested(); ++n) {
        current.sequence = ++sequence;
        ExchangeOutcome outcome = runExchange(port, sleeper, current, noReplyCount);
        if (auto last = lastByteOnLineUs(outcome.record))
            lastByteUs = last;
        markStuckIdentification(outcome.record, parts + 1);
        stats.add(outcome.record, outcome.interrupted);
        // On the line this exchange used: a COM number may lead elsewhere now.
        const bool silent = !outcome.record.failure && outcome.record.reply.empty();
        const bool newLine = std::exchange(changesSeen, port.lineChanges()) != port.lineChanges();
        if (auto found = holderWatch.after(port.devicePath(), newLine, silent, sleeper.steadyUs()))
            warnOfHolders(*found, holdersTold);
        if (options.json)
            printJsonLine(exchangeJson(outcome, options.registers));
        else if (options.influx)
            printInfluxLine(outcome, setup.inputs, options.registers);
        else
            printText(outcome, options.registers);
        if (capture && captureFailed(*capture, capture->append(outcome.record))) {
            captureLost = true;  // an exchange the capture does not hold: no more
            break;
        }
        if (!std::cout) {
            outputClosed = true;
            break;
        }
        if (outcome.kind == ExchangeOutcome::Kind::Failed)
            break;
        // 43/14: objects the unit says are still to come are fetched, each
        // part an exchange of its own, before the next repetition.
        if (auto next = nextIdentificationRequest(current.request.value_or(Bytes{}),
                                                  outcome.record.judgedBytes());
            next && ++parts < kMostIdentificationParts) {
            current.request = *next;
            current.lineLastByteUs = lastByteUs;
            --n;
            continue;
        }
        current = setup;
        current.lineLastByteUs = lastByteUs;
        parts = 0;
        if (n < options.count)
            pauseUnlessStopped(options.intervalMs);
    }
    port.close();  // the line settings it had before go back now
    if (!outputClosed && options.json)
        printJsonSummary(stats, stopRequested() ? stoppedExitStatus() : exitStatusOf(stats));
    else if (!outputClosed)
        printTextSummary(stats);
    if (capture && !captureLost && captureFailed(*capture, capture->close()))
        captureLost = true;
    if (captureLost)
        return kExitPortFailed;
    return stopRequested() ? stoppedExitStatus() : exitStatusOf(stats);
}

}  // namespace marvalo

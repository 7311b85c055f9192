// marvalo-send --scan: which addresses answer on a line, at which rate and
// framing. Only reads and identification go out, so a scan changes no unit.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "core/frames/line_timing.h"
#include "core/modbus/function_table.h"
#include "core/scan/bus_scan.h"
#include "core/text/byte_text.h"
#include "link/port_line.h"
#include "tools/send_json.h"
#include "tools/send_line.h"
#include "tools/send_modes.h"
#include "tools/stop_signal.h"

namespace marvalo {
namespace {

struct Find {
    int address;
    int baud;
    Parity parity;
    std::string framing;  // "8E1"
    std::string answered;
    double firstByteMs;
};

std::string framingText(const SendLine &line) {
    const char letter =
        static_cast<char>(std::toupper(parityLetter(line.parity.value_or(Parity::None))));
    return std::to_string(line.dataBits.value_or(8)) + letter +
           std::to_string(line.stopBits.value_or(1));
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Addresses done, found so far and time left, over itself on a terminal.
class Progress {
  public:
    explicit Progress(long total) : total_(total), shown_(::isatty(STDERR_FILENO) == 1) {}
    void update(long done, std::size_t found, double probeSeconds) {
        if (!shown_)
            return;
        std::fprintf(stderr, "\r%ld/%ld direcciones, %zu encontradas, quedan %.1f s\033[K", done,
                     total_, found, static_cast<double>(total_ - done) * probeSeconds);
    }
    // Before anything else is written, so no line starts after it.
    void clear() {
        if (shown_)
            std::fprintf(stderr, "\r\033[K");
    }

  private:
    long total_;
    bool shown_;
};

// Through std::cout, the one writer of stdout, so a stdout that takes no
// more is told as in every other mode.
void printTable(const std::vector<Find> &finds) {
    if (finds.empty()) {
        std::cout << "ninguna dirección respondió\n";
        return;
    }
    char row[512];
    std::snprintf(row, sizeof row, "%-9s  %8s  %-5s  %-40s  %s\n", "dirección", "baudios", "trama",
                  "respuesta", "primer byte");
    std::cout << row;
    for (const Find &find : finds) {
        std::snprintf(row, sizeof row, "%9d  %8d  %-5s  ", find.address, find.baud,
                      find.framing.c_str());
        // A unit's own text, of any length: padded, never cut.
        std::string answered = safeText(find.answered);
        answered.resize(std::max<std::size_t>(answered.size(), 40), ' ');
        std::cout << row << answered << "  " << millisecondsText(find.firstByteMs) << "\n";
    }
    std::cout.flush();
}

}  // namespace

int runScan(const SendOptions &options, BenchPorts &benchPorts) {
    const ScanProbe probe = *scanProbe(options.probe.value_or(3));
    // Every probe of a scan has the length of the first and its answer's.
    const Bytes firstProbe = probeRequest(probe, options.scan->front());
    const std::size_t longestReply = longestReplyLength(*replyFormOf(firstProbe));
    SendLine line = lineFrom(options, std::nullopt);
    // A reply ends the wait as soon as it is whole, and a silent address
    // leaves the port open for the next.
    line.mode = ExchangeMode::Continuous;
    line.untilComplete = true;
    const std::vector<int> bauds =
        options.bauds.empty() ? std::vector<int>{line.baud} : options.bauds;
    const std::vector<Parity> parities =
        options.parities.empty() ? std::vector<Parity>{Parity::None} : options.parities;
    PortLine port;
    port.setPortMap(benchPorts);
    configurePort(port, line);
    catchStopSignals();

    std::vector<Find> finds;
    ThreadSleeper sleeper;
    std::int32_t noReplyCount = 0;
    long probes = 0;
    bool portFailed = false;
    const auto start = std::chrono::steady_clock::now();
    const long total = static_cast<long>(bauds.size() * parities.size() * options.scan->size());
    Progress progress(total);
    for (std::size_t b = 0; b < bauds.size() && !portFailed && !stopRequested(); ++b) {
        for (std::size_t p = 0; p < parities.size() && !portFailed && !stopRequested(); ++p) {
            line.baud = bauds[b];
            line.parity = parities[p];
            // Opened here, so a rate the adapter refuses is told and passed
            // over before its first probe, and the rest are still scanned.
            auto ready = port.setSettings(settingsTextFor(line, Protocol::Modbus));
            if (ready && !port.portOpen())
                ready = port.open();
            if (!ready) {
                progress.clear();
                std::cerr << safeText(ready.error().message()) << "\n";
                if (ready.error().kind == LinkError::Kind::BadSettings) {
                    std::cerr << "marvalo-send: se salta " << line.baud << " baudios "
                              << framingText(line) << "\n";
                    continue;
                }
                portFailed = true;
                break;
            }
            ExchangeSetup setup = setupFor(line, Protocol::Modbus, RequestInputs{}, firstProbe);
            const int bitsPerChar = bitsPerCharacter(
                line.dataBits.value_or(8), parities[p] != Parity::None, line.stopBits.value_or(1));
            const std::int64_t withinUs =
                replyWithinUs(line.baud, bitsPerChar, firstProbe.size(), longestReply);
            setup.waitMs = options.waitMs.value_or(static_cast<int>((withinUs + 999) / 1000));
            setup.stopRequested = stopRequested;
            progress.clear();
            std::cerr << "marvalo-send: explorando " << options.scan->size() << " direcciones en "
                      << safeText(port.describe()) << " a " << line.baud << " baudios "
                      << framingText(line) << " con la función " << probe.function << ": hasta "
                      << *setup.waitMs << " ms por dirección"
                      << (options.waitMs ? " (--wait)"
                                         : " (" + std::to_string(kScanTurnaroundMs) +
                                               " ms de ellos para que la unidad conteste)")
                      << "\n";
            for (int address : *options.scan) {
                if (stopRequested())
                    break;
                setup.request = probeRequest(probe, address);
                setup.sequence = static_cast<std::uint64_t>(++probes);
                const ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReplyCount);
                if (auto last = lastByteOnLineUs(outcome.record))
                    setup.lineLastByteUs = last;
                if (outcome.kind == ExchangeOutcome::Kind::Failed) {
                    if (!outcome.interrupted) {
                        progress.clear();
                        std::cerr << safeText(outcome.failure) << "\n";
                        portFailed = true;
                    }
                    break;
                }
                const ExchangeRecord &record = outcome.record;
                if (auto answered = whatAnswered(probe, record.request, record.reply)) {
                    finds.push_back({address, line.baud, parities[p], framingText(line), *answered,
                                     record.firstByteMs().value_or(0.0)});
                    if (options.json) {
                        progress.clear();
                        const Find &find = finds.back();
                        printJsonLine(
                            {{"address", find.address},
                             {"baud", find.baud},
                             {"parity",
                              std::string(kParityKeys[static_cast<std::size_t>(find.parity)])},
                             {"answered", find.answered},
                             {"first_byte_ms", std::round(find.firstByteMs * 1000) / 1000}});
                    }
                }
                progress.update(probes, finds.size(), *setup.waitMs / 1000.0);
            }
        }
    }
    progress.clear();
    port.close();
    const double seconds = secondsSince(start);
    const int status = stopRequested() ? stoppedExitStatus()
                       : portFailed    ? kExitPortFailed
                       : finds.empty() ? kExitNoReply
                                       : kExitAllGood;
    if (options.json) {
        printJsonLine({{"summary",
                        {{"probes", probes},
                         {"found", finds.size()},
                         {"seconds", std::round(seconds * 1000) / 1000},
                         {"probes_per_second", seconds > 0 ? std::round(probes / seconds) : 0.0},
                         {"interrupted", stopRequested()},
                         {"exit", status}}}});
    } else {
        printTable(finds);
    }
    char rate[96];
    std::snprintf(rate, sizeof rate, "%ld sondeos en %.2f s (%.0f por segundo)", probes, seconds,
                  seconds > 0 ? probes / seconds : 0.0);
    std::cerr << "marvalo-send: " << rate << ", " << finds.size()
              << (finds.size() == 1 ? " respuesta" : " respuestas")
              << (stopRequested() ? "; interrumpido" : "") << "\n";
    if (finds.empty() && probes > 0 && !stopRequested() && !portFailed)
        std::cerr << "marvalo-send: una unidad más lenta puede necesitar --wait MS, más que la "
                     "espera de cada sondeo dicha arriba\n";
    return status;
}

}  // namespace marvalo

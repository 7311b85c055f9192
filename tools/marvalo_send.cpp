// marvalo-send: the panel's exchange without the window, for scripts. Same
// request builder, port layer, waits and verdicts as the panel, so a script
// and the panel never disagree about an instrument.
#include <signal.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "core/frames/request.h"
#include "core/plans/test_plan.h"
#include "core/records/pcapng.h"
#include "core/records/register_values.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/time_text.h"
#include "core/verdicts/exchange_stats.h"
#include "core/version.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"
#include "files/file_places.h"
#include "files/ports_file.h"
#include "files/settings_file.h"
#include "link/exchange.h"
#include "link/port_names.h"
#include "link/termios_port.h"
#include "ports/bench_ports.h"
#include "tools/plan_runner.h"
#include "tools/port_listing.h"
#include "tools/request_args.h"
#include "tools/send_line.h"

namespace {

using namespace marvalo;

constexpr int kExitAllGood = 0;
constexpr int kExitNoReply = 1;
constexpr int kExitRejected = 2;
constexpr int kExitBadReply = 3;
constexpr int kExitPortFailed = 4;
constexpr int kExitUsage = 64;

constexpr const char *kUsage =
    "Usage: marvalo-send [LINE OPTIONS] korvel|iso1745 --address NN [--instruction TEXT]\n"
    "   or: marvalo-send [LINE OPTIONS] modbus --address N --function 3|4|16|5 [--start N] "
    "[--words N] [--data LIST]\n"
    "   or: marvalo-send [LINE OPTIONS] --plan FILE [--check] [--junit FILE] [--tap] [--name NAME] "
    "[--property KEY=VALUE]...\n"
    "   or: marvalo-send --list-ports [--json]\n";

constexpr const char *kHelp =
    "Runs the Marvalo panel's exchange from the command line: builds the\n"
    "request, writes it, waits as the panel does, reads the reply and judges it.\n"
    "\n"
    "The line:\n"
    "  --port N          COM N (1..5): $MARVALO_COMN, else the adapter the ports\n"
    "                    table gives that number (see --list-ports)\n"
    "  --device PATH     the serial device itself (/dev/ttyUSB0, a by-id path)\n"
    "  --list-ports      the serial adapters present and their COM numbers (with\n"
    "                    --json, one object per port), then exit\n"
    "  --baud RATE       1200, 2400, 4800, 9600 (default) or 19200\n"
    "  --rs485, --rs232  the link; RS485 raises RTS 50 ms before each write and\n"
    "                    drops it the panel's hold time after it\n"
    "  --rs485-kernel    let the driver switch the RS485 transceiver (TIOCSRS485)\n"
    "                    instead of timing RTS; refused by most USB adapters\n"
    "  --parity none|even|odd, --stop-bits 1|2\n"
    "                    override the protocol's framing (7E1 for ISO 1745, else\n"
    "                    8N1); many Modbus devices run 8E1\n"
    "  --settings FILE   take link, port, address, baud rate and protocol from a\n"
    "                    panel's Comini.sdx; options given here win\n"
    "Timing:\n"
    "  --continuous      the continuous wait (1000 ms shorter), port kept open\n"
    "                    while no reply comes, as the panel's continuous sending\n"
    "  --wait MS         another reply wait\n"
    "  --until-complete  end each exchange as soon as the reply is a complete\n"
    "                    frame (else at the end of the wait); asks USB adapters\n"
    "                    for low latency while the port is open\n"
    "  --count N         exchanges to run (default 1); --interval MS between them\n"
    "Output:\n"
    "  --json            one JSON object per exchange and a final summary object,\n"
    "                    all on stdout\n"
    "  --pcap FILE       write every exchange to a pcapng capture that Wireshark\n"
    "                    and tshark read (Modbus: tshark -o mbrtu.tcp.port:502\n"
    "                    -o mbrtu.crc_verification:TRUE -V -r FILE)\n"
    "  --registers FORMAT[:ORDER]\n"
    "                    after each Modbus read, its registers numbered from\n"
    "                    --start (\"reg 10 = 42, reg 11 = 300\"; JSON: \"registers\":\n"
    "                    [{number, value}]); FORMAT u16, s16, hex, u32, s32, f32 or\n"
    "                    text, ORDER for the 32-bit ones ABCD (default), CDAB, BADC\n"
    "                    or DCBA; a write's reply says what it confirms\n"
    "\n"
    "Without --json, one line per exchange: the reply as the panel shows it\n"
    "(control characters named), its hex, the first byte's delay after the\n"
    "request left, and the verdict; a summary goes to stderr at the end.\n"
    "Every text is UTF-8: a byte of a path or a reply that is not valid UTF-8 is\n"
    "read as Latin-1, and control characters (C0, DEL, C1) are written as\n"
    "<CR>, <1B>, <85>. A reply keeps at most 65536 bytes; the rest is counted\n"
    "(dropped_bytes) and named in the verdict.\n"
    "\n"
    "Test plans (the file format is in the manual page):\n"
    "  --plan FILE       run the steps of a TOML test plan, one line per step:\n"
    "                    PASS or FAIL, the name, the verdict, the response time\n"
    "                    and for a failure what was expected and what came\n"
    "  --check           read the plan and build every request; send nothing\n"
    "  --junit FILE      write a JUnit XML report, atomically\n"
    "  --tap             print TAP version 14 instead of the lines\n"
    "  --name NAME       the unit under test, as the report's suite name\n"
    "  --property KEY=VALUE\n"
    "                    a property of the report (repeatable)\n"
    "\n"
    "Ctrl-C (or SIGTERM, SIGHUP) ends the current wait at once, prints the\n"
    "summary and gives the port back as it was. A closed output (| head -n 1)\n"
    "ends the run the same way, without a summary.\n"
    "\n"
    "The request:\n";

constexpr const char *kExitHelp =
    "\n"
    "Exit status: 0 every reply well formed (with --plan: every step passed); 1\n"
    "some exchange got no reply (and none was bad); 3 some reply was bad (some\n"
    "step failed); 2 an input was rejected (the panel's message), or the plan is\n"
    "invalid and nothing was sent; 4 the port failed (the message names the\n"
    "device and the fix), or the report could not be written; 64 the command\n"
    "line is wrong.\n";

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStop(int) {
    stopRequested = 1;
}

struct SendOptions {
    std::optional<int> port;
    std::optional<std::string> device;
    std::optional<int> baudIndex;
    std::optional<std::uint8_t> linkType;
    std::optional<char> parity;
    std::optional<int> stopBits;
    std::optional<std::string> settingsFile;
    bool continuous = false;
    std::optional<int> waitMs;
    bool untilComplete = false;
    long count = 1;
    int intervalMs = 0;
    bool json = false;
    bool listPorts = false;
    bool kernelRs485 = false;
    std::optional<RegisterView> registers;
    // Test plans
    std::optional<std::string> plan;
    bool check = false;
    std::optional<std::string> junit;
    std::optional<std::string> pcap;
    bool tap = false;
    std::optional<std::string> suiteName;
    std::vector<std::pair<std::string, std::string>> properties;
};

int usage(const std::string &problem) {
    std::cerr << "marvalo-send: " << problem << "\n" << kUsage;
    return kExitUsage;
}

std::optional<int> baudIndexOf(long rate) {
    for (std::size_t i = 0; i < kBaudCount; ++i) {
        if (kBaudRates[i].bitsPerSecond == rate)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

// The line options; 0 when argv[i] is not one of them.
Result<int, std::string> takeLineArg(SendOptions &options, int argc, char **argv, int i) {
    const std::string name = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto needs = [&](const char *what) { return name + " takes " + what; };
    if (name == "--rs485" || name == "--rs232") {
        options.linkType =
            static_cast<std::uint8_t>(name == "--rs485" ? LinkType::Rs485 : LinkType::Rs232);
        return 1;
    }
    if (name == "--continuous" || name == "--until-complete" || name == "--json" ||
        name == "--list-ports" || name == "--rs485-kernel" || name == "--check" ||
        name == "--tap") {
        (name == "--continuous"     ? options.continuous
         : name == "--json"         ? options.json
         : name == "--list-ports"   ? options.listPorts
         : name == "--rs485-kernel" ? options.kernelRs485
         : name == "--check"        ? options.check
         : name == "--tap"          ? options.tap
                                    : options.untilComplete) = true;
        return 1;
    }
    if (name == "--plan" || name == "--junit" || name == "--name" || name == "--pcap") {
        if (!value)
            return needs(name == "--name" ? "a name" : "a path");
        (name == "--plan"    ? options.plan
         : name == "--junit" ? options.junit
         : name == "--pcap"  ? options.pcap
                             : options.suiteName) = value;
        return 2;
    }
    if (name == "--property") {
        const std::string pair = value ? value : "";
        const auto equals = pair.find('=');
        if (equals == std::string::npos || equals == 0)
            return needs("key=value");
        options.properties.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        return 2;
    }
    if (name == "--port") {
        const auto port =
            value ? parseDecimalIn(value, kFirstCommPort, kLastCommPort) : std::nullopt;
        if (!port)
            return needs("a port number from 1 to 5");
        options.port = static_cast<int>(*port);
    } else if (name == "--device" || name == "--settings") {
        if (!value)
            return needs("a path");
        (name == "--device" ? options.device : options.settingsFile) = value;
    } else if (name == "--baud") {
        const auto rate = value ? parseDecimal(value) : std::nullopt;
        const auto index = rate ? baudIndexOf(*rate) : std::nullopt;
        if (!index)
            return needs("one of the panel's rates: 1200, 2400, 4800, 9600 or 19200");
        options.baudIndex = *index;
    } else if (name == "--parity") {
        const std::string parity = value ? value : "";
        if (parity != "none" && parity != "even" && parity != "odd")
            return needs("none, even or odd");
        options.parity = parity[0] == 'n' ? 'n' : parity[0] == 'e' ? 'e' : 'o';
    } else if (name == "--stop-bits") {
        const auto bits = value ? parseDecimalIn(value, 1, 2) : std::nullopt;
        if (!bits)
            return needs("1 or 2");
        options.stopBits = static_cast<int>(*bits);
    } else if (name == "--wait" || name == "--interval") {
        const auto ms = value ? parseDecimalIn(value, 0, 3'600'000) : std::nullopt;
        if (!ms)
            return needs("milliseconds from 0 to 3600000");
        if (name == "--wait")
            options.waitMs = static_cast<int>(*ms);
        else
            options.intervalMs = static_cast<int>(*ms);
    } else if (name == "--registers") {
        auto view = value ? parseRegisterView(value) : Result<RegisterView, std::string>("");
        if (!view)
            return needs(("FORMAT[:ORDER]: " + view.error()).c_str());
        options.registers = view.value();
    } else if (name == "--count") {
        const auto count = value ? parseDecimalIn(value, 1, 1'000'000'000) : std::nullopt;
        if (!count)
            return needs("a number of exchanges from 1 up");
        options.count = *count;
    } else {
        return 0;
    }
    return 2;
}

std::string shownReply(const ExchangeOutcome &outcome) {
    if (outcome.record.protocol == static_cast<std::uint8_t>(Protocol::Modbus))
        return renderModbusReply(outcome.record.reply);
    return namedText(outcome.record.reply);
}

// What a Modbus reply says, for --registers: the values of a read, or what
// a write confirms.
std::optional<std::vector<RegisterValue>> valuesOf(const ExchangeRecord &record,
                                                   const std::optional<RegisterView> &view) {
    if (!view || record.protocol != static_cast<std::uint8_t>(Protocol::Modbus))
        return std::nullopt;
    return decodeRegisters(record.request, record.reply, *view);
}

// Every text that reaches the terminal or a JSON reader passes the one rule
// for outside text: reply bytes are named already, paths and messages may
// hold anything a file name can.
void printText(const ExchangeOutcome &outcome, const std::optional<RegisterView> &view) {
    const ExchangeRecord &record = outcome.record;
    if (record.failure) {
        // On stderr too, where a script's operator looks for what went wrong.
        std::cout << "#" << record.sequence << "  fallo: " << safeText(*record.failure)
                  << std::endl;
        std::cerr << safeText(*record.failure) << "\n";
        return;
    }
    std::cout << "#" << record.sequence << "  " << shownReply(outcome) << "  ["
              << toHex(record.reply) << "]  " << millisecondsText(record.firstByteMs()) << "  "
              << verdictKey(record.verdict->kind) << ": " << safeText(record.verdict->text)
              << std::endl;
    if (auto values = valuesOf(record, view)) {
        std::cout << "    " << registersLine(*values) << std::endl;
    } else if (auto confirmed =
                   view ? writeConfirmation(record.request, record.reply) : std::nullopt) {
        std::cout << "    " << *confirmed << std::endl;
    }
}

nlohmann::ordered_json milliseconds(std::optional<double> ms) {
    if (!ms)
        return nullptr;
    // Microsecond digits, no float noise.
    return std::round(*ms * 1000.0) / 1000.0;
}

std::string jsonLine(const nlohmann::ordered_json &object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

nlohmann::ordered_json exchangeJson(const ExchangeOutcome &outcome,
                                    const std::optional<RegisterView> &view) {
    const ExchangeRecord &record = outcome.record;
    nlohmann::ordered_json line = {
        {"sequence", record.sequence},
        {"time", iso8601(record.wallStartUs)},
        {"mode", record.mode == ExchangeMode::Single ? "single" : "continuous"},
        {"protocol", protocolName(static_cast<Protocol>(record.protocol))},
        {"link", kLinkTypeNames[record.linkType == 1 ? 1 : 0]},
        {"port", safeText(record.port)},
        {"settings", safeText(record.settings)},
        {"request", toHex(record.request)},
        {"reply", toHex(record.reply)},
        {"reply_text", shownReply(outcome)},
        {"dropped_bytes", record.droppedBytes},
        {"first_byte_ms", milliseconds(record.firstByteMs())},
        {"last_byte_ms", milliseconds(record.lastByteMs())},
        {"duration_ms", milliseconds(record.durationMs())},
    };
    if (record.verdict) {
        line["verdict"] = verdictKey(record.verdict->kind);
        line["verdict_text"] = safeText(record.verdict->text);
        if (auto values = valuesOf(record, view)) {
            nlohmann::ordered_json registers = nlohmann::ordered_json::array();
            for (const RegisterValue &value : *values) {
                registers.push_back({{"number", value.number},
                                     {"value", value.value ? nlohmann::ordered_json(*value.value)
                                                           : nlohmann::ordered_json(value.text)}});
            }
            line["registers"] = registers;
        } else if (auto confirmed =
                       view ? writeConfirmation(record.request, record.reply) : std::nullopt) {
            line["confirms"] = *confirmed;
        }
    } else {
        line["verdict"] = nullptr;
        line["failure"] = safeText(*record.failure);
        line["line_saw_request"] = record.lineSawRequest;
    }
    return line;
}

void printJson(const ExchangeOutcome &outcome, const std::optional<RegisterView> &view) {
    std::cout << jsonLine(exchangeJson(outcome, view)) << std::endl;
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

void printSummary(const ExchangeStats &stats, bool json) {
    const LatencyHistogram &latency = stats.firstByte;
    if (json) {
        nlohmann::ordered_json verdicts = nlohmann::ordered_json::object();
        for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
            if (stats.byVerdict[kind] > 0)
                verdicts[verdictKey(static_cast<VerdictKind>(kind))] = stats.byVerdict[kind];
        }
        const nlohmann::ordered_json summary = {
            {"summary",
             {{"exchanges", stats.exchanges},
              {"failures", stats.failures},
              {"verdicts", verdicts},
              {"first_byte_ms",
               {{"min", milliseconds(latency.min())},
                {"median", milliseconds(latency.percentile(0.5))},
                {"p95", milliseconds(latency.percentile(0.95))},
                {"max", milliseconds(latency.max())}}},
              {"exit", exitStatusOf(stats)}}}};
        std::cout << jsonLine(summary) << std::endl;
        return;
    }
    std::cerr << "marvalo-send: " << stats.exchanges
              << (stats.exchanges == 1 ? " exchange:" : " exchanges:");
    for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
        if (stats.byVerdict[kind] > 0)
            std::cerr << " " << verdictKey(static_cast<VerdictKind>(kind)) << " "
                      << stats.byVerdict[kind];
    }
    if (stats.failures > 0)
        std::cerr << " failed " << stats.failures;
    if (latency.count() > 0) {
        char figures[160];
        std::snprintf(
            figures, sizeof figures, "; first byte min %.1f / median %.1f / p95 %.1f / max %.1f ms",
            *latency.min(), *latency.percentile(0.5), *latency.percentile(0.95), *latency.max());
        std::cerr << figures;
    }
    std::cerr << std::endl;
}

// Waits between exchanges, but answers Ctrl-C at once.
void pause(int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    constexpr auto kStep = std::chrono::milliseconds(20);
    while (!stopRequested && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kStep, until - std::chrono::steady_clock::now()));
    }
}

void catchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigemptyset(&stop.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &stop, nullptr);
    // A reader that goes away (`| head -n 1`) must not kill us with the port
    // still set our way: the failed write says so, and the run ends as
    // Ctrl-C ends it.
    ::signal(SIGPIPE, SIG_IGN);
}

// The command line's line, over a bench's settings file where one is given.
SendLine lineFrom(const SendOptions &options, const std::optional<SettingsValues> &bench) {
    SendLine line;
    line.device = options.device;
    line.port = options.port.value_or(bench ? bench->portIndex + 1 : kFirstCommPort);
    line.baudIndex =
        options.baudIndex.value_or(bench ? bench->baudIndex : kDefaultSettings.baudIndex);
    line.linkType = options.linkType.value_or(bench ? bench->linkType : kDefaultSettings.linkType);
    line.parity = options.parity;
    line.stopBits = options.stopBits;
    line.mode = options.continuous ? ExchangeMode::Continuous : ExchangeMode::Single;
    line.waitMs = options.waitMs;
    line.untilComplete = options.untilComplete;
    line.kernelRs485 = options.kernelRs485;
    return line;
}

// --pcap FILE: every exchange of the run, for Wireshark; atomically.
bool writeCapture(const std::string &file, const std::vector<ExchangeRecord> &records) {
    std::vector<const ExchangeRecord *> pointers;
    for (const ExchangeRecord &record : records)
        pointers.push_back(&record);
    if (auto saved = saveAtomically(file, pcapngCapture(pointers)); !saved) {
        std::cerr << "No se pudo guardar la captura \"" << safeText(file) << "\": " << saved.error()
                  << "\n";
        return false;
    }
    return true;
}

constexpr std::size_t kMaxPlanBytes = 1024 * 1024;

// --plan FILE: check it whole, then (without --check) run it, print a line
// per case (or TAP, or JSON per exchange) and write the JUnit report.
int runPlanFile(const SendOptions &options, BenchPorts &benchPorts) {
    const std::string file = *options.plan;
    auto text = readBoundedFile(file, kMaxPlanBytes);
    if (!text) {
        std::cerr << "El plan \"" << safeText(file) << "\" " << text.error().reason
                  << ". Nada se envió.\n";
        return kExitRejected;
    }
    auto plan = parseTestPlan(text.value(), file);
    if (!plan) {
        for (const std::string &error : plan.error())
            std::cerr << safeText(error) << "\n";
        std::cerr << "El plan tiene " << plan.error().size()
                  << (plan.error().size() == 1 ? " error" : " errores") << "; nada se envió.\n";
        return kExitRejected;
    }
    if (options.check) {
        std::cout << "plan " << plan.value().name << ": " << plan.value().steps.size()
                  << " steps, every request builds; nothing was sent\n";
        return kExitAllGood;
    }
    const SendLine line =
        planLine(plan.value().line, lineFrom(options, std::nullopt), options.port || options.device,
                 options.baudIndex.has_value(), options.linkType.has_value(),
                 options.continuous || options.untilComplete || options.waitMs.has_value());
    TermiosPort port;
    port.setPortMap(benchPorts);
    ThreadSleeper sleeper;
    catchStopSignals();
    PlanRunSettings settings;
    settings.line = line;
    settings.suiteName = options.suiteName.value_or("");
    settings.properties = options.properties;
    settings.stopRequested = [] { return stopRequested != 0; };
    settings.onTry = [&](const StepTry &done) {
        if (!options.json)
            return;
        nlohmann::ordered_json object = exchangeJson(done.outcome, options.registers);
        object["step"] = safeText(done.step.name);
        object["repetition"] = done.repetition;
        object["try"] = done.tryNumber;
        object["passed"] = done.check.passed;
        if (!done.check.passed)
            object["expectation"] = safeText(done.check.message);
        std::cout << jsonLine(object) << std::endl;
    };
    settings.onCase = [&](const CaseResult &result) {
        if (options.json || options.tap)
            return;
        const char *word = result.outcome == CaseResult::Outcome::Passed   ? "PASS"
                           : result.outcome == CaseResult::Outcome::Failed ? "FAIL"
                                                                           : "SKIP";
        std::cout << word << "  " << safeText(result.name);
        if (result.outcome != CaseResult::Outcome::Skipped) {
            std::cout << "  " << result.verdict << "  " << millisecondsText(result.firstByteMs);
            if (result.tries > 1)
                std::cout << "  (" << result.tries << " tries)";
        }
        if (result.outcome == CaseResult::Outcome::Failed)
            std::cout << "  -- " << safeText(result.failureMessage);
        std::cout << std::endl;
    };
    const PlanRun run = runPlan(plan.value(), port, sleeper, settings);
    if (options.tap)
        std::cout << tapText(run.report) << std::flush;
    int status = run.portFailed ? kExitPortFailed : run.anyFailed ? kExitBadReply : kExitAllGood;
    if (options.junit) {
        if (auto saved = saveAtomically(*options.junit, junitXml(run.report)); !saved) {
            std::cerr << "No se pudo guardar el informe JUnit \"" << safeText(*options.junit)
                      << "\": " << saved.error() << "\n";
            status = kExitPortFailed;
        }
    }
    if (!options.json && !options.tap) {
        std::size_t passed = 0, failed = 0, skipped = 0;
        for (const CaseResult &result : run.report.cases) {
            passed += result.outcome == CaseResult::Outcome::Passed ? 1 : 0;
            failed += result.outcome == CaseResult::Outcome::Failed ? 1 : 0;
            skipped += result.outcome == CaseResult::Outcome::Skipped ? 1 : 0;
        }
        std::cerr << "marvalo-send: plan " << run.report.name << ": " << passed << " passed, "
                  << failed << " failed, " << skipped << " skipped\n";
    }
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    SendOptions options;
    RequestArgs request;
    for (int i = 1; i < argc;) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::cout << kUsage << "\n" << kHelp << kRequestArgsHelp << kExitHelp;
            return 0;
        }
        if (word == "--version") {
            std::cout << "marvalo-send " << kVersion << "\n";
            return 0;
        }
        auto line = takeLineArg(options, argc, argv, i);
        if (!line)
            return usage(line.error());
        if (line.value() == 0) {
            line = takeRequestArg(request, argc, argv, i);
            if (!line)
                return usage(line.error());
            if (line.value() == 0)
                return usage("unknown option '" + word + "'");
        }
        i += line.value();
    }
    if (options.port && options.device)
        return usage("--port and --device name the same thing: give one");

    // The panel's COM numbers: the same table, where the panel keeps it
    // when both are installed (or unpacked) in one folder.
    std::error_code noFolder;
    const std::filesystem::path programFolder =
        std::filesystem::read_symlink("/proc/self/exe", noFolder).parent_path();
    BenchPorts benchPorts(
        chooseFilePlace(noFolder ? std::filesystem::current_path() : programFolder, kPortsFileName)
            .saveFolder /
        kPortsFileName);
    if (auto problem = benchPorts.takeProblem())
        std::cerr << safeText(*problem) << "\n";
    if (options.listPorts) {
        std::cout << (options.json ? portListingJson(benchPorts) : portListingText(benchPorts));
        return kExitAllGood;
    }
    if (options.plan)
        return runPlanFile(options, benchPorts);

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
        bench ? std::optional<int>(bench->addressIndex) : std::nullopt);
    if (!choice) {
        if (choice.error().usage)
            return usage(choice.error().message);
        std::cerr << choice.error().message << "\n";
        return kExitRejected;
    }
    const auto protocol = static_cast<std::uint8_t>(choice.value().protocol);
    if (auto built = BuildRequest(protocol, choice.value().inputs); !built) {
        std::cerr << built.error().message << "\n";
        return kExitRejected;
    }

    SendLine line = lineFrom(options, bench);
    TermiosPort port;
    port.setPortMap(benchPorts);
    configurePort(port, line);
    if (auto set = port.setSettings(settingsTextFor(line, choice.value().protocol)); !set) {
        std::cerr << set.error().message() << "\n";
        return kExitRejected;
    }
    ExchangeSetup setup = setupFor(line, choice.value().protocol, choice.value().inputs);

    catchStopSignals();
    setup.stopRequested = [] { return stopRequested != 0; };

    ThreadSleeper sleeper;
    ExchangeStats stats;
    std::vector<ExchangeRecord> captured;  // for --pcap
    bool outputClosed = false;
    std::int32_t noReplyCount = 0;
    for (long n = 1; n <= options.count && !stopRequested; ++n) {
        setup.sequence = static_cast<std::uint64_t>(n);
        const ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReplyCount);
        stats.add(outcome.record);
        if (options.pcap)
            captured.push_back(outcome.record);
        options.json ? printJson(outcome, options.registers)
                     : printText(outcome, options.registers);
        if (!std::cout) {
            outputClosed = true;
            break;
        }
        if (outcome.kind == ExchangeOutcome::Kind::Failed)
            break;
        if (n < options.count)
            pause(options.intervalMs);
    }
    port.close();  // the line settings it had before go back now
    if (!outputClosed)
        printSummary(stats, options.json);
    if (options.pcap && !writeCapture(*options.pcap, captured))
        return kExitPortFailed;
    return exitStatusOf(stats);
}

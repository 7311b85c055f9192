// marvalo-sim: plays instruments on a serial line, so the panel can be
// shown, tested and benchmarked without hardware, and judges the master
// that talks to them.
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/net/server_address.h"
#include "core/sim/faults.h"
#include "core/sim/frame_timing.h"
#include "core/sim/instrument_file.h"
#include "core/sim/line_engine.h"
#include "core/sim/master_judge.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/suggestion.h"
#include "core/version.h"
#include "files/bounded_read.h"
#include "files/output_check.h"
#include "files/output_file.h"
#include "link/line_settings.h"
#include "tools/sim_line.h"
#include "tools/stop_signal.h"

namespace {

using namespace marvalo;

constexpr int kExitUsage = 64;

constexpr const char *kHelp =
    "Usage: marvalo-sim [--instrument FILE [--watch]] [--device PATH | --listen[-rfc2217] "
    "HOST:PORT] [--settings S] [--address NN] [FAULTS] [--judge FILE.xml] [--log]\n"
    "   or: marvalo-sim --print-instrument [--address NN]\n"
    "\n"
    "Plays Marvalo-compatible instruments. Without --device it opens a\n"
    "pseudo-terminal pair and prints, as the first line of its output, the path\n"
    "the panel should use (MARVALO_COM1=that-path marvalo). With --device it\n"
    "serves a real serial port at --settings (default \" 9600,n,8,1\"). With\n"
    "--listen it serves one TCP client at a time, raw (marvalo-send --device\n"
    "socket://HOST:PORT), and with --listen-rfc2217 as a telnet RFC 2217 serial\n"
    "server (rfc2217://HOST:PORT); both print that address first. Only\n"
    "127.0.0.1 and ::1 unless --listen-any; port 0 picks a free one. --settings\n"
    "takes a string such as \" 9600,n,8,1\".\n"
    "\n"
    "--instrument FILE plays the instruments a TOML file describes (several\n"
    "addresses and protocols on one line, blocks of registers, typed values\n"
    "that count, ramp, wave or wander, rules that spoil chosen answers, Korvel\n"
    "and ISO 1745 dialogues); see the README, \"Simulating instruments\". A file\n"
    "with any error is refused, each error at file:line:column, before anything\n"
    "is served. --watch re-reads the file when it changes; a bad change is\n"
    "refused the same way and the instruments go on as they were.\n"
    "\n"
    "Without a file it plays its own instrument at --address (default 01), in\n"
    "all three protocols; --print-instrument writes it as a file, a starting\n"
    "point for your own. Korvel *01D<CR> gets 01D+0023.4<CR> (V the version, A\n"
    "the address, else ?); ISO 1745 0D gets STX 0D+0023.4 ETX BCC (a wrong BCC\n"
    "gets NAK); Modbus RTU: holding register n holds n and input register n\n"
    "holds 1000 + n (n < 600), with 256 coils, but for 500..511, which hold\n"
    "values for the 32-bit and signed formats (32-bit ones high word first):\n"
    "  500 u32 3000000366     502 u32 4294967295     504 s32 -2147483648\n"
    "  506 f32 20 +/- 5, a sine, and 508 s16 +/-1000, a sine, one step of 40\n"
    "      to a wave with every Modbus request answered\n"
    "  509 s16 -1234          510 u32 a counter from 3000000000, one up with\n"
    "      every Modbus request answered\n"
    "(marvalo-send ... modbus --start 500 --words 12 --registers u32).\n"
    "Modbus functions 1-8 (8 with sub-function 0), 15, 16, 17, 22, 23 and 43/14\n"
    "are answered; others get exception 01, a bad quantity or byte count 03,\n"
    "addresses outside the blocks 02. A frame too short for its function is\n"
    "not answered. A frame ends after 3.5 quiet characters (1.75 ms above\n"
    "19200 baud). A line that sends more than 4096 bytes without a pause is not\n"
    "answered.\n"
    "\n"
    "Faults, for tests and demonstrations (all combine with --drop-every):\n"
    "  --silent            never answer\n"
    "  --delay MS          answer MS milliseconds late\n"
    "  --drop-every N      leave every Nth request unanswered\n"
    "  --echo              send the request back before the answer, as 2-wire\n"
    "                      RS485 adapters do\n"
    "  --exception CODE    Modbus: answer with exception CODE (1..255); ISO 1745:\n"
    "                      answer NAK\n"
    "  --bad-check         damage the Modbus CRC or the ISO 1745 BCC\n"
    "  --short N           send only the first N bytes of each answer\n"
    "  --wrong-address     answer as the next address up\n"
    "  --stray HEX         send these bytes (\"14DA3E\") before each answer\n"
    "  --slow MS           pause MS milliseconds between the answer's bytes\n"
    "  --fault-every N     apply the faults above to every Nth answer only\n"
    "\n"
    "Judging the master:\n"
    "  --judge FILE.xml    at the end, a JUnit testcase for every request seen,\n"
    "                      failed where the master was at fault: a bad CRC or\n"
    "                      BCC, a pause inside a request longer than 1.5\n"
    "                      characters, a request less than 3.5 characters after\n"
    "                      our reply, a function, quantity or range the\n"
    "                      instrument refused, a write to a read-only block; an\n"
    "                      address nobody has is named, not failed\n"
    "  --judge-json FILE   the same as JSON, with the master's turnaround\n"
    "Both end with a summary line on stderr.\n"
    "\n"
    "Output:\n"
    "  --log               print each request and answer in hex with a timestamp\n"
    "\n"
    "Exit status: 1 the line could not be opened or failed; 2 the instrument\n"
    "file was refused; 64 the command line is wrong. Otherwise it serves until\n"
    "it is stopped (0, the judge's files written).\n";

constexpr int kExitRefusedFile = 2;

struct Options {
    std::optional<std::string> device;
    std::optional<std::string> settings;
    std::optional<std::string> instrumentFile;
    std::optional<std::string> listen;
    bool rfc2217 = false;
    bool listenAny = false;
    bool watch = false;
    bool printInstrument = false;
    std::optional<std::string> judgeXml;
    std::optional<std::string> judgeJson;
    int address = 1;
    bool silent = false;
    int delayMs = 0;
    int dropEvery = 0;
    bool echo = false;
    bool log = false;
    int slowMs = 0;
    int faultEvery = 1;
    Faults faults;
};

int usage(const std::string &problem) {
    std::cerr << "marvalo-sim: " << problem << "\n\n" << kHelp;
    return kExitUsage;
}

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S", std::localtime(&seconds));
    char withMs[40];
    std::snprintf(withMs, sizeof withMs, "%s.%03d", text, static_cast<int>(ms.count()));
    return withMs;
}

// The instruments of a file, or every error in it on stderr.
std::optional<sim::InstrumentFile> readInstruments(const std::string &path) {
    auto text = readBoundedFile(path, sim::kMostInstrumentFileBytes);
    if (!text) {
        std::cerr << "marvalo-sim: " << path << ": " << text.error().reason << "\n";
        return std::nullopt;
    }
    auto file = sim::parseInstrumentFile(text.value(), path);
    if (!file) {
        for (const std::string &error : file.error())
            std::cerr << "marvalo-sim: " << error << "\n";
        return std::nullopt;
    }
    return std::move(file).value();
}

std::optional<std::filesystem::file_time_type> changedAt(const std::string &path) {
    std::error_code failed;
    const auto when = std::filesystem::last_write_time(path, failed);
    return failed ? std::nullopt : std::optional(when);
}

// The settings string the line runs at: the command line's, else the
// file's [line], else 9600 8N1.
std::string lineSettingsText(const Options &options, const sim::LineModel &line) {
    if (options.settings)
        return *options.settings;
    const int baud = line.baud.value_or(9600);
    return std::string(baud < 10000 ? " " : "") + std::to_string(baud) + "," +
           line.parity.value_or('n') + ",8," + std::to_string(line.stopBits.value_or(1));
}

using Clock = std::chrono::steady_clock;

struct Outputs {
    std::optional<OutputFile> junit;
    std::optional<OutputFile> json;
};

class Server {
  public:
    Server(SimLine &line, const Options &options, sim::LineEngine engine, LineSettings settings)
        : line_(line),
          options_(options),
          engine_(std::move(engine)),
          opened_(Clock::now()),
          judge_(timingOf(settings)) {
        setTiming(settings);
    }

    int run();
    const sim::MasterJudge &judge() const { return judge_; }

  private:
    static sim::CharTiming timingOf(const LineSettings &settings) {
        return sim::charTiming(settings.baud, settings.parity != LineSettings::Parity::None,
                               settings.stopBits);
    }
    void setTiming(const LineSettings &settings) {
        settings_ = settings;
        timing_ = timingOf(settings);
    }
    double nowUs() const {
        return std::chrono::duration<double, std::micro>(Clock::now() - opened_).count();
    }
    bool answer(const Bytes &request, sim::SeenRequest &seen);
    void watchFile();

    SimLine &line_;
    const Options &options_;
    sim::LineEngine engine_;
    Clock::time_point opened_;
    sim::MasterJudge judge_;
    LineSettings settings_;
    sim::CharTiming timing_;
    long requests_ = 0;
    long answers_ = 0;
    double lastFrameEndUs_ = -1;
    bool lastFrameOurs_ = false;
    std::optional<std::filesystem::file_time_type> fileTime_;
};

void Server::watchFile() {
    const auto now = changedAt(*options_.instrumentFile);
    if (!now || now == fileTime_)
        return;
    fileTime_ = now;
    if (auto file = readInstruments(*options_.instrumentFile)) {
        engine_ = sim::LineEngine(*file);
        std::cerr << "marvalo-sim: " << *options_.instrumentFile
                  << " leído de nuevo: " << file->instruments.size() << " instrumentos\n";
    } else {
        std::cerr << "marvalo-sim: el cambio no se aplica; siguen los instrumentos de antes\n";
    }
}

bool Server::answer(const Bytes &request, sim::SeenRequest &seen) {
    ++requests_;
    if (options_.log)
        std::cout << timestamp() << " <- " << toHex(request) << std::endl;
    if (options_.echo && !line_.write(request))
        return false;
    sim::LineAnswer answer = engine_.answer(request, nowUs() / 1e6);
    seen.answer = answer;
    if (answer.echo && !options_.echo && !line_.write(request))
        return false;
    std::optional<Bytes> &reply = answer.reply;
    const bool dropped = options_.dropEvery > 0 && requests_ % options_.dropEvery == 0;
    if (!reply || options_.silent || dropped) {
        if (options_.log)
            std::cout << timestamp() << " -- " << (reply ? "(held back)" : "(no answer)")
                      << std::endl;
        seen.answer.reply.reset();
        return true;
    }
    const int delayMs = options_.delayMs + answer.delayMs;
    if (delayMs > 0)
        pauseUnlessStopped(delayMs);
    // A stop during the delay ends the run: no reply starts after it.
    if (stopRequested()) {
        seen.answer.reply.reset();
        return true;
    }
    ++answers_;
    if (answers_ % options_.faultEvery == 0)
        *reply = options_.faults.apply(answer.protocol, request, std::move(*reply));
    seen.answer.reply = reply;
    const int slowMs = std::max(options_.slowMs, answer.slowMs);
    if (slowMs > 0) {
        for (std::size_t i = 0; i < reply->size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
            if (stopRequested())
                break;
            if (!line_.write(Bytes{(*reply)[i]}))
                return false;
        }
    } else if (!line_.write(*reply)) {
        return false;
    }
    // On a real line the reply's last character leaves a while after the
    // write returns; on a pty or a socket it is gone at once.
    lastFrameEndUs_ =
        nowUs() + (line_.timed() ? timing_.charUs * static_cast<double>(reply->size()) : 0);
    lastFrameOurs_ = true;
    if (options_.log)
        std::cout << timestamp() << " -> " << toHex(*reply) << std::endl;
    return true;
}

int Server::run() {
    if (options_.instrumentFile)
        fileTime_ = changedAt(*options_.instrumentFile);
    constexpr int kWatchEveryMs = 300;
    while (!stopRequested()) {
        struct pollfd ready {
            line_.pollFd(), POLLIN, 0
        };
        const int got = ::poll(&ready, 1, options_.watch ? kWatchEveryMs : -1);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            std::perror("marvalo-sim: poll");
            return 1;
        }
        if (options_.watch)
            watchFile();
        if (got == 0)
            continue;
        if (auto baud = line_.takeBaudChange()) {
            settings_.baud = *baud;
            setTiming(settings_);
        }
        // A frame ends after 3.5 quiet characters. A line that never falls
        // quiet is no request: what is kept of it is bounded (the longest
        // Modbus frame is 256 bytes) and the rest is read and dropped.
        constexpr std::size_t kMaxRequestBytes = 4096;
        const struct timespec gap { 0, static_cast<long>(timing_.t35Us * 1000) };
        Bytes request;
        bool overflowed = false;
        sim::SeenRequest seen;
        double lastUs = -1;
        do {
            Bytes arrived;
            if (!line_.read(arrived))
                return 1;
            const double atUs = nowUs();
            if (!arrived.empty()) {
                if (lastUs < 0)
                    seen.startUs = atUs;
                else
                    seen.longestGapUs = std::max(seen.longestGapUs, atUs - lastUs);
                lastUs = atUs;
            }
            const std::size_t room = kMaxRequestBytes - request.size();
            overflowed = overflowed || arrived.size() > room;
            request.insert(
                request.end(), arrived.begin(),
                arrived.begin() + static_cast<std::ptrdiff_t>(std::min(room, arrived.size())));
            ready = {line_.pollFd(), POLLIN, 0};
        } while (::ppoll(&ready, 1, &gap, nullptr) > 0);
        if (overflowed) {
            if (options_.log)
                std::cout << timestamp() << " <- (more than " << kMaxRequestBytes
                          << " bytes without a pause: not answered)" << std::endl;
            continue;
        }
        if (request.empty()) {
            // A hang-up, or a new client: wait for bytes.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        // Reads come a poll's wake-up apart: gaps under a character are the
        // line's own pace, not the master's.
        if (seen.longestGapUs < timing_.charUs)
            seen.longestGapUs = 0;
        seen.endUs = lastUs;
        seen.bytes = request;
        if (lastFrameEndUs_ >= 0)
            seen.afterPreviousUs = seen.startUs - lastFrameEndUs_;
        seen.previousWasOurs = lastFrameOurs_;
        lastFrameEndUs_ = lastUs;
        lastFrameOurs_ = false;
        if (!answer(request, seen))
            return 1;
        judge_.add(std::move(seen));
    }
    return 0;
}

// Reads a number option's value within its range, or says what it takes.
template <typename Apply>
std::optional<int> numberOption(int argc, char **argv, int &i, long low, long high,
                                const char *problem, Apply apply) {
    const char *text = i + 1 < argc ? argv[++i] : nullptr;
    const auto value = text ? parseDecimalIn(text, low, high) : std::nullopt;
    if (!value)
        return usage(problem);
    apply(*value);
    return std::nullopt;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        std::optional<int> refused;
        if (name == "--help" || name == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (name == "--version") {
            std::cout << "marvalo-sim " << kVersion << "\n";
            return 0;
        } else if (name == "--silent") {
            options.silent = true;
        } else if (name == "--echo") {
            options.echo = true;
        } else if (name == "--log") {
            options.log = true;
        } else if (name == "--watch") {
            options.watch = true;
        } else if (name == "--listen-any") {
            options.listenAny = true;
        } else if (name == "--print-instrument") {
            options.printInstrument = true;
        } else if (name == "--device" || name == "--instrument" || name == "--listen" ||
                   name == "--listen-rfc2217" || name == "--judge" || name == "--judge-json" ||
                   name == "--settings") {
            const char *text = value();
            if (text == nullptr)
                return usage(name + " necesita un valor (véase --help)");
            // The simulator plays the instrument at the end of a line; a
            // serial server is the other end, where the panel sits.
            if (name == "--device" && net::looksLikeServerAddress(text))
                return usage(std::string("--device \"") + safeText(text) +
                             "\" es la dirección de un servidor serie, y el simulador solo "
                             "sirve un puerto serie local: dé el dispositivo del que el "
                             "servidor lee (su connector, /dev/tty... o un pty), o ningún "
                             "--device para que abra un pty propio; para servir en la red, "
                             "--listen o --listen-rfc2217");
            if (name == "--device")
                options.device = text;
            else if (name == "--instrument")
                options.instrumentFile = text;
            else if (name == "--judge")
                options.judgeXml = text;
            else if (name == "--judge-json")
                options.judgeJson = text;
            else if (name == "--settings")
                options.settings = text;
            else {
                options.listen = text;
                options.rfc2217 = name == "--listen-rfc2217";
            }
        } else if (name == "--address") {
            refused = numberOption(argc, argv, i, 0, 99, "--address admite un número de 00 a 99",
                                   [&](long v) { options.address = static_cast<int>(v); });
        } else if (name == "--delay") {
            refused =
                numberOption(argc, argv, i, 0, 60000, "--delay admite milisegundos de 0 a 60000",
                             [&](long v) { options.delayMs = static_cast<int>(v); });
        } else if (name == "--drop-every") {
            refused = numberOption(argc, argv, i, 1, 1000000,
                                   "--drop-every admite un número de peticiones, de 1 en adelante",
                                   [&](long v) { options.dropEvery = static_cast<int>(v); });
        } else if (name == "--bad-check") {
            options.faults.badCheck = true;
        } else if (name == "--wrong-address") {
            options.faults.wrongAddress = true;
        } else if (name == "--exception") {
            refused = numberOption(
                argc, argv, i, 1, 255,
                "--exception admite un código de excepción Modbus de 1 a 255",
                [&](long v) { options.faults.exception = static_cast<std::uint8_t>(v); });
        } else if (name == "--short") {
            refused = numberOption(
                argc, argv, i, 0, 100000, "--short admite un número de bytes, de 0 en adelante",
                [&](long v) { options.faults.shortTo = static_cast<std::size_t>(v); });
        } else if (name == "--fault-every") {
            refused = numberOption(argc, argv, i, 1, 1000000,
                                   "--fault-every admite un número de respuestas, de 1 en adelante",
                                   [&](long v) { options.faultEvery = static_cast<int>(v); });
        } else if (name == "--slow") {
            refused =
                numberOption(argc, argv, i, 0, 10000, "--slow admite milisegundos de 0 a 10000",
                             [&](long v) { options.slowMs = static_cast<int>(v); });
        } else if (name == "--stray") {
            const char *text = value();
            const auto bytes = text ? bytesFromHexText(text) : std::nullopt;
            if (!bytes)
                return usage("--stray admite bytes en hex, como 14DA3E o \"14 DA 3E\"");
            options.faults.stray = *bytes;
        } else {
            return usage("opción desconocida '" + safeText(name) + "'" +
                         suggestion(name, optionNames(kHelp)));
        }
        if (refused)
            return *refused;
    }
    if (options.printInstrument) {
        std::cout << sim::builtInInstrumentText(options.address);
        return 0;
    }
    if (options.device && options.listen)
        return usage("--device y --listen no van juntos: el simulador sirve una sola línea");
    if (options.watch && !options.instrumentFile)
        return usage("--watch necesita --instrument FILE");

    std::optional<sim::InstrumentFile> file;
    if (options.instrumentFile) {
        file = readInstruments(*options.instrumentFile);
        if (!file)
            return kExitRefusedFile;
    } else {
        auto builtIn =
            sim::parseInstrumentFile(sim::builtInInstrumentText(options.address), "(incorporado)");
        file = std::move(builtIn).value();
        file->line = {};  // without a file, the line stays as the command line says
    }
    const std::string settingsText = lineSettingsText(options, file->line);
    const auto settings = parseLineSettings(settingsText);
    if (!settings)
        return usage(settings.error());
    // Every output is checked before the line opens, so a run never ends
    // with verdicts it cannot write.
    // By the rule marvalo-send follows: never the instrument file, never
    // the line the master talks on, never one file for both.
    Outputs outputs;
    std::vector<NamedInput> inputs;
    if (options.instrumentFile)
        inputs.emplace_back(*options.instrumentFile, "el archivo de instrumentos");
    for (auto [path, slot, what] :
         {std::tuple{&options.judgeXml, &outputs.junit, "el informe JUnit"},
          std::tuple{&options.judgeJson, &outputs.json, "el informe JSON"}}) {
        if (!*path)
            continue;
        auto checked = checkRunOutput(**path, what, options.device.value_or(""), inputs,
                                      "El simulador no se puso en marcha.");
        if (!checked) {
            std::cerr << "marvalo-sim: " << checked.error() << "\n";
            return kExitUsage;
        }
        *slot = checked.value();
    }
    if (outputs.junit && outputs.json && sameOutput(*outputs.junit, *outputs.json)) {
        std::cerr << "marvalo-sim: --judge y --judge-json llevan al mismo archivo (\""
                  << safeText(outputs.json->path.string())
                  << "\"): uno borraría al otro; dé un archivo para cada uno.\n";
        return kExitUsage;
    }

    std::optional<net::ServerAddress> listen;
    if (options.listen) {
        auto address = listenAddress(*options.listen, options.rfc2217, options.listenAny);
        if (!address)
            return usage(address.error());
        listen = address.value();
    }
    auto line = options.device ? openDeviceLine(*options.device, settingsText)
                : listen       ? openTcpLine(*listen, options.rfc2217)
                               : openPtyLine();
    if (!line) {
        std::cerr << "marvalo-sim: " << line.error() << "\n";
        return 1;
    }
    catchStopSignals();
    std::cout << line.value()->where() << std::endl;
    Server server(*line.value(), options, sim::LineEngine(*file), settings.value());
    const int status = server.run();
    if (outputs.junit || outputs.json)
        std::cerr << "marvalo-sim: " << server.judge().summary() << "\n";
    int written = status;
    if (outputs.junit) {
        if (auto done = writeOutputFile(
                *outputs.junit, junitXml(server.judge().report("marvalo-sim")), stopWriteTimeIsUp);
            !done) {
            std::cerr << "marvalo-sim: " << *options.judgeXml << ": " << done.error() << "\n";
            written = 1;
        }
    }
    if (outputs.json) {
        if (auto done = writeOutputFile(*outputs.json, server.judge().json(), stopWriteTimeIsUp);
            !done) {
            std::cerr << "marvalo-sim: " << *options.judgeJson << ": " << done.error() << "\n";
            written = 1;
        }
    }
    return written;
}

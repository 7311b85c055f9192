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
#include "core/text/option_table.h"
#include "core/text/time_text.h"
#include "files/bounded_read.h"
#include "files/output_check.h"
#include "files/output_file.h"
#include "link/line_settings.h"
#include "tools/output_end.h"
#include "tools/report_stamp.h"
#include "tools/sim_line.h"
#include "tools/stop_signal.h"

namespace {

using namespace marvalo;

constexpr int kExitUsage = 64;

constexpr const char *kUsage =
    "Modo de empleo: marvalo-sim [--instrument ARCHIVO [--watch]] [--device RUTA | "
    "--listen[-rfc2217] HOST:PUERTO] [--settings S] [--address NN] [FALLOS] "
    "[--judge ARCHIVO.xml] [--log]\n"
    "   o: marvalo-sim --print-instrument [--address NN]\n";

constexpr int kExitRefusedFile = 2;

// What is kept of a line that never falls quiet, which is no request.
constexpr std::size_t kMaxRequestBytes = 4096;

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
    bool log = false;
    int slowMs = 0;
    Faults faults;
};

using Problem = std::optional<std::string>;

// A switch: the member it sets.
template <auto member>
Problem takeSwitch(Options &options, std::string_view, OptionValues) {
    options.*member = true;
    return std::nullopt;
}
template <auto member>
Problem takeFault(Options &options, std::string_view, OptionValues) {
    options.faults.*member = true;
    return std::nullopt;
}

// A number within its range, or what the option takes.
template <auto set, long low, long high>
Problem takeNumber(Options &options, std::string_view name, OptionValues values) {
    const auto value = values[0] ? parseDecimalIn(values[0], low, high) : std::nullopt;
    if (!value) {
        const std::string what = set(options, low, true);
        return std::string(name) + " admite " + what;
    }
    set(options, *value, false);
    return std::nullopt;
}

// What a path or an address option names, as given: the member it sets.
template <std::optional<std::string> Options::*member>
Problem takeText(Options &options, std::string_view name, OptionValues values) {
    const char *text = values[0];
    if (text == nullptr)
        return std::string(name) + " necesita un valor (véase --help)";
    // The simulator plays the instrument at the end of a line; a serial
    // server is the other end, where the panel sits.
    if (member == &Options::device && net::looksLikeServerAddress(text))
        return std::string("--device \"") + safeText(text) +
               "\" es la dirección de un servidor serie, y el simulador solo "
               "sirve un puerto serie local: dé el dispositivo del que el "
               "servidor lee (su connector, /dev/tty... o un pty), o ningún "
               "--device para que abra un pty propio; para servir en la red, "
               "--listen o --listen-rfc2217";
    options.*member = text;
    return std::nullopt;
}

// --listen and --listen-rfc2217: one address, served raw or as RFC 2217.
template <bool rfc2217>
Problem takeListen(Options &options, std::string_view name, OptionValues values) {
    if (options.listen)
        return std::string(name) + ": --listen y --listen-rfc2217 no van juntos; dé uno";
    options.rfc2217 = rfc2217;
    return takeText<&Options::listen>(options, name, values);
}

Problem takeStray(Options &options, std::string_view, OptionValues values) {
    const auto bytes = values[0] ? bytesFromHexText(values[0]) : std::nullopt;
    if (!bytes)
        return std::string("--stray admite bytes en hex, como 14DA3E o \"14 DA 3E\"");
    options.faults.stray = *bytes;
    return std::nullopt;
}

// Each number option sets its member, or says what it admits.
std::string setAddress(Options &o, long v, bool say) {
    return say ? "un número de 00 a 99" : (o.address = static_cast<int>(v), "");
}
std::string setDelay(Options &o, long v, bool say) {
    return say ? "milisegundos de 0 a 60000" : (o.delayMs = static_cast<int>(v), "");
}
std::string setDropEvery(Options &o, long v, bool say) {
    return say ? "un número de peticiones, de 1 en adelante"
               : (o.dropEvery = static_cast<int>(v), "");
}
std::string setException(Options &o, long v, bool say) {
    return say ? "un código de excepción Modbus de 1 a 255"
               : (o.faults.exception = static_cast<std::uint8_t>(v), "");
}
std::string setShort(Options &o, long v, bool say) {
    return say ? "un número de bytes, de 0 en adelante"
               : (o.faults.shortTo = static_cast<std::size_t>(v), "");
}
std::string setFaultEvery(Options &o, long v, bool say) {
    return say ? "un número de peticiones, de 1 en adelante" : (o.faults.every = v, "");
}
std::string setSlow(Options &o, long v, bool say) {
    return say ? "milisegundos de 0 a 10000" : (o.slowMs = static_cast<int>(v), "");
}

constexpr OptionRow<Options> paragraph(std::string_view text) {
    return {{"", "", text}, nullptr};
}

const std::string kLongLineHelp =
    "Una línea que envía más de " + std::to_string(kMaxRequestBytes) +
    " bytes sin pausa no se contesta.\n\nLa línea y los instrumentos:\n";

// Every option of marvalo-sim, one row each, which the parser, --help and
// the completion all read.
const OptionRow<Options> kOptions[] = {
    paragraph("Hace de instrumentos compatibles con Marvalo. Sin --device abre un par\n"
              "de pseudoterminales y escribe, como primera línea de su salida, la\n"
              "ruta que debe usar el panel (MARVALO_COM1=esa-ruta marvalo). Con\n"
              "--device sirve un puerto serie real a --settings (\" 9600,n,8,1\" por\n"
              "omisión). Con --listen sirve a un cliente TCP cada vez, en crudo\n"
              "(marvalo-send --device socket://HOST:PUERTO), y con --listen-rfc2217\n"
              "como servidor serie telnet RFC 2217 (rfc2217://HOST:PUERTO); los dos\n"
              "escriben primero esa dirección. Solo 127.0.0.1 y ::1 salvo con\n"
              "--listen-any; el puerto 0 elige uno libre.\n"
              "\n"
              "Sin archivo hace de su propio instrumento en --address (01 por\n"
              "omisión), en los tres protocolos. Korvel *01D<CR> recibe\n"
              "01D+0023.4<CR> (V la versión, A la dirección, si no ?); ISO 1745 0D\n"
              "recibe STX 0D+0023.4 ETX BCC (un BCC mal, NAK); Modbus RTU: el\n"
              "registro de retención n guarda n y el de entrada n guarda 1000 + n\n"
              "(n < 600), con 256 bobinas, salvo de 500 a 511, que guardan valores\n"
              "para los formatos de 32 bits y con signo (los de 32 bits, la palabra\n"
              "alta primero):\n"
              "  500 u32 3000000366     502 u32 4294967295     504 s32 -2147483648\n"
              "  506 f32 20 +/- 5, un seno, y 508 s16 +/-1000, un seno, un paso de\n"
              "      40 hacia una onda con cada petición Modbus contestada\n"
              "  509 s16 -1234          510 u32 un contador desde 3000000000, uno\n"
              "      más con cada petición Modbus contestada\n"
              "(marvalo-send ... modbus --start 500 --words 12 --registers u32).\n"
              "Se contestan las funciones Modbus 1-8 (8 con la subfunción 0), 15, 16,\n"
              "17, 22, 23 y 43/14; las demás reciben la excepción 01, una cantidad o\n"
              "un nº de bytes mal la 03, direcciones fuera de los bloques la 02. Una\n"
              "trama demasiado corta para su función no se contesta. Una trama acaba\n"
              "tras 3,5 caracteres de silencio (1,75 ms por encima de 19200 baudios).\n"),
    paragraph(kLongLineHelp),
    {{"--device", "RUTA", "sirve este puerto serie en lugar de un pty propio\n"},
     takeText<&Options::device>},
    {{"--settings", "S", "sus ajustes, una cadena como \" 9600,n,8,1\"\n"},
     takeText<&Options::settings>},
    {{"--listen", "HOST:PUERTO", "sirve por TCP en crudo\n"}, takeListen<false>},
    {{"--listen-rfc2217", "HOST:PUERTO", "sirve como servidor serie RFC 2217\n"}, takeListen<true>},
    {{"--listen-any", "", "admite una dirección que no es la local\n"},
     takeSwitch<&Options::listenAny>},
    {{"--address", "NN", "la dirección del instrumento propio (01 por omisión)\n"},
     takeNumber<setAddress, 0, 99>},
    {{"--instrument", "ARCHIVO",
      "hace de los instrumentos que describe un archivo TOML (varias\n"
      "direcciones y protocolos en una línea, bloques de registros, valores\n"
      "con tipo que cuentan, suben, ondulan o vagan, reglas que estropean\n"
      "respuestas elegidas, diálogos Korvel e ISO 1745); véase el README,\n"
      "\"Simulating instruments\". Un archivo con un error se rechaza, cada\n"
      "error en archivo:línea:columna, antes de servir nada\n"},
     takeText<&Options::instrumentFile>},
    {{"--watch", "",
      "vuelve a leer el archivo cuando cambia; un cambio malo se rechaza\n"
      "igual y los instrumentos siguen como estaban\n"},
     takeSwitch<&Options::watch>},
    {{"--print-instrument", "",
      "escribe el instrumento propio como archivo, un punto de partida\n"
      "para los suyos\n"},
     takeSwitch<&Options::printInstrument>},
    paragraph("\nFallos, para pruebas y demostraciones (todos se combinan con --drop-every):\n"),
    {{"--silent", "", "no contesta nunca\n"}, takeSwitch<&Options::silent>},
    {{"--delay", "MS", "contesta MS milisegundos tarde\n"}, takeNumber<setDelay, 0, 60000>},
    {{"--drop-every", "N", "deja sin contestar una de cada N peticiones\n"},
     takeNumber<setDropEvery, 1, 1000000>},
    {{"--echo", "",
      "devuelve la petición antes de la respuesta, como hacen los\n"
      "adaptadores RS485 de 2 hilos\n"},
     takeFault<&Faults::echo>},
    {{"--exception", "CÓDIGO",
      "Modbus: contesta con la excepción CÓDIGO (1..255); ISO 1745:\n"
      "contesta NAK\n"},
     takeNumber<setException, 1, 255>},
    {{"--bad-check", "", "estropea la CRC Modbus o el BCC ISO 1745\n"},
     takeFault<&Faults::badCheck>},
    {{"--short", "N", "envía solo los N primeros bytes de cada respuesta\n"},
     takeNumber<setShort, 0, 100000>},
    {{"--wrong-address", "", "contesta como la dirección siguiente\n"},
     takeFault<&Faults::wrongAddress>},
    {{"--stray", "HEX", "envía estos bytes (\"14DA3E\") antes de cada respuesta\n"}, takeStray},
    {{"--slow", "MS", "hace una pausa de MS milisegundos entre los bytes de la respuesta\n"},
     takeNumber<setSlow, 0, 10000>},
    {{"--fault-every", "N",
      "aplica --echo, --exception, --bad-check, --short, --wrong-address\n"
      "y --stray solo a una de cada N peticiones, contestadas o no\n"},
     takeNumber<setFaultEvery, 1, 1000000>},
    paragraph("\nEl juicio del maestro:\n"),
    {{"--judge", "ARCHIVO.xml",
      "al final, un caso JUnit por cada petición vista, fallido donde\n"
      "el maestro tuvo la culpa: una CRC o un BCC mal, una pausa dentro\n"
      "de una petición de más de 1,5 caracteres, una petición a menos de\n"
      "3,5 caracteres de nuestra respuesta, una función, cantidad o\n"
      "rango que el instrumento rechazó, una escritura en un bloque de\n"
      "solo lectura; una dirección que nadie tiene se nombra, no falla\n"},
     takeText<&Options::judgeXml>},
    {{"--judge-json", "ARCHIVO", "lo mismo en JSON, con el tiempo de vuelta del maestro\n"},
     takeText<&Options::judgeJson>},
    paragraph("Los dos acaban con una línea de resumen en stderr.\n\nLa salida:\n"),
    {{"--log", "", "escribe cada petición y respuesta en hex con la hora\n"},
     takeSwitch<&Options::log>},
    paragraph("\nY:\n"),
};

constexpr const char *kExitHelp =
    "\n"
    "Estado de salida: 1 la línea no pudo abrirse o falló; 2 se rechazó el\n"
    "archivo de instrumentos; 4 la salida estándar no admitió lo escrito\n"
    "(> /dev/full); 64 la línea de órdenes está mal. Si no, sirve hasta que\n"
    "se le para (0, con los archivos del juicio escritos).\n";

// Every row of --help, in its order: what the completion offers too.
const std::vector<OptionText> &helpRows() {
    static const std::vector<OptionText> rows = [] {
        std::vector<OptionText> texts;
        appendTexts<Options>(texts, kOptions);
        closeHelp(texts, kExitHelp);
        return texts;
    }();
    return rows;
}

int usage(const std::string &problem) {
    std::cerr << "marvalo-sim: " << problem << "\n"
              << kUsage << "Las opciones: marvalo-sim --help\n";
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
                  << " leído de nuevo: " << file->instruments.size()
                  << (file->instruments.size() == 1 ? " instrumento\n" : " instrumentos\n");
    } else {
        std::cerr << "marvalo-sim: el cambio no se aplica; siguen los instrumentos de antes\n";
    }
}

bool Server::answer(const Bytes &request, sim::SeenRequest &seen) {
    ++requests_;
    if (options_.log)
        std::cout << timestamp() << " <- " << toHex(request) << std::endl;
    // Decided once for this request: the echo with the rest.
    const Faults faults = options_.faults.dueFor(requests_);
    sim::LineAnswer answer = engine_.answer(request, nowUs() / 1e6);
    seen.answer = answer;
    if ((faults.echo || answer.echo) && !line_.write(request))
        return false;
    std::optional<Bytes> &reply = answer.reply;
    const bool dropped = options_.dropEvery > 0 && requests_ % options_.dropEvery == 0;
    if (!reply || options_.silent || dropped) {
        if (options_.log)
            std::cout << timestamp() << " -- " << (reply ? "(retenida)" : "(sin respuesta)")
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
    *reply = faults.apply(answer.protocol, request, std::move(*reply));
    seen.answer.reply = reply;
    // The time is taken before each write, not after: the master may read
    // the bytes and answer before a busy machine lets the write return
    // here, and its pause after our reply would look shorter than it was.
    const int slowMs = std::max(options_.slowMs, answer.slowMs);
    double lastWriteUs = nowUs();
    std::size_t lastWritten = reply->size();
    if (slowMs > 0) {
        for (std::size_t i = 0; i < reply->size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
            if (stopRequested())
                break;
            lastWriteUs = nowUs();
            lastWritten = 1;
            if (!line_.write(Bytes{(*reply)[i]}))
                return false;
        }
    } else if (!line_.write(*reply)) {
        return false;
    }
    // On a real line the last write's characters leave one after another
    // from then on; on a pty or a socket they are there at once.
    lastFrameEndUs_ =
        lastWriteUs + (line_.timed() ? timing_.charUs * static_cast<double>(lastWritten) : 0);
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
                std::cout << timestamp() << " <- (más de " << kMaxRequestBytes
                          << " bytes sin pausa: sin respuesta)" << std::endl;
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

}  // namespace

int run(int argc, char **argv) {
    Options options;
    OptionsGiven given;
    for (int i = 1; i < argc;) {
        const std::string word = argv[i];
        if (const auto said = commonOptionOutput(word, "marvalo-sim", kUsage, helpRows())) {
            std::cout << *said;
            return 0;
        }
        if (auto twice = given.add(word, helpRows()))
            return usage(*twice);
        auto taken = takeOption<Options>(kOptions, options, argc, argv, i);
        if (!taken)
            return usage(taken.error());
        if (taken.value() == 0)
            return usage(unknownOption(word, helpRows()));
        i += taken.value();
    }
    if (options.printInstrument) {
        std::cout << sim::builtInInstrumentText(options.address);
        return 0;
    }
    if (options.device && options.listen)
        return usage("--device y --listen no van juntos: el simulador sirve una sola línea");
    if (options.watch && !options.instrumentFile)
        return usage("--watch necesita --instrument ARCHIVO");

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
    const ReportStamp stamp = stampNow();
    const int status = server.run();
    if (outputs.junit || outputs.json)
        std::cerr << "marvalo-sim: " << server.judge().summary() << "\n";
    int written = status;
    if (outputs.junit) {
        SuiteReport report = server.judge().report("marvalo-sim", stamp);
        if (auto done = writeOutputFile(*outputs.junit, junitXml(report), stopWriteTimeIsUp);
            !done) {
            std::cerr << "marvalo-sim: " << *options.judgeXml << ": " << done.error() << "\n";
            written = 1;
        }
    }
    if (outputs.json) {
        if (auto done =
                writeOutputFile(*outputs.json, server.judge().json(stamp), stopWriteTimeIsUp);
            !done) {
            std::cerr << "marvalo-sim: " << *options.judgeJson << ": " << done.error() << "\n";
            written = 1;
        }
    }
    return written;
}

int main(int argc, char **argv) {
    constexpr int kExitOutputLost = 4;
    return marvalo::endOfOutput("marvalo-sim", run(argc, argv), kExitOutputLost);
}

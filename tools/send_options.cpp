// marvalo-send's command line: the options, the usage and the help.
#include "tools/send_options.h"

#include <algorithm>
#include <iostream>
#include <set>

#include "core/frames/framing_chars.h"
#include "core/frames/line_timing.h"
#include "core/net/server_address.h"
#include "core/scan/bus_scan.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/suggestion.h"
#include "core/version.h"

namespace marvalo {
namespace {

constexpr const char *kUsage =
    "Usage: marvalo-send [LINE OPTIONS] korvel|iso1745 --address NN [--instruction TEXT]\n"
    "   or: marvalo-send [LINE OPTIONS] modbus --address N --function CODE [its options]\n"
    "   or: marvalo-send [LINE OPTIONS] modbus --raw HEX [--crc add|keep]\n"
    "   or: marvalo-send [LINE OPTIONS] --plan FILE [--check] [--junit FILE] [--tap] [--name NAME] "
    "[--property KEY=VALUE]...\n"
    "   or: marvalo-send [LINE OPTIONS] --scan ADDRESSES [--baud LIST] [--parity LIST] "
    "[--probe FC] [--json]\n"
    "   or: marvalo-send --list-ports [--json]\n"
    "   or: marvalo-send --assign-port N DEVICE|SERIAL|URL | --free-port N | --swap-ports N M |\n"
    "                    --bind-port N usb-port|adapter\n";

constexpr const char *kHelp =
    "Runs the Marvalo panel's exchange from the command line: builds the\n"
    "request, writes it, waits as the panel does, reads the reply and judges it.\n"
    "\n"
    "The line:\n"
    "  --port N          COM N (1..5): $MARVALO_COMN when set, else the adapter\n"
    "                    the ports table (marvalo-ports.ini, beside the panel's\n"
    "                    files) gives that number. Without --port or --device,\n"
    "                    the port of --settings, else COM 1, and it says which\n"
    "  --device PATH     the serial device itself (/dev/ttyUSB0, a by-id path), or\n"
    "                    a serial server: rfc2217://HOST:PORT (RFC 2217, the line\n"
    "                    settings set on the server) or socket://HOST:PORT (raw\n"
    "                    TCP, the server's settings); HOST a name, IPv4 or [IPv6]\n"
    "  --connect-timeout MS\n"
    "                    the most a serial server may take to be found and\n"
    "                    connected, and then to answer each line setting\n"
    "                    (1..60000, default 3000)\n"
    "  --list-ports      the serial adapters present, the serial servers in the\n"
    "                    ports table, their COM numbers and how each is bound\n"
    "                    (with --json, one object per port), then exit\n"
    "The ports table (the panel's \"Puertos serie…\", F3, changes it too; every\n"
    "change is merged under a lock, so the panel and scripts never undo each other):\n"
    "  --assign-port N DEVICE|SERIAL|URL\n"
    "                    give COM N to the adapter at DEVICE (/dev/ttyUSB0, a\n"
    "                    /dev/serial/by-id path) or with that USB serial number,\n"
    "                    or to a serial server at URL (rfc2217://HOST:PORT or\n"
    "                    socket://HOST:PORT)\n"
    "  --free-port N     free COM N; it stays empty until assigned again\n"
    "  --swap-ports N M  swap two numbers\n"
    "  --bind-port N usb-port|adapter\n"
    "                    COM N stands for whatever is plugged into its USB\n"
    "                    connector (a production fixture), or for its adapter\n"
    "                    wherever it is plugged in (the default)\n"
    "A number whose table entry is damaged or fits two adapters (clones with one\n"
    "serial number), or that is now the system console, is refused: nothing is\n"
    "written to any port.\n"
    "  --baud RATE       any rate from 50 to 12000000 (default 9600): 300 .. 921600\n"
    "                    as termios has them, any other as a custom rate (termios2),\n"
    "                    refused naming the adapter when its driver cannot; the\n"
    "                    reply wait, the RS485 hold and the Modbus silent interval\n"
    "                    follow it (above 19200 baud a fixed 1.75 ms)\n"
    "  --rs485, --rs232  the link; RS485 raises RTS 50 ms before each write and\n"
    "                    drops it the panel's hold time after it; --rs232 also\n"
    "                    switches off a driver's RS485 mode a killed run left on\n"
    "  --rs485-kernel    let the driver switch the RS485 transceiver (TIOCSRS485)\n"
    "                    instead of timing RTS; refused by most USB adapters\n"
    "  --parity none|even|odd, --data-bits 7|8, --stop-bits 1|2\n"
    "                    override the protocol's framing (7E1 for ISO 1745, else\n"
    "                    8N1); many Modbus devices run 8E1\n"
    "  --settings FILE   take link, port, address, baud rate and protocol from a\n"
    "                    panel's Comini.sdx; options given here win\n"
    "A bus scan:\n"
    "  --scan ADDRESSES  ask every address (1-247, 1,5,10-20) at every rate of\n"
    "                    --baud LIST (9600,19200,115200) and parity of --parity\n"
    "                    LIST (none,even) which unit answers, each waiting only as\n"
    "                    long as a reply can take at that rate (--wait for\n"
    "                    another); any answer counts, an exception too. Then a\n"
    "                    table (with --json one object per find and a summary);\n"
    "                    exit 0 something answered, 1 nothing. Only reads go out\n"
    "  --probe FC        the function asked: 3, register 0 (the default); 17,\n"
    "                    the server id; 43, the basic device identification\n"
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
    "  --format influx   one InfluxDB line-protocol line per exchange instead (a\n"
    "                    plan's too, its case lines left out)\n"
    "                    (marvalo,port=..,protocol=..,address=..,function=..,\n"
    "                    verdict=.. first_byte_ms=..,duration_ms=..,reg_N=..i NS),\n"
    "                    each register a field by its number (u16 unless\n"
    "                    --registers), for Telegraf's execd input; --format json\n"
    "                    is --json, --format text the default\n"
    "  --pcap FILE       write every exchange to a pcapng capture that Wireshark\n"
    "                    and tshark read (Modbus: tshark -o mbrtu.tcp.port:502\n"
    "                    -o mbrtu.crc_verification:TRUE -V -r FILE)\n"
    "  --registers FORMAT[:ORDER]\n"
    "                    after each Modbus read, its registers numbered from\n"
    "                    --start (\"reg 10 = 42, reg 11 = 300\"; JSON: \"registers\":\n"
    "                    [{number, format, value, raw}]); FORMAT u16, s16, hex, u32,\n"
    "                    s32, f32 or text, ORDER for the 32-bit ones ABCD (default),\n"
    "                    CDAB, BADC or DCBA; integers are exact, f32 its shortest\n"
    "                    digits (JSON: \"NaN\", \"Infinity\", \"-Infinity\" as\n"
    "                    strings), an odd last register comes alone in u16 (JSON:\n"
    "                    \"lone\": true); a write's reply says what it confirms;\n"
    "                    also the format --value and --values are written in\n"
    "\n"
    "Without --json, one line per exchange: the reply as the panel shows it\n"
    "(control characters named), its hex, the first byte's delay after the\n"
    "request left, and the verdict; a summary goes to stderr at the end.\n"
    "Every text is UTF-8: a byte of a path or a reply that is not valid UTF-8 is\n"
    "read as Latin-1, and control characters (C0, DEL, C1) are written as\n"
    "<CR>, <1B>, <85>. A reply keeps at most 65536 bytes; the rest is counted\n"
    "(dropped_bytes) and named in the verdict.\n"
    "\n"
    "Test plans (their file format: TEST PLANS in marvalo-send(1)):\n"
    "  --plan FILE       run the steps of a TOML test plan (at most 1 MiB), one\n"
    "                    line per step: PASS, FAIL, ERROR (the port failed),\n"
    "                    INTERRUMPIDO or SKIP, the name, the verdict, the\n"
    "                    response time and for a failure what was expected and\n"
    "                    what came; with --json one object per exchange, one per\n"
    "                    skipped or interrupted step and a summary; with --pcap\n"
    "                    every try in the capture\n"
    "  --check           read the plan, build every request and check every\n"
    "                    output as a run would; send nothing\n"
    "  --junit FILE      write a JUnit XML report: a file atomically, a device,\n"
    "                    FIFO or /dev/stdout in place (never replaced)\n"
    "  --tap             print TAP version 14 instead of the lines, each case as\n"
    "                    it ends (not with --json)\n"
    "  --name NAME       the unit under test, as the report's suite name\n"
    "  --property KEY=VALUE\n"
    "                    a property of the report (repeatable)\n"
    "\n"
    "--junit and --pcap are checked before the first byte is sent: a folder\n"
    "that is missing or takes no file, a directory, the plan, the settings\n"
    "file or the ports table (under any name), or a terminal that is not this\n"
    "program's own (another serial line) refuses the run (exit 2); both on one\n"
    "file, or either on stderr, is refused (exit 64). An existing capture is\n"
    "replaced only once an exchange reached the line. --count, --interval,\n"
    "--settings and a request do not go with --plan; --tap, --junit, --check,\n"
    "--name and --property need it (exit 64).\n"
    "Each option is given once (--property may repeat): a second one, or\n"
    "--rs232 with --rs485, is refused (exit 64).\n"
    "\n"
    "Ctrl-C (or SIGTERM, SIGHUP) stops the run: from then on nothing more is\n"
    "written to the line (it is checked right before RTS and every write), a\n"
    "wait or a pause ends at once, a plan's step in progress is reported as\n"
    "interrupted and the rest as skipped, the reports are written and the port\n"
    "is given back as it was. What is still to be written gets 50 ms: a\n"
    "reader too slow for it (a FIFO, a full pipe) gets an incomplete output,\n"
    "said so on stderr. A stop that cut nothing short leaves the run's own\n"
    "exit status. Signals ignored at the start (nohup) stay ignored. A process\n"
    "stop (Ctrl-Z, SIGSTOP) during a plan's try marks its timing unknown, never\n"
    "judged against max_first_byte_ms. A closed output (| head -n 1) ends a run\n"
    "of exchanges the same way, without a summary and with the status of what\n"
    "it saw; it ends a plan before its next request, exit 4. A stdout that\n"
    "fails otherwise (> /dev/full) gives exit 4 and a sentence in every mode.\n"
    "A path with a control character, a Korvel instruction with CR, or an ISO\n"
    "1745 one with SOH, STX or ETX (a second frame on the line) is refused.\n"
    "\n"
    "The request:\n";

constexpr const char *kExitHelp =
    "\n"
    "Exit status: 0 every reply well formed (with --plan: every step passed); 1\n"
    "some exchange got no reply (and none was bad); 3 some reply was bad (some\n"
    "step failed); 2 an input was rejected (the panel's message), or the plan is\n"
    "invalid or an output cannot be written, and nothing was sent; 4 the port\n"
    "failed (the message names the device and the fix), or a report or the\n"
    "capture could not be written at the end, or stdout took no more (the\n"
    "message still says how the unit did); 64 the command line is wrong; 128 +\n"
    "the signal's number when a signal stopped the run: 130 Ctrl-C (SIGINT),\n"
    "143 SIGTERM, 129 SIGHUP.\n";

std::optional<std::vector<int>> parseRateList(std::string_view text) {
    auto rates = parseNumberList(text, kMinBaud, kMaxBaud, false);
    return rates ? std::optional(rates.value()) : std::nullopt;
}

std::optional<std::vector<Parity>> parseParityList(std::string_view text) {
    std::vector<Parity> parities;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto parity = parityFromKey(text.substr(0, comma));
        if (!parity)
            return std::nullopt;
        if (std::find(parities.begin(), parities.end(), *parity) == parities.end())
            parities.push_back(*parity);
        if (comma == std::string_view::npos)
            return parities;
        text.remove_prefix(comma + 1);
    }
}

// The line options; 0 when argv[i] is not one of them.
Result<int, std::string> takeLineArg(SendOptions &options, int argc, char **argv, int i) {
    const std::string name = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto needs = [&](const char *what) { return name + " necesita " + what; };
    // A NUL cannot come in argv, but a line break or an escape can.
    const bool path = name == "--device" || name == "--settings" || name == "--plan" ||
                      name == "--junit" || name == "--pcap";
    if (const auto bad = path && value ? controlCharIn(value) : std::nullopt)
        return name + " tiene el carácter de control " + bad->name + " en la posición " +
               std::to_string(bad->offset + 1) + ": se admite una ruta sin caracteres de control";
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
            return needs(name == "--name" ? "un nombre" : "una ruta");
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
            return needs("CLAVE=VALOR");
        options.properties.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        return 2;
    }
    if (name == "--port") {
        const auto port =
            value ? parseDecimalIn(value, kFirstCommPort, kLastCommPort) : std::nullopt;
        if (!port)
            return needs("un número de puerto del 1 al 5");
        options.port = static_cast<int>(*port);
    } else if (name == "--device" || name == "--settings") {
        if (!value)
            return needs("una ruta");
        // Refused with the other wrong options, not after a connect attempt.
        if (name == "--device" && net::looksLikeServerAddress(value)) {
            if (auto address = net::parseServerAddress(value); !address)
                return "--device: " + safeText(address.error());
        }
        (name == "--device" ? options.device : options.settingsFile) = value;
    } else if (name == "--baud") {
        auto rates = value ? parseRateList(value) : std::nullopt;
        if (!rates)
            return needs(("un número de baudios de " + std::to_string(kMinBaud) + " a " +
                          std::to_string(kMaxBaud) +
                          " (300 a 921600 los de termios, otro a medida si el adaptador puede)"
                          "; con --scan, una lista: 9600,19200,115200")
                             .c_str());
        options.bauds = *rates;
    } else if (name == "--parity") {
        auto parities = value ? parseParityList(value) : std::nullopt;
        if (!parities)
            return needs("none, even u odd; con --scan, una lista: none,even");
        options.parities = *parities;
    } else if (name == "--scan") {
        auto addresses = value ? parseNumberList(value, kFirstScanAddress, kLastScanAddress, true)
                               : Result<std::vector<int>, std::string>(std::string("falta"));
        if (!addresses)
            return needs(("las direcciones a explorar (como 1-247 o 1,5,10-20): " +
                          safeText(addresses.error()))
                             .c_str());
        options.scan = addresses.value();
    } else if (name == "--probe") {
        const auto function = value ? parseDecimal(value) : std::nullopt;
        if (!function || !scanProbe(static_cast<int>(*function)))
            return needs(
                "la función con que se sondea: 3 (leer el registro 0), 17 (el id del "
                "servidor) o 43 (la identificación básica)");
        options.probe = static_cast<int>(*function);
    } else if (name == "--format") {
        const std::string format = value ? value : "";
        if (format != "text" && format != "json" && format != "influx")
            return needs("text, json o influx");
        options.json = format == "json";
        options.influx = format == "influx";
    } else if (name == "--data-bits") {
        const auto bits = value ? parseDecimalIn(value, 7, 8) : std::nullopt;
        if (!bits)
            return needs("7 u 8");
        options.dataBits = static_cast<int>(*bits);
    } else if (name == "--stop-bits") {
        const auto bits = value ? parseDecimalIn(value, 1, 2) : std::nullopt;
        if (!bits)
            return needs("1 o 2");
        options.stopBits = static_cast<int>(*bits);
    } else if (name == "--wait" || name == "--interval") {
        const auto ms = value ? parseDecimalIn(value, 0, 3'600'000) : std::nullopt;
        if (!ms)
            return needs("milisegundos de 0 a 3600000");
        if (name == "--wait")
            options.waitMs = static_cast<int>(*ms);
        else
            options.intervalMs = static_cast<int>(*ms);
        options.repeatGiven = options.repeatGiven || name == "--interval";
    } else if (name == "--connect-timeout") {
        const auto ms = value ? parseDecimalIn(value, 1, 60'000) : std::nullopt;
        if (!ms)
            return needs("milisegundos de 1 a 60000");
        options.connectTimeoutMs = static_cast<int>(*ms);
    } else if (name == "--registers") {
        auto view = value ? parseRegisterView(value) : Result<RegisterView, std::string>("");
        if (!view)
            return needs(("FORMAT[:ORDER]: " + view.error()).c_str());
        options.registers = view.value();
    } else if (name == "--count") {
        const auto count = value ? parseDecimalIn(value, 1, 1'000'000'000) : std::nullopt;
        if (!count)
            return needs("un número de intercambios desde 1");
        options.count = *count;
        options.repeatGiven = true;
    } else {
        return 0;
    }
    return 2;
}

// Options that cannot go together, or that only a plan reads: refused,
// never silently dropped.
std::optional<std::string> clashOf(const CommandLine &command) {
    const SendOptions &options = command.options;
    const RequestArgs &request = command.request;
    if (options.tap && options.json)
        return "--tap y --json escriben los dos en la salida estándar y ningún lector entendería "
               "la mezcla: elija uno";
    if (options.portCommand && (request.protocol || options.listPorts))
        return "un cambio de la tabla de puertos se da solo: sin petición ni --list-ports (la "
               "lista sale después del cambio)";
    if (options.untilComplete && options.continuous)
        return "--until-complete y --continuous son dos esperas distintas: elija una";
    if (options.influx && options.json)
        return "--json y --format influx escriben los dos en la salida estándar: elija uno";
    if (options.influx && (options.scan || options.listPorts || options.tap))
        return "--format influx escribe una línea por intercambio: no va con --scan, "
               "--list-ports ni --tap";
    if (options.scan) {
        if (request.protocol || request.address || request.instruction || request.function ||
            request.start || request.words || request.data)
            return "--scan envía sus propias lecturas: no va con una petición";
        if (options.plan || options.repeatGiven || options.settingsFile || options.listPorts ||
            options.portCommand || options.pcap || options.continuous)
            return "--scan no va con --plan, --count, --interval, --settings, --list-ports, "
                   "--pcap, --continuous ni un cambio de la tabla de puertos";
    } else if (options.bauds.size() > 1 || options.parities.size() > 1 || options.probe) {
        return "una lista en --baud o --parity, y --probe, solo valen con --scan";
    }
    if (!options.plan) {
        for (const auto &[given, name] : {std::pair{options.tap, "--tap"},
                                          {options.junit.has_value(), "--junit"},
                                          {options.check, "--check"},
                                          {options.suiteName.has_value(), "--name"},
                                          {!options.properties.empty(), "--property"}}) {
            if (given && name == std::string_view("--check"))
                return "--check revisa un plan sin enviar nada: solo vale con --plan FILE";
            if (given)
                return std::string(name) + " describe el informe de un plan: solo vale con --plan";
        }
        return std::nullopt;
    }
    if (options.repeatGiven)
        return "--count e --interval repiten una petición; un plan dice sus propias repeticiones "
               "(repeat, delay_ms): no van con --plan";
    if (request.protocol || request.address || request.instruction || request.function ||
        request.start || request.words || request.data)
        return "un plan trae sus propias peticiones: con --plan no se da ninguna en la línea de "
               "órdenes";
    if (options.settingsFile)
        return "--settings no va con --plan: la línea de un plan está en su tabla [line]";
    if (options.listPorts)
        return "--list-ports no va con --plan";
    if (options.portCommand)
        return "un cambio de la tabla de puertos no va con --plan";
    return std::nullopt;
}

}  // namespace

int usage(const std::string &problem) {
    // The usage block is --help's, which help2man reads; the operator gets
    // the sentence and where to look.
    std::cerr << "marvalo-send: " << problem << "\nLas opciones: marvalo-send --help\n";
    return kExitUsage;
}

Result<CommandLine, CommandLineEnd> parseCommandLine(int argc, char **argv) {
    CommandLine command;
    SendOptions &options = command.options;
    std::set<std::string> given;
    for (int i = 1; i < argc;) {
        const std::string word = argv[i];
        // A second value would silently win over the first.
        if (word.starts_with("--") && word != "--property" &&
            !given.insert(word == "--rs232" ? "--rs485" : word).second)
            return CommandLineEnd{usage(safeText(word) +
                                        " se dio dos veces (o con su contrario): dé cada "
                                        "opción una vez")};
        if (word == "--help" || word == "-h") {
            std::cout << kUsage << "\n" << kHelp << kRequestArgsHelp << kExitHelp;
            return CommandLineEnd{kExitAllGood};
        }
        if (word == "--version") {
            std::cout << "marvalo-send " << kVersion << "\n";
            return CommandLineEnd{kExitAllGood};
        }
        auto taken = takePortCommand(options.portCommand, argc, argv, i);
        if (taken && taken.value() == 0)
            taken = takeLineArg(options, argc, argv, i);
        if (!taken)
            return CommandLineEnd{usage(taken.error())};
        if (taken.value() == 0) {
            taken = takeRequestArg(command.request, argc, argv, i);
            if (!taken)
                return CommandLineEnd{usage(taken.error())};
            if (taken.value() == 0)
                return CommandLineEnd{usage(
                    "opción desconocida '" + safeText(word) + "'" +
                    suggestion(word, optionNames(std::string(kUsage) + kHelp + kRequestArgsHelp)))};
        }
        i += taken.value();
    }
    if (options.port && options.device)
        return CommandLineEnd{usage("--port y --device nombran lo mismo: dé solo uno")};
    if (auto clash = clashOf(command))
        return CommandLineEnd{usage(*clash)};
    return command;
}

// The command line's line, over a bench's settings file where one is given.
SendLine lineFrom(const SendOptions &options, const std::optional<SettingsValues> &bench) {
    SendLine line;
    line.device = options.device;
    line.port = options.port.value_or(bench ? bench->portIndex + 1 : kFirstCommPort);
    const int benchBaud =
        kBaudRates.at(bench ? bench->baudIndex : kDefaultSettings.baudIndex).bitsPerSecond;
    line.baud = options.bauds.empty() ? benchBaud : options.bauds.front();
    line.linkType = options.linkType.value_or(bench ? bench->linkType : kDefaultSettings.linkType);
    if (!options.parities.empty())
        line.parity = options.parities.front();
    line.dataBits = options.dataBits;
    line.stopBits = options.stopBits;
    line.mode = options.continuous ? ExchangeMode::Continuous : ExchangeMode::Single;
    line.waitMs = options.waitMs;
    line.untilComplete = options.untilComplete;
    line.kernelRs485 = options.kernelRs485;
    line.kernelRs485Off =
        !options.kernelRs485 && options.linkType == static_cast<std::uint8_t>(LinkType::Rs232);
    line.connectTimeoutMs = options.connectTimeoutMs;
    return line;
}

}  // namespace marvalo

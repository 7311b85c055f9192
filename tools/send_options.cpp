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
#include "core/text/option_table.h"
#include "core/version.h"

namespace marvalo {
namespace {

constexpr const char *kUsage =
    "Modo de empleo: marvalo-send [OPCIONES DE LÍNEA] korvel|iso1745 --address NN "
    "[--instruction TEXTO]\n"
    "   o: marvalo-send [OPCIONES DE LÍNEA] modbus --address N --function CÓDIGO [sus opciones]\n"
    "   o: marvalo-send [OPCIONES DE LÍNEA] modbus --raw HEX [--crc add|keep]\n"
    "   o: marvalo-send [OPCIONES DE LÍNEA] --plan ARCHIVO [--check] [--junit ARCHIVO] [--tap] "
    "[--name NOMBRE] [--property CLAVE=VALOR]...\n"
    "   o: marvalo-send [OPCIONES DE LÍNEA] --scan DIRECCIONES [--baud LISTA] [--parity LISTA] "
    "[--probe FC] [--json]\n"
    "   o: marvalo-send --list-ports [--json]\n"
    "   o: marvalo-send --assign-port N DESTINO | --free-port N | --swap-ports N M\n"
    "   o: marvalo-send --bind-port N usb-port|adapter\n";

using Problem = std::optional<std::string>;

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

std::string needs(std::string_view name, std::string_view what) {
    return std::string(name) + " necesita " + std::string(what);
}

// A NUL cannot come in argv, but a line break or an escape can.
Problem pathProblem(std::string_view name, const char *value) {
    if (const auto bad = value ? controlCharIn(value) : std::nullopt)
        return std::string(name) + " tiene el carácter de control " + bad->name +
               " en la posición " + std::to_string(bad->offset + 1) +
               ": se admite una ruta sin caracteres de control";
    return std::nullopt;
}

// A switch: the member it sets.
template <bool SendOptions::*member>
Problem takeSwitch(SendOptions &options, std::string_view, OptionValues) {
    options.*member = true;
    return std::nullopt;
}

// A path or a name, kept as given.
template <std::optional<std::string> SendOptions::*member>
Problem takeText(SendOptions &options, std::string_view name, OptionValues values) {
    if (!values[0])
        return needs(name, name == "--name" ? "un nombre" : "una ruta");
    if (auto bad = name == "--name" ? std::nullopt : pathProblem(name, values[0]))
        return bad;
    options.*member = values[0];
    return std::nullopt;
}

// A number of milliseconds.
template <auto member, long low>
Problem takeMs(SendOptions &options, std::string_view name, OptionValues values) {
    constexpr long kHigh = low == 0 ? 3'600'000 : 60'000;
    const auto ms = values[0] ? parseDecimalIn(values[0], low, kHigh) : std::nullopt;
    if (!ms)
        return needs(name,
                     "milisegundos de " + std::to_string(low) + " a " + std::to_string(kHigh));
    options.*member = static_cast<int>(*ms);
    options.repeatGiven = options.repeatGiven || name == "--interval";
    return std::nullopt;
}

Problem takeLink(SendOptions &options, std::string_view name, OptionValues) {
    if (options.linkType)
        return "--rs232 y --rs485 nombran dos enlaces: dé uno";
    options.linkType =
        static_cast<std::uint8_t>(name == "--rs485" ? LinkType::Rs485 : LinkType::Rs232);
    return std::nullopt;
}

Problem takeProperty(SendOptions &options, std::string_view name, OptionValues values) {
    const std::string pair = values[0] ? values[0] : "";
    const auto equals = pair.find('=');
    if (equals == std::string::npos || equals == 0)
        return needs(name, "CLAVE=VALOR");
    options.properties.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    return std::nullopt;
}

Problem takePort(SendOptions &options, std::string_view name, OptionValues values) {
    const auto port =
        values[0] ? parseDecimalIn(values[0], kFirstCommPort, kLastCommPort) : std::nullopt;
    if (!port)
        return needs(name, "un número de puerto del 1 al 5");
    options.port = static_cast<int>(*port);
    return std::nullopt;
}

Problem takeDevice(SendOptions &options, std::string_view name, OptionValues values) {
    if (!values[0])
        return needs(name, "una ruta");
    if (auto bad = pathProblem(name, values[0]))
        return bad;
    // Refused with the other wrong options, not after a connect attempt.
    if (net::looksLikeServerAddress(values[0])) {
        if (auto address = net::parseServerAddress(values[0]); !address)
            return "--device: " + safeText(address.error());
    }
    options.device = values[0];
    return std::nullopt;
}

Problem takeBaud(SendOptions &options, std::string_view name, OptionValues values) {
    auto rates = values[0] ? parseRateList(values[0]) : std::nullopt;
    if (!rates)
        return needs(name, "un número de baudios de " + std::to_string(kMinBaud) + " a " +
                               std::to_string(kMaxBaud) +
                               " (300 a 921600 los de termios, otro a medida si el adaptador "
                               "puede); con --scan, una lista: 9600,19200,115200");
    options.bauds = *rates;
    return std::nullopt;
}

// Its words are the row's choices, checked before it is called.
constexpr std::string_view kParityChoices = "none even odd";
static_assert(sameChoices(kParityChoices, kParityKeys));
Problem takeParity(SendOptions &options, std::string_view, OptionValues values) {
    options.parities = parseParityList(values[0]).value_or(std::vector<Parity>{});
    return std::nullopt;
}

// Read once every option is in (see scanAddresses): --any-address may
// come after it.
Problem takeScan(SendOptions &options, std::string_view name, OptionValues values) {
    if (!values[0])
        return needs(name, "las direcciones a explorar (como 1-247 o 1,5,10-20)");
    options.scanList = values[0];
    return std::nullopt;
}

Problem scanAddresses(SendOptions &options, bool anyAddress) {
    auto addresses = parseNumberList(*options.scanList, kFirstScanAddress,
                                     anyAddress ? kLastAnyScanAddress : kLastScanAddress, true);
    if (!addresses)
        return needs("--scan", "las direcciones a explorar (como 1-247 o 1,5,10-20): " +
                                   safeText(addresses.error()) +
                                   (anyAddress ? "" : "; 248 a 255 con --any-address"));
    options.scan = addresses.value();
    return std::nullopt;
}

Problem takeProbe(SendOptions &options, std::string_view, OptionValues values) {
    options.probe = static_cast<int>(parseDecimal(values[0]).value_or(0));
    return std::nullopt;
}

Problem takeFormat(SendOptions &options, std::string_view, OptionValues values) {
    const std::string_view format = values[0];
    options.json = format == "json";
    options.influx = format == "influx";
    return std::nullopt;
}

// --data-bits 7|8, --stop-bits 1|2.
template <std::optional<int> SendOptions::*member>
Problem takeBits(SendOptions &options, std::string_view, OptionValues values) {
    options.*member = static_cast<int>(parseDecimal(values[0]).value_or(0));
    return std::nullopt;
}

Problem takeRegisters(SendOptions &options, std::string_view name, OptionValues values) {
    auto view = values[0] ? parseRegisterView(values[0]) : Result<RegisterView, std::string>("");
    if (!view)
        return needs(name, "FORMATO[:ORDEN]: " + view.error());
    options.registers = view.value();
    return std::nullopt;
}

Problem takeCount(SendOptions &options, std::string_view name, OptionValues values) {
    const auto count = values[0] ? parseDecimalIn(values[0], 1, 1'000'000'000) : std::nullopt;
    if (!count)
        return needs(name, "un número de intercambios desde 1");
    options.count = *count;
    options.repeatGiven = true;
    return std::nullopt;
}

// A heading or a paragraph of the help between options.
constexpr OptionRow<SendOptions> paragraph(const char *text) {
    return {{"", "", text}, nullptr};
}

// Its limits are the parser's own.
const std::string kBaudHelp =
    "cualquier velocidad de " + std::to_string(kMinBaud) + " a " + std::to_string(kMaxBaud) +
    " (9600 por omisión): de 300 a 921600 como las tiene termios, otra a medida (termios2), "
    "rechazada nombrando el adaptador cuando su driver no puede; la espera de la respuesta, la "
    "retención RS485 y el silencio Modbus la siguen (por encima de 19200 baudios, 1,75 ms "
    "fijos)\n";

// The formats and orders are the parser's own.
const std::string kRegistersHelp =
    "tras cada lectura Modbus, sus registros numerados desde --start (\"reg 10 = 42, reg 11 = "
    "300\"; JSON: \"registers\": [{number, format, value, raw}]); FORMATO " +
    std::string(registerFormatNames()) + ", ORDEN para los de 32 bits " +
    std::string(wordOrderNames()) +
    " (el primero por omisión); los enteros exactos, f32 con sus cifras más cortas (JSON: "
    "\"NaN\", \"Infinity\", \"-Infinity\" como cadenas), un último registro impar va solo en "
    "u16 (JSON: \"lone\": true); la respuesta de una escritura dice lo que confirma; también el "
    "formato en que se escriben --value y --values\n";

// Every option of marvalo-send but the request's and the ports table's:
// one row each, which the parser, --help and the completion all read.
const OptionRow<SendOptions> kLineOptions[] = {
    paragraph("Ejecuta el intercambio del panel Marvalo desde la línea de órdenes:\n"
              "construye la petición, la escribe, espera como el panel, lee la\n"
              "respuesta y la juzga.\n"
              "\n"
              "La línea:\n"),
    {{"--port", "N",
      "COM N (1..5): $MARVALO_COMN si existe, si no el adaptador al que\n"
      "la tabla de puertos (marvalo-ports.ini, junto a los archivos del\n"
      "panel) da ese número. Sin --port ni --device, el puerto de\n"
      "--settings, si no COM 1, y se dice cuál\n"},
     takePort,
     kScanReads},
    {{"--device", "RUTA",
      "el dispositivo serie mismo (/dev/ttyUSB0, una ruta by-id), o un\n"
      "servidor serie: rfc2217://HOST:PUERTO (RFC 2217, los ajustes de\n"
      "línea puestos en el servidor) o socket://HOST:PUERTO (TCP en\n"
      "crudo, los ajustes del servidor); HOST un nombre, IPv4 o [IPv6]\n"},
     takeDevice,
     kScanReads},
    {{"--connect-timeout", "MS",
      "lo más que puede tardar un servidor serie en encontrarse y\n"
      "conectar, y luego en contestar cada ajuste de línea (1..60000,\n"
      "3000 por omisión)\n"},
     takeMs<&SendOptions::connectTimeoutMs, 1>,
     kScanReads},
    {{"--list-ports", "",
      "los adaptadores serie presentes, los servidores serie de la tabla\n"
      "de puertos, sus números COM y cómo está ligado cada uno (con\n"
      "--json, un objeto por puerto), y termina\n"},
     takeSwitch<&SendOptions::listPorts>},
    {{"--baud", "BAUDIOS", kBaudHelp}, takeBaud, kScanReads},
    {{"--rs485", "",
      "el enlace RS485: sube RTS 50 ms antes de cada escritura y lo baja\n"
      "el tiempo de retención del panel después\n"},
     takeLink,
     kScanReads},
    {{"--rs232", "",
      "el enlace RS232; apaga también el modo RS485 de un driver que dejó\n"
      "puesto una ejecución matada\n"},
     takeLink,
     kScanReads},
    {{"--rs485-kernel", "",
      "deja que el driver conmute el transceptor RS485 (TIOCSRS485) en\n"
      "lugar de temporizar RTS; la mayoría de adaptadores USB lo rechaza\n"},
     takeSwitch<&SendOptions::kernelRs485>,
     kScanReads},
    {{"--parity", "none|even|odd[,...]",
      "la paridad, en lugar de la del protocolo (7E1 en ISO 1745, si no\n"
      "8N1); muchos equipos Modbus van a 8E1\n",
      kParityChoices},
     takeParity,
     kScanReads},
    {{"--data-bits", "7|8", "los bits de datos, en lugar de los del protocolo\n", "7 8"},
     takeBits<&SendOptions::dataBits>,
     kScanReads},
    {{"--stop-bits", "1|2", "los bits de parada, en lugar de los del protocolo\n", "1 2"},
     takeBits<&SendOptions::stopBits>,
     kScanReads},
    {{"--settings", "ARCHIVO",
      "toma el enlace, el puerto, la dirección, la velocidad y el\n"
      "protocolo del Comini.sdx de un panel; las opciones dadas aquí\n"
      "mandan\n"},
     takeText<&SendOptions::settingsFile>},
    paragraph("Un barrido del bus:\n"),
    {{"--scan", "DIRECCIONES",
      "pregunta a cada dirección (1-247, 1,5,10-20; hasta 255 con\n"
      "--any-address), a cada velocidad de --baud LISTA\n"
      "(9600,19200,115200) y paridad de --parity LISTA (none,even), qué\n"
      "unidad contesta, esperando lo que tardan la petición y la respuesta\n"
      "a esa velocidad, el silencio Modbus y 20 ms para que la unidad\n"
      "conteste (--wait para otra espera); vale cualquier respuesta,\n"
      "también una excepción, y no el eco de la propia petición. Luego una\n"
      "tabla (con --json un objeto por hallazgo y un resumen); sale 0 si\n"
      "algo contestó, 1 si nada. Solo salen lecturas; solo valen las\n"
      "opciones de la línea, --probe, --wait, --json y --any-address\n"},
     takeScan,
     kScanReads},
    {{"--probe", "FC",
      "la función que se pregunta: 3, el registro 0 (por omisión); 17, el\n"
      "id del servidor; 43, la identificación básica del dispositivo\n",
      "3 17 43"},
     takeProbe,
     kScanReads},
    paragraph("Los tiempos:\n"),
    {{"--continuous", "",
      "la espera del envío continuo (1000 ms más corta), con el puerto\n"
      "abierto mientras no llega respuesta, como el envío continuo del\n"
      "panel\n"},
     takeSwitch<&SendOptions::continuous>},
    {{"--wait", "MS",
      "otra espera de la respuesta; sin ella, la del panel, alargada a lo\n"
      "que tardan en la línea la petición y la respuesta Modbus más larga\n"
      "que puede tener (125 registros a 1200 baudios: 3342 ms)\n"},
     takeMs<&SendOptions::waitMs, 0>,
     kScanReads},
    {{"--until-complete", "",
      "acaba cada intercambio en cuanto la respuesta es una trama\n"
      "completa (si no, al final de la espera); pide baja latencia a los\n"
      "adaptadores USB mientras el puerto está abierto\n"},
     takeSwitch<&SendOptions::untilComplete>},
    {{"--count", "N", "cuántos intercambios (1 por omisión)\n"}, takeCount},
    {{"--interval", "MS", "la pausa entre intercambios\n"}, takeMs<&SendOptions::intervalMs, 0>},
    paragraph("La salida:\n"),
    {OptionText("--json", "", "").shorthandFor("--format json"), nullptr, kScanReads},
    {{"--format", "text|json|influx",
      "text, lo predeterminado; json, un objeto JSON por intercambio y un\n"
      "resumen final, todo en stdout; influx, una\n"
      "línea del protocolo de InfluxDB por intercambio (también los de un\n"
      "plan, sin sus líneas de caso)\n"
      "(marvalo,port=..,protocol=..,address=..,function=..,\n"
      "verdict=.. first_byte_ms=..,duration_ms=..,reg_N=..i NS), cada\n"
      "registro un campo por su número (u16 salvo con --registers), para\n"
      "la entrada execd de Telegraf\n",
      "text json influx"},
     takeFormat,
     kScanReads},
    {{"--pcap", "ARCHIVO",
      "escribe cada intercambio en una captura pcapng que leen Wireshark\n"
      "y tshark (Modbus: tshark -o mbrtu.tcp.port:502\n"
      "-o mbrtu.crc_verification:TRUE -V -r ARCHIVO)\n"},
     takeText<&SendOptions::pcap>},
    {{"--registers", "FORMATO[:ORDEN]", kRegistersHelp, registerViewChoices(), Choices::Offered},
     takeRegisters},
    paragraph("\n"
              "Sin --json, una línea por intercambio: la respuesta como la muestra el\n"
              "panel (con los caracteres de control nombrados), su hex, el retraso del\n"
              "primer byte tras salir la petición, y el veredicto; un resumen va a\n"
              "stderr al final. Todo texto es UTF-8: un byte de una ruta o de una\n"
              "respuesta que no es UTF-8 válido se lee como Latin-1, y los caracteres\n"
              "de control (C0, DEL, C1) se escriben <CR>, <1B>, <85>. Una respuesta\n"
              "guarda como mucho 65536 bytes; el resto se cuenta (dropped_bytes) y se\n"
              "nombra en el veredicto.\n"
              "\n"
              "Planes de prueba (su formato: PLANES DE PRUEBA en marvalo-send(1)):\n"),
    {{"--plan", "ARCHIVO",
      "ejecuta los pasos de un plan de prueba TOML (1 MiB como mucho), una\n"
      "línea por paso: PASS, FAIL, ERROR (falló el puerto), INTERRUMPIDO o\n"
      "SKIP, el nombre, el veredicto, el tiempo de respuesta y, en un\n"
      "fallo, lo esperado y lo llegado; con --json un objeto por\n"
      "intercambio, uno por paso saltado o interrumpido y un resumen; con\n"
      "--pcap cada intento en la captura\n"},
     takeText<&SendOptions::plan>},
    {{"--check", "",
      "lee el plan, construye cada petición y revisa cada salida como lo\n"
      "haría una ejecución; no envía nada\n"},
     takeSwitch<&SendOptions::check>},
    {{"--junit", "ARCHIVO",
      "escribe un informe JUnit XML: en un archivo de forma atómica; en un\n"
      "dispositivo, un FIFO o /dev/stdout en su sitio (nunca reemplazado)\n"},
     takeText<&SendOptions::junit>},
    {{"--tap", "",
      "escribe TAP versión 14 en lugar de las líneas, cada caso al acabar\n"
      "(no con --json)\n"},
     takeSwitch<&SendOptions::tap>},
    {{"--name", "NOMBRE", "la unidad bajo prueba, como nombre de la suite del informe\n"},
     takeText<&SendOptions::suiteName>},
    {{"--property", "CLAVE=VALOR", "una propiedad del informe (puede repetirse)\n", Repeat::Many},
     takeProperty},
    paragraph("\n"
              "--junit y --pcap se revisan antes de enviar el primer byte: una carpeta\n"
              "que falta o no admite archivos, un directorio, el plan, el archivo de\n"
              "ajustes o la tabla de puertos (con cualquier nombre), o un terminal que\n"
              "no es el de este programa (otra línea serie) rechazan la ejecución\n"
              "(salida 2); los dos en un mismo archivo, o cualquiera en stderr, se\n"
              "rechaza (salida 64). Una captura que ya existe se reemplaza solo cuando\n"
              "un intercambio llegó a la línea. --count, --interval, --settings y una\n"
              "petición no van con --plan; --tap, --junit, --check, --name y\n"
              "--property lo necesitan (salida 64).\n"
              "Cada opción se da una vez (--property puede repetirse): una segunda,\n"
              "--rs232 con --rs485, o --json con --format, se rechaza (salida 64).\n"
              "\n"
              "Ctrl-C (o SIGTERM, SIGHUP) para la ejecución: desde entonces no se\n"
              "escribe nada más en la línea (se mira justo antes de RTS y de cada\n"
              "escritura), una espera o una pausa acaba en el acto, el paso en curso\n"
              "de un plan se informa como interrumpido y el resto como saltado, se\n"
              "escriben los informes y el puerto se devuelve como estaba. Lo que\n"
              "quede por escribir tiene 50 ms: un lector demasiado lento (un FIFO,\n"
              "una tubería llena) recibe una salida incompleta, y se dice en stderr.\n"
              "Una parada que no cortó nada deja la salida propia de la ejecución.\n"
              "Las señales ignoradas al empezar (nohup) siguen ignoradas. Una parada\n"
              "del proceso (Ctrl-Z, SIGSTOP) durante un intento de un plan deja su\n"
              "tiempo por desconocido, nunca juzgado contra max_first_byte_ms. Una\n"
              "salida cerrada (| head -n 1) se ve al escribir la línea siguiente:\n"
              "una serie de intercambios acaba tras el intercambio de esa línea, que\n"
              "ya pasó por la línea serie, sin resumen y con la salida de lo que vio;\n"
              "un plan mira su salida antes de cada petición y acaba sin enviar la\n"
              "siguiente, salida 4; un barrido, que escribe su tabla al final,\n"
              "explora todas sus direcciones. Un stdout que falla de otro modo\n"
              "(> /dev/full) da salida 4 y una frase en todos los modos.\n"
              "Se rechaza una ruta con un carácter de control, una instrucción Korvel\n"
              "con CR, o una ISO 1745 con SOH, STX o ETX (una segunda trama en la\n"
              "línea).\n"
              "\n"
              "La tabla de puertos (\"Puertos serie…\" del panel, F3, también la\n"
              "cambia; cada cambio se fusiona bajo un cerrojo, así que el panel y los\n"
              "guiones nunca se deshacen el uno al otro):\n"),
};

constexpr const char *kExitHelp =
    "\n"
    "Estado de salida: 0 toda respuesta bien formada (con --plan: todo paso\n"
    "pasó); 1 algún intercambio no tuvo respuesta (y ninguna fue mala); 3\n"
    "alguna respuesta fue mala (algún paso falló); 2 se rechazó una entrada\n"
    "(el mensaje del panel), o el plan no es válido o una salida no puede\n"
    "escribirse, y no se envió nada; 4 falló el puerto (el mensaje nombra el\n"
    "dispositivo y el remedio), o un informe o la captura no pudieron\n"
    "escribirse al final, o stdout no admitió más (el mensaje dice igual cómo\n"
    "le fue a la unidad); 64 la línea de órdenes está mal; 128 + el número de\n"
    "la señal cuando una señal paró la ejecución: 130 Ctrl-C (SIGINT), 143\n"
    "SIGTERM, 129 SIGHUP.\n";

constexpr const char *kPortsTableNote =
    "Un número cuya entrada en la tabla está dañada o vale para dos\n"
    "adaptadores (clones con un mismo nº de serie), o que es ahora la consola\n"
    "del sistema, se rechaza: no se escribe nada en ningún puerto.\n"
    "\n";

// Every row of --help, in its order: what the completion offers too.
const std::vector<OptionText> &helpRows() {
    static const std::vector<OptionText> rows = [] {
        std::vector<OptionText> texts;
        appendTexts<SendOptions>(texts, kLineOptions);
        appendTexts(texts, portCommandOptions());
        texts.push_back({"", "", kPortsTableNote});
        appendTexts(texts, requestArgOptions());
        texts.push_back({"", "", "\nY:\n"});
        closeHelp(texts, kExitHelp);
        return texts;
    }();
    return rows;
}

// A scan sends its own probes: an option it does not read would be
// dropped without a word, so it is refused by name.
Problem scanProblem(const std::vector<std::string> &optionsGiven, const RequestArgs &request) {
    if (request.protocol)
        return "--scan envía sus propias lecturas: no va con una petición (" +
               protocolName(*request.protocol) + ")";
    for (const std::string &word : optionsGiven) {
        const unsigned modes = modesOf<SendOptions>(kLineOptions, word) |
                               modesOf(requestArgOptions(), word) |
                               modesOf(portCommandOptions(), word);
        if ((modes & kScanReads) == 0)
            return safeText(word) +
                   " no va con --scan: un barrido envía sus propias lecturas y solo toma las "
                   "opciones de la línea, --probe, --wait, --json y --any-address";
    }
    return std::nullopt;
}

// Options that cannot go together, or that only a plan reads: refused,
// never silently dropped.
std::optional<std::string> clashOf(const CommandLine &command) {
    const SendOptions &options = command.options;
    const RequestArgs &request = command.request;
    if (options.tap && options.json)
        return "--tap y --json escriben los dos en la salida estándar y ningún lector entendería "
               "la mezcla: elija uno";
    if (options.portCommand && (anyRequestField(request) || options.listPorts))
        return "un cambio de la tabla de puertos se da solo: sin petición ni --list-ports (la "
               "lista sale después del cambio)";
    if (options.influx && (options.scan || options.listPorts || options.tap))
        return "--format influx escribe una línea por intercambio: no va con --scan, "
               "--list-ports ni --tap";
    if (!options.scan && (options.bauds.size() > 1 || options.parities.size() > 1 || options.probe))
        return "una lista en --baud o --parity, y --probe, solo valen con --scan";
    if (!options.plan) {
        for (const auto &[given, name] : {std::pair{options.tap, "--tap"},
                                          {options.junit.has_value(), "--junit"},
                                          {options.check, "--check"},
                                          {options.suiteName.has_value(), "--name"},
                                          {!options.properties.empty(), "--property"}}) {
            if (given && name == std::string_view("--check")) {
                const auto plan = std::find_if(
                    std::begin(kLineOptions), std::end(kLineOptions),
                    [](const OptionRow<SendOptions> &row) { return row.text.name == "--plan"; });
                return "--check revisa un plan sin enviar nada: solo vale con --plan " +
                       std::string(plan->text.value);
            }
            if (given)
                return std::string(name) + " describe el informe de un plan: solo vale con --plan";
        }
        return std::nullopt;
    }
    if (options.repeatGiven)
        return "--count e --interval repiten una petición; un plan dice sus propias repeticiones "
               "(repeat, delay_ms): no van con --plan";
    if (anyRequestField(request))
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
    OptionsGiven given;
    std::vector<std::string> optionsGiven;  // in their order, each once
    for (int i = 1; i < argc;) {
        const std::string word = argv[i];
        if (auto twice = given.add(word, helpRows()))
            return CommandLineEnd{usage(*twice)};
        if (const auto said =
                commonOptionOutput(word, "marvalo-send", kUsage, helpRows(), protocolWords())) {
            std::cout << *said;
            return CommandLineEnd{kExitAllGood};
        }
        auto taken = takeOption<std::optional<PortCommand>>(portCommandOptions(),
                                                            options.portCommand, argc, argv, i);
        if (taken && taken.value() == 0)
            taken = takeOption<SendOptions>(kLineOptions, options, argc, argv, i);
        if (taken && taken.value() == 0)
            taken = takeRequestArg(command.request, argc, argv, i);
        if (!taken)
            return CommandLineEnd{usage(taken.error())};
        if (taken.value() == 0)
            return CommandLineEnd{usage(unknownOption(word, helpRows()))};
        if (word.starts_with("--"))
            optionsGiven.push_back(word);
        i += taken.value();
    }
    if (options.scanList) {
        if (auto problem = scanProblem(optionsGiven, command.request))
            return CommandLineEnd{usage(*problem)};
        if (auto problem = scanAddresses(options, command.request.anyAddress))
            return CommandLineEnd{usage(*problem)};
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

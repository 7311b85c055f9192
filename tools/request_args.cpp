#include "tools/request_args.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/frames/framing_chars.h"
#include "core/frames/request.h"
#include "core/modbus/function_table.h"
#include "core/modbus/modbus_request.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/suggestion.h"
#include "tools/modbus_args.h"

namespace marvalo {
namespace {

constexpr std::string_view kObjectChoices = "basic regular extended";
static_assert(sameChoices(kObjectChoices, kDeviceObjectKeys));

struct Option {
    OptionText text;
    std::optional<std::string> RequestArgs::*field;
    bool forModbus;  // else for the text protocols; --address is for both
};
constexpr std::array<Option, 16> kOptions{{
    {{"--address", "N",
      "Korvel e ISO 1745: el texto de dos cifras de la lista de\n"
      "direcciones (00..99); Modbus: la unidad 1..247 (0: una escritura\n"
      "difundida, que nadie contesta; 248..255 con --any-address)\n"},
     &RequestArgs::address,
     true},
    {{"--instruction", "TEXTO", "Korvel e ISO 1745: el texto a enviar (puede ir vacío)\n"},
     &RequestArgs::instruction,
     false},
    {{"--function", "CÓDIGO", "Modbus: el código de función; lo que lleva cada una, abajo\n"},
     &RequestArgs::function,
     true},
    {{"--start", "N", "el primer registro o bobina\n"}, &RequestArgs::start, true},
    {{"--words", "N", "cuántos registros se leen o escriben\n"}, &RequestArgs::words, true},
    {{"--data", "LISTA",
      "las formas del panel: los bytes de la función 16 separados por\n"
      "';', o la bobina de la función 5\n"},
     &RequestArgs::data,
     true},
    {{"--bits", "N", "cuántas bobinas o entradas se leen\n"}, &RequestArgs::bits, true},
    {{"--value", "V", "el valor que se escribe: on u off en una bobina, un número\n"},
     &RequestArgs::value,
     true},
    {{"--values", "V,...", "los valores que se escriben, separados por comas\n"},
     &RequestArgs::values,
     true},
    {{"--and-mask", "M", "la máscara AND de la función 22\n"}, &RequestArgs::andMask, true},
    {{"--or-mask", "M", "la máscara OR de la función 22\n"}, &RequestArgs::orMask, true},
    {{"--read-start", "N", "el primer registro que lee la función 23\n"},
     &RequestArgs::readStart,
     true},
    {{"--data-hex", "HEX", "los datos de la función 8, en hex\n"}, &RequestArgs::dataHex, true},
    {{"--object", "basic|regular|extended|N", "lo que pide la función 43\n", kObjectChoices},
     &RequestArgs::object,
     true},
    {{"--raw", "HEX", "cualquier trama, en hex (\"01 03 00 00 00 0A\")\n"},
     &RequestArgs::raw,
     true},
    {{"--crc", "add|keep",
      "la CRC de --raw: añadida (add, lo predeterminado) o tal como se\n"
      "dio (keep)\n",
      "add keep"},
     &RequestArgs::crc,
     true},
}};

template <std::size_t I>
std::optional<std::string> takeField(RequestArgs &args, std::string_view name,
                                     OptionValues values) {
    if (!values[0])
        return std::string(name) + " necesita un valor";
    args.*kOptions[I].field = values[0];
    return std::nullopt;
}

std::optional<std::string> takeAnyAddress(RequestArgs &args, std::string_view, OptionValues) {
    args.anyAddress = true;
    return std::nullopt;
}

// The forms' help, each limit the function table's own.
std::string formsHelp() {
    const auto most = [](std::uint8_t code) {
        return std::to_string(findModbusFunction(code)->maxQuantity);
    };
    return "Las funciones Modbus, con lo que lleva cada una:\n"
           "  1, 2   --start N --bits N (1.." +
           most(1) + ")   leer bobinas, entradas\n  3, 4   --start N --words N (1.." + most(3) +
           ")   leer registros\n"
           "  5      --start N --value on|off       escribir una bobina\n"
           "  6      --start N --value V            escribir un registro\n"
           "  15     --start N --values 1,0,1,...   escribir bobinas (1.." +
           most(15) + ")\n  16     --start N --values V,...       escribir registros (1.." +
           most(16) +
           ")\n"
           "  22     --start N --and-mask M --or-mask M\n"
           "  23     --read-start N --words N --start N --values V,...\n"
           "  7      leer el estado de excepción;  17  el id del servidor\n"
           "  8      diagnóstico 0 (devolver los datos) --data-hex \"12 34\"\n"
           "  43     identificación del dispositivo --object basic|regular|\n"
           "         extended|N, pedida hasta que la unidad dice que no hay más\n"
           "--value(s) son números en --registers FORMATO:ORDEN (u16 por omisión;\n"
           "s16, hex, u32, s32, f32 de dos palabras cada uno).\n"
           "Las formas del panel siguen: 16 con --words N y los bytes de --data\n"
           "separados por ';' (el nº de bytes, el doble de --words), y 5, que fuerza\n"
           "la bobina cuyo número es --data (solo 0..99).\n"
           "--raw \"01 03 00 00 00 0A\" envía cualquier trama, con su CRC añadida\n"
           "(--crc add, lo predeterminado) o tal como se dio (--crc keep).\n"
           "\n"
           "Los textos se toman como los tendrían las casillas del panel: los números\n"
           "pueden llevar signo y blancos alrededor, los caracteres deben tener un\n"
           "código de 8 bits (Latin-1), y de 7 bits (0..127) en ISO 1745, cuya línea\n"
           "lleva 7 bits de datos.\n";
}

template <std::size_t... I>
constexpr std::array<OptionRow<RequestArgs>, sizeof...(I) + 3> rowsOf(std::index_sequence<I...>,
                                                                      std::string_view forms) {
    return {{{{"", "", "La petición: su protocolo (korvel, iso1745 o modbus) y sus opciones:\n"},
              nullptr},
             {kOptions[I].text, takeField<I>}...,
             {{"--any-address", "",
               "Modbus: admite las direcciones 248..255, que la norma reserva\n"
               "(también en --scan)\n"},
              takeAnyAddress,
              kScanReads},
             {{"", "", forms}, nullptr}}};
}

RequestArgsProblem usage(std::string message) {
    return {true, std::move(message)};
}
RequestArgsProblem refused(std::string message, std::string_view option = {}) {
    return {false, option.empty() ? std::move(message) : namedMessage(std::move(message), option)};
}

}  // namespace

std::span<const OptionRow<RequestArgs>> requestArgOptions() {
    static const std::string forms = formsHelp();
    static const auto rows = rowsOf(std::make_index_sequence<kOptions.size()>(), forms);
    return rows;
}

bool anyRequestField(const RequestArgs &args) {
    return args.protocol || args.anyAddress ||
           std::any_of(kOptions.begin(), kOptions.end(),
                       [&](const Option &option) { return args.*option.field; });
}

std::string protocolName(Protocol protocol) {
    return std::string(kProtocolKeys.at(static_cast<std::size_t>(protocol)));
}

std::string protocolWords() {
    std::string words;
    for (const std::string_view key : kProtocolKeys)
        words += (words.empty() ? "" : " ") + std::string(key);
    return words;
}

Result<int, std::string> takeRequestArg(RequestArgs &args, int argc, char **argv, int i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
        if (args.protocol)
            return 0;
        for (std::size_t i = 0; i < kProtocolKeys.size(); ++i) {
            if (word == kProtocolKeys[i]) {
                args.protocol = static_cast<Protocol>(i);
                return 1;
            }
        }
        const std::vector<std::string> protocols(kProtocolKeys.begin(), kProtocolKeys.end());
        return "protocolo desconocido '" + safeText(word) +
               "': se admite korvel, iso1745 o modbus" + suggestion(word, protocols);
    }
    return takeOption(requestArgOptions(), args, argc, argv, i);
}

Result<RequestChoice, RequestArgsProblem> requestFrom(const RequestArgs &args,
                                                      std::optional<Protocol> protocolDefault,
                                                      std::optional<int> addressDefault,
                                                      std::optional<RegisterView> view) {
    const std::optional<Protocol> protocol = args.protocol ? args.protocol : protocolDefault;
    if (!protocol)
        return usage("falta el protocolo: korvel, iso1745 o modbus");
    if (!args.address && !addressDefault && !args.raw)
        return usage("falta --address");
    const bool isModbus = *protocol == Protocol::Modbus;
    for (const Option &option : kOptions) {
        const bool applies = option.text.name == "--address" || option.forModbus == isModbus;
        if (args.*option.field && !applies)
            return usage(std::string(option.text.name) + " no vale para " +
                         protocolName(*protocol));
    }

    if (view && !isModbus)
        return usage("--registers no vale para " + protocolName(*protocol) +
                     ": el protocolo no tiene registros");

    RequestChoice choice{*protocol, {}, {}};
    RequestInputs &inputs = choice.inputs;
    if (isModbus && !isPanelModbusForm(args)) {
        auto frame = modbusFrameFrom(args, addressDefault, view);
        if (!frame)
            return frame.error();
        choice.frame = std::move(frame).value();
        // The unit it goes to, as records and InfluxDB lines name it.
        if (!choice.frame.empty())
            inputs.addressNumber = choice.frame[0];
        return choice;
    }
    if (args.anyAddress)
        return usage("--any-address es para Modbus fuera de las formas del panel");
    if (isModbus) {
        if (args.address) {
            const auto address = parseDecimal(*args.address);
            if (!address) {
                return refused("La dirección \"" + *args.address +
                                   "\" no es un número entero: debe estar entre 0 y 99.",
                               "--address");
            }
            inputs.addressNumber = static_cast<int>(*address);
        } else {
            inputs.addressNumber = *addressDefault;
        }
        const auto code = parseDecimal(*args.function);
        if (code == 5) {
            // The panel's form forces the coil its data names; a start
            // beside it would be dropped without a word.
            if (args.start && !panelFormReads(5, "start"))
                return refused(
                    "--start no va con --data en la función 5: --data es la bobina "
                    "(0 a 99); para otra, --start N --value on u off");
            const auto coil = parseDecimal(args.data.value_or(""));
            if (!coil || *coil < 0 || *coil > kMaxPanelCoil)
                return refused("--data \"" + args.data.value_or("") +
                               "\" no es válido en la función 5: es la bobina, de 0 a 99; para "
                               "otra, --start N --value on u off.");
        }
        if (auto unread = panelFormUnread(args, view.has_value()))
            return *unread;
        // The panel counts up to 127 words; one frame carries 123.
        const auto words = code == 16 ? parseDecimal(args.words.value_or("")) : std::nullopt;
        // Nor is a write of no register a request a unit can carry out.
        if (const ModbusFunctionInfo *info = findModbusFunction(16);
            words && info && (*words < 1 || *words > info->maxQuantity))
            return refused("--words " + std::to_string(*words) +
                           " no es válido en la función 16: una trama lleva de 1 a " +
                           std::to_string(info->maxQuantity) + " registros.");
        inputs.functionIndex =
            panelFunctionIndex(static_cast<std::uint8_t>(code.value_or(0))).value_or(-1);
        inputs.instructionText = args.start.value_or("");
        inputs.wordCountText = args.words.value_or("");
        inputs.dataText = args.data.value_or("");
    } else {
        inputs.addressText = args.address ? *args.address : addressText(*addressDefault);
        inputs.instructionText = args.instruction.value_or("");
        // What the panel's one-line box cannot hold: a second frame.
        if (const auto bad =
                framingCharIn(static_cast<std::uint8_t>(*protocol), inputs.instructionText))
            return refused("La instrucción tiene " + bad->name + " en la posición " +
                               std::to_string(bad->offset + 1) +
                               ", que en la línea cierra o abre una trama y haría de ella dos: "
                               "quítelo.",
                           "--instruction");
    }
    auto frame = BuildRequest(static_cast<std::uint8_t>(*protocol), inputs);
    if (!frame)
        return refused(keyedMessage(frame.error(), "--"));
    choice.frame = std::move(frame).value();
    return choice;
}

}  // namespace marvalo

#include "tools/request_args.h"

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

struct Option {
    const char *name;
    std::optional<std::string> RequestArgs::*field;
    bool forModbus;  // else for the text protocols; --address is for both
};
constexpr std::array<Option, 16> kOptions{{
    {"--address", &RequestArgs::address, true},
    {"--instruction", &RequestArgs::instruction, false},
    {"--function", &RequestArgs::function, true},
    {"--start", &RequestArgs::start, true},
    {"--words", &RequestArgs::words, true},
    {"--data", &RequestArgs::data, true},
    {"--bits", &RequestArgs::bits, true},
    {"--value", &RequestArgs::value, true},
    {"--values", &RequestArgs::values, true},
    {"--and-mask", &RequestArgs::andMask, true},
    {"--or-mask", &RequestArgs::orMask, true},
    {"--read-start", &RequestArgs::readStart, true},
    {"--data-hex", &RequestArgs::dataHex, true},
    {"--object", &RequestArgs::object, true},
    {"--raw", &RequestArgs::raw, true},
    {"--crc", &RequestArgs::crc, true},
}};

RequestArgsProblem usage(std::string message) {
    return {true, std::move(message)};
}
RequestArgsProblem refused(std::string message) {
    return {false, std::move(message)};
}

}  // namespace

const char *const kRequestArgsHelp =
    "  korvel, iso1745     --address is the two-digit text of the address list\n"
    "                      (00..99); --instruction the text to send (may be empty).\n"
    "  modbus              --address is the unit 1..247 (0: a broadcast write,\n"
    "                      which nobody answers; 248..255 with --any-address);\n"
    "                      --function the function code, with what it carries:\n"
    "                        1, 2   --start N --bits N (1..2000)   read coils, inputs\n"
    "                        3, 4   --start N --words N (1..125)   read registers\n"
    "                        5      --start N --value on|off       write a coil\n"
    "                        6      --start N --value V            write a register\n"
    "                        15     --start N --values 1,0,1,...   write coils (1..1968)\n"
    "                        16     --start N --values V,...       write registers\n"
    "                                                              (1..123)\n"
    "                        22     --start N --and-mask M --or-mask M\n"
    "                        23     --read-start N --words N --start N --values V,...\n"
    "                        7      read exception status;  17  report server id\n"
    "                        8      diagnostics 0 (return query data) --data-hex \"12 34\"\n"
    "                        43     device identification --object basic|regular|\n"
    "                               extended|N, fetched until the unit says no more\n"
    "                      --value(s) are numbers in --registers FORMAT:ORDER (u16\n"
    "                      default; s16, hex, u32, s32, f32 two words each).\n"
    "                      The panel's forms stay: 16 with --words N and the\n"
    "                      ';'-separated bytes of --data (byte count twice --words),\n"
    "                      5 forcing on the coil whose number is --data (0..99 only).\n"
    "                      --raw \"01 03 00 00 00 0A\" sends any frame, its CRC added\n"
    "                      (--crc add, the default) or as given (--crc keep).\n"
    "\n"
    "Texts are taken as the panel's boxes would hold them: numbers may carry a\n"
    "sign and blanks around them, characters must have an 8-bit (Latin-1) code,\n"
    "and a 7-bit one (0..127) for ISO 1745, whose line carries 7 data bits.\n";

std::string protocolName(Protocol protocol) {
    return std::string(kProtocolKeys.at(static_cast<std::size_t>(protocol)));
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
    if (word == "--any-address") {
        args.anyAddress = true;
        return 1;
    }
    for (const Option &option : kOptions) {
        if (word != option.name)
            continue;
        if (i + 1 >= argc)
            return word + " necesita un valor";
        args.*option.field = argv[i + 1];
        return 2;
    }
    return 0;
}

Result<RequestChoice, RequestArgsProblem> requestFrom(const RequestArgs &args,
                                                      std::optional<Protocol> protocolDefault,
                                                      std::optional<int> addressDefault,
                                                      RegisterView view) {
    const std::optional<Protocol> protocol = args.protocol ? args.protocol : protocolDefault;
    if (!protocol)
        return usage("falta el protocolo: korvel, iso1745 o modbus");
    if (!args.address && !addressDefault && !args.raw)
        return usage("falta --address");
    const bool isModbus = *protocol == Protocol::Modbus;
    for (const Option &option : kOptions) {
        const bool applies =
            std::strcmp(option.name, "--address") == 0 || option.forModbus == isModbus;
        if (args.*option.field && !applies)
            return usage(std::string(option.name) + " no vale para " + protocolName(*protocol));
    }

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
                               "\" no es un número entero: debe estar entre 0 y 99.");
            }
            inputs.addressNumber = static_cast<int>(*address);
        } else {
            inputs.addressNumber = *addressDefault;
        }
        const auto code = parseDecimal(*args.function);
        if (code == 5) {
            // The panel's form forces the coil its data names; a start
            // beside it would be dropped without a word.
            if (args.start)
                return refused(
                    "--start no va con --data en la función 5: --data es la bobina "
                    "(0 a 99); para otra, --start N --value on u off");
            const auto coil = parseDecimal(args.data.value_or(""));
            if (!coil || *coil < 0 || *coil > kMaxPanelCoil)
                return refused("--data \"" + args.data.value_or("") +
                               "\" no es válido en la función 5: es la bobina, de 0 a 99; para "
                               "otra, --start N --value on u off.");
        }
        // The panel counts up to 127 words; one frame carries 123.
        const auto words = code == 16 ? parseDecimal(args.words.value_or("")) : std::nullopt;
        if (const ModbusFunctionInfo *info = findModbusFunction(16);
            words && info && *words > info->maxQuantity)
            return refused("--words " + std::to_string(*words) +
                           " no es válido en la función 16: una trama lleva de 0 a " +
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
                           "quítelo.");
    }
    auto frame = BuildRequest(static_cast<std::uint8_t>(*protocol), inputs);
    if (!frame)
        return refused(keyedMessage(frame.error(), "--"));
    choice.frame = std::move(frame).value();
    return choice;
}

}  // namespace marvalo

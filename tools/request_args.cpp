#include "tools/request_args.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/suggestion.h"

namespace marvalo {
namespace {

struct Option {
    const char *name;
    std::optional<std::string> RequestArgs::*field;
    bool forModbus;  // else for the text protocols; --address is for both
};
constexpr std::array<Option, 6> kOptions{{
    {"--address", &RequestArgs::address, true},
    {"--instruction", &RequestArgs::instruction, false},
    {"--function", &RequestArgs::function, true},
    {"--start", &RequestArgs::start, true},
    {"--words", &RequestArgs::words, true},
    {"--data", &RequestArgs::data, true},
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
    "  modbus              --address is the device address 0..99; --function the\n"
    "                      function code: 3 and 4 read --words words from --start,\n"
    "                      16 writes the ';'-separated bytes of --data from --start\n"
    "                      with a byte count of twice --words, 5 forces on the coil\n"
    "                      whose number is --data.\n"
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
                                                      std::optional<int> addressDefault) {
    const std::optional<Protocol> protocol = args.protocol ? args.protocol : protocolDefault;
    if (!protocol)
        return usage("falta el protocolo: korvel, iso1745 o modbus");
    if (!args.address && !addressDefault)
        return usage("falta --address");
    const bool isModbus = *protocol == Protocol::Modbus;
    for (const Option &option : kOptions) {
        const bool applies =
            std::strcmp(option.name, "--address") == 0 || option.forModbus == isModbus;
        if (args.*option.field && !applies)
            return usage(std::string(option.name) + " no vale para " + protocolName(*protocol));
    }

    RequestChoice choice{*protocol, {}};
    RequestInputs &inputs = choice.inputs;
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
        if (!args.function)
            return usage("modbus necesita --function");
        const auto code = parseDecimal(*args.function);
        inputs.functionIndex = -1;
        for (std::size_t i = 0; i < kModbusFunctions.size(); ++i) {
            if (code && *code == kModbusFunctions[i].code)
                inputs.functionIndex = static_cast<int>(i);
        }
        if (inputs.functionIndex < 0) {
            return refused("La función Modbus \"" + *args.function +
                           "\" no está en la lista: use 3, 4, 16 o 5.");
        }
        inputs.instructionText = args.start.value_or("");
        inputs.wordCountText = args.words.value_or("");
        inputs.dataText = args.data.value_or("");
    } else {
        inputs.addressText = args.address ? *args.address : addressText(*addressDefault);
        inputs.instructionText = args.instruction.value_or("");
    }
    return choice;
}

}  // namespace marvalo

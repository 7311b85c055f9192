// marvalo-frame: prints the request the panel would send, check code
// included, for pasting into a terminal or a script.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "core/number_text.h"
#include "core/panel_state.h"
#include "core/request.h"

namespace {

constexpr int kExitRejected = 2;
constexpr int kExitUsage = 64;  // EX_USAGE

constexpr const char *kUsage =
    "usage: marvalo-frame korvel  --address NN [--instruction TEXT]\n"
    "       marvalo-frame iso1745 --address NN [--instruction TEXT]\n"
    "       marvalo-frame modbus  --address N --function 3|4|16|5\n"
    "                             [--start N] [--words N] [--data LIST]\n";

constexpr const char *kHelp =
    "Prints the request frame the Marvalo panel would send, as upper-case hex\n"
    "bytes separated by single spaces, check code included.\n"
    "\n"
    "  korvel, iso1745     --address is the two-digit text of the address list\n"
    "                      (00..99); --instruction the text to send (may be empty).\n"
    "  modbus              --address is the device address 0..99; --function the\n"
    "                      function code: 3 and 4 read --words words from --start,\n"
    "                      16 writes the ';'-separated bytes of --data from --start\n"
    "                      with a byte count of twice --words, 5 forces on the coil\n"
    "                      whose number is --data.\n"
    "\n"
    "Texts are taken as the panel's boxes would hold them: numbers may carry a\n"
    "sign and blanks around them, characters must have an 8-bit (Latin-1) code.\n"
    "\n"
    "Exit status: 0 frame printed; 2 an input was rejected (the reason on\n"
    "stderr, nothing on stdout); 64 the command line is wrong.\n";

int usage(const std::string &problem) {
    std::cerr << "marvalo-frame: " << problem << "\n" << kUsage;
    return kExitUsage;
}

int rejected(const std::string &message) {
    std::cerr << message << "\n";
    return kExitRejected;
}

}  // namespace

int main(int argc, char **argv) {
    using namespace marvalo;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage << "\n" << kHelp;
        return 0;
    }
    if (argc < 2) {
        return usage("name a protocol");
    }
    const std::map<std::string, Protocol> protocols{
        {"korvel", Protocol::Korvel}, {"iso1745", Protocol::Iso1745}, {"modbus", Protocol::Modbus}};
    const auto protocol = protocols.find(argv[1]);
    if (protocol == protocols.end()) {
        return usage(std::string("unknown protocol '") + argv[1] + "'");
    }

    std::map<std::string, std::optional<std::string>> options{
        {"--address", {}}, {"--instruction", {}}, {"--function", {}},
        {"--start", {}},   {"--words", {}},       {"--data", {}}};
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help") {
            std::cout << kUsage << "\n" << kHelp;
            return 0;
        }
        auto option = options.find(name);
        if (option == options.end()) {
            return usage("unknown option '" + name + "'");
        }
        if (i + 1 >= argc) {
            return usage(name + " needs a value");
        }
        option->second = argv[++i];
    }
    if (!options["--address"]) {
        return usage("--address is required");
    }

    const bool isModbus = protocol->second == Protocol::Modbus;
    const std::map<std::string, bool> allowed{{"--instruction", !isModbus},
                                              {"--function", isModbus},
                                              {"--start", isModbus},
                                              {"--words", isModbus},
                                              {"--data", isModbus}};
    for (const auto &[name, ok] : allowed) {
        if (options[name] && !ok) {
            return usage(name + " does not apply to " + argv[1]);
        }
    }

    RequestInputs inputs;
    if (isModbus) {
        const auto address = parseDecimal(*options["--address"]);
        if (!address) {
            return rejected("La dirección \"" + *options["--address"] +
                            "\" no es un número entero: debe estar entre 0 y 99.");
        }
        inputs.addressNumber = static_cast<int>(*address);
        if (!options["--function"]) {
            return usage("--function is required for modbus");
        }
        const auto code = parseDecimal(*options["--function"]);
        inputs.functionIndex = -1;
        for (std::size_t i = 0; i < kModbusFunctions.size(); ++i) {
            if (code && *code == kModbusFunctions[i].code) {
                inputs.functionIndex = static_cast<int>(i);
            }
        }
        if (inputs.functionIndex < 0) {
            return rejected("La función Modbus \"" + *options["--function"] +
                            "\" no está en la lista: use 3, 4, 16 o 5.");
        }
        inputs.instructionText = options["--start"].value_or("");
        inputs.wordCountText = options["--words"].value_or("");
        inputs.dataText = options["--data"].value_or("");
    } else {
        inputs.addressText = *options["--address"];
        inputs.instructionText = options["--instruction"].value_or("");
    }

    auto frame = BuildRequest(static_cast<std::uint8_t>(protocol->second), inputs);
    if (!frame) {
        return rejected(frame.error().message);
    }
    std::cout << toHex(frame.value()) << "\n";
    return std::cout.flush() ? 0 : 1;
}

// marvalo-frame: prints the request the panel would send, check code
// included, for pasting into a terminal or a script.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "core/frames/request.h"
#include "core/text/byte_text.h"
#include "core/text/suggestion.h"
#include "core/version.h"
#include "tools/request_args.h"

namespace {

constexpr int kExitRejected = 2;
constexpr int kExitUsage = 64;  // EX_USAGE

constexpr const char *kUsage =
    "Usage: marvalo-frame korvel  --address NN [--instruction TEXT]\n"
    "   or: marvalo-frame iso1745 --address NN [--instruction TEXT]\n"
    "   or: marvalo-frame modbus  --address N --function 3|4|16|5 [--start N] [--words N] "
    "[--data LIST]\n";

constexpr const char *kHelp =
    "Prints the request frame the Marvalo panel would send, as upper-case hex\n"
    "bytes separated by single spaces, check code included.\n"
    "\n";

constexpr const char *kExitHelp =
    "\n"
    "Exit status: 0 frame printed; 2 an input was rejected (the reason on\n"
    "stderr, nothing on stdout); 64 the command line is wrong.\n";

void printHelp() {
    std::cout << kUsage << "\n" << kHelp << marvalo::kRequestArgsHelp << kExitHelp;
}

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
    RequestArgs args;
    for (int i = 1; i < argc;) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            printHelp();
            return 0;
        }
        if (word == "--version") {
            std::cout << "marvalo-frame " << kVersion << "\n";
            return 0;
        }
        auto taken = takeRequestArg(args, argc, argv, i);
        if (!taken)
            return usage(taken.error());
        if (taken.value() == 0)
            return usage(
                "opción desconocida '" + safeText(word) + "'" +
                suggestion(word, optionNames(std::string(kUsage) + kHelp + kRequestArgsHelp)));
        i += taken.value();
    }
    if (argc < 2) {
        return usage("falta el protocolo: korvel, iso1745 o modbus");
    }
    auto choice = requestFrom(args);
    if (!choice) {
        return choice.error().usage ? usage(choice.error().message)
                                    : rejected(choice.error().message);
    }
    auto frame =
        BuildRequest(static_cast<std::uint8_t>(choice.value().protocol), choice.value().inputs);
    if (!frame) {
        return rejected(keyedMessage(frame.error(), "--"));
    }
    std::cout << toHex(frame.value()) << "\n";
    return std::cout.flush() ? 0 : 1;
}

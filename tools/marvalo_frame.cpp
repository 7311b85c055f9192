// marvalo-frame: prints the request the panel would send, check code
// included, for pasting into a terminal or a script.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "core/frames/frame_anatomy.h"
#include "core/frames/request.h"
#include "core/verdicts/verdict.h"
#include "core/version.h"
#include "tools/request_args.h"

namespace {

constexpr int kExitRejected = 2;
constexpr int kExitBadReply = 3;
constexpr int kExitUsage = 64;  // EX_USAGE

constexpr const char *kUsage =
    "Usage: marvalo-frame korvel  --address NN [--instruction TEXT]\n"
    "   or: marvalo-frame iso1745 --address NN [--instruction TEXT]\n"
    "   or: marvalo-frame modbus  --address N --function CODE [its options] [--registers FORMAT]\n"
    "   or: marvalo-frame modbus  --raw HEX [--crc add|keep]\n"
    "   and: [--fields] [--reply HEX]  take the request (and a reply to it) apart\n";

constexpr const char *kHelp =
    "Prints the request frame the Marvalo panel would send, as upper-case hex\n"
    "bytes separated by single spaces, check code included.\n"
    "--fields then takes it apart, a field a line (offset, length, name, what it\n"
    "says), as the monitor's frame pane does; --reply HEX does the same with a\n"
    "reply to it (registers in --registers FORMAT:ORDER) and ends with the\n"
    "verdict the monitor would give it.\n"
    "\n";

constexpr const char *kExitHelp =
    "\n"
    "Exit status: 0 frame printed (and the reply good); 3 the reply is bad;\n"
    "2 an input was rejected (the reason on\n"
    "stderr, nothing on stdout); 64 the command line is wrong.\n";

void printHelp() {
    std::cout << kUsage << "\n" << kHelp << marvalo::kRequestArgsHelp << kExitHelp;
}

int usage(const std::string &problem) {
    std::cerr << "marvalo-frame: " << problem << "\n" << kUsage;
    return kExitUsage;
}

// "  0  1  Dirección  17", a problem marked with "!".
void printFields(const std::vector<marvalo::FrameField> &fields) {
    for (const marvalo::FrameField &field : fields)
        std::cout << "  " << field.offset << "  " << field.length << "  " << field.name << "  "
                  << field.value << (field.problem ? "  !" : "") << "\n";
}

int rejected(const std::string &message) {
    std::cerr << message << "\n";
    return kExitRejected;
}

}  // namespace

int main(int argc, char **argv) {
    using namespace marvalo;
    RequestArgs args;
    RegisterView view;
    bool fields = false;
    std::optional<Bytes> reply;
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
        if (word == "--fields") {
            fields = true;
            ++i;
            continue;
        }
        if (word == "--reply") {
            const auto bytes = i + 1 < argc ? bytesFromHexText(argv[i + 1]) : std::nullopt;
            if (!bytes)
                return usage("--reply necesita la respuesta en bytes hex (\"11 03 02 00 2A ...\")");
            reply = *bytes;
            i += 2;
            continue;
        }
        if (word == "--registers") {
            auto parsed = i + 1 < argc ? parseRegisterView(argv[i + 1])
                                       : Result<RegisterView, std::string>("falta FORMAT[:ORDER]");
            if (!parsed)
                return usage("--registers: " + parsed.error());
            view = parsed.value();
            i += 2;
            continue;
        }
        auto taken = takeRequestArg(args, argc, argv, i);
        if (!taken)
            return usage(taken.error());
        if (taken.value() == 0)
            return usage("unknown option '" + word + "'");
        i += taken.value();
    }
    if (argc < 2) {
        return usage("name a protocol");
    }
    auto choice = requestFrom(args, {}, {}, view);
    if (!choice) {
        return choice.error().usage ? usage(choice.error().message)
                                    : rejected(choice.error().message);
    }
    const Bytes &frame = choice.value().frame;
    const auto protocol = static_cast<std::uint8_t>(choice.value().protocol);
    std::cout << toHex(frame) << "\n";
    if (fields || reply)
        printFields(requestAnatomy(protocol, frame));
    if (reply) {
        std::cout << toHex(*reply) << "\n";
        printFields(replyAnatomy(protocol, frame, *reply, view));
        const Verdict verdict = judgeReply(protocol, frame, *reply);
        std::cout << verdictKey(verdict.kind) << ": " << verdict.text << "\n";
        if (verdict.kind != VerdictKind::Ok)
            return std::cout.flush() ? kExitBadReply : 1;
    }
    return std::cout.flush() ? 0 : 1;
}

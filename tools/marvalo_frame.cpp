// marvalo-frame: prints the request the panel would send, check code
// included, for pasting into a terminal or a script.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "core/frames/frame_anatomy.h"
#include "core/frames/request.h"
#include "core/text/byte_text.h"
#include "core/text/option_table.h"
#include "core/verdicts/verdict.h"
#include "tools/output_end.h"
#include "tools/request_args.h"

namespace {

using namespace marvalo;

constexpr int kExitRejected = 2;
constexpr int kExitBadReply = 3;
constexpr int kExitUsage = 64;  // EX_USAGE

constexpr const char *kUsage =
    "Modo de empleo: marvalo-frame korvel  --address NN [--instruction TEXTO]\n"
    "   o: marvalo-frame iso1745 --address NN [--instruction TEXTO]\n"
    "   o: marvalo-frame modbus  --address N --function CÓDIGO [sus opciones] "
    "[--registers FORMATO]\n"
    "   o: marvalo-frame modbus  --raw HEX [--crc add|keep]\n"
    "   o: marvalo-frame korvel|iso1745|modbus ... [--fields] [--reply HEX]\n";

struct FrameOptions {
    RequestArgs request;
    std::optional<RegisterView> view;  // --registers, when given
    bool fields = false;
    std::optional<Bytes> reply;
};
using Problem = std::optional<std::string>;

// The formats and orders are the parser's own.
const std::string kRegistersHelp =
    "cómo se leen los registros de la respuesta: " + std::string(registerFormatNames()) +
    "; ORDEN " + std::string(wordOrderNames()) + "\n";

const OptionRow<FrameOptions> kOptions[] = {
    {{"", "",
      "Escribe la trama de petición que enviaría el panel Marvalo, en bytes hex\n"
      "en mayúsculas separados por un espacio, código de control incluido.\n"
      "\n"},
     nullptr},
    {{"--fields", "",
      "luego la desmonta, un campo por línea (posición, longitud, nombre,\n"
      "lo que dice), como el panel de tramas del monitor\n"},
     [](FrameOptions &options, std::string_view, OptionValues) -> Problem {
         options.fields = true;
         return std::nullopt;
     }},
    {{"--reply", "HEX",
      "hace lo mismo con una respuesta a ella y acaba con el veredicto\n"
      "que le daría el monitor\n"},
     [](FrameOptions &options, std::string_view name, OptionValues values) -> Problem {
         const auto bytes = values[0] ? bytesFromHexText(values[0]) : std::nullopt;
         if (!bytes)
             return std::string(name) +
                    " necesita la respuesta en bytes hex (\"11 03 02 00 2A ...\")";
         options.reply = *bytes;
         return std::nullopt;
     }},
    {{"--registers", "FORMATO[:ORDEN]", kRegistersHelp, registerViewChoices(), Choices::Offered},
     [](FrameOptions &options, std::string_view name, OptionValues values) -> Problem {
         auto parsed = values[0] ? parseRegisterView(values[0])
                                 : Result<RegisterView, std::string>("falta FORMATO[:ORDEN]");
         if (!parsed)
             return std::string(name) + ": " + parsed.error();
         options.view = parsed.value();
         return std::nullopt;
     }},
    {{"", "", "\n"}, nullptr},
};

constexpr const char *kExitHelp =
    "\n"
    "Estado de salida: 0 trama escrita (y la respuesta buena); 3 la respuesta\n"
    "es mala; 2 se rechazó una entrada (el motivo en stderr, nada en stdout);\n"
    "4 la salida estándar no admitió lo escrito (> /dev/full); 64 la línea de\n"
    "órdenes está mal.\n";

// Every row of --help, in its order: what the completion offers too.
const std::vector<OptionText> &helpRows() {
    static const std::vector<OptionText> rows = [] {
        std::vector<OptionText> texts;
        appendTexts<FrameOptions>(texts, kOptions);
        appendTexts(texts, requestArgOptions());
        texts.push_back({"", "", "\nY:\n"});
        closeHelp(texts, kExitHelp);
        return texts;
    }();
    return rows;
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

int run(int argc, char **argv) {
    FrameOptions options;
    OptionsGiven given;
    for (int i = 1; i < argc;) {
        const std::string word = argv[i];
        if (const auto said =
                commonOptionOutput(word, "marvalo-frame", kUsage, helpRows(), protocolWords())) {
            std::cout << *said;
            return 0;
        }
        if (auto twice = given.add(word, helpRows()))
            return usage(*twice);
        auto taken = takeOption<FrameOptions>(kOptions, options, argc, argv, i);
        if (taken && taken.value() == 0)
            taken = takeRequestArg(options.request, argc, argv, i);
        if (!taken)
            return usage(taken.error());
        if (taken.value() == 0)
            return usage(unknownOption(word, helpRows()));
        i += taken.value();
    }
    if (argc < 2) {
        return usage("falta el protocolo: korvel, iso1745 o modbus");
    }
    auto choice = requestFrom(options.request, {}, {}, options.view);
    if (!choice) {
        return choice.error().usage ? usage(choice.error().message)
                                    : rejected(choice.error().message);
    }
    const Bytes &frame = choice.value().frame;
    const auto protocol = static_cast<std::uint8_t>(choice.value().protocol);
    // Built as the panel builds it, and said, as marvalo-send says it.
    if (auto mismatchedData = mismatchedWriteData(frame))
        std::cerr << "marvalo-frame: aviso: " << *mismatchedData << "\n";
    std::cout << toHex(frame) << "\n";
    if (options.fields || options.reply)
        printFields(requestAnatomy(protocol, frame));
    if (const auto &reply = options.reply) {
        std::cout << toHex(*reply) << "\n";
        printFields(replyAnatomy(protocol, frame, *reply, options.view.value_or(RegisterView{})));
        const Verdict verdict = judgeReply(protocol, frame, *reply);
        std::cout << verdictKey(verdict.kind) << ": " << verdict.text << "\n";
        if (verdict.kind != VerdictKind::Ok)
            return kExitBadReply;
    }
    return 0;
}

int main(int argc, char **argv) {
    constexpr int kExitOutputLost = 4;
    return marvalo::endOfOutput("marvalo-frame", run(argc, argv), kExitOutputLost);
}

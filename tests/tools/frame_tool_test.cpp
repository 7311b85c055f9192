#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "tests/run_program.h"

namespace marvalo {
namespace {

using testing::runProgram;

const std::string kTool = MARVALO_FRAME_PATH;

TEST(FrameTool, PrintsEveryWorkedFrame) {
    const struct {
        std::vector<std::string> args;
        const char *expected;
    } rows[] = {
        {{"korvel", "--address", "01", "--instruction", "D"}, "2A 30 31 44 0D\n"},
        {{"korvel", "--address", "07"}, "2A 30 37 0D\n"},
        {{"iso1745", "--address", "12", "--instruction", "0D"}, "01 31 32 02 30 44 03 77\n"},
        {{"iso1745", "--address", "01", "--instruction", "AB"}, "01 30 31 02 41 42 03 20\n"},
        {{"modbus", "--address", "1", "--function", "3", "--start", "0", "--words", "2"},
         "01 03 00 00 00 02 C4 0B\n"},
        {{"modbus", "--address", "1", "--function", "3", "--start", "511", "--words", "1"},
         "01 03 01 FF 00 01 B5 C6\n"},
        {{"modbus", "--address", "1", "--function", "4", "--start", "0", "--words", "2"},
         "01 04 00 00 00 02 71 CB\n"},
        {{"modbus", "--address", "1", "--function", "16", "--start", "10", "--words", "2", "--data",
          "0;100;1;44"},
         "01 10 00 0A 00 02 04 00 64 01 2C 32 42\n"},
        {{"modbus", "--address", "1", "--function", "16", "--start", "10", "--words", "2"},
         "01 10 00 0A 00 02 04 0A 2B\n"},
        {{"modbus", "--address", "1", "--function", "5", "--data", "7"},
         "01 05 00 07 FF 00 3D FB\n"},
        {{"modbus", "--address", "17", "--function", "5", "--data", "0"},
         "11 05 00 00 FF 00 8E AA\n"},
        // The table's forms of the panel's two writes give the panel's bytes.
        {{"modbus", "--address", "1", "--function", "16", "--start", "10", "--values", "100,300"},
         "01 10 00 0A 00 02 04 00 64 01 2C 32 42\n"},
        {{"modbus", "--address", "1", "--function", "5", "--start", "7", "--value", "ON"},
         "01 05 00 07 FF 00 3D FB\n"},
        // The application protocol's own examples (its CRC from the serial line guide).
        {{"modbus", "--address", "17", "--function", "6", "--start", "1", "--value", "+3"},
         "11 06 00 01 00 03 9A 9B\n"},
        {{"modbus", "--address", "17", "--function", "15", "--start", "19", "--values",
          "1,0,1,1,0,0,1,1,1,0"},
         "11 0F 00 13 00 0A 02 CD 01 BF 0B\n"},
        {{"modbus", "--raw", "01 07 41 E2", "--crc", "keep"}, "01 07 41 E2\n"},
        {{"modbus", "--raw", "01 07"}, "01 07 41 E2\n"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, 0) << row.args[0] << ": " << run.err;
        EXPECT_EQ(run.out, row.expected) << row.args[0];
        // A write whose data does not fill its byte count is built, and said.
        EXPECT_EQ(run.err.empty(), run.out != "01 10 00 0A 00 02 04 0A 2B\n") << run.err;
    }
}

TEST(FrameTool, RejectedInputsPrintTheReasonAndNoFrame) {
    const std::vector<std::vector<std::string>> rows{
        {"modbus", "--address", "1", "--function", "3", "--start", "65536", "--words", "1"},
        {"modbus", "--address", "1", "--function", "16", "--start", "0", "--words", "128"},
        {"modbus", "--address", "248", "--function", "3", "--start", "0", "--words", "1"},
        {"modbus", "--address", "0", "--function", "3", "--start", "0", "--words", "1"},
        {"modbus", "--address", "1", "--function", "6", "--start", "0", "--value", "65536"},
        {"modbus", "--address", "1", "--function", "1", "--start", "0", "--bits", "2001"},
        {"modbus", "--address", "1", "--function", "99"},
        {"modbus", "--address", "1", "--function", "5", "--start", "200", "--data", "1"},
        {"modbus", "--address", "1", "--function", "5", "--data", "100"},
        {"modbus", "--raw", "00 03 00 00 00 01"},
        {"modbus", "--address", "x", "--function", "3"},
        {"modbus", "--address", "1", "--function", "6"},
        {"korvel", "--address", "1", "--instruction", "D"},
        {"iso1745", "--address", "01", "--instruction", "€"},
        {"iso1745", "--address", "01", "--instruction", "ÀA"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), row.begin(), row.end());
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, 2) << row[0] << " " << row[2];
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(run.err.empty());
    }
    // A range is named by the option typed, not by the panel's caption.
    std::string values124 = "0";
    while (values124.size() < 247)
        values124 += ",0";
    const std::pair<std::vector<std::string>, const char *> named[] = {
        {{"modbus", "--address", "1", "--function", "3", "--start", "70000", "--words", "1"},
         "--start \"70000\" no es válido"},
        {{"modbus", "--address", "300", "--function", "3"}, "La dirección (--address) \"300\""},
        {{"korvel", "--address", "300"}, "La dirección (--address) \"300\""},
        {{"iso1745", "--address", "300"}, "La dirección (--address) \"300\""},
        {{"modbus", "--address", "1", "--function", "99"}, "La función Modbus (--function) \"99\""},
        {{"modbus", "--address", "1", "--function", "6", "--start", "0", "--value", "70000"},
         "(--value) \"70000\""},
        {{"modbus", "--address", "1", "--function", "15", "--start", "0", "--values", "2"},
         "(--values) \"2\""},
        {{"modbus", "--address", "1", "--function", "43", "--object", "300"}, "(--object) \"300\""},
        {{"korvel", "--address", "01", "--instruction", "A\rB"}, "--instruction: La instrucción"},
        {{"modbus", "--registers", "u16:ABCD"},
         "u16 no lleva orden de palabras; u32, s32 y f32 sí"},
        {{"modbus", "--registers"}, "--registers: falta FORMATO[:ORDEN]"},
        {{"modbus", "--address", "1", "--function", "16", "--start", "0", "--words", "2",
          "--values", "1,2"},
         "la cuenta sale de --values"},
        {{"modbus", "--raw", "01 05 00 00 FF 00", "--registers", "f32"},
         "--registers no vale para --raw de la función 5: se lee en los registros que escriben "
         "las funciones 6, 16 y 23 (--value, --values o --raw), y en los de la respuesta de las "
         "funciones 3, 4, 6 y 23"},
        {{"modbus", "--address", "1", "--function", "16", "--start", "0", "--values", values124},
         "--values da 124 registros; la función 16 escribe de 1 a 123"},
    };
    for (const auto &[args, says] : named) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto run = runProgram(argv);
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
    // A frame stdout did not take is said, never a quiet success.
    const auto full = runProgram({"/bin/sh", "-c",
                                  std::string("exec ") + kTool +
                                      " modbus --address 1 --function 3 --start 0 --words 2 "
                                      "> /dev/full"});
    EXPECT_EQ(full.status, 4);
    EXPECT_NE(full.err.find("la salida estándar no admite más"), std::string::npos) << full.err;
}

TEST(FrameTool, UsageErrorsExit64) {
    const std::vector<std::vector<std::string>> rows{
        {},
        {"ascii"},
        {"korvel"},
        {"korvel", "--address"},
        {"korvel", "--address", "01", "--words", "2"},
        {"modbus", "--address", "1"},
        {"modbus", "--address", "1", "--colour", "red"},
        {"modbus", "--address", "1", "--function", "16", "--start", "0", "--words", "1", "--data",
         "1;2", "--data-hex", "12"},
        {"modbus", "--address", "1", "--function", "7", "--registers", "u32"},
        {"modbus", "--address", "1", "--function", "16", "--start", "0", "--words", "1", "--data",
         "0;5", "--registers", "f32"},
        {"korvel", "--address", "01", "--instruction", "D", "--registers", "u32"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), row.begin(), row.end());
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, 64) << (row.empty() ? "(no arguments)" : row.back());
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Modo de empleo:"), std::string::npos);
    }
    // A close misspelling gets the word meant; an unknown word the choices.
    for (const auto &[word, says] : {std::pair{"--adress", "'; ¿quiso decir --address?"},
                                     {"--dtaa", "'; ¿quiso decir --data?"},
                                     {"korvl", "o modbus; ¿quiso decir korvel?"},
                                     {"dnp3", "'dnp3': se admite korvel, iso1745 o modbus\n"}})
        EXPECT_NE(runProgram({kTool, word, "1"}).err.find(says), std::string::npos) << word;
    const auto help = runProgram({kTool, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Estado de salida"), std::string::npos);
}

// What each program parses is what its --help shows and its completion
// offers, and a near miss of any of them gets it suggested.
TEST(ToolOptions, EachProgramParsesShowsAndCompletesTheSameOptions) {
    for (const std::string program :
         {MARVALO_FRAME_PATH, MARVALO_SEND_PATH, MARVALO_SIM_PATH, MARVALO_PANEL_PATH}) {
        std::set<std::string> shown, completed;
        std::istringstream help(runProgram({program, "--help"}).out);
        for (std::string line; std::getline(help, line);)
            if (line.starts_with("  --"))
                shown.insert(line.substr(2, line.find(' ', 2) - 2));
        const std::string script = runProgram({program, "--bash-completion"}).out;
        const std::string list = "-*) COMPREPLY=($(compgen -W \"";
        const std::size_t at = script.find(list) + list.size();
        ASSERT_GT(at, list.size()) << program;
        std::istringstream words(script.substr(at, script.find('"', at) - at));
        for (std::string word; words >> word;)
            completed.insert(word);
        EXPECT_EQ(shown, completed) << program;
        // Each word completed after an option is one it takes; any other is
        // refused, naming what it takes.
        std::istringstream cases(script);
        for (std::string line; std::getline(cases, line);) {
            const std::size_t from = line.find("--"), to = line.find(") COMPREPLY");
            if (to == std::string::npos || from > to)
                continue;
            const std::string option = line.substr(from, to - from);
            const std::size_t at = line.find('"', to) + 1;
            std::istringstream choices(line.substr(at, line.find('"', at) - at));
            for (std::string choice; choices >> choice;)
                EXPECT_NE(runProgram({program, option, choice, "--zz"}).err.find("'--zz'"),
                          std::string::npos)
                    << option << " " << choice;
            const std::string refused = runProgram({program, option, "zz"}).err;
            EXPECT_NE(refused.find("\"zz\"", refused.find(option)), std::string::npos) << option;
        }
        for (const std::string &option : completed) {
            // What follows it makes the line wrong, so nothing runs.
            const auto run = runProgram({program, option, "1", "2", "--zz"});
            EXPECT_EQ(run.err.find("desconocida '" + option + "'"), std::string::npos) << option;
            const std::string near = "--x" + option.substr(3);
            EXPECT_NE(runProgram({program, near}).err.find("¿quiso decir " + option + "?"),
                      std::string::npos)
                << program << " " << near;
        }
    }
}

// A value completes by its kind: its choices, file names, or nothing after
// a number.
TEST(ToolOptions, EachProgramRefusesAnOptionGivenTwice) {
    // A second value would silently win over the first: refused by name, as
    // marvalo-send refuses it.
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{MARVALO_FRAME_PATH, "korvel", "--address", "01", "--address", "02"}, "--address"},
        {{MARVALO_SIM_PATH, "--address", "1", "--address", "2", "--print-instrument"}, "--address"},
        {{MARVALO_PANEL_PATH, "--icon-size", "8", "--icon-size", "9", "--write-icon", "/dev/null"},
         "--icon-size"},
    };
    for (const auto &[argv, option] : rows) {
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, 64) << argv[0];
        EXPECT_NE(run.err.find(option + " se dio dos veces"), std::string::npos) << run.err;
    }
}

TEST(ToolOptions, EachValueCompletesByItsKind) {
    const std::string examples = MARVALO_SOURCE_DIR "/examples/";
    const struct {
        std::string program;
        std::vector<std::string> words;
        std::string offered;  // empty: nothing
    } rows[] = {
        {MARVALO_SEND_PATH, {"--pcap", examples + "modbus-unit.to"}, examples + "modbus-unit.toml"},
        // bash replaces only what follows the word's last ':'
        {MARVALO_SEND_PATH, {"--registers", "f32:C"}, "CDAB"},
        {MARVALO_SEND_PATH, {"--count", ""}, ""},
        {MARVALO_FRAME_PATH, {"--registers", "s1"}, "s16"},
        {MARVALO_SIM_PATH, {"--judge", examples + "modbus-unit.to"}, examples + "modbus-unit.toml"},
        {MARVALO_PANEL_PATH,
         {"--screenshot", examples + "modbus-unit.to"},
         examples + "modbus-unit.toml"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{"/bin/bash", "-c",
                                      R"(source <("$1" --bash-completion); p=${1##*/}
COMP_LINE="$p ${*:2}"; COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS <<<"${COMP_LINE//:/ : }"
[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=(""); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
"_${p//-/_}" 2>/dev/null; printf '%s\n' "${COMPREPLY[@]}")",
                                      "bash", row.program};
        argv.insert(argv.end(), row.words.begin(), row.words.end());
        const auto run = runProgram(argv);
        EXPECT_EQ(run.out, row.offered.empty() ? "\n" : row.offered + "\n")
            << row.program << " " << row.words[0] << run.err;
    }
}

TEST(FrameTool, FieldsAndAReplyAreTakenApartAndJudged) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<const char *> says;
    } rows[] = {
        // A right 6 is its request again: judged ok, not our own echo.
        {{"--function", "6", "--start", "10", "--value", "1234", "--reply",
          "11 06 00 0A 04 D2 29 C5"},
         0,
         {"  2  2  Registro  10\n", "  4  2  Valor  1234\n", "ok: respuesta correcta (8 bytes)"}},
        {{"--function", "17", "--reply", "11 11 03 4D FF 41 00 00"},
         3,
         {"  4  1  En marcha  sí (FF)\n", "recibido, EE CA esperado  !\n", "bad-check: "}},
        {{"--function", "7", "--reply", "11 07 6D 00 98 49"}, 3, {"extra-bytes: "}},
        {{"--function", "17", "--reply", "11 11 01 4D 94 B8"}, 3, {"wrong-count: "}},
        {{"--function", "17", "--reply", "11 11 02 4D 7F 08 4F"}, 0, {"ni sí ni no (7F)  !\n"}},
        {{"--function", "1", "--start", "0", "--bits", "10", "--fields"},
         0,
         {"  4  2  Nº de bits  10\n"}},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{kTool, "modbus", "--address", "17"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, row.status) << row.args[1] << run.err;
        for (const char *says : row.says)
            EXPECT_NE(run.out.find(says), std::string::npos) << says << "\n" << run.out;
    }
}

}  // namespace
}  // namespace marvalo

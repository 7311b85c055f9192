// The simulator's pure engine: a file's instruments, answered request by
// request, and the judge of the master.
#include <gtest/gtest.h>

#include "core/frames/check_codes.h"
#include "core/sim/instrument_file.h"
#include "core/sim/line_engine.h"
#include "core/sim/live_values.h"
#include "core/sim/master_judge.h"
#include "core/sim/text_answers.h"
#include "tests/hex_bytes.h"

namespace marvalo::sim {
namespace {

using testing::fromHex;
using testing::sameBytes;

Bytes sealed(const std::string &hex) {
    Bytes frame = fromHex(hex);
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

constexpr const char *kLine = R"(
[[instrument]]
address = 17
protocol = "modbus"
exception_status = 0x6D
[[instrument.block]]
table = "holding"
start = 0x160
count = 8
values = [0x022B, 1, 0x12]
[[instrument.block]]
table = "holding"
start = 0x168
count = 4
writable = false
[[instrument.block]]
table = "coils"
start = 0
count = 20
bits = "CD 6B 05"
[[instrument.block]]
table = "input"
start = 8
count = 2
values = [0x000A, 0xFFFF]
[[instrument.value]]
address = 0x164
type = "u32"
order = "CDAB"
value = 3000000366
behaviour = "counter"
[[instrument.rule]]
function = 3
start = 0x167
fault = "exception"
code = 6
[[instrument.rule]]
function = 4
fault = "count"
count = 1
every = 2
[instrument.server_id]
id = 0xB4
text = "LMB"
[instrument.identity]
VendorName = "Mv"
ProductCode = "S1"
0x80 = "x"

[[instrument]]
address = 5
protocol = "korvel"
[[instrument.value]]
address = 0
type = "f32"
value = 23.45
[[instrument.answer]]
instruction = "^D$"
reply = "{address}D{value:+08.2f}"
[[instrument.answer]]
instruction = "^P([0-9]+)$"
reply = "{address}P{1}"
)";

LineEngine lineOf(const char *text) {
    auto file = parseInstrumentFile(text, "line.toml");
    EXPECT_TRUE(file) << (file ? "" : file.error().front());
    return LineEngine(file.value());
}

TEST(SimEngine, AnswersEachFunctionInTheChartsOrder) {
    LineEngine line = lineOf(kLine);
    const struct {
        const char *name;
        Bytes request;
        std::optional<std::string> reply;  // hex without the CRC; none: silence
    } rows[] = {
        {"FC 3 reads what the file holds", sealed("11 03 01 60 00 03"),
         "11 03 06 02 2B 00 01 00 12"},
        // A counter steps with every request the instrument sees, this the second.
        {"a u32 counter, CDAB", sealed("11 03 01 64 00 02"), "11 03 04 5F 6F B2 D0"},
        {"and one more", sealed("11 03 01 64 00 02"), "11 03 04 5F 70 B2 D0"},
        // Packed bits, least significant first: the Modbus guide's example.
        {"FC 1 coils 0..18", sealed("11 01 00 00 00 13"), "11 01 03 CD 6B 05"},
        {"FC 2 has no discrete inputs: 02", sealed("11 02 00 00 00 01"), "11 82 02"},
        {"FC 4 within the block", sealed("11 04 00 08 00 02"), "11 04 04 00 0A FF FF"},
        {"FC 4 again: the rule's count, one register", sealed("11 04 00 08 00 02"),
         "11 04 02 00 0A"},
        {"FC 5 on", sealed("11 05 00 01 FF 00"), "11 05 00 01 FF 00"},
        {"FC 5 value neither on nor off: 03", sealed("11 05 00 01 12 34"), "11 85 03"},
        {"FC 6 into a read-only block: 02", sealed("11 06 01 68 00 01"), "11 86 02"},
        {"FC 7 the exception status", sealed("11 07"), "11 07 6D"},
        {"FC 8/0 echoes", sealed("11 08 00 00 A5 37"), "11 08 00 00 A5 37"},
        {"FC 8/1 is not ours: 01", sealed("11 08 00 01 00 00"), "11 88 01"},
        {"FC 15 writes bits", sealed("11 0F 00 00 00 0A 02 CD 01"), "11 0F 00 00 00 0A"},
        {"FC 16 of 0 registers: 03 before the range", sealed("11 10 FF F0 00 00 00"), "11 90 03"},
        {"FC 16 past the blocks: 02", sealed("11 10 01 6A 00 03 06 00 01 00 02 00 03"), "11 90 02"},
        {"FC 17 the server id", sealed("11 11"), "11 11 05 B4 FF 4C 4D 42"},
        // The application protocol's worked mask write: 0x12 AND F2 OR 25 = 0x17.
        {"FC 22", sealed("11 16 01 62 00 F2 00 25"), "11 16 01 62 00 F2 00 25"},
        {"FC 23 writes, then reads what it wrote", sealed("11 17 01 62 00 02 01 63 00 01 02 AB CD"),
         "11 17 04 00 17 AB CD"},
        {"FC 43/14 basic objects", sealed("11 2B 0E 01 00"),
         "11 2B 0E 01 83 00 00 02 00 02 4D 76 01 02 53 31"},
        {"FC 43/14 one object that is not there: 02", sealed("11 2B 0E 04 05"), "11 AB 02"},
        {"FC 43, another MEI type: 01", sealed("11 2B 0D 01 00"), "11 AB 01"},
        {"FC 9 unsupported: 01", sealed("11 09 00 00"), "11 89 01"},
        {"the rule's exception", sealed("11 03 01 67 00 01"), "11 83 06"},
        {"a read too short for its fields: silence", sealed("11 03 01"), std::nullopt},
        {"another address: silence", sealed("12 03 01 60 00 01"), std::nullopt},
        {"a broadcast write: carried out, silent", sealed("00 06 01 61 00 2A"), std::nullopt},
        {"and held", sealed("11 03 01 61 00 01"), "11 03 02 00 2A"},
        {"korvel reading with its format", bytesOf("*05D\r"),
         "30 35 44 2B 30 30 32 33 2E 34 35 0D"},
        {"korvel group", bytesOf("*05P42\r"), "30 35 50 34 32 0D"},
        {"korvel without an answer: silence", bytesOf("*05X\r"), std::nullopt},
    };
    for (const auto &row : rows) {
        const LineAnswer answer = line.answer(row.request, 0);
        ASSERT_EQ(answer.reply.has_value(), row.reply.has_value()) << row.name;
        if (!row.reply)
            continue;
        const bool text = row.request[0] == '*';
        EXPECT_TRUE(sameBytes(*answer.reply, text ? fromHex(*row.reply) : sealed(*row.reply)))
            << row.name;
    }
}

TEST(SimEngine, AFileIsRefusedAtThePlaceOfEachError) {
    const struct {
        const char *text;
        const char *error;
    } rows[] = {
        {"[[instrument]]\naddress = 300\nprotocol = \"modbus\"",
         "f.toml:2:11: address es el entero 300; se admite un entero de 1 a 247"},
        {"[[instrument]]\naddress = 1\nprotocol = \"can\"", "f.toml:3:12: protocol es el texto"},
        // The file's order, whatever order the checks run in.
        {"[[instrument]]\naddress = 300\nprotocol = \"modbus\"\nfoo = 1", "f.toml:2:11: address"},
        {"[[instrument]]\naddress = 1\nprotocol = \"modbus\"\n[[instrument.block]]\ntable = "
         "\"holding\"\nstart = 65530\ncount = 10",
         "f.toml:7:9: count es 10, que pasa de la dirección 65535; se admite de 1 a 6"},
        {"[[instrument]]\naddress = 1\nprotocol = \"modbus\"\n[[instrument.value]]\naddress = 4",
         "f.toml:5:11: address es 4, que ningún bloque \"holding\""},
        {"[[instrument]]\naddress = 1\nprotocol = \"modbus\"\n[[instrument.block]]\ntable = "
         "\"holding\"\nstart = 0\ncount = 2\n[[instrument.value]]\naddress = 0\ntype = "
         "\"u16\"\nvalue = 70000",
         "f.toml:11:9: value no cabe en u16"},
        {"[[instrument]]\naddress = 5\nprotocol = \"korvel\"\n[[instrument.answer]]\ninstruction "
         "= \"^D$\"\nreply = \"{2}\"",
         "f.toml:6:9: reply \"{2}\": {2} pide un grupo que instruction no tiene (0)"},
        {"[[instrument]]\naddress = 5\nprotocol = \"korvel\"\n[[instrument.answer]]\ninstruction "
         "= \"^D$\"\nreply = \"abc€xyz\"",
         "f.toml:6:9: reply \"abc€xyz\" lleva \"€\", que no cabe en un byte"},
        {"[[instrument]]\naddress = 5\nprotocol = \"korvel\"\n[[instrument]]\naddress = "
         "5\nprotocol = \"korvel\"",
         "f.toml:4:1: la dirección 5 en korvel ya es del instrumento de f.toml:1:1"},
        {"[[instrument]]\naddress = 1\nprotocol = \"modbus\"\n[[instrument.rule]]\nfault = "
         "\"loud\"",
         "f.toml:5:9: fault es \"loud\"; se admite \"silent\""},
        {"[line]\nbaud = 1234", "f.toml:2:8: baud es el entero 1234"},
        {"[[instrument]\n", "el instrumento no es TOML válido"},
    };
    for (const auto &row : rows) {
        const auto file = parseInstrumentFile(row.text, "f.toml");
        ASSERT_FALSE(file) << row.text;
        EXPECT_NE(file.error().front().find(row.error), std::string::npos)
            << file.error().front() << "\n  wanted: " << row.error;
    }
    // The built-in instrument is a file like any other, and reads back.
    EXPECT_TRUE(parseInstrumentFile(builtInInstrumentText(7), "builtin.toml"));
}

TEST(SimEngine, TypedWordsReadBackAsTheFormatsDecodeThem) {
    // Encoding is checked against the register views the tools decode with.
    const Bytes request = sealed("01 03 00 00 00 02");
    for (const char *view : {"u32:ABCD", "u32:CDAB", "u32:BADC", "u32:DCBA", "s32:CDAB", "f32:ABCD",
                             "f32:DCBA", "s16", "u16"}) {
        const RegisterView parsed = parseRegisterView(view).value();
        for (double value : {3000000366.0, -2147483648.0, 0.1, -1234.0, 65535.0}) {
            if (valueProblem(value, parsed.format) && parsed.format != RegisterFormat::F32)
                continue;
            std::vector<std::uint16_t> words = wordsOf(value, parsed);
            words.resize(2, 0);
            Bytes reply{1, 3, 4};
            for (std::uint16_t word : words) {
                reply.push_back(static_cast<std::uint8_t>(word >> 8));
                reply.push_back(static_cast<std::uint8_t>(word));
            }
            const Bytes crc = CalcCRC(reply);
            reply.insert(reply.end(), crc.begin(), crc.end());
            const auto decoded = decodeRegisters(request, reply, parsed);
            ASSERT_TRUE(decoded) << view;
            const RegisterValue &first = decoded->front();
            if (parsed.format == RegisterFormat::F32)
                EXPECT_EQ(*first.real(), static_cast<float>(value)) << view << " " << value;
            else
                EXPECT_EQ(*first.integer(), static_cast<std::int64_t>(value))
                    << view << " " << value;
        }
    }
}

TEST(SimEngine, AValueIsWrittenInFullNeverWrapped) {
    const struct {
        const char *reply;
        double value;
        const char *text;
    } rows[] = {
        {"{value:d}", -12.7, "-12"},
        {"{value:+05d}", 42, "+0042"},
        {"{value:d}", 3.0e38, "300000000000000012135895401846682943488"},
        {"{value:+05d}", -1e19, "-10000000000000000000"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(renderReply(row.reply, "05", row.value, {}), row.text) << row.value;
    EXPECT_EQ(renderReply("{value:.0f}", "05", 1.7976931348623157e308, {}).size(), 309u);
}

TEST(SimEngine, TheJudgeNamesTheMastersFaults) {
    LineEngine line = lineOf(kLine);
    const CharTiming timing = charTiming(19200, false, 1);
    EXPECT_NEAR(timing.t35Us, 3.5 * 10 * 1e6 / 19200, 0.01);
    EXPECT_EQ(charTiming(38400, false, 1).t35Us, 1750);
    MasterJudge judge(timing);
    auto seen = [&](Bytes bytes, double startUs, double gapUs = 0, bool afterOurs = false) {
        SeenRequest one;
        one.previousWasOurs = afterOurs;
        one.bytes = bytes;
        one.startUs = startUs;
        one.endUs = startUs + 100;
        one.longestGapUs = gapUs;
        one.answer = line.answer(bytes, 0);
        judge.add(one);
    };
    const Bytes read = sealed("11 03 01 60 00 01");
    Bytes badCrc = read;
    badCrc[6] ^= 0x40;
    seen(read, 0);
    seen(badCrc, 10000);
    // Five characters' pause inside a request: two fragments, one request.
    seen(Bytes(read.begin(), read.begin() + 3), 20000);
    seen(Bytes(read.begin() + 3, read.end()), 20100 + 5 * timing.charUs);
    seen(read, 30000, 2 * timing.charUs);
    seen(sealed("11 09 00 00"), 40000);
    seen(sealed("2A 03 00 00 00 01"), 50000);
    seen(Bytes(read.begin(), read.begin() + 1), 60000, 0, true);  // split after our reply
    seen(Bytes(read.begin() + 1, read.end()), 60100 + 5 * timing.charUs);
    seen(sealed("11 03 01 60 00 01 00"), 70000);  // one byte too many, its CRC right
    seen(fromHex("11 03"), 80000);
    const char *expected[] = {"ok",
                              "bad-check",
                              "gap-inside",
                              "gap-inside",
                              "unsupported-function",
                              "unknown-address",
                              "gap-inside",
                              "malformed",
                              "malformed"};
    ASSERT_EQ(judge.verdicts().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_STREQ(masterFaultKey(judge.verdicts()[i].fault), expected[i]) << i;
    EXPECT_NE(judge.verdicts()[2].message.find("una pausa de 5.0 caracteres"), std::string::npos)
        << judge.verdicts()[2].message;
    const SuiteReport report = judge.report("sim");
    EXPECT_EQ(countOf(report, CaseResult::Outcome::Failed), 7u);  // probing is no fault
    EXPECT_EQ(judge.verdicts().back().seen.answer.protocol, Protocol::Modbus);
}

TEST(SimEngine, TheJudgeKeepsFaultsAndCountsOfARunWithoutEnd) {
    LineEngine line = lineOf(kLine);
    MasterJudge judge(charTiming(19200, false, 1));
    const Bytes read = sealed("11 03 01 60 00 01");
    for (std::size_t i = 0; i < MasterJudge::kKept + 5; ++i) {
        SeenRequest one;
        one.bytes = i == 3 ? fromHex("11 03") : read;
        one.answer = line.answer(one.bytes, 0);
        judge.add(one);
    }
    EXPECT_EQ(judge.verdicts().size(), MasterJudge::kKept);
    EXPECT_EQ(judge.verdicts().front().number, 4u);
    EXPECT_EQ(judge.summary(), "2005 peticiones, 2004 correctas, 1 mal formadas");
}

}  // namespace
}  // namespace marvalo::sim

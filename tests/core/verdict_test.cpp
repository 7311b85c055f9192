#include "core/verdicts/verdict.h"

#include <gtest/gtest.h>

#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

struct Row {
    const char *reply;  // hex
    VerdictKind kind;
    const char *textHas;
};

void judgeAll(Protocol protocol, const Bytes &request, std::initializer_list<Row> rows) {
    for (const Row &row : rows) {
        const Verdict verdict =
            judgeReply(static_cast<std::uint8_t>(protocol), request, fromHex(row.reply));
        EXPECT_STREQ(verdictKey(verdict.kind), verdictKey(row.kind)) << row.reply;
        EXPECT_NE(verdict.text.find(row.textHas), std::string::npos)
            << row.reply << " -> " << verdict.text;
        if (row.kind == VerdictKind::Incomplete) {
            EXPECT_NE(verdict.text.rfind("incompleta", 0), 0U) << "the key says it already";
        }
    }
}

TEST(Verdict, ModbusRepliesToAReadOfTwoWords) {
    // 01 03, start 0, two words: a well-formed answer is 9 bytes, count 04.
    judgeAll(
        Protocol::Modbus, fromHex("01 03 00 00 00 02 C4 0B"),
        {
            {"01 03 04 00 0A 00 14 DA 3E", VerdictKind::Ok, "9 bytes"},
            {"", VerdictKind::Silence, "sin respuesta"},
            {"01 03 00 00 00 02 C4 0B", VerdictKind::Echo, "propia petición"},
            {"01 03 04 00 0A", VerdictKind::Incomplete, "5 de 9"},
            {"01", VerdictKind::Incomplete, "1 de 9"},
            {"01 03 04 00 0A 00 14 DA 3F", VerdictKind::BadCheck, "CRC"},
            {"01 83 02 C0 F1", VerdictKind::Exception, "dirección de datos no permitida"},
            {"01 83 0B 00 F7", VerdictKind::Exception, "pasarela no respondió"},
            {"01 83 02", VerdictKind::Incomplete, "3 de 5"},
            {"02 03 04 00 0A 00 14 E9 3E", VerdictKind::OtherAddress, "dirección 2"},
            {"01 04 04 00 0A 00 14 DB 89", VerdictKind::OtherFunction, "función 4"},
            {"01 03 04 00 0A 00 14 DA 3E 00", VerdictKind::ExtraBytes, "1 byte de más"},
            {"14 DA 3E 01 03 04 00 0A 00 14 DA 3E", VerdictKind::StrayPrefix, "14 DA 3E"},
            {"01 03 02 00 0A 38 43 00 00", VerdictKind::WrongCount,
             "trae 1 registro; se pidieron 2"},
            // The reply's own count gives a frame whose CRC holds.
            {"01 03 02 00 07 F9 86", VerdictKind::WrongCount, "trae 1 registro; se pidieron 2"},
            {"01 03 06 00 01 00 02 00 03 FD 74", VerdictKind::WrongCount, "trae 3 registros"},
            {"01 03 03 00 01 02 C5 DF", VerdictKind::WrongCount,
             "3 bytes de datos; se pidieron 4 bytes"},
            {"33 01 03 04 00 0A 00 14 DA 3E", VerdictKind::StrayPrefix, "1 byte sobrante "},
            {"01 03 00 00 00 02 C4 0B 00 01 03 04 00 0A 00 14 DA 3E", VerdictKind::Echo,
             "1 byte sobrante antes de la respuesta (00); después: respuesta correcta"},
            {"55 AA", VerdictKind::Unrecognised, "55 AA"},
            // A damaged answer behind stray bytes is found by its shape.
            {"00 01 03 04 00 0A 00 14 DA 3F", VerdictKind::StrayPrefix,
             "1 byte sobrante antes de la respuesta (00); después: el CRC no corresponde a los 9"},
            {"14 DA 3E 01 03 04 00 0A 00 14 DA 3F", VerdictKind::StrayPrefix,
             "(14 DA 3E); después: el CRC"},
            {"00 00 01 83 02 C0 F0", VerdictKind::StrayPrefix,
             "(00 00); después: el CRC no corresponde a los 5"},
            {"01 03 00 00 00 02 C4 0B 00 01 03 04 00 0A 00 14 DA 3F", VerdictKind::Echo,
             "(00); después: el CRC"},
            // ...and never by bytes of another shape: here the count of one register.
            {"00 01 03 02 00 0A 38 42", VerdictKind::Unrecognised, "empieza por 00 01"},
        });
    // 200 registers: more than a byte count can announce, so no answer is right.
    judgeAll(Protocol::Modbus, fromHex("01 03 00 00 00 C8 44 5C"),
             {{"01 03 02 00 07 F9 86", VerdictKind::WrongCount, "se pidieron 200"}});
}

TEST(Verdict, ModbusWritesCoilsAndBroadcasts) {
    // Function 16 answers with its request's first six bytes; function 5's
    // answer is its request; nobody answers a broadcast.
    judgeAll(Protocol::Modbus, fromHex("01 10 00 0A 00 02 04 00 64 01 2C 32 42"),
             {{"01 10 00 0A 00 02 61 CA", VerdictKind::Ok, "8 bytes"}});
    judgeAll(Protocol::Modbus, fromHex("01 05 00 07 FF 00 3D FB"),
             {{"01 05 00 07 FF 00 3D FB", VerdictKind::Ok, "correcta"},
              {"01 05 00 07 FF 00 3D FB 01 05", VerdictKind::Echo, "seguida de 2 bytes"},
              {"01 03 04 00 0A 00 14 DA 3E", VerdictKind::OtherFunction, "función 3"}});
    judgeAll(Protocol::Modbus, fromHex("00 05 00 07 FF 00 3C 2A"),
             {{"", VerdictKind::Ok, "difusión"},
              {"00 05 00 07 FF 00 3C 2A", VerdictKind::Echo, "eco"},
              {"01 05 00 07 FF 00 3D FB", VerdictKind::Unrecognised, "difusión"}});
}

TEST(Verdict, Iso1745Blocks) {
    // Address "01", instruction "0D"; "0D" ETX checks to 77.
    judgeAll(Protocol::Iso1745, fromHex("01 30 31 02 30 44 03 77"),
             {
                 {"02 41 03 42", VerdictKind::Ok, "bloque correcto"},
                 {"01 30 31 02 41 03 42", VerdictKind::Ok, "bloque correcto"},
                 {"02 03 23", VerdictKind::Ok, "bloque correcto"},
                 {"06", VerdictKind::Ok, "ACK"},
                 {"15", VerdictKind::Exception, "NAK"},
                 {"04", VerdictKind::Exception, "EOT"},
                 {"", VerdictKind::Silence, "sin respuesta"},
                 {"01 30 31 02 30 44 03 77", VerdictKind::Echo, "eco"},
                 {"02 41", VerdictKind::Incomplete, "ETX"},
                 {"02 41 03", VerdictKind::Incomplete, "BCC"},
                 {"01 30", VerdictKind::Incomplete, "cabecera"},
                 {"02 41 03 43", VerdictKind::BadCheck, "se esperaba 42"},
                 {"01 30 32 02 41 03 42", VerdictKind::OtherAddress,
                  "responde la dirección \"02\" en lugar de la \"01\""},
                 // A terminal reset (ESC c) in the heading is named, not sent.
                 {"01 1B 63 02 30 44 03 77", VerdictKind::OtherAddress, "\"<1B>c\""},
                 {"01 C3 28 02 30 44 03 77", VerdictKind::OtherAddress, "\"Ã(\""},
                 {"01 30 32 02 41", VerdictKind::Incomplete, "ETX"},
                 {"02 41 03 42 0D", VerdictKind::ExtraBytes, "1 byte de más"},
                 {"33 03 23 02 41 03 42", VerdictKind::StrayPrefix, "3 bytes sobrantes"},
                 {"41 42", VerdictKind::Unrecognised, "STX"},
                 {"33 02 41 03 43", VerdictKind::StrayPrefix,
                  "sobrante antes del bloque; después: BCC 43"},
             });
}

TEST(Verdict, KorvelLinesAreCompleteWhenTheyEndInCr) {
    judgeAll(Protocol::Korvel, fromHex("2A 30 31 44 0D"),
             {
                 {"30 31 44 2B 30 30 32 33 0D", VerdictKind::Ok, "completa"},
                 {"30 31 44 2B", VerdictKind::Incomplete, "CR"},
                 {"30 31 44 2B 30 0D 0A", VerdictKind::Ok, "completa"},
                 {"30 31 44 2B 30 0A", VerdictKind::Incomplete, "CR"},
                 {"", VerdictKind::Silence, "sin respuesta"},
                 {"2A 30 31 44 0D 30 0D", VerdictKind::Echo, "seguida de 2 bytes"},
                 {"2A 30 31 44 0D 00 30 31 44 2B 30 0D", VerdictKind::Echo,
                  "1 byte sobrante antes de la respuesta (00); después: línea completa"},
                 {"14 DA 3E 30 31 44 2B 30 0D", VerdictKind::StrayPrefix,
                  "3 bytes sobrantes antes de la respuesta (14 DA 3E)"},
                 {"30 0D 30 31 44 2B 30 0D", VerdictKind::StrayPrefix, "2 bytes sobrantes"},
                 {"45 52 52 20 30 31 0D", VerdictKind::Ok, "completa"},
                 {"14 DA 3E 30 31 44", VerdictKind::Incomplete, "CR"},
                 {"30 32 44 2B 30 30 32 33 0D", VerdictKind::OtherAddress, "dirección \"02\""},
                 {"30 31 44 2B 39 0D 30 31 44 2B 32 0D", VerdictKind::ExtraBytes, "6 bytes de más"},
                 {"30 31 44 0D 0A 30 31 44 0D", VerdictKind::ExtraBytes, "4 bytes de más"},
             });
}

TEST(Verdict, AnExchangeMayEndOnlyOnAWholeFrame) {
    // Bytes as they trickle in: a prefix that more bytes could still turn
    // into an answer (stray bytes first) must not end the wait.
    const Bytes read = fromHex("01 03 00 00 00 02 C4 0B");
    const Bytes iso = fromHex("01 30 31 02 30 44 03 77");
    const struct {
        Protocol protocol;
        const Bytes &request;
        const char *reply;
        bool complete;
    } rows[] = {
        {Protocol::Modbus, read, "14 DA", false},
        {Protocol::Modbus, read, "14 DA 3E 01 03 04 00", false},
        {Protocol::Modbus, read, "01 DA", false},
        {Protocol::Modbus, read, "14 DA 3E 01 03 04 00 0A 00 14 DA 3E", true},
        {Protocol::Modbus, read, "01 03 04 00 0A 00 14 DA 3F", true},
        {Protocol::Modbus, read, "01 03 02 00 07 F9 86", true},
        {Protocol::Modbus, read, "00 01 03 04 00 0A 00 14 DA 3F", true},
        {Protocol::Modbus, read, "01 03 00 00 00 02 C4 0B 01 03 04 00 0A 00 14 DA 3E", true},
        {Protocol::Modbus, read, "01 03 00 00 00 02 C4 0B 01 03 04 00 0A", false},
        {Protocol::Iso1745, iso, "14 02 41 03 43", true},
        {Protocol::Iso1745, iso, "14", false},
        {Protocol::Iso1745, iso, "01 30 32 02 41", false},
        {Protocol::Iso1745, iso, "14 02 41 03 42", true},
        {Protocol::Korvel, read, "30 31 44 0D 0A", true},
    };
    for (const auto &row : rows) {
        const Verdict verdict =
            judgeReply(static_cast<std::uint8_t>(row.protocol), row.request, fromHex(row.reply));
        EXPECT_EQ(replyIsComplete(verdict), row.complete)
            << row.reply << " -> " << verdictKey(verdict.kind);
    }
}

TEST(ByteText, ControlCharactersAreNamed) {
    EXPECT_EQ(namedText(fromHex("01 30 31 02 41 03 0D 0A 06 15 04 1F 7F 00 E1 41 80 85 9F A0")),
              "<SOH>01<STX>A<ETX><CR><LF><ACK><NAK><EOT><1F><7F><00>áA<80><85><9F>\xC2\xA0");
    // Valid UTF-8 kept, any other byte its Latin-1 character.
    for (const char *bytes : {"32 35 C2 B0 43", "32 35 B0 43"})
        EXPECT_EQ(namedText(fromHex(bytes)), "25°C") << bytes;
    EXPECT_EQ(namedText(fromHex("C2 41 C2 85 E2 82 AC")), "ÂA<85>€");
    EXPECT_EQ(namedTextUpTo(fromHex("41 42 43"), 2), "AB… (3 bytes)");
    EXPECT_EQ(namedTextUpTo(fromHex("41 C2 B0"), 2), "A… (3 bytes)") << "no half character";
}

}  // namespace
}  // namespace marvalo

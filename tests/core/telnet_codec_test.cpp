#include <gtest/gtest.h>

#include <vector>

#include "core/net/server_address.h"
#include "core/net/telnet_codec.h"
#include "tests/hex_bytes.h"

namespace marvalo::net {
namespace {

using marvalo::testing::fromHex;
using marvalo::testing::sameBytes;

TEST(TelnetCodec, WhatTheClientSendsIsTheRfcsOwnBytes) {
    TelnetReader reader;
    const std::pair<const char *, Bytes> rows[] = {
        {"FF FB 00 FF FD 00 FF FB 2C", reader.start(true)},
        {"FF FA 2C 01 00 00 25 80 FF F0", setBaudrate(9600)},
        {"FF FA 2C 01 00 00 00 FF FF FF F0", setBaudrate(255)},
        {"FF FA 2C 02 07 FF F0", setDatasize(7)},
        {"FF FA 2C 03 03 FF F0", setParity(ComPortParity::Even)},
        {"FF FA 2C 04 02 FF F0", setStopsize(2)},
        {"FF FA 2C 05 0B FF F0", setControl(kControlRtsOn)},
        {"FF FA 2C 05 0C FF F0", setControl(kControlRtsOff)},
        {"FF FA 2C 0C 01 FF F0", purgeData(kPurgeReceive)},
        {"01 03 FF FF 00 FF FF", escapeData(fromHex("01 03 FF 00 FF"))},
    };
    for (const auto &[expected, built] : rows)
        EXPECT_TRUE(sameBytes(built, fromHex(expected))) << expected;
}

// Each read of a row is one socket read; answers are "code:value" in hex.
TEST(TelnetCodec, ReadsSplitAnywhereGiveTheSameDataAndAnswers) {
    const struct {
        std::vector<const char *> reads;
        const char *data, *reply, *answers;
        int states = 0;  // NOTIFY-LINESTATE and MODEMSTATE together
        bool junk = false;
    } rows[] = {
        {{"01 FF FF 02"}, "01 FF 02", "", ""},
        {{"01 FF", "FF 02"}, "01 FF 02", "", ""},
        {{"FF FA 2C 65 00", "00 4B 00 FF", "F0 41"}, "41", "", "01:00 00 4B 00"},
        {{"FF FA 2C 65 00 00 FF FF FF FF FF F0"}, "", "", "01:00 00 FF FF"},
        {{"FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 69 0B FF F0"},
         "",
         "",
         "02:08 03:01 05:0B"},
        {{"05 FF FA 2C 6A 60 FF F0 06", "FF FA 2C 6B FF FF FF F0"}, "05 06", "", "", 2},
        {{"FF FD 2C FF FB 00 FF FD 00"}, "", "", ""},
        {{"FF FB 01 FF FD 18"}, "", "FF FE 01 FF FC 18", ""},
        {{"41 FF F1 42 FF FA 18 01 FF F0"}, "41 42", "", ""},
        {{"41 FF 05"}, "41", "", "", 0, true},
        {{"FF FA 2C 65 00 FF 41"}, "", "", "", 0, true},
    };
    for (const auto &row : rows) {
        TelnetReader reader;
        (void)reader.start(true);
        Bytes data, reply;
        std::string answers, junk;
        int states = 0;
        for (const char *read : row.reads) {
            TelnetInput part = reader.feed(fromHex(read));
            data.insert(data.end(), part.data.begin(), part.data.end());
            reply.insert(reply.end(), part.reply.begin(), part.reply.end());
            for (const ComPortAnswer &answer : part.answers)
                answers += (answers.empty() ? "" : " ") +
                           toHex({static_cast<std::uint8_t>(answer.command)}) + ":" +
                           toHex(answer.value);
            states += part.lineStates + part.modemStates;
            junk += part.junk;
        }
        EXPECT_TRUE(sameBytes(data, fromHex(row.data))) << row.reads[0];
        EXPECT_TRUE(sameBytes(reply, fromHex(row.reply))) << row.reads[0];
        EXPECT_EQ(answers, row.answers) << row.reads[0];
        EXPECT_EQ(states, row.states) << row.reads[0];
        EXPECT_EQ(!junk.empty(), row.junk) << row.reads[0] << ": " << junk;
    }
}

TEST(ServerAddress, FormsAcceptedAndRefused) {
    struct Row {
        const char *text;
        const char *hostPort;  // empty: refused, and `why` is in the message
        const char *why;
    };
    const Row rows[] = {
        {"rfc2217://127.0.0.1:4001", "127.0.0.1:4001", ""},
        {"socket://bench-3.lab:23", "bench-3.lab:23", ""},
        {"rfc2217://[::1]:65535", "[::1]:65535", ""},
        {"rfc2217://[fe80::1%lo]:4001", "[fe80::1%lo]:4001", ""},  // a zone, as the system
        {"rfc2217://[fe80::1%25eth0]:1", "[fe80::1%eth0]:1", ""},  // writes it, or as a URL
        {"socket://[fe80::1%]:1", "", "falta la interfaz"},
        {"RFC2217://127.0.0.1:4001", "127.0.0.1:4001", ""},  // schemes are case-insensitive
        {"Socket://bench-3.lab:23", "bench-3.lab:23", ""},
        {"telnet://127.0.0.1:23", "", "\"telnet://\" no es un tipo"},
        {"rfc2217://127.0.0.1", "", "falta \":PUERTO\""},
        {"rfc2217://:4001", "", "falta el nombre"},
        {"socket://host:0", "", "\"0\" no es un número de 1 a 65535"},
        {"socket://host:65536", "", "\"65536\" no es un número"},
        {"socket://host:99999999999999999999", "", "no es un número"},
        {"socket://host:4a", "", "\"4a\" no es un número"},
        {"socket://::1:4001", "", "IPv6 va entre corchetes"},
        {"socket://[::1:4001", "", "falta el \"]\""},
        {"socket://[1.2.3.4]:1", "", "solo va una dirección IPv6"},
        {"socket://[::1]4001", "", "falta \":PUERTO\""},
        {"rfc2217://host:4001?ign_set_control", "", "no admite usuario, ruta ni opciones"},
        {"socket://bad host:1", "", "\"bad host\" no es un nombre"},
        // 79 bytes, then a two-byte character across the 80 shown: cut before it.
        {"socket://"
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\xC3\xA9:1",
         "", "aaa…\" no vale"},
    };
    for (const Row &row : rows) {
        auto parsed = parseServerAddress(row.text);
        if (*row.hostPort != '\0') {
            ASSERT_TRUE(parsed) << row.text << ": " << parsed.error();
            EXPECT_EQ(parsed.value().hostPort(), row.hostPort) << row.text;
            EXPECT_EQ(parsed.value().written, row.text);
        } else {
            ASSERT_FALSE(parsed) << row.text;
            EXPECT_NE(parsed.error().find(row.why), std::string::npos) << parsed.error();
            if (std::string_view(row.text).size() <= 80) {
                EXPECT_NE(parsed.error().find(row.text), std::string::npos) << parsed.error();
            }
        }
    }
}

}  // namespace
}  // namespace marvalo::net

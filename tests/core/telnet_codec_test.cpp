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

struct ReadRow {
    const char *name;
    std::vector<const char *> reads;  // one socket read each
    const char *data;
    const char *reply;
    std::vector<ComPortAnswer> answers;
    int lineStates = 0;
    int modemStates = 0;
    bool junk = false;
};

TEST(TelnetCodec, ReadsSplitAnywhereGiveTheSameDataAndAnswers) {
    const ReadRow rows[] = {
        {"plain data", {"01 03 00 6B"}, "01 03 00 6B", "", {}},
        {"doubled IAC is one FF", {"01 FF FF 02"}, "01 FF 02", "", {}},
        {"doubled IAC cut in two", {"01 FF", "FF 02"}, "01 FF 02", "", {}},
        {"baud answer cut twice",
         {"FF FA 2C 65 00", "00 4B 00 FF", "F0 41"},
         "41",
         "",
         {{ComPortCommand::SetBaudrate, fromHex("00 00 4B 00")}}},
        {"answer holding FF",
         {"FF FA 2C 65 00 00 FF FF FF FF FF F0"},
         "",
         "",
         {{ComPortCommand::SetBaudrate, fromHex("00 00 FF FF")}}},
        {"four answers in one read",
         {"FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0 FF FA 2C 69 0B FF F0"},
         "",
         "",
         {{ComPortCommand::SetDatasize, {8}},
          {ComPortCommand::SetParity, {1}},
          {ComPortCommand::SetStopsize, {1}},
          {ComPortCommand::SetControl, {11}}}},
        {"line and modem state are not data",
         {"05 FF FA 2C 6A 60 FF F0 06", "FF FA 2C 6B FF FF FF F0"},
         "05 06",
         "",
         {},
         1,
         1},
        {"server agrees: no answer back", {"FF FD 2C FF FB 00 FF FD 00"}, "", "", {}},
        {"other options refused once",
         {"FF FB 01 FF FB 03 FF FD 18 FF FD 1F"},
         "",
         "FF FE 01 FF FE 03 FF FC 18 FF FC 1F",
         {}},
        {"commands without data vanish", {"41 FF F1 42 FF F9"}, "41 42", "", {}},
        {"other subnegotiation ignored", {"FF FA 18 01 FF F0 43"}, "43", "", {}},
        {"IAC before a non-command", {"41 FF 05"}, "41", "", {}, 0, 0, true},
        {"subnegotiation left open", {"FF FA 2C 65 00 FF 41"}, "", "", {}, 0, 0, true},
    };
    for (const ReadRow &row : rows) {
        TelnetReader reader;
        (void)reader.start(true);
        TelnetInput all;
        for (const char *read : row.reads) {
            TelnetInput part = reader.feed(fromHex(read));
            all.data.insert(all.data.end(), part.data.begin(), part.data.end());
            all.reply.insert(all.reply.end(), part.reply.begin(), part.reply.end());
            all.answers.insert(all.answers.end(), part.answers.begin(), part.answers.end());
            all.lineStates += part.lineStates;
            all.modemStates += part.modemStates;
            all.junk += part.junk;
        }
        EXPECT_TRUE(sameBytes(all.data, fromHex(row.data))) << row.name;
        EXPECT_TRUE(sameBytes(all.reply, fromHex(row.reply))) << row.name;
        EXPECT_EQ(all.answers, row.answers) << row.name;
        EXPECT_EQ(all.lineStates, row.lineStates) << row.name;
        EXPECT_EQ(all.modemStates, row.modemStates) << row.name;
        EXPECT_EQ(!all.junk.empty(), row.junk) << row.name << ": " << all.junk;
    }
}

TEST(TelnetCodec, AgreementIsTracked) {
    TelnetReader reader;
    (void)reader.start(true);
    (void)reader.feed(fromHex("FF FD 2C FF FD 00 FF FB 00"));
    EXPECT_TRUE(reader.comPortAgreed());
    EXPECT_TRUE(reader.binaryBothWays());
    EXPECT_TRUE(sameBytes(reader.feed(fromHex("FF FE 2C")).reply, fromHex("FF FC 2C")));
    EXPECT_TRUE(reader.comPortRefused());
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
            EXPECT_NE(parsed.error().find(row.text), std::string::npos) << parsed.error();
        }
    }
}

}  // namespace
}  // namespace marvalo::net

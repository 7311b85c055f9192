#include "core/records/register_values.h"

#include <gtest/gtest.h>

#include "core/frames/check_codes.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

Bytes withCrc(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

// A read from 10, answered with `data`.
Bytes readReply(const char *data) {
    const Bytes values = fromHex(data);
    Bytes reply = {0x01, 0x03, static_cast<std::uint8_t>(values.size())};
    reply.insert(reply.end(), values.begin(), values.end());
    return withCrc(reply);
}

TEST(RegisterValues, EveryFormatAndOrder) {
    const Bytes request = withCrc(fromHex("01 03 00 0A 00 02"));
    const Bytes readOf3 = withCrc(fromHex("01 03 00 0A 00 03"));
    const struct {
        const char *view;
        const char *data;
        const char *line;
    } rows[] = {
        {"u16", "00 2A 01 2C", "reg 10 = 42, reg 11 = 300"},
        {"s16", "FF FF 00 01", "reg 10 = -1, reg 11 = 1"},
        {"hex", "FF FF 00 2A", "reg 10 = 0xFFFF, reg 11 = 0x002A"},
        {"f32", "41 20 00 00", "reg 10 = 10"},
        {"f32:ABCD", "41 20 00 00", "reg 10 = 10"},
        {"f32:CDAB", "00 00 41 20", "reg 10 = 10"},
        {"f32:BADC", "20 41 00 00", "reg 10 = 10"},
        {"f32:DCBA", "00 00 20 41", "reg 10 = 10"},
        {"f32", "BF C0 00 00", "reg 10 = -1.5"},
        {"u32", "00 01 00 02", "reg 10 = 65538"},
        {"u32:CDAB", "00 01 00 02", "reg 10 = 131073"},
        {"s32", "FF FF FF FE", "reg 10 = -2"},
        {"s32:DCBA", "FE FF FF FF", "reg 10 = -2"},
        {"text", "41 42 43 0D", "reg 10 = \"AB\", reg 11 = \"C<CR>\""},
        {"text", "2C 20 22 5C", "reg 10 = \", \", reg 11 = \"\\\"\\\\\""},
        // Every integer exact, however large: none passes through a float.
        {"u32", "FF FF FF FF", "reg 10 = 4294967295"},
        {"s32", "80 00 00 00", "reg 10 = -2147483648"},
        {"u32", "B2 D0 5F 6E", "reg 10 = 3000000366"},
        // A float by its shortest round-tripping text, the special ones by name.
        {"f32", "3D CC CC CD", "reg 10 = 0.1"},
        {"f32", "7F C0 00 00", "reg 10 = NaN"},
        {"f32", "FF C0 00 00", "reg 10 = NaN"},
        {"f32", "7F 80 00 00", "reg 10 = Infinity"},
        {"f32", "FF 80 00 00", "reg 10 = -Infinity"},
        {"f32", "80 00 00 00", "reg 10 = -0"},
        {"f32", "00 00 00 01", "reg 10 = 1e-45"},
        // An odd count under a 32-bit format: the last register on its own.
        {"u32", "00 01 00 02 00 07", "reg 10 = 65538, reg 12 = 7 (u16, registro suelto)"},
        {"f32:CDAB", "00 00 41 20 FF FF", "reg 10 = 10, reg 12 = 65535 (u16, registro suelto)"},
    };
    for (const auto &row : rows) {
        auto view = parseRegisterView(row.view);
        ASSERT_TRUE(view) << row.view;
        const Bytes reply = readReply(row.data);
        auto values = decodeRegisters(reply.size() > 9 ? readOf3 : request, reply, view.value());
        ASSERT_TRUE(values) << row.view;
        EXPECT_EQ(registersLine(*values), row.line) << row.view;
    }
    // Only a whole, checked answer to this read has values.
    Bytes damaged = readReply("00 2A 01 2C");
    damaged.back() ^= 1;
    EXPECT_FALSE(decodeRegisters(request, damaged, {}));
    EXPECT_FALSE(decodeRegisters(request, withCrc(fromHex("01 83 02")), {}));
    EXPECT_FALSE(decodeRegisters(request, withCrc(fromHex("01 03 03 00 2A 01")), {}));

    const std::pair<const char *, const char *> refused[] = {
        {"f16", "u16, s16, hex, u32, s32, f32 o text"},
        {"u16:CDAB", "no lleva orden de palabras"},
        {"f32:ABDC", "ABCD, CDAB, BADC o DCBA"},
    };
    for (const auto &[text, says] : refused) {
        auto view = parseRegisterView(text);
        ASSERT_FALSE(view) << text;
        EXPECT_NE(view.error().find(says), std::string::npos) << view.error();
    }
}

TEST(RegisterValues, WritesAreNamedByWhatTheyConfirm) {
    const Bytes write = withCrc(fromHex("01 10 00 0A 00 02 04 00 64 01 2C"));
    EXPECT_EQ(writeConfirmation(write, withCrc(fromHex("01 10 00 0A 00 02"))),
              "escritos 2 registros desde 10");
    const Bytes coil = withCrc(fromHex("01 05 00 07 FF 00"));
    EXPECT_EQ(writeConfirmation(coil, coil), "bobina 7 forzada a ON");
    const Bytes word = withCrc(fromHex("01 06 00 02 80 00"));
    EXPECT_EQ(writeConfirmation(word, word, RegisterView{RegisterFormat::S16, {}}),
              "registro 2 escrito: -32768");
    EXPECT_FALSE(writeConfirmation(write, withCrc(fromHex("01 10 00 0B 00 02"))));
}

}  // namespace
}  // namespace marvalo

// Every function of the table against its right answer and each wrong
// shape of it: the verdict reads the shapes from the table, so one walk
// over the table finds a function whose row is wrong.
#include <gtest/gtest.h>

#include "core/frames/check_codes.h"
#include "core/frames/frame_anatomy.h"
#include "core/modbus/function_table.h"
#include "core/modbus/modbus_request.h"
#include "core/modbus/reply_values.h"
#include "core/verdicts/verdict.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

constexpr std::uint8_t kModbus = 2;

Bytes withCrc(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

Bytes withoutCrc(const Bytes &frame) {
    return Bytes(frame.begin(), frame.end() - 2);
}

ModbusCall call(std::uint8_t function, int start = 0, int quantity = 0) {
    ModbusCall made;
    made.address = 17;
    made.function = function;
    made.start = start;
    made.quantity = quantity;
    return made;
}

struct Row {
    ModbusCall call;
    const char *reply;  // the right answer without its CRC, as pymodbus gave most of them
};

std::vector<Row> rows() {
    ModbusCall coil = call(5, 3);
    coil.value = 0xFF00;
    ModbusCall word = call(6, 10);
    word.value = 1234;
    ModbusCall coils = call(15, 3);
    coils.bits = {true, false, true, true};
    ModbusCall words = call(16, 0);
    words.words = {0, 16812};
    ModbusCall mask = call(22, 4);
    mask.andMask = 0xF2;
    mask.orMask = 0x25;
    ModbusCall readWrite = call(23, 14, 2);
    readWrite.readStart = 3;
    readWrite.words = {255};
    ModbusCall diagnostics = call(8);
    diagnostics.data = fromHex("A5 37");
    return {
        {call(1, 0, 10), "11 01 02 6D 03"},
        {call(2, 0, 10), "11 02 02 55 01"},
        {call(3, 0, 3), "11 03 06 00 00 00 64 00 C8"},
        {call(4, 0, 3), "11 04 06 03 E8 03 E9 03 EA"},
        {coil, "11 05 00 03 FF 00"},
        {word, "11 06 00 0A 04 D2"},
        {call(7), "11 07 00"},
        {diagnostics, "11 08 00 00 A5 37"},
        {coils, "11 0F 00 03 00 04"},
        {words, "11 10 00 00 00 02"},
        {call(17), "11 11 03 4D FF 41"},
        {mask, "11 16 00 04 00 F2 00 25"},
        {readWrite, "11 17 04 01 2C 01 90"},
        {call(43), "11 2B 0E 01 83 00 00 01 00 02 41 42"},
    };
}

TEST(ModbusTable, EveryFunctionsWrongShapesGetTheirVerdicts) {
    ASSERT_EQ(rows().size(), modbusFunctions().size());
    for (const Row &row : rows()) {
        const auto request = buildModbusCall(row.call);
        ASSERT_TRUE(request) << int{row.call.function} << ": " << request.error();
        const Bytes right = withCrc(fromHex(row.reply));
        const auto form = replyFormOf(request.value());
        ASSERT_TRUE(form && form->info);
        Bytes longer = right;
        longer.push_back(0x00);
        struct Case {
            const char *shape;
            Bytes reply;
            VerdictKind kind;
        };
        std::vector<Case> cases{
            {"right", right, VerdictKind::Ok},
            {"short", Bytes(right.begin(), right.end() - 1), VerdictKind::Incomplete},
            // Where the answer is the request, a byte after it is more
            // likely our own echo with the answer starting behind it.
            {"long", longer,
             form->shape == ReplyShape::Echo ? VerdictKind::Echo : VerdictKind::ExtraBytes},
            {"exception",
             withCrc(Bytes{17, static_cast<std::uint8_t>(row.call.function | 0x80), 2}),
             VerdictKind::Exception},
        };
        Bytes padded = withoutCrc(right);
        padded.push_back(0x00);
        cases.push_back({"long, own CRC", withCrc(padded), VerdictKind::ExtraBytes});
        if (form->byteCount) {
            // Two bytes more than asked, announced and checked.
            Bytes more = withoutCrc(right);
            more[2] = static_cast<std::uint8_t>(more[2] + 2);
            more.insert(more.end(), {0, 0});
            cases.push_back({"wrong count", withCrc(more), VerdictKind::WrongCount});
        }
        if (form->echoed > 2) {
            Bytes other = withoutCrc(right);
            other[form->echoed - 1] ^= 0x01;
            cases.push_back({"wrong echo", withCrc(other), VerdictKind::Unrecognised});
        }
        for (const Case &shape : cases) {
            const Verdict verdict = judgeReply(kModbus, request.value(), shape.reply);
            EXPECT_EQ(verdict.kind, shape.kind)
                << "function " << int{row.call.function} << ", " << shape.shape << ": "
                << toHex(shape.reply) << " -> " << verdictKey(verdict.kind) << " " << verdict.text;
        }
        // The pane takes the right answer apart with nothing left over.
        for (const FrameField &field :
             replyAnatomy(kModbus, request.value(), right, RegisterView{}))
            EXPECT_FALSE(field.problem) << "function " << int{row.call.function} << ": "
                                        << field.name << " " << field.value;
    }
}

TEST(ModbusTable, BitsAndExceptionsByName) {
    const Bytes read = buildModbusCall(call(1, 0, 10)).value();
    // Ten bits asked: the last byte's six high bits must be zero.
    EXPECT_EQ(judgeReply(kModbus, read, withCrc(fromHex("11 01 02 6D 02"))).kind, VerdictKind::Ok);
    EXPECT_EQ(judgeReply(kModbus, read, withCrc(fromHex("11 01 02 6D 07"))).kind,
              VerdictKind::Unrecognised);
    for (const auto &[code, name] : {std::pair{0x01, "función no permitida"},
                                     {0x0B, "el destino de la pasarela no respondió"},
                                     {0x07, "confirmación negativa"},
                                     {0x0C, "código de excepción desconocido"}}) {
        const Verdict verdict =
            judgeReply(kModbus, read, withCrc(Bytes{17, 0x81, static_cast<std::uint8_t>(code)}));
        EXPECT_NE(verdict.text.find(name), std::string::npos) << verdict.text;
    }
    EXPECT_EQ(findModbusException("gateway-path-unavailable")->code, 0x0A);
    // What 7, 17 and an exception carry; a unit's text by the one rule.
    EXPECT_EQ(exceptionStatus(withCrc(fromHex("11 07 6D"))), 0x6D);
    EXPECT_EQ(exceptionCode(withCrc(fromHex("11 83 02"))), 2);
    EXPECT_EQ(exceptionCode(fromHex("01 83 02 C0 F1 FF")), 2) << "as the verdict: one byte more";
    EXPECT_EQ(serverIdText(serverId(withCrc(fromHex("11 11 04 4D 7F 41 0D"))).value()),
              "id 4D, marcha 7F (ni 00 ni FF), \"A<CR>\"");
    // pymodbus 3.0.0: a text id, its run indicator last.
    const Bytes acme = withCrc(fromHex("01 11 0D 41 63 6D 65 2D 50 58 31 2D 31 2E 32 FF"));
    EXPECT_EQ(serverIdText(serverId(acme).value()),
              "id \"Acme-PX1-1.2\" (41 63 6D 65 2D 50 58 31 2D 31 2E 32), en marcha");
    EXPECT_EQ(replyAnatomy(kModbus, withCrc(fromHex("01 11")), acme, RegisterView{}).at(4).value,
              "sí (FF)");
    EXPECT_EQ(findModbusException("negative-acknowledge")->code, 0x07);
    // Beyond 256 bytes no answer is one RTU frame, however its count reads.
    Bytes huge{0x01, 0x11, 0xFF, 0x01, 0xFF};
    huge.resize(258, 0x41);
    EXPECT_EQ(judgeReply(kModbus, withCrc(fromHex("01 11")), withCrc(huge)).kind,
              VerdictKind::ExtraBytes);
    EXPECT_EQ(deviceObjects(withCrc(fromHex("11 2B 0E 01 83 00 00 01 00 02 41 B0")))->at(0).text,
              "A°");
}

TEST(ModbusTable, MoreFollowsAsksFromTheNextObject) {
    const Bytes basic = buildModbusCall(call(43)).value();
    const Bytes more = withCrc(fromHex("11 2B 0E 01 83 FF 02 01 00 02 41 42"));
    EXPECT_TRUE(testing::sameBytes(nextIdentificationRequest(basic, more).value(),
                                   withCrc(fromHex("11 2B 0E 01 02"))));
    EXPECT_FALSE(nextIdentificationRequest(basic, withCrc(fromHex("11 2B 0E 01 83 00 00 00"))));
    // A next object that does not move forward, or the last part allowed, never ends.
    const Bytes second = withCrc(fromHex("11 2B 0E 01 02"));
    const Bytes back = withCrc(fromHex("11 2B 0E 01 83 FF 01 01 02 01 43"));
    EXPECT_FALSE(nextIdentificationRequest(second, back));
    EXPECT_TRUE(identificationStuck(second, back, 2));
    EXPECT_FALSE(identificationStuck(basic, more, 1));
    EXPECT_TRUE(identificationStuck(basic, more, kMostIdentificationParts));
    // Past the category asked (basic ends at 2), or a flag neither 00 nor FF.
    const Bytes beyond = withCrc(fromHex("11 2B 0E 01 83 FF 03 01 00 02 41 42"));
    EXPECT_FALSE(nextIdentificationRequest(basic, beyond));
    EXPECT_TRUE(identificationStuck(basic, beyond, 1));
    EXPECT_EQ(
        judgeReply(kModbus, basic, withCrc(fromHex("11 2B 0E 01 83 01 00 01 00 02 41 42"))).kind,
        VerdictKind::Unrecognised);
}

}  // namespace
}  // namespace marvalo

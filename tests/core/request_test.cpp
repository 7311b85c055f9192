#include "core/frames/request.h"

#include <gtest/gtest.h>

#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::hexBytes;
using testing::sameBytes;

constexpr std::uint8_t kKorvel = 0;
constexpr std::uint8_t kIso = 1;
constexpr std::uint8_t kModbus = 2;
constexpr int kRead = 0;
constexpr int kWrite = 1;
constexpr int kCoil = 2;
constexpr int kReadInput = 3;

RequestInputs at(const std::string &address) {
    RequestInputs in;
    in.addressText = address;
    in.addressNumber = std::stoi(address);
    return in;
}
RequestInputs text(const std::string &address, const std::string &instruction) {
    RequestInputs in = at(address);
    in.instructionText = instruction;
    return in;
}
RequestInputs modbus(int function, const std::string &start, const std::string &words,
                     const std::string &data = "", const std::string &address = "01") {
    RequestInputs in = at(address);
    in.functionIndex = function;
    in.instructionText = start;
    in.wordCountText = words;
    in.dataText = data;
    return in;
}

struct FrameRow {
    const char *name;
    std::uint8_t protocol;
    RequestInputs inputs;
    Bytes expected;
};

TEST(BuildRequest, WorkedFrames) {
    const FrameRow rows[] = {
        {"korvel D", kKorvel, text("01", "D"), hexBytes({0x2A, 0x30, 0x31, 0x44, 0x0D})},
        {"korvel empty at 07", kKorvel, text("07", ""), hexBytes({0x2A, 0x30, 0x37, 0x0D})},
        {"iso 0D", kIso, text("01", "0D"),
         hexBytes({0x01, 0x30, 0x31, 0x02, 0x30, 0x44, 0x03, 0x77})},
        {"iso 0D at 12", kIso, text("12", "0D"),
         hexBytes({0x01, 0x31, 0x32, 0x02, 0x30, 0x44, 0x03, 0x77})},
        {"iso empty", kIso, text("01", ""), hexBytes({0x01, 0x30, 0x31, 0x02, 0x03, 0x23})},
        {"iso AB", kIso, text("01", "AB"),
         hexBytes({0x01, 0x30, 0x31, 0x02, 0x41, 0x42, 0x03, 0x20})},
        {"read 0 x2", kModbus, modbus(kRead, "0", "2"),
         hexBytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B})},
        {"read 300 x2", kModbus, modbus(kRead, "300", "2"),
         hexBytes({0x01, 0x03, 0x01, 0x2C, 0x00, 0x02, 0x04, 0x3E})},
        {"read 255", kModbus, modbus(kRead, "255", "1"),
         hexBytes({0x01, 0x03, 0x00, 0xFF, 0x00, 0x01, 0xB4, 0x3A})},
        {"read 256", kModbus, modbus(kRead, "256", "1"),
         hexBytes({0x01, 0x03, 0x01, 0x00, 0x00, 0x01, 0x85, 0xF6})},
        {"read 511", kModbus, modbus(kRead, "511", "1"),
         hexBytes({0x01, 0x03, 0x01, 0xFF, 0x00, 0x01, 0xB5, 0xC6})},
        {"read input 0 x2", kModbus, modbus(kReadInput, "0", "2"),
         hexBytes({0x01, 0x04, 0x00, 0x00, 0x00, 0x02, 0x71, 0xCB})},
        {"write 10 x2 list", kModbus, modbus(kWrite, "10", "2", "0;100;1;44"),
         hexBytes({0x01, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x00, 0x64, 0x01, 0x2C, 0x32, 0x42})},
        {"write with empty list keeps the byte count", kModbus, modbus(kWrite, "10", "2", ""),
         hexBytes({0x01, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x0A, 0x2B})},
        {"coil 7", kModbus, modbus(kCoil, "ignored", "ignored", "7"),
         hexBytes({0x01, 0x05, 0x00, 0x07, 0xFF, 0x00, 0x3D, 0xFB})},
        {"coil 0 at 17", kModbus, modbus(kCoil, "", "", "0", "17"),
         hexBytes({0x11, 0x05, 0x00, 0x00, 0xFF, 0x00, 0x8E, 0xAA})},
    };
    for (const FrameRow &row : rows) {
        auto frame = BuildRequest(row.protocol, row.inputs);
        ASSERT_TRUE(frame.ok()) << row.name << ": " << frame.error().message;
        EXPECT_TRUE(sameBytes(frame.value(), row.expected)) << row.name;
    }
}

TEST(BuildRequest, EdgesThatCanBreak) {
    // Address 00 is an ordinary device address.
    auto zero = BuildRequest(kModbus, modbus(kRead, "0", "1", "", "00"));
    ASSERT_TRUE(zero.ok());
    EXPECT_EQ(zero.value()[0], 0x00);

    // The byte count is twice the word count even when the list disagrees.
    auto more = BuildRequest(kModbus, modbus(kWrite, "0", "1", "1;2;3;4;5"));
    ASSERT_TRUE(more.ok());
    EXPECT_EQ(more.value()[6], 2);
    EXPECT_EQ(more.value().size(), 7u + 5u + 2u);

    auto max = BuildRequest(kModbus, modbus(kWrite, "0", "127", "1"));
    ASSERT_TRUE(max.ok());
    EXPECT_EQ(max.value()[6], 254);

    // Word count 255 fits a read even though the standard allows 125.
    auto read255 = BuildRequest(kModbus, modbus(kRead, "0", "255"));
    ASSERT_TRUE(read255.ok());
    EXPECT_EQ(read255.value()[5], 255);

    // Latin-1 characters go out as their single byte.
    auto latin = BuildRequest(kKorvel, text("01", "ñ°"));
    ASSERT_TRUE(latin.ok());
    EXPECT_TRUE(sameBytes(latin.value(), hexBytes({0x2A, 0x30, 0x31, 0xF1, 0xB0, 0x0D})));

    // Blanks around numbers are allowed.
    auto blanks = BuildRequest(kModbus, modbus(kRead, " 300 ", " 2"));
    ASSERT_TRUE(blanks.ok());
    EXPECT_TRUE(
        sameBytes(blanks.value(), hexBytes({0x01, 0x03, 0x01, 0x2C, 0x00, 0x02, 0x04, 0x3E})));
}

TEST(BuildRequest, LongInstructionsKeepEveryByte) {
    const std::string instruction(40000, 'Q');
    auto frame = BuildRequest(kIso, text("01", instruction));
    ASSERT_TRUE(frame.ok());
    ASSERT_EQ(frame.value().size(), 40000u + 6u);
    // An even number of equal characters cancels out: only ETX remains.
    EXPECT_EQ(frame.value().back(), 0x23);
}

TEST(BuildRequest, SameInputsSameFrameEveryTime) {
    for (int function : {kRead, kWrite, kCoil, kReadInput}) {
        const RequestInputs in = modbus(function, "10", "2", "3");
        auto first = BuildRequest(kModbus, in);
        auto second = BuildRequest(kModbus, in);
        ASSERT_TRUE(first.ok() && second.ok());
        EXPECT_TRUE(sameBytes(first.value(), second.value())) << "function " << function;
    }
}

struct RejectRow {
    const char *name;
    std::uint8_t protocol;
    RequestInputs inputs;
    RequestField field;
    const char *mustMention;  // part of the message that names the input or the range
};

TEST(BuildRequest, RejectionsNameTheInputAndTheRange) {
    RequestInputs noFunction = modbus(-1, "0", "1");
    RequestInputs badAddress = text("01", "D");
    badAddress.addressText = "1";
    RequestInputs farAddress = modbus(kRead, "0", "1");
    farAddress.addressNumber = 100;
    const RejectRow rows[] = {
        {"start not a number", kModbus, modbus(kRead, "12abc", "1"), RequestField::StartAddress,
         "entre 0 y 511"},
        {"start with a decimal point", kModbus, modbus(kRead, "1.5", "1"),
         RequestField::StartAddress, "\"1.5\""},
        {"start in hex", kModbus, modbus(kRead, "&H10", "1"), RequestField::StartAddress,
         "Direc. 1 Palabra"},
        {"start empty", kModbus, modbus(kRead, "", "1"), RequestField::StartAddress, "está vacía"},
        {"words empty", kModbus, modbus(kRead, "0", ""), RequestField::WordCount, "está vacío"},
        {"start 512", kModbus, modbus(kRead, "512", "1"), RequestField::StartAddress,
         "entre 0 y 511"},
        {"start -1", kModbus, modbus(kRead, "-1", "1"), RequestField::StartAddress,
         "fuera de rango"},
        {"words 256", kModbus, modbus(kRead, "0", "256"), RequestField::WordCount, "entre 0 y 255"},
        {"words negative", kModbus, modbus(kReadInput, "0", "-3"), RequestField::WordCount,
         "N Palabras"},
        {"write words 128", kModbus, modbus(kWrite, "0", "128", "1"), RequestField::WordCount,
         "entre 0 y 127"},
        {"coil 256", kModbus, modbus(kCoil, "", "", "256"), RequestField::Coil, "entre 0 y 255"},
        {"coil text", kModbus, modbus(kCoil, "", "", "on"), RequestField::Coil, "Datos a Enviar"},
        {"coil empty", kModbus, modbus(kCoil, "", "", ""), RequestField::Coil, "vacío"},
        {"data token 256", kModbus, modbus(kWrite, "0", "1", "1;256"), RequestField::Data,
         "\"256\""},
        {"data token text", kModbus, modbus(kWrite, "0", "1", "1;x"), RequestField::Data,
         "entre 0 y 255"},
        {"data token blank only", kModbus, modbus(kWrite, "0", "1", "1; ;2"), RequestField::Data,
         "\" \""},
        {"data 255 characters", kModbus, modbus(kWrite, "0", "1", std::string(255, '1')),
         RequestField::Data, "254"},
        {"no function selected", kModbus, noFunction, RequestField::Function, "Funciones MODBUS"},
        {"function beyond the list", kModbus, modbus(4, "0", "1"), RequestField::Function,
         "Funciones MODBUS"},
        {"modbus address 100", kModbus, farAddress, RequestField::Address, "entre 0 y 99"},
        {"address not two digits", kKorvel, badAddress, RequestField::Address, "00 a 99"},
        {"instruction beyond latin-1", kKorvel, text("01", "D€"), RequestField::Instruction, "€"},
        {"instruction not utf-8", kIso, text("01", "\xff"), RequestField::Instruction, "Latin-1"},
        {"8-bit character on the 7-bit ISO line", kIso, text("01", "ÀA"), RequestField::Instruction,
         "\"À\", que no viaja por esta línea de 7 bits"},
        {"protocol 3", 3, text("01", "D"), RequestField::Protocol, "0 (Korvel)"},
        {"protocol 7", 7, text("01", "D"), RequestField::Protocol, "7"},
    };
    for (const RejectRow &row : rows) {
        auto frame = BuildRequest(row.protocol, row.inputs);
        ASSERT_FALSE(frame.ok()) << row.name << " built " << toHex(frame.value());
        EXPECT_EQ(frame.error().field, row.field) << row.name;
        EXPECT_NE(frame.error().message.find(row.mustMention), std::string::npos)
            << row.name << ": " << frame.error().message;
    }
}

TEST(BuildRequest, LongOffendingTextIsShortenedInTheMessage) {
    auto frame = BuildRequest(kModbus, modbus(kRead, std::string(500, '9') + "x", "1"));
    ASSERT_FALSE(frame.ok());
    EXPECT_LT(frame.error().message.size(), 200u);
}

TEST(BytesFromList, WorkedExamplesAndEmptyTokens) {
    const std::pair<const char *, Bytes> rows[] = {
        {"1;2;3", hexBytes({1, 2, 3})},
        {"1;;2", hexBytes({1, 2})},
        {";5", hexBytes({5})},
        {"7;", hexBytes({7})},
        {"12", hexBytes({12})},
        {"255;0", hexBytes({255, 0})},
        {"", {}},
        {";;;", {}},
        {" 1 ; 2", hexBytes({1, 2})},
    };
    for (const auto &[list, expected] : rows) {
        auto bytes = BytesFromList(list);
        ASSERT_TRUE(bytes.ok()) << '"' << list << "\": " << bytes.error().message;
        EXPECT_TRUE(sameBytes(bytes.value(), expected)) << '"' << list << '"';
    }
}

TEST(BytesFromList, LengthLimitIs254Characters) {
    // "1;" repeated: 127 pairs are 254 characters and yield 127 bytes.
    std::string list;
    for (int i = 0; i < 127; ++i)
        list += "1;";
    ASSERT_EQ(list.size(), 254u);
    auto fits = BytesFromList(list);
    ASSERT_TRUE(fits.ok());
    EXPECT_EQ(fits.value().size(), 127u);

    auto tooLong = BytesFromList(list + "1");
    ASSERT_FALSE(tooLong.ok());
    EXPECT_NE(tooLong.error().message.find("255 caracteres"), std::string::npos);

    // Characters are counted, not UTF-8 bytes: 254 "ñ" (508 bytes) still fit the limit
    // and then fail only as not being numbers.
    std::string wide;
    for (int i = 0; i < 254; ++i)
        wide += "ñ";
    auto widened = BytesFromList(wide);
    ASSERT_FALSE(widened.ok());
    EXPECT_EQ(widened.error().message.find("caracteres: se admiten"), std::string::npos);
}

}  // namespace
}  // namespace marvalo

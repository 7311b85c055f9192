#include "core/frames/check_codes.h"

#include <gtest/gtest.h>

#include <boost/crc.hpp>
#include <random>

#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::hexBytes;
using testing::sameBytes;

struct CrcRow {
    const char *name;
    Bytes input;
    Bytes expected;
};

TEST(CalcCRC, PublishedAndWorkedValues) {
    const CrcRow rows[] = {
        {"empty string keeps the initial register", {}, hexBytes({0xFF, 0xFF})},
        {"read request", hexBytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}), hexBytes({0xC4, 0x0B})},
        {"catalogue check value, low byte first", bytesOf("123456789"), hexBytes({0x37, 0x4B})},
        {"force coil at address 17", hexBytes({0x11, 0x05, 0x00, 0x00, 0xFF, 0x00}),
         hexBytes({0x8E, 0xAA})},
    };
    for (const CrcRow &row : rows) {
        EXPECT_TRUE(sameBytes(CalcCRC(row.input), row.expected)) << row.name;
    }
}

TEST(CalcCRC, AgreesWithBoostOnRandomInputs) {
    std::mt19937 random(1745);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 600);
    for (int round = 0; round < 2000; ++round) {
        Bytes data(static_cast<std::size_t>(length(random)));
        for (auto &b : data) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> reference;
        reference.process_bytes(data.data(), data.size());
        const unsigned expected = reference.checksum();
        const Bytes crc = CalcCRC(data);
        ASSERT_TRUE(sameBytes(
            crc, hexBytes({static_cast<int>(expected & 0xFF), static_cast<int>(expected >> 8)})))
            << "input " << toHex(data);
    }
}

struct BccRow {
    const char *name;
    Bytes body;
    int expected;
};

TEST(CalcBCC, WorkedValuesAndTheRaiseBelow32) {
    const BccRow rows[] = {
        {"address 01, instruction 0D", hexBytes({0x30, 0x31, 0x02, 0x30, 0x44, 0x03}), 0x77},
        {"address 01, empty instruction: ETX raised", hexBytes({0x30, 0x31, 0x02, 0x03}), 0x23},
        {"address 99, empty instruction", hexBytes({0x39, 0x39, 0x02, 0x03}), 0x23},
        {"instruction AB xors to 0, raised to 32", hexBytes({0x30, 0x31, 0x02, 0x41, 0x42, 0x03}),
         0x20},
        {"xor of exactly 32 is kept", hexBytes({0x30, 0x31, 0x02, 0x23, 0x03}), 0x20},
        {"xor of 31 is raised", hexBytes({0x30, 0x31, 0x02, 0x1C, 0x03}), 0x3F},
        {"high values pass unchanged", hexBytes({0x30, 0x31, 0x02, 0xFC, 0x03}), 0xFF},
        {"STX position is never read", hexBytes({0x30, 0x31, 0x7F, 0x03}), 0x23},
    };
    for (const BccRow &row : rows) {
        EXPECT_EQ(CalcBCC(row.body), row.expected) << row.name;
    }
}

TEST(CalcBCC, AddressNeverChangesTheCheck) {
    for (int address = 0; address < 100; ++address) {
        Bytes body = bytesOf((address < 10 ? "0" : "") + std::to_string(address));
        body.push_back(0x02);
        body.push_back('0');
        body.push_back('D');
        body.push_back(0x03);
        EXPECT_EQ(CalcBCC(body), 0x77) << "address " << address;
    }
}

TEST(CalcBCC, LongerThanASixteenBitCounter) {
    // 40,000 characters: a 16-bit position counter would have wrapped.
    Bytes body{'0', '1', 0x02};
    body.insert(body.end(), 40000, 'A');
    body.push_back('B');
    body.push_back(0x03);
    EXPECT_EQ(CalcBCC(body), 'B' ^ 0x03);
}

}  // namespace
}  // namespace marvalo

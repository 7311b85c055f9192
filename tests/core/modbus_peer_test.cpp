// Frames are checked by an implementation that is not ours: libmodbus takes
// each request off a pseudo-terminal and accepts it only if its length, its
// function and its CRC are right.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <unistd.h>

#include <memory>

#include "core/frames/request.h"
#include "tests/pty_pair.h"

namespace marvalo {
namespace {

using ModbusContext = std::unique_ptr<modbus_t, void (*)(modbus_t *)>;

ModbusContext serverOn(const std::string &path, int slave) {
    ModbusContext ctx(modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1), [](modbus_t *c) {
        modbus_close(c);
        modbus_free(c);
    });
    if (ctx && modbus_connect(ctx.get()) == 0) {
        modbus_set_slave(ctx.get(), slave);
        modbus_set_indication_timeout(ctx.get(), 1, 0);
    }
    return ctx;
}

int receivedLength(const Bytes &frame, int slave) {
    testing::PtyPair pty;
    ModbusContext server = serverOn(pty.devicePath(), slave);
    EXPECT_TRUE(server);
    EXPECT_EQ(write(pty.controller(), frame.data(), frame.size()),
              static_cast<ssize_t>(frame.size()));
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    return modbus_receive(server.get(), request);
}

TEST(ModbusPeer, AcceptsEveryFunctionWeBuild) {
    struct Row {
        const char *name;
        int function;
        const char *start;
        const char *words;
        const char *data;
        int address;
    } rows[] = {
        {"read holding", 0, "0", "2", "", 1},      {"read holding at 511", 0, "511", "125", "", 99},
        {"read input", 3, "300", "7", "", 0},      {"write words", 1, "10", "2", "0;100;1;44", 17},
        {"write 123 words", 1, "0", "123", "", 5}, {"force coil", 2, "", "", "255", 42},
    };
    for (const Row &row : rows) {
        RequestInputs in;
        in.addressNumber = row.address;
        in.functionIndex = row.function;
        in.instructionText = row.start;
        in.wordCountText = row.words;
        std::string data = row.data;
        if (row.function == 1 && data.empty()) {
            // A consistent list for the peer: two bytes per word.
            const int words = std::stoi(row.words);
            for (int i = 0; i < 2 * words; ++i)
                data += std::to_string(i % 256) + ";";
            if (data.size() > kMaxDataTextLength) {
                continue;  // beyond what one list can carry
            }
        }
        in.dataText = data;
        auto frame = BuildRequest(2, in);
        ASSERT_TRUE(frame.ok()) << row.name << ": " << frame.error().message;
        EXPECT_EQ(receivedLength(frame.value(), row.address),
                  static_cast<int>(frame.value().size()))
            << row.name << ": " << modbus_strerror(errno);
    }
}

TEST(ModbusPeer, RefusesAFrameWithADamagedCrc) {
    RequestInputs in;
    in.addressNumber = 1;
    in.instructionText = "0";
    in.wordCountText = "2";
    auto frame = BuildRequest(2, in);
    ASSERT_TRUE(frame.ok());
    Bytes damaged = frame.value();
    damaged.back() ^= 0x01;
    EXPECT_EQ(receivedLength(damaged, 1), -1);
}

}  // namespace
}  // namespace marvalo

#include "tools/register_json.h"

#include <gtest/gtest.h>

#include "core/frames/check_codes.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

// JSON has no NaN or infinity: they are named, never null, and the raw
// bytes ride beside every value; a lone last register says so.
TEST(RegisterJson, EveryValueTellsWhatItIs) {
    const struct {
        const char *view, *data, *json;  // of the last register
    } rows[] = {
        {"u32", "FF FF FF FF", R"("format":"u32","value":4294967295,"raw":"FF FF FF FF")"},
        {"s32", "80 00 00 00", R"("value":-2147483648,"raw":"80 00 00 00")"},
        {"f32", "3D CC CC CD", R"("value":0.1,"raw":"3D CC CC CD")"},
        {"f32", "7F C0 00 00", R"("value":"NaN","raw":"7F C0 00 00")"},
        {"f32", "7F 80 00 00", R"("value":"Infinity")"},
        {"f32:DCBA", "00 00 80 FF", R"("value":"-Infinity","raw":"00 00 80 FF")"},
        {"text", "41 0D", R"("format":"text","value":"A<CR>","raw":"41 0D")"},
        {"s32", "FF FF FF FE 00 07",
         R"("number":12,"format":"u16","value":7,"raw":"00 07","lone":true)"},
    };
    const Bytes request = fromHex("01 03 00 0A 00 03 25 C9");
    for (const auto &row : rows) {
        const Bytes data = fromHex(row.data);
        Bytes reply = {0x01, 0x03, static_cast<std::uint8_t>(data.size())};
        reply.insert(reply.end(), data.begin(), data.end());
        const Bytes crc = CalcCRC(reply);
        reply.insert(reply.end(), crc.begin(), crc.end());
        const auto view = parseRegisterView(row.view).value();
        const std::string json =
            registersJson(decodeRegisters(request, reply, view).value()).back().dump();
        EXPECT_NE(json.find(row.json), std::string::npos) << json;
    }
}

}  // namespace
}  // namespace marvalo

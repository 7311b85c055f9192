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
        {"f32", "34 A3 FC 0A", R"("value":3.0544498e-07,"raw")"},
        {"f32", "30 2D 8D F7", R"("value":6.313878e-10,"raw")"},
        {"f32", "7F C0 00 00", R"("value":"NaN","raw":"7F C0 00 00")"},
        {"f32", "7F 80 00 00", R"("value":"Infinity")"},
        {"f32:DCBA", "00 00 80 FF", R"("value":"-Infinity","raw":"00 00 80 FF")"},
        {"text", "41 0D", R"("format":"text","value":"A<CR>","raw":"41 0D")"},
        {"s32", "FF FF FF FE 00 07",
         R"("number":12,"format":"u16","value":7,"raw":"00 07","lone":true)"},
    };
    for (const auto &row : rows) {
        const Bytes data = fromHex(row.data);
        // A read of as many registers as the reply holds, from 10.
        Bytes request = {0x01, 0x03, 0x00, 0x0A, 0x00, static_cast<std::uint8_t>(data.size() / 2)};
        const Bytes asked = CalcCRC(request);
        request.insert(request.end(), asked.begin(), asked.end());
        Bytes reply = {0x01, 0x03, static_cast<std::uint8_t>(data.size())};
        reply.insert(reply.end(), data.begin(), data.end());
        const Bytes crc = CalcCRC(reply);
        reply.insert(reply.end(), crc.begin(), crc.end());
        const auto view = parseRegisterView(row.view).value();
        const std::string json =
            jsonLine(registersJson(decodeRegisters(request, reply, view).value()).back());
        EXPECT_NE(json.find(row.json), std::string::npos) << json;
    }
}

}  // namespace
}  // namespace marvalo

#include "core/records/influx_line.h"

#include <gtest/gtest.h>

#include "core/settings/panel_state.h"

namespace marvalo {
namespace {

// A record worked by hand, and each escape the line protocol has.
TEST(InfluxLine, TagsFieldsAndTimeAsTheLineProtocolWantsThem) {
    ExchangeRecord record;
    record.protocol = static_cast<std::uint8_t>(Protocol::Modbus);
    record.port = "COM 1 (x,y=z)";
    record.request = {17, 3, 0, 10, 0, 1, 0xB6, 0x98};
    record.verdict = Verdict{VerdictKind::Ok, ""};
    record.sentUs = 1000;
    record.firstByteUs = 6270;
    record.endUs = 5310;
    record.wallStartUs = 1765245600123456;
    RegisterValue value;
    value.number = 10;
    value.value = std::int64_t{42};
    EXPECT_EQ(influxLine(record, "17", std::vector{value}),
              "marvalo,port=COM\\ 1\\ (x\\,y\\=z),protocol=modbus,address=17,function=3,"
              "verdict=ok first_byte_ms=5.270,duration_ms=5.310,reply_bytes=0i,reg_10=42i "
              "1765245600123456000");
    const std::pair<const char *, const char *> keys[] = {
        {"a b", "a\\ b"}, {"a\\b", "a\\b"}, {"a\\", "a<5C>"}, {"a\\,b", "a<5C>\\,b"}};
    for (const auto &[text, escaped] : keys)
        EXPECT_EQ(influxKey(text), escaped);
    EXPECT_EQ(influxString("say \"hi\\\""), "\"say \\\"hi\\\\\\\"\"");
}

}  // namespace
}  // namespace marvalo

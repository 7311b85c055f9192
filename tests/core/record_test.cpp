#include <gtest/gtest.h>

#include "core/records/record_csv.h"
#include "core/verdicts/exchange_stats.h"

namespace marvalo {
namespace {

TEST(RecordCsv, FieldsAreQuotedOnlyWhenTheyMustBe) {
    const std::pair<const char *, const char *> rows[] = {
        {"01 03 C4 0B", "01 03 C4 0B"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"BCC \"46\"", "\"BCC \"\"46\"\"\""},
        {"line\r\nbreak", "\"line\r\nbreak\""},
        {"dirección", "dirección"},
    };
    for (const auto &[text, field] : rows)
        EXPECT_EQ(csvField(text), field) << text;

    ExchangeRecord record;
    record.sequence = 2;
    record.protocol = 1;
    record.port = "COM 1 (/dev/pts/3)";
    record.settings = " 9600,e,7,1";
    record.request = {0x01, 0x30};
    record.failure = "No se pudo abrir COM 1: \"ocupado\", inténtelo de nuevo";
    const std::string line = recordCsvLine(record);
    EXPECT_NE(
        line.find(
            ",2,single,iso1745,COM 1 (/dev/pts/3),local,\" 9600,e,7,1\",01 30,,,,0.000,failure,"
            "\"No se pudo abrir COM 1: \"\"ocupado\"\", inténtelo de nuevo\"\r\n"),
        std::string::npos)
        << line;
    EXPECT_EQ(recordCsvHeader().rfind("\xEF\xBB\xBFtime,", 0), 0U) << "a BOM for spreadsheets";

    // What a spreadsheet would run is neutralised; a path that is not UTF-8
    // and a reply's control characters arrive named, never raw.
    const std::pair<const char *, const char *> cells[] = {
        {"=HYPERLINK(\"x\")", ",\"'=HYPERLINK(\"\"x\"\")\"\r\n"},
        {"+1", ",'+1\r\n"},
        {"-1", ",'-1\r\n"},
        {"@SUM(A1)", ",'@SUM(A1)\r\n"},
        {"responde \x1B"
         "c",
         ",responde <1B>c\r\n"},
        {"dir\xF3n", ",dirón\r\n"},
        {"\xC2\x85 siguiente", ",<85> siguiente\r\n"},
    };
    for (const auto &[text, ending] : cells) {
        record.failure = text;
        const std::string cell = recordCsvLine(record);
        EXPECT_EQ(cell.substr(cell.size() - std::string(ending).size()), ending) << text;
    }
}

TEST(ExchangeStats, CountsByVerdictAndLatencyPercentiles) {
    ExchangeStats stats;
    for (int ms = 1; ms <= 100; ++ms) {
        ExchangeRecord record;
        record.sentUs = 0;
        record.firstByteUs = ms * 1000;
        record.verdict = Verdict{ms % 10 == 0 ? VerdictKind::BadCheck : VerdictKind::Ok, ""};
        stats.add(record);
    }
    ExchangeRecord silent;
    silent.verdict = Verdict{VerdictKind::Silence, ""};
    stats.add(silent);
    ExchangeRecord failed;
    failed.failure = "gone";
    stats.add(failed);

    EXPECT_EQ(stats.exchanges, 102U);
    EXPECT_EQ(stats.count(VerdictKind::Ok), 90U);
    EXPECT_EQ(stats.bad(), 10U);
    EXPECT_EQ(stats.count(VerdictKind::Silence), 1U);
    EXPECT_EQ(stats.failures, 1U);
    EXPECT_EQ(stats.firstByte.count(), 100U) << "silence and failures have no latency";
    EXPECT_DOUBLE_EQ(*stats.firstByte.min(), 1.0);
    EXPECT_DOUBLE_EQ(*stats.firstByte.max(), 100.0);
    EXPECT_NEAR(*stats.firstByte.percentile(0.5), 50.0, 0.5);
    EXPECT_NEAR(*stats.firstByte.percentile(0.95), 95.0, 1.0);
    EXPECT_FALSE(LatencyHistogram{}.percentile(0.5).has_value());

    // A small sample's percentiles are its own values: p95 of five is the max.
    LatencyHistogram five;
    for (double ms : {5.1, 5.4, 5.2, 5.3, 5.0})
        five.add(ms);
    EXPECT_EQ(*five.percentile(0.95), 5.4);
    EXPECT_EQ(*five.percentile(0.5), 5.2);
}

}  // namespace
}  // namespace marvalo

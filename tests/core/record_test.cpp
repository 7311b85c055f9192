#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "core/records/record_csv.h"
#include "core/verdicts/exchange_stats.h"
#include "tests/run_program.h"
#include "tests/temp_folder.h"

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
    EXPECT_EQ(recordCsvHeader().rfind("\xEF\xBB\xBFhora,", 0), 0U) << "a BOM for spreadsheets";
    // With a decimal comma: `;` between fields, so the settings' commas need no quotes.
    EXPECT_NE(recordCsvLine(record, CsvStyle::DecimalComma)
                  .find(";2;single;iso1745;COM 1 (/dev/pts/3);local; 9600,e,7,1;01 30;;;;0,000;"),
              std::string::npos);
    EXPECT_EQ(csvStyleFor(","), CsvStyle::DecimalComma);
    EXPECT_EQ(csvStyleFor("."), CsvStyle::Plain);
    // The panel's toolkit sets LC_NUMERIC from a Spanish desktop: the plain
    // style keeps its points all the same.
    if (std::setlocale(LC_NUMERIC, "es_ES.UTF-8") != nullptr) {
        EXPECT_NE(recordCsvLine(record).find(",0.000,failure,"), std::string::npos);
        std::setlocale(LC_NUMERIC, "C");
    }

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

TEST(RecordCsv, ASpreadsheetReadsTheSameTimesInEitherStyle) {
    if (!std::filesystem::exists("/usr/bin/soffice"))
        GTEST_SKIP() << "LibreOffice absent (scripts/install-deps installs libreoffice-calc-nogui)";
    ExchangeRecord record;
    record.settings = " 9600,n,8,1";
    record.sentUs = 0;
    record.firstByteUs = 9639;
    record.lastByteUs = record.endUs = 1172358;
    // Each file as a spreadsheet of its locale reads it, written back with
    // `;` and every text cell quoted: the times come back unquoted, numbers
    // shown with the locale's decimal mark.
    const struct {
        CsvStyle style;
        const char *locale, *separator, *language, *times;
    } rows[] = {{CsvStyle::DecimalComma, "es_ES.UTF-8", "59", "3082", ";9,639;1172,358;1172,358;"},
                {CsvStyle::Plain, "en_US.UTF-8", "44", "1033", ";9.639;1172.358;1172.358;"}};
    for (const auto &row : rows) {
        const testing::TempFolder folder;
        folder.write("in.csv", recordCsvHeader(row.style) + recordCsvLine(record, row.style));
        const auto run = testing::runProgram(
            {"/usr/bin/env", "HOME=" + folder.path().string(), std::string("LC_ALL=") + row.locale,
             "soffice", "--headless",
             std::string("--infilter=CSV:") + row.separator + ",34,76,1,," + row.language,
             "--convert-to", "csv:Text - txt - csv (StarCalc):59,34,76,1,,1033,true", "--outdir",
             (folder.path() / "out").string(), (folder.path() / "in.csv").string()});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(folder.read("out/in.csv").find(row.times), std::string::npos)
            << row.locale << "\n"
            << folder.read("out/in.csv");
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

#include "panel/frame_pane.h"

#include <gtest/gtest.h>

#include "core/settings/panel_state.h"
#include "panel/monitor_model.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

// The pane shows what came, as it came: the line's "%1" stays "%1", an odd
// count has no false CRC error. The Petición cell of a Modbus request is its
// hex: its bytes named as text ("<SOH><ETX>…") say nothing.
TEST(FramePane, ShowsTheLineAsItCame) {
    const struct {
        Protocol protocol;
        const char *port, *request, *reply, *shows, *cell, *values;
    } rows[] = {
        {Protocol::Korvel, "COM %2 (%1)", "2A 30 31 44 0D", "30 31 44 20 35 30 25 31 0D",
         "Texto           [0+8]       01D 50%1\n", "2A 30 31 44 0D   *01D<CR>", ""},
        {Protocol::Modbus, "COM 1", "01 03 00 0A 00 03 25 C9", "01 03 03 00 2A 01 9B 2E",
         "[5+1]       01   ← mal\n  CRC             [6+2]       CRC 9B 2E correcto",
         "01 03 00 0A 00 03 25 C9", ""},
        // The values are those of the frame judged, not of the bytes before
        // it: stray bytes, our own request heard back (RS485), or both.
        {Protocol::Modbus, "COM 1", "01 03 00 0A 00 02 E4 09", "00 01 03 04 FF FF 00 0B BB D0",
         "Bytes sobrantes", "01 03 00 0A 00 02 E4 09", "reg 10 = 65535, reg 11 = 11"},
        {Protocol::Modbus, "COM 1", "01 03 00 0A 00 02 E4 09",
         "01 03 00 0A 00 02 E4 09 00 01 03 04 FF FF 00 0B BB D0", "Eco", "01 03 00 0A 00 02 E4 09",
         "reg 10 = 65535, reg 11 = 11"},
    };
    MonitorModel model(10);
    for (const auto &row : rows) {
        ExchangeRecord record;
        record.protocol = static_cast<std::uint8_t>(row.protocol);
        record.port = row.port;
        record.request = fromHex(row.request);
        record.reply = fromHex(row.reply);
        record.verdict = judgeReply(record.protocol, record.request, record.reply);
        const QString report = frameReport(record, {});
        EXPECT_TRUE(report.contains(QString::fromUtf8(row.shows)) &&
                    report.contains(QString(row.port) + "  "))
            << report.toStdString();
        EXPECT_FALSE(report.contains("CRC 00 2A") || report.contains("Sin reconocer")) << row.reply;
        model.add(record);
        model.flushPending();
        const auto cell = model.index(model.rowCount() - 1, MonitorModel::Request);
        EXPECT_EQ(model.data(cell, Qt::DisplayRole).toString().toStdString(), row.cell);
        EXPECT_EQ(cell.siblingAtColumn(MonitorModel::Values).data().toString().toStdString(),
                  row.values);
    }
}

}  // namespace
}  // namespace marvalo

#include "panel/frame_pane.h"

#include <gtest/gtest.h>

#include "core/settings/panel_state.h"
#include "panel/monitor_model.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

// The pane shows what came, as it came: the line's "%1" stays "%1", a
// good frame with a lone register or an odd count has no false CRC error.
TEST(FramePane, ShowsTheLineAsItCame) {
    const auto modbus = static_cast<std::uint8_t>(Protocol::Modbus);
    const auto korvel = static_cast<std::uint8_t>(Protocol::Korvel);
    const struct {
        std::uint8_t protocol;
        const char *view, *port, *request, *reply;
        const char *shows;
        bool flagged;  // some field marked "← mal"
    } rows[] = {
        {korvel, "u16", "COM 1 (%1)", "2A 30 31 44 0D", "30 31 44 20 35 30 25 31 0D",
         "Texto           [0+8]       01D 50%1\n", false},
        {korvel, "u16", "COM %2", "2A 30 31 44 0D", "30 31 44 20 35 30 25 31 0D", "COM %2  ",
         false},
        {modbus, "u32", "COM 1", "01 03 00 0A 00 03 25 C9", "01 03 06 B2 D0 5F 6E 80 00 E9 7C",
         "reg 10 = 3000000366\n", false},
        {modbus, "u32", "COM 1", "01 03 00 0A 00 03 25 C9", "01 03 06 00 01 00 02 00 07 FC B7",
         "reg 12 = 7 (u16, registro suelto)\n  CRC             [9+2]       CRC FC B7 correcto\n",
         false},
        {modbus, "u16", "COM 1", "01 03 00 0A 00 03 25 C9", "01 03 03 00 2A 01 9B 2E",
         "[5+1]       01   ← mal\n  CRC             [6+2]       CRC 9B 2E correcto", true},
    };
    for (const auto &row : rows) {
        ExchangeRecord record;
        record.protocol = row.protocol;
        record.port = row.port;
        record.request = fromHex(row.request);
        record.reply = fromHex(row.reply);
        record.verdict = judgeReply(row.protocol, record.request, record.reply);
        const QString report = frameReport(record, parseRegisterView(row.view).value());
        EXPECT_TRUE(report.contains(QString::fromUtf8(row.shows))) << report.toStdString();
        EXPECT_EQ(report.contains(QString::fromUtf8("← mal")), row.flagged) << report.toStdString();
    }
}

// A Modbus request's bytes named as text ("<SOH><ETX>…") say nothing: the
// Petición cell shows its hex; the text protocols keep their text.
TEST(MonitorModel, PeticionShowsTextOnlyForTheTextProtocols) {
    const struct {
        Protocol protocol;
        const char *request, *cell;
    } rows[] = {
        {Protocol::Modbus, "01 03 00 0A 00 02 E4 09", "01 03 00 0A 00 02 E4 09"},
        {Protocol::Korvel, "2A 30 31 44 0D", "2A 30 31 44 0D   *01D<CR>"},
        {Protocol::Iso1745, "01 30 31 02 30 44 03 77",
         "01 30 31 02 30 44 03 77   "
         "<SOH>01<STX>0D<ETX>w"},
    };
    MonitorModel model(10);
    for (const auto &row : rows) {
        ExchangeRecord record;
        record.protocol = static_cast<std::uint8_t>(row.protocol);
        record.request = fromHex(row.request);
        record.verdict = Verdict{VerdictKind::Silence, "sin respuesta"};
        model.add(record);
        model.flushPending();
        const QModelIndex cell = model.index(model.rowCount() - 1, MonitorModel::Request);
        EXPECT_EQ(model.data(cell, Qt::DisplayRole).toString().toStdString(), row.cell)
            << row.request;
    }
}

}  // namespace
}  // namespace marvalo

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QTableView>
#include <QTest>

#include "panel/monitor_access.h"
#include "panel/monitor_window.h"
#include "tests/panel_rig.h"

namespace marvalo {
namespace {

ExchangeRecord judged(std::uint64_t sequence, VerdictKind kind) {
    ExchangeRecord record;
    record.sequence = sequence;
    record.verdict = Verdict{kind, verdictKey(kind)};
    return record;
}

TEST(MonitorModel, KeepsTheNewestAndCountsEverything) {
    MonitorModel model(3);
    ProblemsOnly problems;
    problems.setSourceModel(&model);
    const VerdictKind kinds[] = {VerdictKind::Ok, VerdictKind::Silence, VerdictKind::Ok,
                                 VerdictKind::BadCheck, VerdictKind::Ok};
    for (std::uint64_t n = 1; n <= 5; ++n)
        model.add(judged(n, kinds[n - 1]));
    model.flushPending();  // all but the first came within one batch
    // A capacity of 3 drops at 3 + 3 / 100: every row beyond it at once.
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.record(0).sequence, 3U) << "the oldest went first";
    EXPECT_EQ(model.dropped(), 2U);
    EXPECT_EQ(model.stats().exchanges, 5U) << "statistics cover the dropped rows too";
    EXPECT_EQ(problems.rowCount(), 1) << "only the bad check is a problem among the kept";
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.stats().exchanges, 0U);
    EXPECT_EQ(model.dropped(), 0U);
}

TEST(MonitorWindow, OpensWithF2ShowsEachExchangeSavesCsvAndRemembersItsPlace) {
    testing::PanelRig rig;
    const QString stateFile = QString::fromStdString((rig.folder.path() / "monitor.ini").string());
    {
        auto *access = new LineMonitor(*rig.form, stateFile);
        rig.form->show();
        rig.form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(rig.form.get()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
        MonitorWindow &monitor = access->window();
        ASSERT_TRUE(monitor.isVisible());
        monitor.setGeometry(40, 50, 700, 300);

        rig.port.queueReply(bytesOf("01D+0023.4\r"));
        rig.click("cmdEnviar");
        rig.click("cmdEnviar");  // nothing queued: silence
        monitor.model().flushPending();
        ASSERT_EQ(monitor.model().rowCount(), 2);
        auto *table = monitor.findChild<QTableView *>("tblIntercambios");
        EXPECT_EQ(table->model()->index(0, MonitorModel::Verdict).data().toString(),
                  QString::fromUtf8("línea completa"));
        monitor.findChild<QCheckBox *>("chkSoloProblemas")->setChecked(true);
        EXPECT_EQ(table->model()->rowCount(), 1);

        const QString csv = QString::fromStdString((rig.folder.path() / "x.csv").string());
        ASSERT_FALSE(monitor.saveCsv(csv).has_value());
        const std::string saved = rig.folder.read("x.csv");
        EXPECT_EQ(saved.rfind("\xEF\xBB\xBFtime,sequence,mode,protocol", 0), 0U) << saved;
        EXPECT_NE(saved.find(",1,single,korvel,"), std::string::npos) << saved;
        EXPECT_NE(saved.find(",silence,sin respuesta\r\n"), std::string::npos) << saved;
        EXPECT_FALSE(monitor.saveCsv("/nonexistent-folder/x.csv").value_or("").isEmpty());
        rig.form->close();
        EXPECT_FALSE(monitor.isVisible()) << "closes with the panel";
    }
    MonitorModel none;
    MonitorWindow reopened(none, stateFile);
    EXPECT_EQ(reopened.geometry().size(), QSize(700, 300));
    EXPECT_EQ(rig.folder.read("Comini.sdx").size(), 8U) << "the settings file stays one line";
}

}  // namespace
}  // namespace marvalo

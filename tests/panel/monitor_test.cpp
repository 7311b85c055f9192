#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGlyphRun>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStaticText>
#include <QTableView>
#include <QTest>
#include <QWheelEvent>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <set>

#include "core/frames/check_codes.h"
#include "panel/cached_text_delegate.h"
#include "panel/following_table_view.h"
#include "panel/monitor_access.h"
#include "panel/monitor_window.h"
#include "panel/response_chart.h"
#include "tests/panel_rig.h"

namespace marvalo {
namespace {

ExchangeRecord judged(std::uint64_t sequence, VerdictKind kind) {
    ExchangeRecord record;
    record.sequence = sequence;
    record.verdict = Verdict{kind, verdictKey(kind)};
    return record;
}

// With a first-byte delay, 5.0 to 5.6 ms: a mark in the chart's plot.
ExchangeRecord timed(std::uint64_t sequence, VerdictKind kind) {
    ExchangeRecord record = judged(sequence, kind);
    record.sentUs = 0;
    record.firstByteUs = 5'000 + static_cast<std::int64_t>(sequence % 7) * 100;
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
    const QVariant keyBefore =
        model.index(2, MonitorModel::Verdict).data(MonitorModel::kTextKeyRole);
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.stats().exchanges, 0U);
    EXPECT_EQ(model.dropped(), 0U);
    for (std::uint64_t n = 6; n <= 10; ++n)
        model.add(judged(n, VerdictKind::Ok));
    model.flushPending();
    EXPECT_EQ(model.record(0).sequence, 3U) << "numbered again from 1, the two oldest dropped";
    EXPECT_NE(model.index(2, MonitorModel::Verdict).data(MonitorModel::kTextKeyRole), keyBefore)
        << "a text cached before the clear is not taken for row 5's";
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
        monitor.setGeometry(40, 50, 1100, 700);

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
        EXPECT_EQ(saved.rfind("\xEF\xBB\xBFhora,número,modo,protocolo", 0), 0U) << saved;
        EXPECT_NE(saved.find(",1,single,korvel,"), std::string::npos) << saved;
        EXPECT_NE(saved.find(",silence,sin respuesta\r\n"), std::string::npos) << saved;
        EXPECT_FALSE(monitor.saveCsv("/nonexistent-folder/x.csv").value_or("").isEmpty());
        // Where the decimal mark is a comma, "Guardar…" offers `;` and `,` first.
        QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
        ASSERT_EQ(MonitorWindow::localCsvStyle(), CsvStyle::DecimalComma);
        QLocale::setDefault(QLocale::c());
        rig.form->close();
        EXPECT_FALSE(monitor.isVisible()) << "closes with the panel";
    }
    MonitorModel none;
    MonitorWindow reopened(none, stateFile);
    EXPECT_EQ(reopened.geometry().size(), QSize(1100, 700));
    EXPECT_EQ(reopened.saveDialogStart().toStdString(),
              (rig.folder.path() / "intercambios.csv").string())
        << "where the last CSV went";
    // A first save opens among the user's files, never in the program's
    // folder (an installed one's is /usr/bin).
    EXPECT_TRUE(
        MonitorWindow(none, "/nonexistent/m.ini").saveDialogStart().startsWith(QDir::homePath()));
    EXPECT_EQ(rig.folder.read("Comini.sdx").size(), 8U) << "the settings file stays one line";
}

// `widget` as painted bit by bit into its window's backing store, and as a
// full repaint of its state now draws it.
std::pair<QImage, QImage> shownAndRepainted(QWidget *widget) {
    QWidget *window = widget->window();
    const QPoint at = widget->mapTo(window, QPoint());
    const QImage shown =
        window->screen()
            ->grabWindow(window->winId(), at.x(), at.y(), widget->width(), widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    return {shown, widget->grab().toImage().convertToFormat(QImage::Format_RGB32)};
}

// The model's Nº of every visible row whose strip differs between what the
// table shows and a full repaint.
QStringList rowsPaintedWrong(QTableView *table) {
    const auto [shown, full] = shownAndRepainted(table->viewport());
    QStringList wrong;
    if (shown.size() != full.size())
        return {"backing store " + QString::number(shown.height()) + " px high"};
    for (int y = 0; y < full.height(); ++y) {
        if (std::memcmp(shown.constScanLine(y), full.constScanLine(y),
                        static_cast<std::size_t>(full.bytesPerLine())) == 0)
            continue;
        const QModelIndex row = table->indexAt(QPoint(1, y));
        const QString name =
            row.isValid() ? "Nº " + row.siblingAtColumn(0).data().toString() : "below the rows";
        if (!wrong.contains(name))
            wrong << name;
        if (!row.isValid())
            break;
        y = std::max(y, table->visualRect(row).bottom());  // one name a row
    }
    return wrong;
}

TEST(MonitorWindow, PaintsEveryVisibleRowAsAFullRepaintWould) {
    testing::TempFolder folder;
    MonitorModel model;
    MonitorWindow monitor(model, QString::fromStdString((folder.path() / "m.ini").string()));
    monitor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&monitor));
    auto *table = monitor.findChild<FollowingTableView *>("tblIntercambios");
    auto *chart = monitor.findChild<ResponseChart *>("chrRespuesta");
    auto *problemsOnly = monitor.findChild<QCheckBox *>("chkSoloProblemas");
    const auto wheel = [&](int notches) {
        QWheelEvent event(QPointF(10, 10), table->viewport()->mapToGlobal(QPointF(10, 10)),
                          QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(table->viewport(), &event);
    };
    std::uint64_t sequence = 0;
    const struct {
        const char *name;
        std::function<void()> before;
        int adds;
        int gapMs;  // between records: under kBatchMs they share a batch
        bool allGood = false;
    } steps[] = {
        {"rows that fit without scrolling", [] {}, 3, 20},
        {"one row per batch, following", [] {}, 60, MonitorModel::kBatchMs + 2},
        {"rows faster than batches", [] {}, 80, 3},
        {"rows as fast as they come", [] {}, 200, 0},
        {"one wheel notch up, rows below", [&] { wheel(1); }, 20, 5},
        {"wheeled back to the bottom", [&] { wheel(-3); }, 40, 7},
        {"\"Solo problemas\" on", [&] { problemsOnly->setChecked(true); }, 120, 4},
        {"\"Solo problemas\" off", [&] { problemsOnly->setChecked(false); }, 40, 9},
        // Far more points than the chart has columns: most batches move no mark.
        {"a long history, one row per batch",
         [&] {
             model.clear();
             for (int i = 0; i < 10'000; ++i)
                 model.add(timed(++sequence, VerdictKind::Ok));
             model.flushPending();
         },
         30, MonitorModel::kBatchMs + 2, true},
    };
    for (const auto &step : steps) {
        step.before();
        for (int i = 0; i < step.adds; ++i) {
            ++sequence;
            model.add(timed(
                sequence, step.allGood || sequence % 3 ? VerdictKind::Ok : VerdictKind::BadCheck));
            QTest::qWait(step.gapMs);
        }
        QTest::qWait(3 * MonitorModel::kBatchMs);
        EXPECT_EQ(rowsPaintedWrong(table).join(", ").toStdString(), "") << step.name;
        const auto [chartShown, chartFull] = shownAndRepainted(chart);
        EXPECT_TRUE(chartShown == chartFull) << step.name << ": the chart";
    }
    EXPECT_TRUE(table->followsNewest());
}

// Texts laid out in one font are not drawn in the next: a view whose font
// changed draws what a new view in that font draws.
TEST(CachedTextDelegate, FollowsAFontChange) {
    MonitorModel model;
    model.add(judged(1, VerdictKind::Ok));
    model.flushPending();
    const auto view = [&](const QFont &font) {
        auto table = std::make_unique<QTableView>();
        table->setItemDelegate(new CachedTextDelegate(MonitorModel::kTextKeyRole, table.get()));
        table->setModel(&model);
        table->setFont(font);
        table->horizontalHeader()->hide();
        table->verticalHeader()->hide();
        table->verticalHeader()->setDefaultSectionSize(60);
        table->resize(900, 120);
        return table;
    };
    QFont larger = QApplication::font();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    auto changed = view(QApplication::font());
    changed->grab();
    changed->setFont(larger);
    EXPECT_TRUE(changed->grab().toImage() == view(larger)->grab().toImage());
}

TEST(CachedTextDelegate, ElidesAsQtDoesWhateverPartOfTheTextItShapes) {
    const QFontMetrics metrics(QApplication::font());
    const QString reply = QString("02 30 44 2B 30 30 32 33 2E 34 03 47 ").repeated(8) +
                          "   <STX>0D+0023.4<ETX>G (96 bytes)";
    const struct {
        const char *name;
        QString text;
    } texts[] = {
        {"a short cell", "bloque correcto"},
        {"a long reply", reply},
        {"zero-width spaces before it", QString(120, QChar(0x200B)) + reply},
        {"combining accents", QString::fromUtf8("e\u0301").repeated(150)},
        {"wide characters", QString::fromUtf8("漢字").repeated(100)},
        {"spaces at its end", "bloque correcto    "},
        {"a line break", "01D+0023.4\n02D+0023.4"},
    };
    // Drawn from the glyphs shaped once, as QStaticText draws the elided text.
    auto drawn = [](auto draw) {
        QImage image(2100, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        draw(painter);
        return image;
    };
    const QFont font = QApplication::font();
    for (const auto &row : texts) {
        // Just wide enough, a pixel short, and widths far from the text's own.
        const int own = metrics.horizontalAdvance(row.text);
        for (const int width : {0, 12, 45, 230, 2000, own, own - 1}) {
            const QString elided = metrics.elidedText(row.text, Qt::ElideRight, width);
            EXPECT_EQ(elidedLine(metrics, row.text, width).toStdString(), elided.toStdString())
                << row.name << " in " << width << " px";
            const QImage plain = drawn([&](QPainter &painter) {
                QStaticText text(elided);
                text.setTextFormat(Qt::PlainText);
                painter.setFont(font);
                painter.drawStaticText(QPointF(3, 5), text);
            });
            const QImage shaped = drawn([&](QPainter &painter) {
                for (const QGlyphRun &run : shapedLine(font, row.text, width).runs)
                    painter.drawGlyphRun(QPointF(3, 5), run);
            });
            EXPECT_TRUE(plain == shaped) << row.name << " drawn in " << width << " px";
        }
    }
}

TEST(MonitorWindow, TheTableTheChartAndTheStatisticsShowTheSameNewestExchange) {
    testing::TempFolder folder;
    MonitorModel model;
    MonitorWindow monitor(model, QString::fromStdString((folder.path() / "m.ini").string()));
    monitor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&monitor));
    auto *table = monitor.findChild<QTableView *>("tblIntercambios");
    auto *chart = monitor.findChild<ResponseChart *>("chrRespuesta");
    auto *statistics = monitor.findChild<QLabel *>("lblEstadisticas");
    const struct {
        const char *name;
        int adds;
        int gapMs;
    } steps[] = {{"the first", 1, 0},    {"one more, soon after", 1, 0}, {"a batch", 6, 2},
                 {"a screenful", 40, 0}, {"after a pause", 1, 300},      {"and right after", 1, 0}};
    int exchanges = 0;
    for (const auto &step : steps) {
        for (int i = 0; i < step.adds; ++i) {
            QTest::qWait(step.gapMs);
            model.add(judged(static_cast<std::uint64_t>(++exchanges), VerdictKind::Ok));
        }
        model.flushPending();
        QCoreApplication::processEvents();  // the next frame
        const QRect newest = table->visualRect(model.index(exchanges - 1, 0));
        EXPECT_TRUE(table->viewport()->rect().contains(newest)) << step.name;
        EXPECT_EQ(rowsPaintedWrong(table).join(", ").toStdString(), "") << step.name;
        EXPECT_EQ(chart->pointCount(), static_cast<std::size_t>(exchanges)) << step.name;
        EXPECT_TRUE(statistics->text().startsWith(QString("Intercambios: %1 ").arg(exchanges)))
            << step.name << ": " << statistics->text().toStdString();
        for (QWidget *shown : {static_cast<QWidget *>(chart), static_cast<QWidget *>(statistics),
                               static_cast<QWidget *>(table->verticalScrollBar())}) {
            if (!shown->isVisible())
                continue;  // the bar shows once the rows outgrow the table
            const auto [painted, now] = shownAndRepainted(shown);
            EXPECT_TRUE(painted == now) << step.name << ": " << shown->objectName().toStdString();
        }
    }
    // The ring's whole count and more reads whole in "Nº", as the chart and
    // the statistics write it.
    EXPECT_EQ(elidedLine(table->fontMetrics(), "1000000", table->columnWidth(0) - 6).toStdString(),
              "1000000");
}

// Narrowed beside the panel, the buttons go under the view controls: every
// control stays whole, in sight and above the table.
TEST(MonitorWindow, NarrowedItKeepsEveryControlWholeAndInSight) {
    testing::TempFolder folder;
    MonitorModel model;
    MonitorWindow monitor(model, QString::fromStdString((folder.path() / "m.ini").string()));
    monitor.show();
    for (const int width : {1180, 640}) {
        monitor.resize(width, 700);
        QCoreApplication::processEvents();
        ASSERT_EQ(monitor.width(), width);
        QRegion taken;
        for (const char *name :
             {"chkSoloProblemas", "chkSoloTexto", "cmbFormato", "cmbGrafica", "cmbRegistro",
              "cmdBorrar", "cmdCopiar", "cmdGuardar", "cmdGuardarCaptura"}) {
            const auto *control = monitor.findChild<QWidget *>(name);
            const QRect at(control->mapTo(&monitor, QPoint()), control->size());
            EXPECT_TRUE(monitor.rect().contains(at) && !taken.intersects(at)) << name << width;
            EXPECT_GE(at.width(), control->minimumSizeHint().width()) << name << width;
            taken += at;
        }
        EXPECT_LT(taken.boundingRect().bottom(),
                  monitor.findChild<QWidget *>("splMonitor")->geometry().top());
    }
}

// With no rows, after "Borrar": the register chart's axis follows the format.
TEST(MonitorWindow, AnEmptyRegisterChartFollowsTheFormat) {
    testing::TempFolder folder;
    MonitorModel model;
    MonitorWindow monitor(model, QString::fromStdString((folder.path() / "m.ini").string()));
    monitor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&monitor));
    monitor.findChild<QComboBox *>("cmbGrafica")->setCurrentIndex(1);
    QTest::qWait(3 * MonitorModel::kBatchMs);
    monitor.findChild<QComboBox *>("cmbFormato")->setCurrentText("hex");
    QTest::qWait(3 * MonitorModel::kBatchMs);
    const auto [shown, full] =
        shownAndRepainted(monitor.findChild<ResponseChart *>("chrRespuesta"));
    EXPECT_TRUE(shown == full);
}

TEST(MonitorWindow, FollowsTheNewestRowUnlessScrolledAway) {
    testing::PanelRig rig;
    LineMonitor access(*rig.form,
                       QString::fromStdString((rig.folder.path() / "monitor.ini").string()));
    access.open();
    MonitorWindow &monitor = access.window();
    auto *table = monitor.findChild<QTableView *>("tblIntercambios");
    rig.click("cmdEnvioContinuado");
    for (int i = 0; i < 500 && monitor.model().stats().exchanges < 60; ++i)
        QTest::qWait(2);
    rig.click("cmdEnvioContinuado");
    QTest::qWait(3 * MonitorModel::kBatchMs);
    const int rows = monitor.model().rowCount();
    ASSERT_GE(rows, 60);
    EXPECT_EQ(static_cast<std::uint64_t>(rows), monitor.model().stats().exchanges);
    auto lastRowShown = [&] {
        const QRect last = table->visualRect(table->model()->index(rows - 1, 0));
        return table->viewport()->rect().contains(last);
    };
    EXPECT_TRUE(lastRowShown()) << "the newest row is in sight during continuous sending";

    // Scrolled up to read an old row, the operator stays there.
    table->verticalScrollBar()->setValue(0);
    monitor.model().add(judged(1001, VerdictKind::Ok));
    monitor.model().flushPending();
    QTest::qWait(5);
    EXPECT_EQ(table->verticalScrollBar()->value(), 0);
}

TEST(MonitorWindow, AnOldRowBeingReadStaysInSightAsTheRingDropsRows) {
    testing::TempFolder folder;
    MonitorModel model(200);
    MonitorWindow monitor(model, QString::fromStdString((folder.path() / "m.ini").string()));
    monitor.show();
    const auto addUpTo = [&](std::uint64_t last) {
        for (std::uint64_t n = model.stats().exchanges + 1; n <= last; ++n)
            model.add(judged(n, VerdictKind::Ok));
        model.flushPending();
        QTest::qWait(5);
    };
    addUpTo(200);
    auto *table = monitor.findChild<QTableView *>("tblIntercambios");
    table->scrollTo(model.index(100, 0), QAbstractItemView::PositionAtTop);
    const auto topSequence = [&] { return model.record(table->rowAt(0)).sequence; };
    ASSERT_EQ(topSequence(), 101U);
    addUpTo(210);
    ASSERT_EQ(model.rowCount(), 200) << "the ring dropped its oldest";
    EXPECT_EQ(topSequence(), 101U);
}

TEST(MonitorWindow, TextsTooltipsAndCopies) {
    testing::PanelRig rig;
    LineMonitor access(*rig.form,
                       QString::fromStdString((rig.folder.path() / "monitor.ini").string()));
    auto *open = rig.form->findChild<QAction *>("actMonitor");
    EXPECT_EQ(open->text(), QString::fromUtf8("Monitor de línea")) << "the menu adds F2 itself";
    EXPECT_EQ(open->shortcut(), QKeySequence(Qt::Key_F2));

    // "Copiar respuesta" copies what the display shows, and nothing a
    // spreadsheet would run.
    const struct {
        const char *name;
        std::optional<std::string> reply;  // nullopt: no reply
        const char *mode;                  // the button pressed
        QString copied;
    } sends[] = {
        {"a reply", "01D+0023.4\r", "cmdEnviar",
         "30 31 44 2B 30 30 32 33 2E 34 0D\n01D+0023.4<CR>"},
        {"a single send without reply blanks the display", std::nullopt, "cmdEnviar", ""},
        {"a formula", "=HYPERLINK(1)", "cmdEnviar",
         "3D 48 59 50 45 52 4C 49 4E 4B 28 31 29\n'=HYPERLINK(1)"},
    };
    for (const auto &send : sends) {
        if (send.reply)
            rig.port.queueReply(bytesOf(*send.reply));
        rig.click(send.mode);
        EXPECT_EQ(access.replyCopyText(), send.copied) << send.name;
    }

    // "Copiar" of a row in text mode: no cell a spreadsheet would run.
    MonitorWindow &window = access.window();
    window.findChild<QCheckBox *>("chkSoloTexto")->setChecked(true);
    window.model().flushPending();
    auto *rows = window.findChild<QTableView *>("tblIntercambios");
    rows->selectRow(window.model().rowCount() - 1);
    EXPECT_TRUE(window.selectedRowsText().contains("\t'=HYPERLINK(1)\t"))
        << window.selectedRowsText().toStdString();

    // Long replies: a bounded cell, a tooltip that fits a screen, and the
    // verdict's whole sentence.
    ExchangeRecord record = judged(7, VerdictKind::ExtraBytes);
    record.verdict->text = std::string(300, 'x') + " de más";
    record.reply = Bytes(300, 0x41);
    MonitorModel &model = access.window().model();
    model.clear();
    model.add(record);
    model.flushPending();
    const QString cell = model.index(0, MonitorModel::Reply).data().toString();
    EXPECT_TRUE(cell.endsWith(QString::fromUtf8("… (300 bytes)"))) << cell.toStdString();
    EXPECT_LT(cell.size(), 600);
    for (int column : {MonitorModel::Reply, MonitorModel::Verdict}) {
        const QString tip = model.index(0, column).data(Qt::ToolTipRole).toString();
        for (const QString &line : tip.split('\n'))
            EXPECT_LE(line.size(), 100) << column << ": " << line.toStdString();
        if (column == MonitorModel::Verdict) {
            EXPECT_TRUE(tip.startsWith("extra-bytes:") && tip.endsWith(" de más"));
        }
    }
}

TEST(MonitorWindow, ValuesPaneChartAndCapture) {
    testing::TempFolder folder;
    MonitorModel model;
    MonitorWindow monitor(model, QString::fromStdString((folder.path() / "m.ini").string()));
    monitor.show();
    const Bytes read = {0x01, 0x03, 0x00, 0x0A, 0x00, 0x02, 0xE4, 0x09};
    const Bytes good = {0x01, 0x03, 0x04, 0xFF, 0xFF, 0x00, 0x0B, 0xBB, 0xD0};
    Bytes damaged = good;
    damaged.back() ^= 0xFF;
    for (std::uint64_t n = 1; n <= 3; ++n) {
        ExchangeRecord record = judged(n, n == 2 ? VerdictKind::BadCheck : VerdictKind::Ok);
        record.protocol = static_cast<std::uint8_t>(Protocol::Modbus);
        record.request = read;
        record.reply = n == 2 ? damaged : good;
        record.startUs = record.sentUs.emplace(0);
        record.firstByteUs = static_cast<std::int64_t>(n) * 1000;
        model.add(record);
    }
    model.flushPending();
    EXPECT_EQ(model.index(0, MonitorModel::Values).data().toString(),
              "reg 10 = 65535, reg 11 = 11");
    monitor.findChild<QComboBox *>("cmbFormato")->setCurrentText("s16");
    EXPECT_EQ(model.index(0, MonitorModel::Values).data().toString(), "reg 10 = -1, reg 11 = 11");

    // "Valores" in sight at the default size, with room for a few registers.
    auto *table = monitor.findChild<QTableView *>("tblIntercambios");
    EXPECT_LE(table->horizontalHeader()->sectionViewportPosition(MonitorModel::Values) + 200,
              table->viewport()->width());

    // The chart offers the registers read, from the first.
    auto *registers = monitor.findChild<QComboBox *>("cmbRegistro");
    ASSERT_EQ(registers->count(), 2);
    EXPECT_EQ(registers->currentText(), "reg 10");
    EXPECT_EQ(registers->itemText(1), "reg 11");

    // A click on the chart's second point selects its row, and the pane
    // takes that exchange apart.
    auto *chart = monitor.findChild<ResponseChart *>("chrRespuesta");
    ASSERT_EQ(chart->pointCount(), 3U);
    const int row = chart->rowAt(chart->pointPosition(1).value() + QPoint(1, 1));
    ASSERT_EQ(row, 1);
    monitor.selectRow(row);
    const QString pane = monitor.findChild<QPlainTextEdit *>("txtAnatomia")->toPlainText();
    EXPECT_TRUE(pane.contains(QString::fromUtf8("CRC BB 2F recibido, BB D0 esperado")))
        << pane.toStdString();
    EXPECT_TRUE(pane.contains("Registro 10")) << pane.toStdString();

    const QString capture = QString::fromStdString((folder.path() / "c.pcapng").string());
    ASSERT_FALSE(monitor.saveCapture(capture));
    EXPECT_EQ(folder.read("c.pcapng").substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4));

    // The pane shows no exchange out of sight: hidden by "Solo problemas",
    // or gone with "Borrar", after which the chart names no register.
    auto *paneView = monitor.findChild<QPlainTextEdit *>("txtAnatomia");
    monitor.selectRow(0);
    ASSERT_FALSE(paneView->toPlainText().isEmpty());
    monitor.findChild<QCheckBox *>("chkSoloProblemas")->setChecked(true);
    EXPECT_TRUE(paneView->toPlainText().isEmpty()) << "row 0 is good, hidden";
    monitor.findChild<QCheckBox *>("chkSoloProblemas")->setChecked(false);
    monitor.selectRow(1);
    monitor.findChild<QComboBox *>("cmbGrafica")->setCurrentIndex(1);
    QTest::mouseClick(monitor.findChild<QPushButton *>("cmdBorrar"), Qt::LeftButton);
    EXPECT_TRUE(paneView->toPlainText().isEmpty());
    EXPECT_FALSE(chart->axisTitle().contains("reg ")) << chart->axisTitle().toStdString();
}

// A good reply to a read of registers 10 onwards holding `words`.
ExchangeRecord readOf(std::uint64_t sequence, const std::vector<std::uint16_t> &words) {
    ExchangeRecord record = judged(sequence, sequence % 5 ? VerdictKind::Ok : VerdictKind::Echo);
    record.protocol = static_cast<std::uint8_t>(Protocol::Modbus);
    const auto count = static_cast<std::uint8_t>(words.size());
    record.request = {0x01, 0x03, 0x00, 0x0A, 0x00, count};
    record.reply = {0x01, 0x03, static_cast<std::uint8_t>(2 * count)};
    for (const std::uint16_t word : words) {
        record.reply.push_back(static_cast<std::uint8_t>(word >> 8));
        record.reply.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    for (Bytes *frame : {&record.request, &record.reply}) {
        const Bytes crc = CalcCRC(*frame);
        frame->insert(frame->end(), crc.begin(), crc.end());
    }
    return record;
}

TEST(ResponseChart, NaNInfinitiesAndDamagedRepliesAreMarkedAtTheEdges) {
    MonitorModel model(8);
    model.setRegisterView(parseRegisterView("f32").value());
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    std::uint64_t sequence = 0;
    for (const float value : {1.0F, std::nanf(""), kInfinity, -kInfinity, 2.0F}) {
        const auto wide = std::bit_cast<std::uint32_t>(value);
        ExchangeRecord record = readOf(
            ++sequence, {static_cast<std::uint16_t>(wide >> 16), static_cast<std::uint16_t>(wide)});
        record.reply.back() ^= sequence == 5 ? 0xFF : 0;  // a bad CRC: no value
        model.add(record);
    }
    model.flushPending();
    ResponseChart chart(model);
    chart.resize(600, 220);
    chart.setSeries(ResponseChart::Series::Register, 10);
    std::vector<int> y;
    for (int row = 0; row < 5; ++row)
        y.push_back(chart.pointPosition(row).value_or(QPoint(0, -1)).y());
    // +Infinity above every value, -Infinity below, NaN and the damaged
    // reply under the axis.
    EXPECT_TRUE(y[2] < y[0] && y[0] < y[3] && y[3] < y[1] && y[1] == y[4]);
    // At 600 px, as a narrow monitor gives its chart, the legend wraps
    // within the width and the plot starts below it.
    EXPECT_LT(chart.legendBounds().right(), chart.width());
    EXPECT_LT(chart.legendBounds().bottom(), y[2] - ResponseChart::kMarkRadius);
    // An infinity is no value at the edge: its triangle is open.
    EXPECT_NE(chart.grab().toImage().pixelColor(chart.pointPosition(2).value() + QPoint(0, 1)),
              verdictColours(VerdictMark::Good).point);
    // The marks kept from paint to paint are those a new chart draws, after
    // the ring drops rows and after the series changes and comes back.
    const auto afresh = [&] {
        ResponseChart fresh(model);
        fresh.resize(chart.size());
        fresh.setSeries(ResponseChart::Series::Register, 10);
        return fresh.grab().toImage();
    };
    for (std::uint64_t row = 6; row <= 11; ++row)
        model.add(readOf(row, {0x7F80, 0}));  // +Infinity again, past the ring's end
    model.flushPending();
    EXPECT_EQ(chart.grab().toImage(), afresh()) << "after the ring dropped rows";
    for (const std::uint16_t high : {0x447A, 0x453B}) {  // 1000, then 3000: past the axis
        model.add(readOf(++sequence + 6, {high, 0}));
        model.flushPending();
        EXPECT_EQ(chart.grab().toImage(), afresh()) << "after a value past the axis";
    }
    chart.setSeries(ResponseChart::Series::FirstByte, 10);
    chart.grab();
    chart.setSeries(ResponseChart::Series::Register, 10);
    EXPECT_EQ(chart.grab().toImage(), afresh()) << "after the series came back";
    model.clear();
    EXPECT_FALSE(chart.axisTitle().contains("reg ")) << chart.axisTitle().toStdString();
}

// A batch that leaves every column's marks where they were can still move
// the median: the picture kept from paint to paint follows it.
TEST(ResponseChart, AMedianThatMovesAloneIsRedrawn) {
    MonitorModel model;
    ResponseChart chart(model);
    chart.resize(600, 220);
    std::uint64_t sequence = 0;
    const auto add = [&](std::int64_t ms) {
        ExchangeRecord record = judged(++sequence, VerdictKind::Ok);
        record.sentUs = 0;
        record.firstByteUs = ms * 1000;
        model.add(record);
    };
    while (sequence < 1500)  // 3 and 9 ms by turns: every column holds both
        add(sequence % 2 == 0 ? 3 : 9);
    model.flushPending();
    chart.grab();
    for (const std::int64_t ms : {9, 3, 9})  // 751 of 3 ms, 752 of 9: the median 3 to 9
        add(ms);
    model.flushPending();
    ResponseChart fresh(model);
    fresh.resize(chart.size());
    EXPECT_EQ(chart.grab().toImage(), fresh.grab().toImage());
}

TEST(ResponseChart, AxisOverTheValuesShownAndAClickAnywhereOnADotPicksIt) {
    const struct {
        const char *name;
        const char *format;
        std::vector<double> values;
        std::vector<double> cleared = {};  // read before "Borrar"
        const char *numbers = "C";         // LC_NUMERIC, as a desktop sets it
    } rows[] = {
        {"a signed sine", "s16",
         [] {
             std::vector<double> sine;
             for (int i = 0; i < 60; ++i)
                 sine.push_back(std::round(1000 * std::sin(i / 6.0)));
             return sine;
         }()},
        {"three far apart", "s16", {5, -3, 7}},
        {"all negative", "s16", {-200, -180, -190, -205}},
        {"u16 near its top", "u16", {65500, 65535, 65520}},
        {"one value", "u16", {42}},
        {"zero alone", "u16", {0}},
        {"a f32 of 20 plus or minus 5", "f32", {15, 17.5, 20, 22.5, 25}},
        {"s32 at its ends", "s32", {-2147483648.0, 2147483647.0}},
        {"f32 at its ends", "f32", {-0x1.fffffep127, 0x1.fffffep127}},
        {"f32 denormals", "f32", {7 * 0x1p-149, 21 * 0x1p-149}},
        {"hex over its whole range", "hex", {0, 0x9000, 0xFFFF}},
        {"hex zero alone", "hex", {0}},
        {"hex top alone", "hex", {0xFFFF}},
        {"after Borrar, only what came since", "u16", {40, 50}, {9000, 7}},
        {"decimals on a Spanish desktop", "f32", {0.25, 0.5, 0.75}, {}, "es_ES.UTF-8"},
    };
    for (const auto &row : rows) {
        if (std::setlocale(LC_NUMERIC, row.numbers) == nullptr)
            continue;
        MonitorModel model;
        ResponseChart chart(model);
        chart.resize(900, 220);
        chart.setSeries(ResponseChart::Series::Register, 10);
        const RegisterView view = parseRegisterView(row.format).value();
        model.setRegisterView(view);
        std::uint64_t sequence = 0;
        for (const double value : row.cleared)
            model.add(readOf(++sequence, {static_cast<std::uint16_t>(value)}));
        model.flushPending();
        model.clear();
        for (const double value : row.values) {
            std::vector<std::uint16_t> words;
            std::uint32_t wide = view.format == RegisterFormat::F32
                                     ? std::bit_cast<std::uint32_t>(static_cast<float>(value))
                                     : static_cast<std::uint32_t>(static_cast<std::int64_t>(value));
            if (isWideFormat(view.format))
                words.push_back(static_cast<std::uint16_t>(wide >> 16));
            words.push_back(static_cast<std::uint16_t>(wide & 0xFFFF));
            model.add(readOf(++sequence, words));
        }
        model.flushPending();
        const auto [lowest, highest] = std::minmax_element(row.values.begin(), row.values.end());
        const AxisScale axis = chart.axis();
        EXPECT_LE(axis.low, *lowest) << row.name;
        EXPECT_TRUE(*lowest < 0 || axis.low >= 0) << row.name << ": nothing read below zero";
        EXPECT_GE(axis.high, *highest) << row.name;
        if (*lowest != *highest) {
            EXPECT_GT(axis.low, *lowest - axis.step) << row.name << ": from the lowest value";
            EXPECT_LT(axis.high, *highest + axis.step) << row.name << ": to the highest";
        }
        // Short labels, one per tick, whole numbers exact; hex ones in hex,
        // a power of two apart.
        std::set<std::string> labels;
        const bool hex = view.format == RegisterFormat::Hex;
        EXPECT_TRUE(!hex || std::exp2(std::round(std::log2(axis.step))) == axis.step) << axis.step;
        for (const double tick : axis.ticks) {
            const std::string label = chart.tickLabel(tick, axis.step).toStdString();
            labels.insert(label);
            const double read =
                hex ? static_cast<double>(std::stoul(label, nullptr, 16)) : std::stod(label);
            EXPECT_TRUE(label.size() <= 11 && (row.format[0] == 'f' || read == tick) &&
                        (label.rfind("0x", 0) == 0) == hex && (!hex || label.size() == 6) &&
                        label.find(',') == std::string::npos)
                << row.name << ": " << label;
        }
        EXPECT_EQ(labels.size(), axis.ticks.size()) << row.name;
        // Every pixel of every dot picks its own row.
        QStringList missed;
        for (int point = 0; point < static_cast<int>(row.values.size()); ++point) {
            const QPoint centre = chart.pointPosition(point).value();
            EXPECT_TRUE(chart.rect().contains(centre)) << row.name << " point " << point;
            // Its column's legend and axis label are no part of it.
            EXPECT_EQ(chart.rowAt({centre.x(), 1}), -1) << row.name << " point " << point;
            EXPECT_EQ(chart.rowAt({centre.x(), chart.height() - 2}), -1) << row.name;
            constexpr int r = ResponseChart::kMarkRadius;
            for (int dx = -r; dx <= r; ++dx) {
                for (int dy = -r; dy <= r; ++dy) {
                    const int picked = chart.rowAt(centre + QPoint(dx, dy));
                    if (dx * dx + dy * dy <= r * r && picked != point)
                        missed << QString("%1 at %2,%3: %4").arg(point).arg(dx).arg(dy).arg(picked);
                }
            }
        }
        EXPECT_TRUE(missed.isEmpty())
            << row.name << ": " << missed.mid(0, 5).join("; ").toStdString();
    }
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace marvalo

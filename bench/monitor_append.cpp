// What the line monitor costs continuous sending: adding one exchange's
// record to a monitor that already holds 100,000 rows, and letting the view
// catch up, as it does after every exchange. The view follows the newest
// row. "Paced" exchanges come one per batch time, so each reaches the view
// alone (the panel's own continuous sending is slower still); "flood" ones
// come 1 ms apart and reach it in batches.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPaintEvent>
#include <QTableView>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "core/frames/check_codes.h"
#include "core/settings/panel_state.h"

#include "bench/target.h"
#include "panel/monitor_window.h"
#include "panel/response_chart.h"

namespace {

using namespace marvalo;

ExchangeRecord sample(std::uint64_t sequence) {
    ExchangeRecord record;
    record.sequence = sequence;
    record.mode = ExchangeMode::Continuous;
    record.protocol = 1;
    record.port = "COM 1 (/dev/ttyUSB0)";
    record.settings = " 9600,e,7,1";
    record.wallStartUs = 1'765'000'000'000'000 + static_cast<std::int64_t>(sequence) * 171'000;
    record.startUs = static_cast<std::int64_t>(sequence) * 171'000;
    record.sentUs = record.startUs + 1'000;
    record.firstByteUs = record.startUs + 6'300 + static_cast<std::int64_t>(sequence % 7) * 100;
    record.lastByteUs = record.firstByteUs;
    record.endUs = record.startUs + 171'000;
    record.request = {0x01, 0x30, 0x31, 0x02, 0x30, 0x44, 0x03, 0x77};
    record.reply = {0x02, 0x30, 0x44, 0x2B, 0x30, 0x30, 0x32, 0x33, 0x2E, 0x34, 0x03, 0x47};
    record.verdict =
        Verdict{sequence % 10 == 0 ? VerdictKind::BadCheck : VerdictKind::Ok, "bloque correcto"};
    return record;
}

struct Cost {
    double addMs;    // the record into the model, the view's bookkeeping
    double paintMs;  // the repaint that follows, when the event loop gets to it
    double cpuMs;    // both, in processor time: what other programs on a busy machine leave out
    double rowsPainted;
};

// Processor time of every thread of ours (the raster engine fills large
// areas on threads of its own).
qint64 cpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// How much of the table is painted: a view that scrolls by a row and paints
// only that row, or one that repaints everything.
class PaintedArea : public QObject {
  public:
    explicit PaintedArea(QWidget *viewport) { viewport->installEventFilter(this); }
    qint64 pixelRows = 0;

  protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            pixelRows += static_cast<QPaintEvent *>(event)->region().boundingRect().height();
        return false;
    }
};

// `gapMs` between exchanges: paced ones one batch time apart, a flood's
// 1 ms apart, as fast as a 19200-baud line can turn them round, so that its
// rows reach the view some 16 at a time.
Cost perExchange(MonitorWindow &monitor, std::uint64_t &sequence, int adds, unsigned long gapMs) {
    auto *table = monitor.findChild<QTableView *>("tblIntercambios");
    PaintedArea painted(table->viewport());
    QElapsedTimer timer;
    qint64 addNs = 0;
    qint64 paintNs = 0;
    qint64 cpu = 0;
    for (int i = 0; i < adds; ++i) {
        QThread::msleep(gapMs);
        const qint64 cpuStart = cpuNs();
        timer.start();
        monitor.model().add(sample(++sequence));
        addNs += timer.nsecsElapsed();
        timer.start();
        QCoreApplication::processEvents();  // the view catches up, as between exchanges
        paintNs += timer.nsecsElapsed();
        cpu += cpuNs() - cpuStart;
    }
    // The last batch lands after the batch time, and is painted in a pass
    // of its own: both count too.
    QThread::msleep(MonitorModel::kBatchMs + 1);
    const qint64 cpuStart = cpuNs();
    timer.start();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    paintNs += timer.nsecsElapsed();
    cpu += cpuNs() - cpuStart;
    return {static_cast<double>(addNs) / 1e6 / adds, static_cast<double>(paintNs) / 1e6 / adds,
            static_cast<double>(cpu) / 1e6 / adds,
            static_cast<double>(painted.pixelRows) / table->verticalHeader()->defaultSectionSize() /
                adds};
}

// A Modbus read of 125 registers from 10, the most one request asks:
// what a change of the chart's register, format or series walks through.
ExchangeRecord wideRead(std::uint64_t sequence) {
    ExchangeRecord record = sample(sequence);
    record.protocol = static_cast<std::uint8_t>(Protocol::Modbus);
    constexpr int kRegisters = 125;
    record.request = {0x01, 0x03, 0x00, 0x0A, 0x00, kRegisters};
    record.reply = {0x01, 0x03, 2 * kRegisters};
    for (int i = 0; i < kRegisters; ++i) {
        const auto word = static_cast<std::uint16_t>(sequence * 37 + static_cast<unsigned>(i));
        record.reply.push_back(static_cast<std::uint8_t>(word >> 8));
        record.reply.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    for (Bytes *frame : {&record.request, &record.reply}) {
        const Bytes crc = CalcCRC(*frame);
        frame->insert(frame->end(), crc.begin(), crc.end());
    }
    return record;
}

void chartChanges() {
    MonitorModel records;
    MonitorWindow monitor(records, QDir::temp().filePath("marvalo-bench-monitor.ini"));
    monitor.show();
    for (std::size_t i = 0; i < MonitorModel::kCapacity; ++i)
        records.add(wideRead(i + 1));
    records.flushPending();
    QCoreApplication::processEvents();
    auto *format = monitor.findChild<QComboBox *>("cmbFormato");
    auto *series = monitor.findChild<QComboBox *>("cmbGrafica");
    auto *chosen = monitor.findChild<QComboBox *>("cmbRegistro");
    std::printf("chart, %zu reads of 125 registers, a change of:\n", records.rowCount() + 0UL);
    const struct {
        const char *what;
        std::function<void()> change;
    } changes[] = {
        {"series to a register's value", [&] { series->setCurrentIndex(1); }},
        {"register 10 to 70", [&] { chosen->setCurrentIndex(60); }},
        {"format u16 to s16", [&] { format->setCurrentText("s16"); }},
        {"format s16 to f32:CDAB", [&] { format->setCurrentText("f32:CDAB"); }},
        {"series back to the first byte", [&] { series->setCurrentIndex(0); }},
    };
    for (const auto &change : changes) {
        QElapsedTimer timer;
        timer.start();
        change.change();
        QCoreApplication::processEvents();  // the table and the chart repainted
        bench::figure(change.what, static_cast<double>(timer.nsecsElapsed()) / 1e6, "ms",
                      bench::Bound::AtMost, 100);
    }
}

// `rows`: what the table should paint per exchange, the new row alone (and
// the odd partial one) while it follows, none while hidden.
void print(const char *what, Cost cost, double rows = 1.5) {
    std::printf("%s\n", what);
    bench::figure("add, per exchange", cost.addMs, "ms", bench::Bound::AtMost, 0.1);
    bench::figure("view, per exchange", cost.paintMs, "ms", bench::Bound::AtMost, 0.5);
    bench::figure("add and view, processor time", cost.cpuMs, "ms", bench::Bound::AtMost, 0.6);
    bench::figure("table rows painted, per exchange", cost.rowsPainted, "rows",
                  bench::Bound::AtMost, rows);
}

}  // namespace

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    MonitorModel records;
    MonitorWindow monitor(records, QDir::temp().filePath("marvalo-bench-monitor.ini"));
    monitor.show();
    std::uint64_t sequence = 0;
    QElapsedTimer filling;
    filling.start();
    for (std::size_t i = 0; i < MonitorModel::kCapacity; ++i)
        monitor.model().add(sample(++sequence));
    QCoreApplication::processEvents();
    std::printf("monitor_append: %zu rows held (filled in %lld ms)\n", MonitorModel::kCapacity,
                static_cast<long long>(filling.elapsed()));
    constexpr int kPaced = 200;
    constexpr int kFlood = 500;
    constexpr unsigned long kPacedMs = MonitorModel::kBatchMs + 1;
    // `monitor_append N`: N paced exchanges and nothing else, for a profiler.
    if (argc > 1) {
        print("shown, paced:", perExchange(monitor, sequence, std::atoi(argv[1]), kPacedMs));
        return 0;
    }
    print("shown, paced:", perExchange(monitor, sequence, kPaced, kPacedMs));
    print("shown, flood:", perExchange(monitor, sequence, kFlood, 1));
    monitor.findChild<QCheckBox *>("chkSoloProblemas")->setChecked(true);
    print("shown, \"Solo problemas\", paced:", perExchange(monitor, sequence, kPaced, kPacedMs));
    monitor.findChild<QCheckBox *>("chkSoloProblemas")->setChecked(false);
    monitor.findChild<QCheckBox *>("chkSoloTexto")->setChecked(true);
    print("shown, \"Solo texto\", paced:", perExchange(monitor, sequence, kPaced, kPacedMs));
    // The chart alone: a repaint over 100,000 points kept, from the picture
    // it keeps while no mark moves.
    auto *chart = monitor.findChild<ResponseChart *>("chrRespuesta");
    constexpr int kRenders = 50;
    QElapsedTimer render;
    render.start();
    for (int i = 0; i < kRenders; ++i)
        chart->repaint();
    std::printf("chart, %zu points:\n", chart->pointCount());
    bench::figure("a repaint, the picture kept",
                  static_cast<double>(render.nsecsElapsed()) / 1e6 / kRenders, "ms",
                  bench::Bound::AtMost, 0.25);
    monitor.hide();
    print("hidden, paced:", perExchange(monitor, sequence, kPaced, kPacedMs), 0);
    chartChanges();
    return 0;
}

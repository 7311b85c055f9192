#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QElapsedTimer>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <cstdint>
#include <deque>

#include "core/records/exchange_record.h"
#include "core/records/register_values.h"
#include "core/verdicts/exchange_stats.h"

namespace marvalo {

// The line monitor's rows: the newest exchange records, at least
// `capacity` of them and at most 1 % more, the oldest dropped in batches
// (and counted), with statistics over everything since the last clear.
// Records are kept raw; a cell's text is built only when it is drawn, so the
// 100,000th row costs what the first did. New records reach the views at
// most once every kBatchMs, in one insertion: records that come faster than
// a screen refreshes must not each cost a layout. That insertion is the one
// moment the table, the chart and the statistics learn of new exchanges, so
// all three always name the same newest one.
class MonitorModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // "Valores" last, so a saved column layout from before still fits.
    enum Column {
        Number,
        Time,
        Mode,
        Request,
        Reply,
        FirstByte,
        Duration,
        Verdict,
        Values,
        ColumnCount
    };
    static constexpr std::size_t kCapacity = 100'000;
    static constexpr std::size_t kDropShare = 100;
    static constexpr int kBatchMs = 16;
    // A cell lays out at most this many bytes of a request or reply; the
    // tooltip shows more, the CSV and "Copiar" all of them.
    static constexpr std::size_t kCellBytes = 96;
    static constexpr std::size_t kTooltipBytes = 512;
    // Data role holding whether a row is a problem (the filter reads it).
    static constexpr int kProblemRole = Qt::UserRole + 1;
    // Names a cell's display text for as long as it stays the same, so a
    // view may keep its drawing instead of asking for the text again.
    static constexpr int kTextKeyRole = Qt::UserRole + 2;

    explicit MonitorModel(std::size_t capacity = kCapacity, QObject *parent = nullptr);

    // Shown and counted with the next batch, numbered from 1 after each
    // clear: the table, the pane, the chart, the CSV and the capture all
    // read that number, so they agree after "Borrar".
    void add(ExchangeRecord record);
    // Hands the records still waiting to the views now.
    void flushPending();
    void clear();
    // Bytes as text only, or hex with the text beside.
    void setTextOnly(bool textOnly);
    bool textOnly() const { return textOnly_; }
    // How "Valores" shows a Modbus read's registers.
    void setRegisterView(RegisterView view);
    RegisterView registerView() const { return view_; }

    const ExchangeRecord &record(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    const ExchangeStats &stats() const { return stats_; }
    std::uint64_t dropped() const { return dropped_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  signals:
    // Another register view, rows or none: what charts registers follows it.
    void registerViewChanged();

  private:
    QString bytesText(const Bytes &bytes) const;

    std::size_t capacity_;
    std::deque<ExchangeRecord> rows_;
    std::deque<ExchangeRecord> pending_;
    QTimer batchTimer_;
    QElapsedTimer sinceBatch_;
    ExchangeStats stats_;
    std::uint64_t dropped_ = 0;
    std::uint64_t numbered_ = 0;  // since the last clear
    // Numbers given before the last clear: added to a row's number, it names
    // the row for the model's whole life, as a cached text's key must.
    std::uint64_t numberedBefore_ = 0;
    bool textOnly_ = false;
    RegisterView view_;
};

// Verdict to colour, in one place, for the rows and the chart's points:
// good replies plain (green points), silence grey, damaged or partial
// frames amber, wrong answers and failures red.
// and its mark on the chart, told by shape as well as colour.
enum class VerdictMark { Good, Silent, Doubtful, Wrong, Failed };
constexpr int kVerdictMarks = 5;
VerdictMark verdictMark(const ExchangeRecord &record);
struct VerdictColours {
    QColor row;  // invalid: the view's own background
    QColor point;
};
VerdictColours verdictColours(VerdictMark mark);
inline VerdictColours verdictColours(const ExchangeRecord &record) {
    return verdictColours(verdictMark(record));
}

// What "Valores" says of a record: a read's registers, what a write
// confirms, or nothing.
std::string valuesText(const ExchangeRecord &record, RegisterView view);

// "Solo problemas": the rows whose verdict is not ok, failures included.
class ProblemsOnly : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
};

// One line for the statistics: counts by kind and first-byte latencies.
QString statisticsLine(const ExchangeStats &stats, std::uint64_t dropped);

}  // namespace marvalo

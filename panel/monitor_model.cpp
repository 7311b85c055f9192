#include "panel/monitor_model.h"

#include <QBrush>
#include <QColor>
#include <algorithm>
#include <array>
#include <iterator>

#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"
#include "core/text/time_text.h"

namespace marvalo {
namespace {

bool isProblem(const ExchangeRecord &record) {
    return !record.verdict || record.verdict->kind != VerdictKind::Ok;
}

QVariant rowColour(const ExchangeRecord &record) {
    const QColor colour = verdictColours(record).row;
    return colour.isValid() ? QVariant(QBrush(colour)) : QVariant();
}

QString milliseconds(std::optional<double> ms, int decimals) {
    return ms ? QString::number(*ms, 'f', decimals) + " ms" : QStringLiteral("—");
}

}  // namespace

VerdictMark verdictMark(const ExchangeRecord &record) {
    if (!record.verdict)
        return VerdictMark::Failed;
    switch (record.verdict->kind) {
        case VerdictKind::Ok:
            return VerdictMark::Good;
        case VerdictKind::Silence:
            return VerdictMark::Silent;
        case VerdictKind::Incomplete:
        case VerdictKind::ExtraBytes:
        case VerdictKind::StrayPrefix:
        case VerdictKind::Echo:
            return VerdictMark::Doubtful;
        case VerdictKind::BadCheck:
        case VerdictKind::Exception:
        case VerdictKind::OtherAddress:
        case VerdictKind::OtherFunction:
        case VerdictKind::Unrecognised:
        case VerdictKind::WrongCount:
            return VerdictMark::Wrong;
    }
    return VerdictMark::Failed;
}

VerdictColours verdictColours(VerdictMark mark) {
    switch (mark) {
        case VerdictMark::Good:
            return {QColor(), QColor(0x20, 0x90, 0x30)};
        case VerdictMark::Silent:
            return {QColor(0xE0, 0xE0, 0xE0), QColor(0x80, 0x80, 0x80)};
        case VerdictMark::Doubtful:
            return {QColor(0xFF, 0xE4, 0xA8), QColor(0xD0, 0x8A, 0x00)};
        case VerdictMark::Wrong:
            return {QColor(0xF8, 0xC8, 0xC8), QColor(0xD8, 0x30, 0x30)};
        case VerdictMark::Failed:
            break;
    }
    return {QColor(0xF4, 0xB6, 0xB6), QColor(0xB0, 0x10, 0x10)};
}

std::string valuesText(const ExchangeRecord &record, RegisterView view) {
    if (record.protocol != static_cast<std::uint8_t>(Protocol::Modbus))
        return {};
    // The frame the verdict judged: an echo or stray bytes in front are no registers.
    const Bytes frame = record.judgedBytes();
    if (auto values = decodeRegisters(record.request, frame, view))
        return registersLine(*values);
    return writeConfirmation(record.request, frame).value_or("");
}

MonitorModel::MonitorModel(std::size_t capacity, QObject *parent)
    : QAbstractTableModel(parent), capacity_(capacity) {
    batchTimer_.setSingleShot(true);
    connect(&batchTimer_, &QTimer::timeout, this, &MonitorModel::flushPending);
}

void MonitorModel::add(ExchangeRecord record) {
    record.sequence = ++numbered_;
    pending_.push_back(std::move(record));
    if (batchTimer_.isActive())
        return;
    // The first record after a quiet spell shows at once; the ones right
    // behind it wait for the rest of the batch time.
    const qint64 since = sinceBatch_.isValid() ? sinceBatch_.elapsed() : kBatchMs;
    if (since >= kBatchMs) {
        flushPending();
    } else {
        batchTimer_.start(static_cast<int>(kBatchMs - since));
    }
}

void MonitorModel::flushPending() {
    batchTimer_.stop();
    if (pending_.empty())
        return;
    sinceBatch_.start();
    // Counted as they reach the views, so that the statistics never name an
    // exchange the table does not show yet.
    for (const ExchangeRecord &record : pending_)
        stats_.add(record);
    // Old rows go a hundredth of the capacity at a time: a view pays for a
    // removal at the top by the number of rows below it, so one row per
    // exchange would cost every exchange that much.
    const std::size_t total = rows_.size() + pending_.size();
    if (total > capacity_ + capacity_ / kDropShare) {
        const std::size_t surplus = total - capacity_;
        const std::size_t fromRows = std::min(surplus, rows_.size());
        if (fromRows > 0) {
            beginRemoveRows({}, 0, static_cast<int>(fromRows) - 1);
            rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(fromRows));
            endRemoveRows();
        }
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(surplus - fromRows));
        dropped_ += surplus;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(pending_.size()) - 1);
    std::move(pending_.begin(), pending_.end(), std::back_inserter(rows_));
    pending_.clear();
    endInsertRows();
}

void MonitorModel::clear() {
    beginResetModel();
    batchTimer_.stop();
    pending_.clear();
    rows_.clear();
    stats_ = {};
    dropped_ = 0;
    numberedBefore_ += numbered_;
    numbered_ = 0;
    endResetModel();
}

void MonitorModel::setRegisterView(RegisterView view) {
    if (view == view_)
        return;
    view_ = view;
    if (!rows_.empty())
        emit dataChanged(index(0, Values), index(rowCount() - 1, Values));
    emit registerViewChanged();
}

void MonitorModel::setTextOnly(bool textOnly) {
    if (textOnly == textOnly_)
        return;
    textOnly_ = textOnly;
    if (!rows_.empty()) {
        emit dataChanged(index(0, Request), index(rowCount() - 1, Reply));
    }
}

int MonitorModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MonitorModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString MonitorModel::bytesText(const Bytes &bytes) const {
    // A cell is one line: a long reply is cut here, before any layout, so
    // that 64 KiB of reply cost what a frame does.
    const QString named = QString::fromStdString(namedTextUpTo(bytes, kCellBytes));
    if (textOnly_ || bytes.empty())
        return named;
    const Bytes head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(bytes.size(), kCellBytes)));
    return QString::fromStdString(toHex(head)) + (bytes.size() > kCellBytes ? " …" : "") + "   " +
           named;
}

QVariant MonitorModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ExchangeRecord &r = record(index.row());
    if (role == Qt::BackgroundRole)
        return rowColour(r);
    if (role == kProblemRole)
        return isProblem(r);
    if (role == kTextKeyRole) {
        // Row numbers start again after a clear, the count before it keeps
        // the key unique; the display mode changes the two byte columns,
        // the register view "Valores".
        constexpr qulonglong kModes = 64;
        qulonglong mode = 0;
        if (index.column() == Request || index.column() == Reply)
            mode = textOnly_ ? 1 : 0;
        else if (index.column() == Values)
            mode = static_cast<qulonglong>(view_.format) * 4 + static_cast<qulonglong>(view_.order);
        return QVariant::fromValue<qulonglong>(((numberedBefore_ + r.sequence) * ColumnCount +
                                                static_cast<qulonglong>(index.column())) *
                                                   kModes +
                                               mode);
    }
    if (role == Qt::ToolTipRole) {
        // Lines short enough for any screen: a tooltip is one window and
        // does not wrap by itself.
        constexpr std::size_t kBytesPerLine = 32;
        constexpr std::size_t kWordsWidth = 90;
        switch (index.column()) {
            case Request:
                return QString::fromStdString(
                    wrappedBytes(r.request, kBytesPerLine, kTooltipBytes));
            case Reply:
                return QString::fromStdString(wrappedBytes(r.reply, kBytesPerLine, kTooltipBytes));
            case Verdict:
                return QString::fromStdString(wrappedWords(
                    std::string(r.verdict ? verdictKey(r.verdict->kind) : "failure") + ": " +
                        safeText(r.verdict ? r.verdict->text : r.failure.value_or("")) +
                        (r.warning ? "; aviso: " + safeText(*r.warning) : ""),
                    kWordsWidth));
            default:
                return {};
        }
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case Number:
            return QVariant::fromValue<qulonglong>(r.sequence);
        case Time:
            return QString::fromStdString(clockTime(r.wallStartUs));
        case Mode:
            return r.mode == ExchangeMode::Single ? QStringLiteral("único")
                                                  : QStringLiteral("continuo");
        case Request:
            // A Modbus request named as text says nothing; its hex does.
            return r.protocol == static_cast<std::uint8_t>(Protocol::Modbus)
                       ? QString::fromStdString(toHex(r.request))
                       : bytesText(r.request);
        case Reply:
            return bytesText(r.reply);
        case FirstByte:
            return milliseconds(r.firstByteMs(), 1);
        case Duration:
            return milliseconds(r.durationMs(), 0);
        case Verdict: {
            const QString said =
                r.verdict ? QString::fromStdString(safeText(r.verdict->text))
                          : "fallo: " + QString::fromStdString(safeText(r.failure.value_or("")));
            return r.warning
                       ? said + " (aviso: " + QString::fromStdString(safeText(*r.warning)) + ")"
                       : said;
        }
        case Values:
            return QString::fromStdString(valuesText(r, view_));
        default:
            return {};
    }
}

QVariant MonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<const char *, ColumnCount> kHeaders = {
        "Nº",       "Hora",     "Modo",      "Petición", "Respuesta",
        "1er byte", "Duración", "Veredicto", "Valores"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(kHeaders[static_cast<std::size_t>(section)]);
}

bool ProblemsOnly::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const {
    return sourceModel()
        ->data(sourceModel()->index(sourceRow, 0, sourceParent), MonitorModel::kProblemRole)
        .toBool();
}

QString statisticsLine(const ExchangeStats &stats, std::uint64_t dropped) {
    QStringList parts;
    parts << QString("Intercambios: %1").arg(stats.exchanges)
          << QString("correctas: %1").arg(stats.count(VerdictKind::Ok))
          << QString("sin respuesta: %1").arg(stats.count(VerdictKind::Silence));
    QStringList bad;
    for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
        const auto verdict = static_cast<VerdictKind>(kind);
        if (verdict != VerdictKind::Ok && verdict != VerdictKind::Silence &&
            stats.byVerdict[kind] > 0)
            bad << QString("%1 %2")
                       .arg(QString::fromUtf8(verdictName(verdict)))
                       .arg(stats.byVerdict[kind]);
    }
    parts << QString("malas: %1").arg(stats.bad()) +
                 (bad.isEmpty() ? "" : " (" + bad.join(", ") + ")");
    if (stats.failures > 0)
        parts << QString("fallos: %1").arg(stats.failures);
    const LatencyHistogram &latency = stats.firstByte;
    if (latency.count() > 0) {
        parts << QString("1er byte: mín %1 / mediana %2 / p95 %3 / máx %4 ms")
                     .arg(*latency.min(), 0, 'f', 1)
                     .arg(*latency.percentile(0.5), 0, 'f', 1)
                     .arg(*latency.percentile(0.95), 0, 'f', 1)
                     .arg(*latency.max(), 0, 'f', 1);
    }
    if (dropped > 0)
        parts << QString("filas antiguas descartadas: %1").arg(dropped);
    return parts.join(" · ");
}

}  // namespace marvalo

#include "panel/response_chart.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

namespace marvalo {
namespace {

constexpr int kLeftMargin = 56;
constexpr int kBottomMargin = 16;
constexpr int kTopMargin = 8;
constexpr int kRightMargin = 8;
constexpr float kNothing = std::numeric_limits<float>::quiet_NaN();

}  // namespace

ResponseChart::ResponseChart(MonitorModel &model, QWidget *parent)
    : QWidget(parent), model_(model) {
    setObjectName("chrRespuesta");
    setMinimumHeight(120);
    redraw_.setSingleShot(true);
    connect(&redraw_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    connect(&model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { append(first, last); });
    connect(&model_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                // The ring drops its oldest rows, always from the top.
                const auto from = points_.begin() + first;
                points_.erase(from, from + (last - first + 1));
                highest_ = 0;
                for (const Point &point : points_) {
                    if (!std::isnan(point.value))
                        highest_ = std::max(highest_, point.value);
                }
                update();
            });
    connect(&model_, &QAbstractItemModel::modelReset, this, &ResponseChart::rebuild);
    connect(&model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &) {
                if (series_ == Series::Register && topLeft.column() == MonitorModel::Values)
                    rebuild();  // another register view
            });
    rebuild();
}

void ResponseChart::setSeries(Series series, int registerNumber) {
    series_ = series;
    register_ = registerNumber;
    rebuild();
}

ResponseChart::Point ResponseChart::pointOf(const ExchangeRecord &record) const {
    const QRgb colour = verdictColours(record).point.rgb();
    const bool silent = record.verdict && record.verdict->kind == VerdictKind::Silence;
    if (series_ == Series::FirstByte) {
        const auto ms = record.firstByteMs();
        return {ms ? static_cast<float>(*ms) : kNothing, colour, silent};
    }
    if (auto values = decodeRegisters(record.request, record.reply, model_.registerView())) {
        for (const RegisterValue &value : *values) {
            if (value.number == register_ && value.asDouble())
                return {static_cast<float>(*value.asDouble()), colour, silent};
        }
    }
    return {kNothing, colour, silent};
}

void ResponseChart::append(int first, int last) {
    for (int row = first; row <= last; ++row) {
        points_.push_back(pointOf(model_.record(row)));
        if (!std::isnan(points_.back().value))
            highest_ = std::max(highest_, points_.back().value);
    }
    scheduleRedraw();
}

void ResponseChart::scheduleRedraw() {
    // A chart of a hundred thousand points is read by people: ten frames a
    // second are plenty, however fast the exchanges come.
    if (redraw_.isActive())
        return;
    const qint64 since = sinceDrawn_.isValid() ? sinceDrawn_.elapsed() : kRedrawMs;
    if (since >= kRedrawMs)
        update();
    else
        redraw_.start(static_cast<int>(kRedrawMs - since));
}

void ResponseChart::rebuild() {
    points_.clear();
    highest_ = 0;
    if (model_.rowCount() > 0)
        append(0, model_.rowCount() - 1);
    update();
}

QRect ResponseChart::plotArea() const {
    return rect().adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kBottomMargin);
}

float ResponseChart::highest() const {
    return highest_ > 0 ? highest_ * 1.1F : 1.0F;
}

void ResponseChart::paintEvent(QPaintEvent *) {
    sinceDrawn_.start();
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect area = plotArea();
    if (area.width() <= 0 || area.height() <= 0)
        return;
    painter.setPen(palette().mid().color());
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    const float top = highest();
    auto yOf = [&](float value) {
        return area.bottom() - static_cast<int>(value / top * static_cast<float>(area.height()));
    };
    painter.setPen(palette().text().color());
    const QString unit = series_ == Series::FirstByte ? " ms" : "";
    painter.drawText(QRect(0, area.top(), kLeftMargin - 4, 14), Qt::AlignRight,
                     QString::number(top, 'f', top < 10 ? 1 : 0) + unit);
    painter.drawText(QRect(0, area.bottom() - 14, kLeftMargin - 4, 14), Qt::AlignRight, "0" + unit);

    // One pixel column holds the points that fall in it: a line from the
    // lowest to the highest, in the colour of its worst verdict, and a mark
    // on the axis where one got no reply.
    const auto count = static_cast<long>(points_.size());
    const int columns = area.width();
    ExchangeRecord goodOne;
    goodOne.verdict = Verdict{VerdictKind::Ok, ""};
    const QRgb good = verdictColours(goodOne).point.rgb();
    // Lines gathered by colour and drawn in one call each: a thousand
    // separate calls cost more than the lines.
    std::vector<std::pair<QRgb, std::vector<QLine>>> lines;
    auto lineIn = [&](QRgb colour) -> std::vector<QLine> & {
        for (auto &[rgb, gathered] : lines) {
            if (rgb == colour)
                return gathered;
        }
        return lines.emplace_back(colour, std::vector<QLine>{}).second;
    };
    long previousFirst = -1;
    for (int column = 0; column < columns && count > 0; ++column) {
        const long first = column * count / columns;
        const long last = std::max(first + 1, (column + 1) * count / columns);
        if (first == previousFirst)
            continue;  // fewer points than columns: each point once
        previousFirst = first;
        float low = std::numeric_limits<float>::max();
        float high = -1;
        QRgb colour = good;
        bool silent = false;
        for (long i = first; i < last && i < count; ++i) {
            const Point &point = points_[static_cast<std::size_t>(i)];
            silent = silent || point.silent;
            if (point.colour != good)
                colour = point.colour;
            if (!std::isnan(point.value)) {
                low = std::min(low, point.value);
                high = std::max(high, point.value);
            }
        }
        const int x = area.left() + column;
        const bool sparse = count * 4 < columns;  // room for each point to be a dot
        if (high >= 0) {
            if (sparse) {
                painter.setPen(QPen(QColor::fromRgb(colour), 1));
                painter.setBrush(QColor::fromRgb(colour));
                painter.drawEllipse(QPoint(x, yOf(high)), 3, 3);
            } else {
                lineIn(colour).emplace_back(x, yOf(low), x, yOf(high));
            }
        }
        if (silent) {
            // A no-reply has no delay: a grey mark under the axis.
            const QColor grey(0x80, 0x80, 0x80);
            painter.setPen(grey);
            painter.setBrush(grey);
            const QPoint mark[] = {
                {x, area.bottom() + 1}, {x - 3, area.bottom() + 7}, {x + 3, area.bottom() + 7}};
            painter.drawPolygon(mark, 3);
        }
    }
    for (const auto &[colour, gathered] : lines) {
        painter.setPen(QPen(QColor::fromRgb(colour), 1));
        painter.drawLines(gathered.data(), static_cast<int>(gathered.size()));
    }
    if (series_ == Series::FirstByte && model_.stats().firstByte.count() > 0) {
        const LatencyHistogram &latency = model_.stats().firstByte;
        const struct {
            const char *name;
            double share;
            QColor colour;
        } lines[] = {{"mediana", 0.5, QColor(0x30, 0x60, 0xC0)},
                     {"p95", 0.95, QColor(0xC0, 0x40, 0xC0)}};
        for (const auto &line : lines) {
            const float value = static_cast<float>(*latency.percentile(line.share));
            painter.setPen(QPen(line.colour, 1, Qt::DashLine));
            painter.drawLine(area.left(), yOf(value), area.right(), yOf(value));
            // The median's label under its line, the p95's over it: they
            // are often a hair apart.
            const int labelY = line.share < 0.9 ? yOf(value) + 12 : yOf(value) - 2;
            painter.drawText(area.right() - 140, labelY,
                             QString("%1 %2 ms").arg(line.name).arg(value, 0, 'f', 1));
        }
    }
}

int ResponseChart::rowAt(QPoint position) const {
    const QRect area = plotArea();
    const auto count = static_cast<long>(points_.size());
    if (count == 0 || !area.adjusted(0, 0, 0, kBottomMargin).contains(position))
        return -1;
    const long column = position.x() - area.left();
    const long first = column * count / area.width();
    const long last = std::max(first + 1, (column + 1) * count / area.width());
    const float top = highest();
    const float wanted =
        static_cast<float>(area.bottom() - position.y()) / static_cast<float>(area.height()) * top;
    long best = first;
    float distance = std::numeric_limits<float>::max();
    for (long i = first; i < last && i < count; ++i) {
        const float value = points_[static_cast<std::size_t>(i)].value;
        const float gap = std::isnan(value) ? top : std::abs(value - wanted);
        if (gap < distance) {
            distance = gap;
            best = i;
        }
    }
    return static_cast<int>(std::min(best, count - 1));
}

void ResponseChart::mousePressEvent(QMouseEvent *event) {
    if (const int row = rowAt(event->position().toPoint()); row >= 0)
        emit rowClicked(row);
}

}  // namespace marvalo

#include "panel/response_chart.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "core/records/register_values.h"

namespace marvalo {
namespace {

constexpr double kNothing = std::numeric_limits<double>::quiet_NaN();
constexpr int kMarkRadius = ResponseChart::kMarkRadius;
constexpr int kGap = 6;
constexpr int kLegendMark = 10;

// Every outline turns the same way, so that marks gathered in one path
// and overlapping add up instead of cutting holes in each other.
QPolygonF sameWay(QPolygonF polygon) {
    qreal twiceArea = 0;
    for (qsizetype i = 0; i < polygon.size(); ++i) {
        const QPointF &a = polygon[i];
        const QPointF &b = polygon[(i + 1) % polygon.size()];
        twiceArea += a.x() * b.y() - b.x() * a.y();
    }
    if (twiceArea < 0)
        std::reverse(polygon.begin(), polygon.end());
    return polygon;
}

void addOutline(QPainterPath &path, const QPolygonF &polygon) {
    path.addPolygon(sameWay(polygon));
    path.closeSubpath();
}

// The mark's outline around (0, 0): a good reply a dot, a doubtful one a
// square, a wrong one a cross, a failure a diamond, silence a triangle.
QPainterPath markShape(VerdictMark mark) {
    constexpr qreal r = kMarkRadius;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    switch (mark) {
        case VerdictMark::Good: {
            constexpr int kSides = 16;
            QPolygonF dot;
            for (int i = 0; i < kSides; ++i) {
                const double angle = 2 * M_PI * i / kSides;
                dot << QPointF(r * std::cos(angle), r * std::sin(angle));
            }
            addOutline(path, dot);
            break;
        }
        case VerdictMark::Doubtful:
            addOutline(path, QPolygonF(QRectF(-r + 0.5, -r + 0.5, 2 * r - 1, 2 * r - 1)));
            break;
        case VerdictMark::Wrong: {
            constexpr qreal w = 1.5;  // two bars
            addOutline(path, QPolygonF({{-r, -r + w}, {-r + w, -r}, {r, r - w}, {r - w, r}}));
            addOutline(path, QPolygonF({{r, -r + w}, {r - w, -r}, {-r, r - w}, {-r + w, r}}));
            break;
        }
        case VerdictMark::Failed:
            addOutline(path, QPolygonF({{0, -r - 1}, {r + 1, 0}, {0, r + 1}, {-r - 1, 0}}));
            break;
        case VerdictMark::Silent:
            addOutline(path, QPolygonF({{0, -r}, {r, r}, {-r, r}}));
            break;
    }
    return path;
}

const char *markName(VerdictMark mark) {
    switch (mark) {
        case VerdictMark::Good:
            return "correcta";
        case VerdictMark::Silent:
            return "sin respuesta";
        case VerdictMark::Doubtful:
            return "incompleta o de más";
        case VerdictMark::Wrong:
            return "errónea";
        case VerdictMark::Failed:
            break;
    }
    return "fallo";
}

// An infinity's open triangle around (0, 0), pointing up for +Infinity
// and down for -Infinity.
QPolygonF infinityMark(bool above) {
    constexpr qreal r = kMarkRadius;
    const qreal tip = above ? -r : r;
    return QPolygonF({{0, tip}, {r, -tip}, {-r, -tip}, {0, tip}});
}

struct Percentile {
    const char *name;
    double share;
    QColor colour;
};
const std::array<Percentile, 2> kPercentiles{
    {{"mediana", 0.5, QColor(0x30, 0x60, 0xC0)}, {"p95", 0.95, QColor(0xA0, 0x30, 0xA0)}}};

// One entry of the legend: a mark, then the words for it.
struct LegendEntry {
    enum Mark { Verdict, Infinity, NoValue, Percentile } mark;
    std::size_t which;  // the verdict mark; +Infinity (0) or -Infinity; the percentile
    const char *words;
    bool startsGroup;
    int markWidth() const { return mark == Percentile ? 2 * kLegendMark : kLegendMark; }
};

std::vector<LegendEntry> legendEntries(ResponseChart::Series series) {
    std::vector<LegendEntry> entries;
    for (int mark = 0; mark < kVerdictMarks; ++mark)
        entries.push_back({LegendEntry::Verdict, static_cast<std::size_t>(mark),
                           markName(static_cast<VerdictMark>(mark)), mark == 0});
    if (series == ResponseChart::Series::Register) {
        entries.push_back({LegendEntry::Infinity, 0, "+Infinito", true});
        entries.push_back({LegendEntry::Infinity, 1, "-Infinito", false});
        entries.push_back({LegendEntry::NoValue, 0, "NaN o sin valor: bajo el eje", false});
    } else {
        for (std::size_t line = 0; line < kPercentiles.size(); ++line)
            entries.push_back(
                {LegendEntry::Percentile, line, kPercentiles.at(line).name, line == 0});
    }
    return entries;
}

// Where each entry goes, from `left` on the line at `top`, wrapped before
// `right`. A group (the verdicts, the marks off the scale, the
// percentiles) starts a line of its own rather than break where a line
// would hold it whole.
std::vector<QRect> placeLegend(const std::vector<LegendEntry> &entries, const QFontMetrics &metrics,
                               int left, int right, int top) {
    const auto wideOf = [&](const LegendEntry &entry) {
        return entry.markWidth() + kGap / 2 +
               metrics.horizontalAdvance(QString::fromUtf8(entry.words));
    };
    std::vector<QRect> placed;
    int x = left;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        int needed = wideOf(entries[i]);
        for (std::size_t j = i + 1;
             entries[i].startsGroup && j < entries.size() && !entries[j].startsGroup; ++j)
            needed += 2 * kGap + wideOf(entries[j]);
        if (x > left && x + needed > right) {
            x = left;
            top += metrics.height();
        }
        placed.emplace_back(x, top, wideOf(entries[i]), metrics.height());
        x += placed.back().width() + 2 * kGap;
    }
    return placed;
}

QString viewName(RegisterView view) {
    return QString::fromStdString(registerViewName(view));
}

// Each of `count` points in the middle of its share of `width` columns,
// and back: the marks drawn column by column land where xOf puts them.
static_assert(kVerdictMarks <= static_cast<int>(MarkSpread::kKinds));

struct PointColumns {
    long long count;
    long long width;
    long long columnOf(long long index) const { return (2 * index + 1) * width / (2 * count); }
    // The first point whose column is past `column`.
    long long firstPast(long long column) const {
        const long long past = 2 * count * (column + 1) - width;
        return past <= 0 ? 0 : std::min(count, (past + 2 * width - 1) / (2 * width));
    }
};

}  // namespace

ResponseChart::ResponseChart(MonitorModel &model, QWidget *parent)
    : QWidget(parent), model_(model) {
    setObjectName("chrRespuesta");
    setMinimumHeight(150);
    // Every paint covers the whole chart: the window need not fill the
    // background under it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { append(first, last); });
    connect(&model_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                // The ring drops its oldest rows, always from the top.
                Q_ASSERT(first == 0);
                dropFront(last - first + 1);
            });
    connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
        points_.clear();
        reads_.clear();
        readKinds_.clear();
        ys_.clear();
        findRange();  // none: the values before a clear say nothing of the ones after
        append(0, model_.rowCount() - 1);
        emit registersChanged();
    });
    // With rows or none: an empty chart's axis is in hex or decimal too.
    connect(&model_, &MonitorModel::registerViewChanged, this, [this] {
        emit registersChanged();  // another register view: pairs or single words
        if (series_ == Series::Register)
            revalue();
    });
    append(0, model_.rowCount() - 1);
}

void ResponseChart::setSeries(Series series, int registerNumber) {
    if (series == series_ && registerNumber == register_)
        return;
    series_ = series;
    register_ = registerNumber;
    revalue();
}

std::vector<int> ResponseChart::registers() const {
    return chartableRegisters(readKinds_, model_.registerView());
}

double ResponseChart::valueOf(int row) const {
    const ExchangeRecord &record = model_.record(row);
    if (series_ == Series::FirstByte) {
        const auto ms = record.firstByteMs();
        return ms ? *ms : kNothing;
    }
    const auto &read = reads_[static_cast<std::size_t>(row)];
    if (!read)
        return kNothing;
    return registerValueIn(record.judgedReply(), *read, model_.registerView(), register_)
        .value_or(kNothing);
}

void ResponseChart::append(int first, int last) {
    bool newRead = false;
    for (int row = first; row <= last; ++row) {
        const ExchangeRecord &record = model_.record(row);
        reads_.push_back(readSpan(record.request, record.judgedReply()));
        if (reads_.back() &&
            std::find(readKinds_.begin(), readKinds_.end(), *reads_.back()) == readKinds_.end()) {
            readKinds_.push_back(*reads_.back());
            newRead = true;
        }
        points_.push_back({valueOf(row), verdictMark(record)});
        takeRange(points_.back().value);
    }
    // Drawn with the table's new rows and the statistics, in the same batch.
    ++pointsChanged_;
    refreshSoon();
    if (newRead)
        emit registersChanged();
}

void ResponseChart::dropFront(int count) {
    points_.erase(points_.begin(), points_.begin() + count);
    reads_.erase(reads_.begin(), reads_.begin() + count);
    ys_.clear();  // the blocks start at the first point
    ++pointsChanged_;
    findRange();
    update();
}

void ResponseChart::revalue() {
    // Only the numbers change: the replies were checked as they came.
    for (std::size_t row = 0; row < points_.size(); ++row)
        points_[row].value = valueOf(static_cast<int>(row));
    ys_.clear();
    ++pointsChanged_;
    findRange();
    update();
}

void ResponseChart::findRange() {
    anyValue_ = false;
    for (const Point &point : points_)
        takeRange(point.value);
}

void ResponseChart::takeRange(double value) {
    if (!std::isfinite(value))
        return;  // NaN and the infinities have no place on an axis
    if (!anyValue_) {
        lowest_ = highest_ = value;
        anyValue_ = true;
        return;
    }
    lowest_ = std::min(lowest_, value);
    highest_ = std::max(highest_, value);
}

ResponseChart::Layout ResponseChart::layout() const {
    // Asked at every paint and every click; its tick labels are measured
    // text, so it is worked out again only when what it rests on changes.
    LayoutKey key{size(), lowest_, highest_, anyValue_, series_, hexAxis()};
    if (!layoutKept_ || layoutKept_->first != key) {
        Layout fresh = freshLayout();
        if (!layoutKept_ || fresh != layoutKept_->second)
            ++layoutsMade_;
        layoutKept_.emplace(std::move(key), std::move(fresh));
    }
    return layoutKept_->second;
}

ResponseChart::Layout ResponseChart::freshLayout() const {
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    // Delays start at zero: the axis shows how far from instant they are.
    const double low = series_ == Series::FirstByte ? std::min(0.0, lowest_) : lowest_;
    Layout layout;
    layout.legendTop = kGap / 2;
    const std::vector<LegendEntry> entries = legendEntries(series_);
    // The legend starts over the plot, whose left edge the tick labels
    // set, and each line it wraps onto is taken from the ticks' height:
    // placed again until the lines it takes are those it was given.
    int left = 0;
    for (int legendLines = 1;;) {
        const int usableHeight = height() - (2 + legendLines) * line - 4 * kGap;
        const int mostTicks = std::max(2, usableHeight / (2 * line));
        layout.axis = hexAxis()
                          ? roundHexAxis(anyValue_ ? low : 0, anyValue_ ? highest_ : 1, mostTicks)
                          : roundAxis(anyValue_ ? low : 0, anyValue_ ? highest_ : 1, mostTicks);
        int labels = 0;
        for (const double tick : layout.axis.ticks)
            labels = std::max(labels, metrics.horizontalAdvance(tickLabel(tick, layout.axis.step)));
        left = line + kGap + labels + kGap;
        layout.legend = placeLegend(entries, metrics, left, width() - kGap, layout.legendTop);
        const int placedLines = (layout.legend.back().top() - layout.legendTop) / line + 1;
        if (placedLines <= legendLines)
            break;
        legendLines = placedLines;
    }
    int right = kGap + kMarkRadius;
    if (series_ == Series::FirstByte)
        right += metrics.horizontalAdvance("mediana 9999.9 ms") + kGap;
    const int top = layout.legend.back().bottom() + 1 + kGap + kMarkRadius;
    const int bottom = kMarkRadius * 3 + kGap + line + kGap;
    layout.area = rect().adjusted(left, top, -right, -bottom);
    return layout;
}

QRect ResponseChart::legendBounds() const {
    QRect bounds;
    for (const QRect &entry : layout().legend)
        bounds |= entry;
    return bounds;
}

int ResponseChart::xOf(std::size_t index, const QRect &area) const {
    const PointColumns columns{std::ssize(points_), area.width()};
    return area.left() + static_cast<int>(columns.columnOf(static_cast<long long>(index)));
}

int ResponseChart::yOf(double value, const Layout &layout) {
    const double share = (value - layout.axis.low) / (layout.axis.high - layout.axis.low);
    return layout.area.bottom() - static_cast<int>(std::lround(share * (layout.area.height() - 1)));
}

bool ResponseChart::hexAxis() const {
    return series_ == Series::Register && model_.registerView().format == RegisterFormat::Hex;
}

QString ResponseChart::tickLabel(double tick, double step) const {
    return QString::fromStdString(hexAxis() ? hexTickText(tick) : tickText(tick, step));
}

QString ResponseChart::axisTitle() const {
    if (series_ == Series::FirstByte)
        return QString::fromUtf8("1er byte (ms)");
    // A register chosen before "Borrar" is not charted until read again.
    const std::vector<int> offered = registers();
    if (std::find(offered.begin(), offered.end(), register_) == offered.end())
        return QString::fromUtf8("ningún registro leído");
    return QString("reg %1 (%2)").arg(register_).arg(viewName(model_.registerView()));
}

std::optional<QPoint> ResponseChart::pointPosition(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= points_.size())
        return std::nullopt;
    return pointAt(static_cast<std::size_t>(row), layout());
}

std::optional<QPoint> ResponseChart::pointAt(std::size_t index, const Layout &layout) const {
    if (layout.area.width() <= 0)
        return std::nullopt;
    return QPoint(xOf(index, layout.area), pointY(points_[index].value, layout));
}

int ResponseChart::pointY(double value, const Layout &layout) {
    if (std::isfinite(value))
        return yOf(value, layout);
    // The infinities at the edge they lie beyond; what has no value (no
    // answer, a damaged reply, a NaN) under the axis, each in its verdict's
    // shape, as the legend says: no gap passes for a quiet stretch.
    if (std::isinf(value))
        return value > 0 ? layout.area.top() : layout.area.bottom();
    return layout.area.bottom() + kGap + kMarkRadius;
}

int ResponseChart::rowAt(QPoint position) const {
    const Layout shape = layout();
    const QRect &area = shape.area;
    const auto count = static_cast<long long>(points_.size());
    if (count == 0 || area.width() <= 0)
        return -1;
    // The points whose marks reach `position`'s column; of them, the
    // nearest to it.
    const long long reach = kMarkRadius + 1;
    const long long from =
        std::max<long long>(0, (position.x() - reach - area.left()) * count / area.width() - 1);
    const long long to = std::min<long long>(
        count - 1, (position.x() + reach - area.left() + 1) * count / area.width() + 1);
    int best = -1;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (long long row = from; row <= to; ++row) {
        const auto at = pointAt(static_cast<std::size_t>(row), shape);
        if (!at)
            continue;
        const long long dx = at->x() - position.x();
        const long long dy = at->y() - position.y();
        // Only on a mark or a pixel beside it: a click on the legend, an
        // axis label or an empty stretch of the column selects nothing.
        if (dx * dx + dy * dy <= reach * reach && dx * dx + dy * dy < bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = static_cast<int>(row);
        }
    }
    return best;
}

void ResponseChart::mousePressEvent(QMouseEvent *event) {
    if (const int row = rowAt(event->position().toPoint()); row >= 0)
        emit rowClicked(row);
}

void ResponseChart::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    update();
}

void ResponseChart::refreshSoon() {
    // Most batches move no mark by a pixel nor a percentile line: then only
    // the newest row's number is painted again, and the rest of the
    // picture stays as it is.
    const Layout shape = layout();
    if (!isVisible() || shape.area.width() <= 0 || shape.area.height() <= 0 ||
        refreshLayer(shape)) {
        update();
        return;
    }
    const QRect numbers = underAxis(shape);
    update(0, numbers.top(), width(), numbers.height());
}

bool ResponseChart::refreshLayer(const Layout &shape) {
    // The axes and the legend change with the axis, the series and the
    // size, seldom with a batch: drawn once into a picture kept until then.
    const qreal ratio = devicePixelRatioF();
    // The title names the series and the register view; the rest of the
    // frame is drawn from the layout.
    FrameKey frameKey{layoutsMade_, ratio, axisTitle()};
    if (frameKey != frameKey_) {
        frameKey_ = std::move(frameKey);
        ++framesDrawn_;
        frame_ = QPixmap(size() * ratio);
        frame_.setDevicePixelRatio(ratio);
        QPainter onFrame(&frame_);
        onFrame.fillRect(rect(), palette().base());
        drawAxes(onFrame, shape);
        drawLegend(onFrame, shape);
    }
    const LayerKey layerKey{pointsChanged_, framesDrawn_};
    if (layerKey == layerKey_)
        return false;
    layerKey_ = layerKey;
    return refreshMarks(shape);
}

void ResponseChart::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const Layout shape = layout();
    if (shape.area.width() <= 0 || shape.area.height() <= 0) {
        painter.fillRect(rect(), palette().base());
        return;
    }
    refreshLayer(shape);
    const qreal ratio = devicePixelRatioF();
    for (const QRect &due : event->region()) {
        painter.drawPixmap(due, pointsLayer_,
                           QRectF(due.topLeft() * ratio, QSizeF(due.size()) * ratio));
    }
    drawNewestNumber(painter, shape);
}

void ResponseChart::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    // Another font, palette or style: the layout is measured and the frame drawn anew.
    layoutKept_.reset();
    frameKey_.reset();
}

void ResponseChart::drawAxes(QPainter &painter, const Layout &layout) {
    const QRect &area = layout.area;
    const QFontMetrics metrics = fontMetrics();
    const QColor grid = palette().midlight().color();
    const AxisScale &axis = layout.axis;
    for (const double tick : axis.ticks) {
        const int y = yOf(tick, layout);
        painter.setPen(tick == 0 && axis.low < 0 ? palette().mid().color() : grid);
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(palette().text().color());
        painter.drawText(QRect(0, y - metrics.height() / 2, area.left() - kGap, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, tickLabel(tick, axis.step));
    }
    painter.setPen(palette().mid().color());
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    painter.setPen(palette().text().color());
    painter.save();
    painter.translate(metrics.ascent() / 2 + 2, area.center().y());
    painter.rotate(-90);
    const QString title = axisTitle();
    painter.drawText(-metrics.horizontalAdvance(title) / 2, metrics.ascent() / 2, title);
    painter.restore();

    painter.drawText(underAxis(layout), Qt::AlignHCenter,
                     QString::fromUtf8("intercambios, del más antiguo al más nuevo"));
}

QRect ResponseChart::underAxis(const Layout &layout) const {
    const QRect &area = layout.area;
    return {area.left(), area.bottom() + kMarkRadius * 3 + kGap, area.width(),
            fontMetrics().height()};
}

QString ResponseChart::rowNumber(int row) const {
    return QString::fromUtf8("Nº %1").arg(model_.record(row).sequence);
}

void ResponseChart::drawNewestNumber(QPainter &painter, const Layout &layout) {
    // Under the axis at the right end; the oldest row's number is at the
    // left end, in the picture with the marks.
    if (points_.empty())
        return;
    painter.setPen(palette().text().color());
    painter.drawText(underAxis(layout), Qt::AlignRight, rowNumber(model_.rowCount() - 1));
}

bool ResponseChart::refreshMarks(const Layout &layout) {
    // Each mark drawn once into a small picture, then copied wherever it
    // goes: one path of a hundred thousand shapes takes the rasteriser
    // seconds. Points of one verdict that share a pixel column are drawn
    // as the lowest and the highest of them joined by a bar, as wide as a
    // mark for good replies and thin for the others, whose marks keep
    // their shape. Finding those is the chart's cost at each batch: each
    // point's y is found once, and each column's spread is looked up.
    const qreal ratio = devicePixelRatioF();
    constexpr int kSide = 2 * kMarkRadius + 3;
    if (spritesRatio_ != ratio) {
        spritesRatio_ = ratio;
        for (int mark = 0; mark < kVerdictMarks; ++mark) {
            const auto verdict = static_cast<VerdictMark>(mark);
            QPixmap &sprite = sprites_[static_cast<std::size_t>(mark)];
            sprite = QPixmap(QSize(kSide, kSide) * ratio);
            sprite.setDevicePixelRatio(ratio);
            sprite.fill(Qt::transparent);
            QPainter onSprite(&sprite);
            onSprite.setRenderHint(QPainter::Antialiasing);
            onSprite.setPen(Qt::NoPen);
            onSprite.setBrush(verdictColours(verdict).point);
            onSprite.drawPath(markShape(verdict).translated(kSide / 2.0, kSide / 2.0));
        }
    }
    if (ysArea_ != layout.area || ysLow_ != layout.axis.low || ysHigh_ != layout.axis.high) {
        ys_.clear();
        ysArea_ = layout.area;
        ysLow_ = layout.axis.low;
        ysHigh_ = layout.axis.high;
    }
    if (ys_.size() == 0) {
        for (auto &kinds : offScale_)
            for (auto &indices : kinds)
                indices.clear();
    }
    for (std::size_t i = ys_.size(); i < points_.size(); ++i) {
        const double value = points_[i].value;
        const auto mark = static_cast<std::size_t>(points_[i].mark);
        ys_.push(mark, std::isfinite(value) ? pointY(value, layout) : kNoMark);
        if (!std::isfinite(value)) {
            const OffScale kind = std::isnan(value) ? NoValue : value > 0 ? Above : Below;
            offScale_[mark][kind].push_back(i);
        }
    }
    std::array<std::vector<QRect>, kVerdictMarks> bars;
    std::array<std::vector<QPoint>, kVerdictMarks> marks;
    // Column by column, each over the points xOf puts in it.
    const PointColumns columns{std::ssize(points_), layout.area.width()};
    std::vector<std::size_t> ends;
    for (int column = 0; column < columns.width; ++column)
        ends.push_back(static_cast<std::size_t>(columns.firstPast(column)));
    const std::vector<MarkSpread> &spreads = ys_.columns(ends);
    for (int column = 0; column < columns.width; ++column) {
        const MarkSpread &reach = spreads[static_cast<std::size_t>(column)];
        const int x = layout.area.left() + column;
        for (std::size_t mark = 0; mark < kVerdictMarks; ++mark) {
            if (!reach.has(mark))
                continue;  // none of this verdict
            const int low = reach.low[mark];
            const int high = reach.high[mark];
            if (low != high) {
                const int half =
                    mark == static_cast<std::size_t>(VerdictMark::Good) ? kMarkRadius - 1 : 1;
                bars[mark].emplace_back(x - half, high, 2 * half + 1, low - high);
                marks[mark].emplace_back(x, high);
            }
            marks[mark].emplace_back(x, low);
        }
    }
    // Most batches move no mark by a pixel: the frame with the marks, the
    // percentile lines and the oldest row's number on it is kept and copied
    // again until one of them moves or the frame changes.
    std::vector<OffScaleMark> offScale = offScaleMarks(layout);
    std::vector<PercentileLine> percentiles = percentileLines(layout);
    const QString oldest = points_.empty() ? QString() : rowNumber(0);
    if (bars == drawnBars_ && marks == drawnMarks_ && offScale == drawnOffScale_ &&
        percentiles == drawnPercentiles_ && oldest == drawnOldest_ && layerFrame_ == framesDrawn_)
        return false;
    drawnBars_ = std::move(bars);
    drawnMarks_ = std::move(marks);
    drawnOffScale_ = std::move(offScale);
    drawnPercentiles_ = std::move(percentiles);
    drawnOldest_ = oldest;
    layerFrame_ = framesDrawn_;
    pointsLayer_ = frame_;
    QPainter onLayer(&pointsLayer_);
    // Good replies first, so a bad one among them stays in sight.
    for (int mark = 0; mark < kVerdictMarks; ++mark) {
        const auto m = static_cast<std::size_t>(mark);
        const QColor colour = verdictColours(static_cast<VerdictMark>(mark)).point;
        for (const QRect &bar : drawnBars_[m])
            onLayer.fillRect(bar, colour);
        for (const QPoint &at : drawnMarks_[m])
            onLayer.drawPixmap(at - QPoint(kSide / 2, kSide / 2), sprites_[m]);
    }
    drawOffScale(onLayer, drawnOffScale_);
    drawPercentiles(onLayer, drawnPercentiles_);
    onLayer.setPen(palette().text().color());
    onLayer.drawText(underAxis(layout), Qt::AlignLeft, drawnOldest_);
    return true;
}

std::vector<ResponseChart::OffScaleMark> ResponseChart::offScaleMarks(const Layout &layout) const {
    // One per verdict, kind and pixel column: the first such point of the
    // column, the next found past it by a search, so a long stretch with
    // no answer costs the columns it spans, not its points. Drawn in the
    // order of those first points, as a walk over every point would.
    const PointColumns columns{std::ssize(points_), layout.area.width()};
    std::vector<std::pair<std::size_t, OffScaleMark>> found;
    for (std::size_t mark = 0; mark < kVerdictMarks; ++mark) {
        for (int kind = 0; kind < kOffScaleKinds; ++kind) {
            const std::vector<std::size_t> &indices =
                offScale_[mark][static_cast<std::size_t>(kind)];
            for (auto at = indices.begin(); at != indices.end();) {
                const long long column = columns.columnOf(static_cast<long long>(*at));
                found.push_back({*at,
                                 {layout.area.left() + static_cast<int>(column),
                                  pointY(points_[*at].value, layout),
                                  static_cast<VerdictMark>(mark), static_cast<OffScale>(kind)}});
                at = std::lower_bound(at, indices.end(),
                                      static_cast<std::size_t>(columns.firstPast(column)));
            }
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<OffScaleMark> marks;
    marks.reserve(found.size());
    for (const auto &[index, mark] : found)
        marks.push_back(mark);
    return marks;
}

void ResponseChart::drawOffScale(QPainter &painter, const std::vector<OffScaleMark> &marks) const {
    // An infinity is beyond every value, so an open triangle pointing out
    // of the plot; what has no value its verdict's mark under the axis.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    for (const OffScaleMark &at : marks) {
        const auto mark = static_cast<std::size_t>(at.mark);
        if (at.kind == NoValue) {
            const int half = static_cast<int>(sprites_[mark].deviceIndependentSize().width()) / 2;
            painter.drawPixmap(at.x - half, at.y - half, sprites_[mark]);
            continue;
        }
        painter.setPen(QPen(verdictColours(at.mark).point, 1.5));
        painter.drawPolygon(infinityMark(at.kind == Above).translated(at.x, at.y));
    }
    painter.restore();
}

std::vector<ResponseChart::PercentileLine> ResponseChart::percentileLines(
    const Layout &layout) const {
    const QRect &area = layout.area;
    const LatencyHistogram &latency = model_.stats().firstByte;
    if (series_ != Series::FirstByte || latency.count() == 0)
        return {};
    const int line = fontMetrics().height();
    std::vector<PercentileLine> lines;
    int previousLabel = std::numeric_limits<int>::max();
    for (const Percentile &percentile : kPercentiles) {
        const double value = *latency.percentile(percentile.share);
        const int y = yOf(value, layout);
        // In the right margin, beside its line; the p95 is drawn after the
        // median and goes above it when the two are close.
        const int labelY = std::min(y, previousLabel - line);
        previousLabel = labelY;
        lines.push_back({percentile.colour, QLine(area.left(), y, area.right(), y),
                         QRect(area.right() + kGap + kMarkRadius, labelY - line / 2,
                               width() - area.right(), line),
                         QString("%1 %2 ms").arg(percentile.name).arg(value, 0, 'f', 1)});
    }
    return lines;
}

void ResponseChart::drawPercentiles(QPainter &painter, const std::vector<PercentileLine> &lines) {
    for (const PercentileLine &line : lines) {
        painter.setPen(QPen(line.colour, 1, Qt::DashLine));
        painter.drawLine(line.line);
        painter.setPen(line.colour);
        painter.drawText(line.label, Qt::AlignLeft | Qt::AlignVCenter, line.text);
    }
}

void ResponseChart::drawLegend(QPainter &painter, const Layout &layout) {
    const QFontMetrics metrics = fontMetrics();
    painter.setRenderHint(QPainter::Antialiasing);
    const std::vector<LegendEntry> entries = legendEntries(series_);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LegendEntry &entry = entries[i];
        const int x = layout.legend[i].left();
        const int y = layout.legend[i].top() + metrics.height() / 2;
        const int markEnd = x + entry.markWidth();
        switch (entry.mark) {
            case LegendEntry::Verdict: {
                const auto verdict = static_cast<VerdictMark>(entry.which);
                painter.setPen(Qt::NoPen);
                painter.setBrush(verdictColours(verdict).point);
                painter.drawPath(markShape(verdict).translated((x + markEnd) / 2.0, y));
                break;
            }
            case LegendEntry::Infinity:
                painter.setBrush(Qt::NoBrush);
                painter.setPen(QPen(palette().text().color(), 1.5));
                painter.drawPolygon(
                    infinityMark(entry.which == 0).translated((x + markEnd) / 2.0, y));
                break;
            case LegendEntry::NoValue:
                // A stretch of the axis with a mark under it.
                painter.setPen(palette().mid().color());
                painter.drawLine(x, y - kMarkRadius, markEnd, y - kMarkRadius);
                painter.setPen(Qt::NoPen);
                painter.setBrush(palette().text());
                painter.drawEllipse(QPointF((x + markEnd) / 2.0, y + 1), 2.5, 2.5);
                break;
            case LegendEntry::Percentile:
                painter.setPen(QPen(kPercentiles.at(entry.which).colour, 1, Qt::DashLine));
                painter.drawLine(x, y, markEnd, y);
                break;
        }
        painter.setPen(palette().text().color());
        painter.drawText(markEnd + kGap / 2, layout.legend[i].top() + metrics.ascent(),
                         QString::fromUtf8(entry.words));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

}  // namespace marvalo

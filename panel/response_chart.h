#pragma once

#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "core/chart/axis_scale.h"
#include "core/chart/mark_reach.h"
#include "core/records/register_series.h"
#include "panel/monitor_model.h"

namespace marvalo {

// Under the monitor's table: the first-byte delay of every exchange kept,
// or one register's value for Modbus reads, oldest on the left. The y axis
// runs over the values shown, negatives included, with round ticks and a
// title with the unit; a legend names the marks. A verdict is told by its
// mark's shape as well as its colour; no-replies, NaN and damaged replies
// are marked under the axis, the infinities by open triangles at the edge;
// the median and the 95th percentile of the delay are dashed lines labelled
// in the right margin, off the data. Points keep their size however many
// there are. A click picks the row of the point under it.
class ResponseChart : public QWidget {
    Q_OBJECT

  public:
    enum class Series { FirstByte, Register };
    static constexpr int kMarkRadius = 4;  // a mark is 9 px across at any density

    explicit ResponseChart(MonitorModel &model, QWidget *parent = nullptr);

    void setSeries(Series series, int registerNumber = 0);
    Series series() const { return series_; }
    int registerNumber() const { return register_; }
    // The registers read so far that the model's register view can show,
    // each register or the first of each pair.
    std::vector<int> registers() const;
    QSize sizeHint() const override { return {600, 200}; }
    // The model row behind the point under `position`, or -1.
    int rowAt(QPoint position) const;
    // Where the point of a model row is drawn; none when it has nothing to draw.
    std::optional<QPoint> pointPosition(int row) const;
    std::size_t pointCount() const { return points_.size(); }
    AxisScale axis() const { return layout().axis; }
    // Where the legend is drawn: on a narrow chart it takes more lines.
    QRect legendBounds() const;
    // The value axis's title, as drawn: "reg 10 (u16)".
    QString axisTitle() const;
    // Ticks at powers of two, labelled in hex, while registers show in hex.
    bool hexAxis() const;
    QString tickLabel(double tick, double step) const;

  signals:
    void rowClicked(int row);
    // Another set of registers can be charted (a new read, another view).
    void registersChanged();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

  private:
    struct Point {
        double value;  // NaN: nothing to chart (no reply, no such register)
        VerdictMark mark;
    };
    struct Layout {
        QRect area;  // the plot, inside the axes
        AxisScale axis;
        int legendTop = 0;
        std::vector<QRect> legend;  // each entry's place, in the order of legendEntries
        bool operator==(const Layout &) const = default;
    };
    double valueOf(int row) const;
    void append(int first, int last);
    void dropFront(int count);
    void revalue();
    void findRange();
    void takeRange(double value);
    Layout layout() const;
    Layout freshLayout() const;
    int xOf(std::size_t index, const QRect &area) const;
    static int yOf(double value, const Layout &layout);
    // Where a value is drawn, the infinities and nothing included.
    static int pointY(double value, const Layout &layout);
    std::optional<QPoint> pointAt(std::size_t index, const Layout &layout) const;
    void drawAxes(QPainter &painter, const Layout &layout);
    QRect underAxis(const Layout &layout) const;
    QString rowNumber(int row) const;
    void drawNewestNumber(QPainter &painter, const Layout &layout);
    // Asks for the paint a batch needs: all of the chart when a mark moved.
    void refreshSoon();
    // The axes, the legend and the marks brought up to the points, in
    // pointsLayer_; true when that picture changed.
    bool refreshLayer(const Layout &layout);
    bool refreshMarks(const Layout &layout);
    // What is drawn apart from the values, never joined to them by a
    // column's bar: an infinity, or no value under the axis.
    enum OffScale { Above, Below, NoValue, kOffScaleKinds };
    struct OffScaleMark {
        int x;
        int y;
        VerdictMark mark;
        OffScale kind;
        bool operator==(const OffScaleMark &) const = default;
    };
    std::vector<OffScaleMark> offScaleMarks(const Layout &layout) const;
    void drawOffScale(QPainter &painter, const std::vector<OffScaleMark> &marks) const;
    struct PercentileLine {
        QColor colour;
        QLine line;
        QRect label;
        QString text;
        bool operator==(const PercentileLine &) const = default;
    };
    std::vector<PercentileLine> percentileLines(const Layout &layout) const;
    static void drawPercentiles(QPainter &painter, const std::vector<PercentileLine> &lines);
    void drawLegend(QPainter &painter, const Layout &layout);

    MonitorModel &model_;
    std::vector<Point> points_;                   // one per model row
    std::vector<std::optional<ReadSpan>> reads_;  // checked once, as each row arrives
    std::vector<ReadSpan> readKinds_;             // the distinct reads seen since the last clear
    double lowest_ = 0;
    double highest_ = 0;
    bool anyValue_ = false;
    Series series_ = Series::FirstByte;
    int register_ = 0;
    // Drawn once, copied for every mark.
    std::array<QPixmap, kVerdictMarks> sprites_;
    qreal spritesRatio_ = 0;
    // The y of a point drawn apart from the values (an infinity, no value).
    static constexpr int kNoMark = MarkSpread::kNone;
    // Each point's y as drawn, for the plot and the axis it was laid out on,
    // ready to give the spread of any pixel column's points.
    MarkReach ys_;
    // The points drawn apart, by verdict and kind, in order; found as ys_ grows.
    std::array<std::array<std::vector<std::size_t>, kOffScaleKinds>, kVerdictMarks> offScale_;
    QRect ysArea_;
    double ysLow_ = 0;
    double ysHigh_ = 0;
    // The background, the axes and the legend as last drawn, and what they showed.
    QPixmap frame_;
    struct FrameKey {
        std::uint64_t layout;  // by layoutsMade_
        qreal ratio;
        QString title;
        bool operator==(const FrameKey &) const = default;
    };
    std::optional<FrameKey> frameKey_;
    struct LayoutKey {
        QSize size;
        double lowest;
        double highest;
        bool anyValue;
        Series series;
        bool hex;
        bool operator==(const LayoutKey &) const = default;
    };
    mutable std::optional<std::pair<LayoutKey, Layout>> layoutKept_;
    mutable std::uint64_t layoutsMade_ = 0;  // layouts that differ from the one before
    std::uint64_t framesDrawn_ = 0;
    // The marks as last drawn, and the frame with them on it.
    std::array<std::vector<QRect>, kVerdictMarks> drawnBars_;
    std::array<std::vector<QPoint>, kVerdictMarks> drawnMarks_;
    std::vector<OffScaleMark> drawnOffScale_;
    std::uint64_t layerFrame_ = 0;  // the frame under the marks, by framesDrawn_
    QPixmap pointsLayer_;
    // What the marks were last found for: the points and the frame, which
    // is drawn anew with every other layout.
    std::uint64_t pointsChanged_ = 0;
    struct LayerKey {
        std::uint64_t points = 0;
        std::uint64_t frame = 0;
        bool operator==(const LayerKey &) const = default;
    };
    std::optional<LayerKey> layerKey_;
    std::vector<PercentileLine> drawnPercentiles_;
    QString drawnOldest_;  // the oldest row's number, under the axis
};

}  // namespace marvalo

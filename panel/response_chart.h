#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "panel/monitor_model.h"

namespace marvalo {

// Under the monitor's table: the first-byte delay of every exchange kept
// (or one register's value, for Modbus reads), points coloured as their
// rows, no-replies marked on the axis, the median and the 95th percentile
// as lines. 100,000 exchanges reduce to a minimum and a maximum per pixel
// column; a point's value is taken once, when its row arrives. A click
// picks the row of the point nearest to it.
class ResponseChart : public QWidget {
    Q_OBJECT

  public:
    enum class Series { FirstByte, Register };

    explicit ResponseChart(MonitorModel &model, QWidget *parent = nullptr);

    void setSeries(Series series, int registerNumber = 0);
    Series series() const { return series_; }
    QSize sizeHint() const override { return {600, 160}; }
    // The model row behind a point at `position`, or -1.
    int rowAt(QPoint position) const;
    std::size_t pointCount() const { return points_.size(); }

  signals:
    void rowClicked(int row);

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

  private:
    static constexpr int kRedrawMs = 100;
    void scheduleRedraw();
    struct Point {
        float value;  // NaN: nothing to chart (no reply, no such register)
        QRgb colour;
        bool silent;
    };
    Point pointOf(const ExchangeRecord &record) const;
    void append(int first, int last);
    void rebuild();
    QRect plotArea() const;
    float highest() const;

    MonitorModel &model_;
    std::vector<Point> points_;  // the ring drops from the front in batches: a vector suffices
    float highest_ = 0;          // the largest value kept, found again after a drop
    QTimer redraw_;              // new points are drawn at most kRedrawMs apart
    QElapsedTimer sinceDrawn_;
    Series series_ = Series::FirstByte;
    int register_ = 0;
};

}  // namespace marvalo

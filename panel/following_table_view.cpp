#include "panel/following_table_view.h"

#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <tuple>

namespace marvalo {

// Every appended row moves the bar's range and value, yet with a hundred
// thousand rows its handle stays on the same pixels for hundreds of rows:
// repainting it at each one cost a fifth of a batch. It is repainted when
// what it draws changes: the handle, an end reached or left, its state.
// While the table lays out an append, the range grows a step before the
// value follows it: only where the two leave the handle counts.
class QuietScrollBar : public QScrollBar {
  public:
    using QScrollBar::QScrollBar;

    void hold() { held_ = true; }
    void release() {
        held_ = false;
        repaintIfChanged(SliderValueChange);
    }

  protected:
    void sliderChange(SliderChange change) override {
        if (change != SliderValueChange && change != SliderRangeChange) {
            QScrollBar::sliderChange(change);
            return;
        }
        if (!held_)
            repaintIfChanged(change);
    }
    void paintEvent(QPaintEvent *event) override {
        drawn_ = look();
        QScrollBar::paintEvent(event);
    }

  private:
    using Look = std::tuple<QRect, QRect, bool, bool, int, int>;
    Look look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {option.rect,
                style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                option.sliderPosition == option.minimum,
                option.sliderPosition == option.maximum,
                static_cast<int>(option.state),
                static_cast<int>(option.activeSubControls)};
    }
    void repaintIfChanged(SliderChange change) {
        const Look now = look();
        if (now == drawn_)
            return;
        drawn_ = now;  // what the repaint about to come draws
        QScrollBar::sliderChange(change);
    }
    Look drawn_;
    bool held_ = false;
};

FollowingTableView::FollowingTableView(QWidget *parent) : QTableView(parent) {
    bar_ = new QuietScrollBar(Qt::Vertical, this);
    setVerticalScrollBar(bar_);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { followNewest_ = value == verticalScrollBar()->maximum(); });
    // New rows raise the maximum without moving the value: a view at the
    // bottom goes on to the new bottom.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (followNewest_)
            verticalScrollBar()->setValue(maximum);
    });
}

void FollowingTableView::setModel(QAbstractItemModel *model) {
    for (const auto &connection : {aboutToRemove_, removed_, aboutToInsert_, inserted_})
        disconnect(connection);
    QTableView::setModel(model);
    if (!model)
        return;
    // Connected after the view's own and its header's, so that the header
    // already counts the new rows when they are laid out.
    aboutToInsert_ = connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                             [this](const QModelIndex &parent, int first, int) {
                                 if (!isVisible())
                                     return;
                                 // What was due before the rows came is laid out whole.
                                 executeDelayedItemsLayout();
                                 if (!parent.isValid() && first == this->model()->rowCount())
                                     appendedFrom_ = first;
                             });
    inserted_ = connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
        if (isVisible())
            executeDelayedItemsLayout();
        appendedFrom_ = -1;
    });
    aboutToRemove_ = connect(
        model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int first, int last) {
            const int top = rowAt(0);
            droppedAbove_ =
                followNewest_ || top < 0 ? 0 : std::max(0, std::min(last, top - 1) - first + 1);
        });
    removed_ = connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (droppedAbove_ == 0)
            return;
        const int step = verticalScrollMode() == ScrollPerPixel ? rowHeight(0) : 1;
        verticalScrollBar()->setValue(verticalScrollBar()->value() - droppedAbove_ * step);
        droppedAbove_ = 0;
    });
}

void FollowingTableView::doItemsLayout() {
    if (appendedFrom_ < 0) {
        QTableView::doItemsLayout();
        return;
    }
    const int first = appendedFrom_;
    appendedFrom_ = -1;
    // Following, the new range scrolls the rows in sight up by a copy.
    bar_->hold();
    updateGeometries();
    bar_->release();
    const int top = std::max(0, rowViewportPosition(first));
    if (top < viewport()->height())
        viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
}

void FollowingTableView::followNewest() {
    followNewest_ = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace marvalo

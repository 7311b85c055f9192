#include "panel/following_table_view.h"

#include <QScrollBar>

namespace marvalo {

FollowingTableView::FollowingTableView(QWidget *parent) : QTableView(parent) {
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { followNewest_ = value == verticalScrollBar()->maximum(); });
    // New rows raise the maximum without moving the value: a view at the
    // bottom goes on to the new bottom.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (followNewest_)
            verticalScrollBar()->setValue(maximum);
    });
}

void FollowingTableView::followNewest() {
    followNewest_ = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void FollowingTableView::rowsInserted(const QModelIndex &parent, int start, int end) {
    const bool atBottom = !parent.isValid() && model() != nullptr && end == model()->rowCount() - 1;
    if (!atBottom)
        fullLayout_ = true;
    else if (appendedFrom_ < 0)
        appendedFrom_ = start;
    QTableView::rowsInserted(parent, start, end);
}

void FollowingTableView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) {
    fullLayout_ = true;  // every row below moves
    QTableView::rowsAboutToBeRemoved(parent, start, end);
}

void FollowingTableView::reset() {
    fullLayout_ = true;
    QTableView::reset();
}

void FollowingTableView::doItemsLayout() {
    const int appendedFrom = appendedFrom_;
    const bool full = fullLayout_ || appendedFrom < 0;
    appendedFrom_ = -1;
    fullLayout_ = false;
    if (full) {
        QTableView::doItemsLayout();
        if (followNewest_)
            verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        return;
    }
    // The scroll bar's new range scrolls a following view (see rangeChanged),
    // which moves the pixels it has and paints the strip it exposes; new
    // rows that fit without scrolling are painted where they land.
    updateGeometries();
    const int last = model()->rowCount() - 1;
    const QRect appended =
        visualRect(model()->index(appendedFrom, 0)).united(visualRect(model()->index(last, 0)));
    if (appended.intersects(viewport()->rect()))
        viewport()->update(0, appended.top(), viewport()->width(), appended.height());
}

}  // namespace marvalo

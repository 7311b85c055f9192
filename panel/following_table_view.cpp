#include "panel/following_table_view.h"

#include <QScrollBar>

#include <algorithm>

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

void FollowingTableView::setModel(QAbstractItemModel *model) {
    disconnect(aboutToRemove_);
    disconnect(removed_);
    QTableView::setModel(model);
    if (!model)
        return;
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

void FollowingTableView::followNewest() {
    followNewest_ = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace marvalo

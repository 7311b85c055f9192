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

}  // namespace marvalo

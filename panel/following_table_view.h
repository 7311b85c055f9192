#pragma once

#include <QTableView>

namespace marvalo {

// A table that keeps its newest row in sight unless the operator has
// scrolled away from the bottom to read an older one. New rows are laid out
// and painted as Qt does it, the whole viewport: scrolling the pixels
// already there and painting only the strip a new row exposes once showed
// rows twice and left others out, and a monitor that does that cannot be
// trusted. Rows arrive in batches and cells come from a cache of laid-out
// texts, so a full repaint costs little.
class FollowingTableView : public QTableView {
    Q_OBJECT

  public:
    explicit FollowingTableView(QWidget *parent = nullptr);

    // True while the view sits at its bottom and new rows scroll into sight.
    bool followsNewest() const { return followNewest_; }
    // Back to the bottom, following again ("Borrar", a new filter).
    void followNewest();
    void setModel(QAbstractItemModel *model) override;

  private:
    bool followNewest_ = true;
    // Rows dropped above the top one in sight: the view moves up as many,
    // so the row being read stays where it was.
    int droppedAbove_ = 0;
    QMetaObject::Connection aboutToRemove_;
    QMetaObject::Connection removed_;
};

}  // namespace marvalo

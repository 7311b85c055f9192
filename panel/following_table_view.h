#pragma once

#include <QTableView>

namespace marvalo {

class QuietScrollBar;

// A table that keeps its newest row in sight unless the operator has
// scrolled away from the bottom to read an older one. Rows appended at the
// bottom are laid out at once, in the batch that brings them, so the next
// paint shows them with the chart and the statistics of the same batch;
// only they are painted, the rows already there moving up with the scroll.
// Any other change (rows dropped, a reset, another filter) lays out and
// repaints the whole view, as Qt does.
class FollowingTableView : public QTableView {
    Q_OBJECT

  public:
    explicit FollowingTableView(QWidget *parent = nullptr);

    // True while the view sits at its bottom and new rows scroll into sight.
    bool followsNewest() const { return followNewest_; }
    // Back to the bottom, following again ("Borrar", a new filter).
    void followNewest();
    void setModel(QAbstractItemModel *model) override;
    void doItemsLayout() override;

  private:
    QuietScrollBar *bar_ = nullptr;
    bool followNewest_ = true;
    // Rows dropped above the top one in sight: the view moves up as many,
    // so the row being read stays where it was.
    int droppedAbove_ = 0;
    // The first row of an append being laid out, else -1.
    int appendedFrom_ = -1;
    QMetaObject::Connection aboutToRemove_;
    QMetaObject::Connection removed_;
    QMetaObject::Connection aboutToInsert_;
    QMetaObject::Connection inserted_;
};

}  // namespace marvalo

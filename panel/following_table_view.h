#pragma once

#include <QTableView>

namespace marvalo {

// A table that keeps its newest row in sight unless the operator has
// scrolled away from the bottom to read an older one, and that pays for a
// row added at the bottom by that row alone: the viewport is scrolled by the
// row's height and only the exposed row is painted. A plain QTableView lays
// out and repaints its whole viewport whenever the row count changes.
class FollowingTableView : public QTableView {
    Q_OBJECT

  public:
    explicit FollowingTableView(QWidget *parent = nullptr);

    // True while the view sits at its bottom and new rows scroll into sight.
    bool followsNewest() const { return followNewest_; }
    // Back to the bottom, following again ("Borrar", a new filter).
    void followNewest();

    void doItemsLayout() override;

  protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void reset() override;

  private:
    bool followNewest_ = true;
    // Rows appended at the bottom since the last layout, and nothing else:
    // then a layout needs no full repaint.
    int appendedFrom_ = -1;
    bool fullLayout_ = false;
};

}  // namespace marvalo

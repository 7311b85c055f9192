#pragma once

#include <QWidget>
#include <algorithm>

namespace marvalo {

// Two groups of controls on one line, the second at its right end, while
// the width holds both; the second on a line of its own under the first
// when it does not, so a window narrowed beside the panel hides no control.
class WrappingRow : public QWidget {
  public:
    WrappingRow(QWidget *first, QWidget *second, QWidget *parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    // The two groups' hints, read once for each decision and placement.
    struct Hints {
        QSize first;
        QSize second;
        int across;  // between the groups on one line
        int down;    // between the lines
        int oneLineWidth() const { return first.width() + across + second.width(); }
        int lineHeight() const { return std::max(first.height(), second.height()); }
    };
    Hints hints() const;
    void place();

    QWidget *first_;
    QWidget *second_;
};

}  // namespace marvalo

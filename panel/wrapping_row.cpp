#include "panel/wrapping_row.h"

#include <QEvent>
#include <QStyle>
#include <algorithm>

namespace marvalo {

WrappingRow::WrappingRow(QWidget *first, QWidget *second, QWidget *parent)
    : QWidget(parent), first_(first), second_(second) {
    first_->setParent(this);
    second_->setParent(this);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

WrappingRow::Hints WrappingRow::hints() const {
    return {first_->sizeHint(), second_->sizeHint(),
            style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, this),
            style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, this)};
}

QSize WrappingRow::sizeHint() const {
    const Hints now = hints();
    return {now.oneLineWidth(), now.lineHeight()};
}

QSize WrappingRow::minimumSizeHint() const {
    return {std::max(first_->minimumSizeHint().width(), second_->minimumSizeHint().width()),
            hints().lineHeight()};
}

int WrappingRow::heightForWidth(int width) const {
    const Hints now = hints();
    return now.oneLineWidth() <= width ? now.lineHeight()
                                       : now.first.height() + now.down + now.second.height();
}

bool WrappingRow::event(QEvent *event) {
    // A group's hint changed (the register list grew): the line may no
    // longer hold both, and the window lays the row out again.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        place();
    }
    return QWidget::event(event);
}

void WrappingRow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    place();
}

void WrappingRow::place() {
    const Hints now = hints();
    const int secondWidth = std::min(now.second.width(), width());
    const int secondLeft = width() - secondWidth;
    if (now.oneLineWidth() <= width()) {
        const int line = now.lineHeight();
        first_->setGeometry(0, (line - now.first.height()) / 2, now.first.width(),
                            now.first.height());
        second_->setGeometry(secondLeft, (line - now.second.height()) / 2, secondWidth,
                             now.second.height());
    } else {
        first_->setGeometry(0, 0, std::min(now.first.width(), width()), now.first.height());
        second_->setGeometry(secondLeft, now.first.height() + now.down, secondWidth,
                             now.second.height());
    }
}

}  // namespace marvalo

#include "panel/wrapping_row.h"

#include <QEvent>
#include <QStyle>
#include <algorithm>

namespace marvalo {
namespace {

int gapOf(const QWidget &row) {
    return row.style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, &row);
}

}  // namespace

WrappingRow::WrappingRow(QWidget *first, QWidget *second, QWidget *parent)
    : QWidget(parent), first_(first), second_(second) {
    first_->setParent(this);
    second_->setParent(this);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

bool WrappingRow::fitsOneLine(int width) const {
    return first_->sizeHint().width() + gapOf(*this) + second_->sizeHint().width() <= width;
}

QSize WrappingRow::sizeHint() const {
    const QSize first = first_->sizeHint();
    const QSize second = second_->sizeHint();
    return {first.width() + gapOf(*this) + second.width(),
            std::max(first.height(), second.height())};
}

QSize WrappingRow::minimumSizeHint() const {
    return {std::max(first_->minimumSizeHint().width(), second_->minimumSizeHint().width()),
            std::max(first_->sizeHint().height(), second_->sizeHint().height())};
}

int WrappingRow::heightForWidth(int width) const {
    const int first = first_->sizeHint().height();
    const int second = second_->sizeHint().height();
    return fitsOneLine(width) ? std::max(first, second) : first + gapOf(*this) + second;
}

bool WrappingRow::event(QEvent *event) {
    // A group's hint changed (the register list grew): the line may no
    // longer hold both.
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
    const QSize first = first_->sizeHint();
    const QSize second = second_->sizeHint();
    const int secondWidth = std::min(second.width(), width());
    const int secondLeft = width() - secondWidth;
    if (fitsOneLine(width())) {
        const int line = std::max(first.height(), second.height());
        first_->setGeometry(0, (line - first.height()) / 2, first.width(), first.height());
        second_->setGeometry(secondLeft, (line - second.height()) / 2, secondWidth,
                             second.height());
    } else {
        first_->setGeometry(0, 0, std::min(first.width(), width()), first.height());
        second_->setGeometry(secondLeft, first.height() + gapOf(*this), secondWidth,
                             second.height());
    }
}

}  // namespace marvalo

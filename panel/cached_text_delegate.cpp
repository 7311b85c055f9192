#include "panel/cached_text_delegate.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace marvalo {
namespace {

constexpr int kCachedTexts = 4000;  // a few screens of cells
constexpr int kTextMargin = 3;

}  // namespace

CachedTextDelegate::CachedTextDelegate(int keyRole, QObject *parent)
    : QStyledItemDelegate(parent), keyRole_(keyRole), texts_(kCachedTexts) {}

void CachedTextDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QVariant background = index.data(Qt::BackgroundRole);
    if (selected) {
        painter->fillRect(option.rect, option.palette.highlight());
    } else if (background.canConvert<QBrush>()) {
        painter->fillRect(option.rect, background.value<QBrush>());
    }
    const int width = option.rect.width() - 2 * kTextMargin;
    const std::pair<qulonglong, int> key{index.data(keyRole_).toULongLong(), width};
    QStaticText *laidOut = texts_.object(key);
    if (laidOut == nullptr) {
        const QString text = QFontMetrics(option.font)
                                 .elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                             std::max(width, 0));
        if (text.isEmpty())
            return;
        laidOut = new QStaticText(text);
        laidOut->setTextFormat(Qt::PlainText);
        laidOut->setPerformanceHint(QStaticText::AggressiveCaching);
        laidOut->prepare(QTransform(), option.font);
        texts_.insert(key, laidOut);
    }
    painter->save();
    painter->setClipRect(option.rect.adjusted(0, 0, -kTextMargin, 0));
    painter->setFont(option.font);
    painter->setPen(selected ? option.palette.highlightedText().color()
                             : option.palette.text().color());
    const qreal top = option.rect.top() + (option.rect.height() - laidOut->size().height()) / 2;
    painter->drawStaticText(QPointF(option.rect.left() + kTextMargin, top), *laidOut);
    painter->restore();
}

}  // namespace marvalo

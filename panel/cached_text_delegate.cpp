#include "panel/cached_text_delegate.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace marvalo {
namespace {

constexpr int kCachedTexts = 4000;  // a few screens of cells
constexpr int kTextMargin = 3;

}  // namespace

QString elidedLine(const QFontMetrics &metrics, const QString &text, int width) {
    // Shaping is paid per character, and a reply's cell holds hundreds of
    // which thirty show. A head twice as wide as the cell at the font's
    // average width is elided where the whole text would be, far from its
    // own end; one that fits after all says nothing of the rest.
    const qsizetype head = 2 * qsizetype{width} / std::max(1, metrics.averageCharWidth()) + 8;
    if (text.size() > head) {
        const QString start = text.left(head);
        QString elided = metrics.elidedText(start, Qt::ElideRight, width);
        if (elided != start)
            return elided;
    }
    return metrics.elidedText(text, Qt::ElideRight, width);
}

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
        const QString text = elidedLine(QFontMetrics(option.font),
                                        index.data(Qt::DisplayRole).toString(), std::max(width, 0));
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

#include "panel/cached_text_delegate.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace marvalo {
namespace {

constexpr int kCachedTexts = 4000;  // a few screens of cells
constexpr int kTextMargin = 3;

}  // namespace

namespace {

// Shaping is paid per character, and a reply's cell holds hundreds of which
// thirty show. A head twice as wide as the cell at the font's average width
// is elided where the whole text would be, far from its own end; one that
// fits after all says nothing of the rest.
qsizetype shapedHead(const QFontMetrics &metrics, int width) {
    return 2 * qsizetype{width} / std::max(1, metrics.averageCharWidth()) + 8;
}

}  // namespace

QString elidedLine(const QFontMetrics &metrics, const QString &text, int width) {
    const qsizetype head = shapedHead(metrics, width);
    if (text.size() > head) {
        const QString start = text.left(head);
        QString elided = metrics.elidedText(start, Qt::ElideRight, width);
        if (elided != start)
            return elided;
    }
    return metrics.elidedText(text, Qt::ElideRight, width);
}

namespace {

// Lines as QStaticText makes them: leading included, as wide as they come.
// `singleLine`: the natural width of the text's one line; none for more lines.
ShapedText laidOut(const QFont &font, const QString &text,
                   std::optional<qreal> *singleLine = nullptr) {
    constexpr qreal kUnbounded = std::numeric_limits<int>::max() / 256;  // as wide as Qt lays out
    QTextLayout layout(text, font);
    layout.setCacheEnabled(true);
    qreal height = 0;
    int lines = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(kUnbounded);
        line.setPosition(QPointF(0, height));
        height += line.height();
        if (line.leading() < 0)
            height += std::ceil(line.leading());
        if (singleLine)
            *singleLine = ++lines == 1 ? std::optional(line.naturalTextWidth()) : std::nullopt;
    }
    layout.endLayout();
    return {layout.glyphRuns(), layout.boundingRect().size()};
}

// Whether a text's natural width is what elision measures: one line, no
// control character, nothing a line's width leaves out at its end.
bool measuredAsElisionMeasures(const QString &text) {
    if (text.isEmpty() || text.back().isSpace())
        return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 || c == QChar::LineSeparator || c == QChar::ParagraphSeparator ||
               c.unicode() == 0x9C;
    });
}

}  // namespace

ShapedText shapedLine(const QFont &font, const QString &text, int width) {
    const QFontMetrics metrics(font);
    // A text longer than the head elision shapes surely does not fit.
    if (text.size() <= shapedHead(metrics, width) && measuredAsElisionMeasures(text)) {
        std::optional<qreal> natural;
        ShapedText whole = laidOut(font, text, &natural);
        if (natural && *natural <= width)
            return whole;
    }
    return laidOut(font, elidedLine(metrics, text, width));
}

CachedTextDelegate::CachedTextDelegate(int keyRole, QObject *parent)
    : QStyledItemDelegate(parent),
      keyRole_(keyRole),
      byCell_(kCachedTexts),
      byText_(kCachedTexts) {}

void CachedTextDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QVariant background = index.data(Qt::BackgroundRole);
    if (selected) {
        painter->fillRect(option.rect, option.palette.highlight());
    } else if (background.canConvert<QBrush>()) {
        painter->fillRect(option.rect, background.value<QBrush>());
    }
    // The texts are laid out in a font: another one makes them all stale.
    if (option.font != font_) {
        byCell_.clear();
        byText_.clear();
        font_ = option.font;
    }
    const int width = option.rect.width() - 2 * kTextMargin;
    const std::pair<qulonglong, int> cell{index.data(keyRole_).toULongLong(), width};
    std::shared_ptr<const ShapedText> *found = byCell_.object(cell);
    if (found == nullptr) {
        // Most of a new row was seen in the row before it: its mode, the
        // request sent again, the usual reply and verdict.
        std::pair<QString, int> text{index.data(Qt::DisplayRole).toString(), width};
        std::shared_ptr<const ShapedText> *same = byText_.object(text);
        auto shape = same ? *same
                          : std::make_shared<const ShapedText>(
                                shapedLine(option.font, text.first, std::max(width, 0)));
        if (!same)
            byText_.insert(std::move(text), new std::shared_ptr<const ShapedText>(shape));
        found = new std::shared_ptr<const ShapedText>(std::move(shape));
        byCell_.insert(cell, found);
    }
    const ShapedText &shaped = **found;
    if (shaped.runs.isEmpty())
        return;
    painter->save();
    painter->setClipRect(option.rect.adjusted(0, 0, -kTextMargin, 0));
    painter->setPen(selected ? option.palette.highlightedText().color()
                             : option.palette.text().color());
    const QPointF topLeft(option.rect.left() + kTextMargin,
                          option.rect.top() + (option.rect.height() - shaped.size.height()) / 2);
    for (const QGlyphRun &run : shaped.runs)
        painter->drawGlyphRun(topLeft, run);
    painter->restore();
}

}  // namespace marvalo

#pragma once

#include <QCache>
#include <QGlyphRun>
#include <QList>
#include <QStyledItemDelegate>
#include <memory>
#include <utility>

class QFontMetrics;

namespace marvalo {

// `text` as one line elided ("…") to `width` pixels: what
// QFontMetrics::elidedText gives, shaping no more of a long text than fits.
QString elidedLine(const QFontMetrics &metrics, const QString &text, int width);

// A text laid out as QStaticText lays it out, as the glyphs to draw.
struct ShapedText {
    QList<QGlyphRun> runs;
    QSizeF size;
};
// `text` elided to `width` as elidedLine elides it, laid out. A text that
// fits is shaped once: measured by its own layout rather than measured,
// then laid out.
ShapedText shapedLine(const QFont &font, const QString &text, int width);

// Draws a row's background and its text, one line, elided ("…") to the
// cell's width, from a cache of laid-out texts keyed by the model's
// `keyRole` and the width, and behind it one keyed by the text itself. A
// table repainted whole (scrolled by the operator, filtered, its oldest
// rows dropped) built and laid out every visible cell's text anew,
// milliseconds each time; with the cache a repaint is mostly copies.
class CachedTextDelegate : public QStyledItemDelegate {
  public:
    CachedTextDelegate(int keyRole, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

  private:
    int keyRole_;
    mutable QFont font_;  // the one the cached texts are laid out in
    mutable QCache<std::pair<qulonglong, int>, std::shared_ptr<const ShapedText>> byCell_;
    mutable QCache<std::pair<QString, int>, std::shared_ptr<const ShapedText>> byText_;
};

}  // namespace marvalo

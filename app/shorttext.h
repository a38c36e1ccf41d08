#pragma once

#include <QString>
#include <QStyledItemDelegate>

namespace velmora {

// Longest text the window lays out in one piece. Laying out a line of a megabyte (a
// damaged list, a junk tag) takes the better part of a second on every repaint.
inline constexpr qsizetype kMaxShownCharacters = 1000;

// `text` cut to at most kMaxShownCharacters (the cut marked with "…"), never leaving
// half of a surrogate pair; shorter text unchanged.
QString shortenedForDisplay(const QString &text);

// Paints list entries through shortenedForDisplay; the entries themselves, which are
// saved and played, keep their whole text.
class ShortTextDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

} // namespace velmora

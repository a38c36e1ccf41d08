#include "shorttext.h"

namespace velmora {

QString shortenedForDisplay(const QString &text)
{
    if (text.size() <= kMaxShownCharacters)
        return text;
    qsizetype keep = kMaxShownCharacters - 1;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

void ShortTextDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = shortenedForDisplay(option->text);
}

} // namespace velmora

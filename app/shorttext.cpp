#include "shorttext.h"

#include "entry.h"

namespace velmora {

QString shortenedForDisplay(const QString &text)
{
    if (text.size() <= kMaxShownCharacters)
        return text;
    return leftWholeCharacters(text, kMaxShownCharacters - 1) + QChar(0x2026);
}

void ShortTextDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = shortenedForDisplay(option->text);
}

} // namespace velmora

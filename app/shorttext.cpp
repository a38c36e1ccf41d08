#include "shorttext.h"

#include "entry.h"
#include "playlistmodel.h"

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
    // An entry whose track could not be played is greyed out.
    if (index.data(PlaylistModel::FailedRole).toBool())
        option->palette.setBrush(QPalette::Text, QBrush(Qt::gray));
}

} // namespace velmora

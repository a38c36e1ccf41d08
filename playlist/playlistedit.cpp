#include "playlistedit.h"

#include "entry.h"

namespace velmora {

QString fileEntryForPath(const QString &path)
{
    return fileFormEntry(TrackBaseName(fixedText(path)), path);
}

bool isTrackName(const QString &name)
{
    return name.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive);
}

bool isListName(const QString &name)
{
    return name.endsWith(QStringLiteral(".m3u"), Qt::CaseInsensitive)
        || name.endsWith(QStringLiteral(".m3u8"), Qt::CaseInsensitive);
}

} // namespace velmora

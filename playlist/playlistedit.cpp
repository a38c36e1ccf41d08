#include "playlistedit.h"

#include "entry.h"

namespace velmora {

QString fileEntryForPath(const QString &path)
{
    return fileFormEntry(TrackBaseName(fixedText(path)), path);
}

} // namespace velmora

#include "playlistlocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace velmora {

QString automaticPlaylistIn(const QString &programFolder)
{
    const QString beside = programFolder + QStringLiteral("/mp3.m3u");
    // access() rather than the permission bits: it also knows read-only mounts.
    if (QFileInfo::exists(beside) || ::access(QFile::encodeName(programFolder).constData(), W_OK) == 0)
        return beside;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return beside;
    const QString folder = dataHome + QStringLiteral("/velmora");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/mp3.m3u");
}

} // namespace velmora

#include "playlistlocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace velmora {

namespace {

QString dataFolderList()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return dataHome.isEmpty() ? QString() : dataHome + QStringLiteral("/velmora/mp3.m3u");
}

} // namespace

QString automaticPlaylistIn(const QString &programFolder)
{
    const QString beside = programFolder + QStringLiteral("/mp3.m3u");
    // access() rather than the permission bits: it also knows read-only mounts.
    if (QFileInfo::exists(beside) || ::access(QFile::encodeName(programFolder).constData(), W_OK) == 0)
        return beside;
    const QString inDataHome = dataFolderList();
    return inDataHome.isEmpty() ? beside : inDataHome;
}

void makeDataFolderFor(const QString &listPath)
{
    const QString inDataHome = dataFolderList();
    if (!inDataHome.isEmpty() && listPath == inDataHome)
        QDir().mkpath(QFileInfo(inDataHome).path());
}

} // namespace velmora

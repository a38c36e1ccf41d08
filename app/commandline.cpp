#include "commandline.h"


#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace velmora {

QStringList filesFromCommandLine(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Velmora MP3 播放器"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("文件"), QStringLiteral("要播放的MP3文件或要打开的M3U播放列表"),
                                 QStringLiteral("[文件…]"));
    parser.process(app);
    return absoluteFiles(parser.positionalArguments(), QDir::currentPath());
}

QStringList absoluteFiles(const QStringList &arguments, const QString &workingFolder)
{
    QStringList files;
    const QDir folder(workingFolder);
    for (const QString &argument : arguments) {
        if (argument.isEmpty())
            continue;
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        files << QDir::cleanPath(folder.absoluteFilePath(path));
    }
    return files;
}

} // namespace velmora

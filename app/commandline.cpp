#include "commandline.h"

#include "form1.h"
#include "m3u.h"
#include "posixfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace velmora {

namespace {

enum class Kind { Track, List, Other };

Kind kindOf(const QString &path)
{
    if (path.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        return Kind::Track;
    if (path.endsWith(QStringLiteral(".m3u"), Qt::CaseInsensitive)
        || path.endsWith(QStringLiteral(".m3u8"), Qt::CaseInsensitive))
        return Kind::List;
    return Kind::Other;
}

QString problemWith(const QString &path, const QString &what)
{
    return what + QStringLiteral("（") + path + QStringLiteral("）");
}

} // namespace

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

void openFromOutside(Form1 &window, const QStringList &files)
{
    const Steps steps = Steps::skippingFailures();
    QStringList tracks;
    QStringList problems;
    for (const QString &file : files) {
        switch (kindOf(file)) {
        case Kind::Track: {
            const FileProblem problem = openRegularFile(file).problem;
            // An empty file gets as far as the engine, as from the toolbar, which says why.
            if (problem == FileProblem::None)
                tracks << file;
            else
                problems << problemWith(file, QStringLiteral("无法打开MP3文件：") + fileProblemText(problem, FileRole::Track));
            break;
        }
        case Kind::List: {
            const ReadResult list = readPlaylistFile(file);
            if (list.ok)
                window.openReadList(file, list.entries, steps);
            else
                problems << problemWith(file, list.error);
            break;
        }
        case Kind::Other:
            problems << problemWith(file, QFileInfo(file).isDir() ? QStringLiteral("这是一个文件夹，无法打开")
                                                                   : QStringLiteral("不是MP3文件或M3U播放列表"));
            break;
        }
    }
    window.openTracks(tracks, steps);
    // Last, so that the opening of a track does not clear the report at once.
    if (!problems.isEmpty())
        window.reportProblem(problems.join(QStringLiteral("；")));
}

} // namespace velmora

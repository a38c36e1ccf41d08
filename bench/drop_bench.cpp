// Drops 10,000 MP3 files onto the playlist of a real window, then one folder holding
// them, and prints a line per drop: its kind, the milliseconds until all entries are
// in the list, and the longest time (ms) the window's event loop did not run meanwhile.
#include "dropimport.h"
#include "form1.h"
#include "mp3play.h"
#include "player.h"
#include "playlistmodel.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kFiles = 10000;

void measureDrop(velmora::Form1 &window, const char *kind, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    QEventLoop loop;
    QObject::connect(window.findChild<velmora::DropImport *>(), &velmora::DropImport::dropAdded, &loop,
                     &QEventLoop::quit);
    // A 1 ms tick: the longest gap between two ticks is the longest the window was deaf.
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });

    QElapsedTimer elapsed;
    elapsed.start();
    sinceTick.start();
    tick.start();
    const QPoint where(20, 20);
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.List1->viewport(), &enter);
    QDropEvent drop(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.List1->viewport(), &drop);
    longestGap = std::max(longestGap, sinceTick.restart());
    loop.exec();
    const qint64 ready = elapsed.elapsed();
    std::printf("%s %lld %lld\n", kind, static_cast<long long>(ready), static_cast<long long>(longestGap));
    std::fflush(stdout);
    window.player().list().clear();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    const QString music = scratch.filePath(QStringLiteral("music"));
    QDir().mkpath(music);
    QList<QUrl> files;
    for (int i = 1; i <= kFiles; ++i) {
        const QString path = QStringLiteral("%1/第%2首 演唱者 - 曲目名称.mp3").arg(music).arg(i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        files << QUrl::fromLocalFile(path);
    }
    velmora::Form1 window(std::make_unique<velmora::Mp3Play>());
    window.setProgramFolder(scratch.path());
    window.start();
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();

    measureDrop(window, "files", files);
    measureDrop(window, "folder", {QUrl::fromLocalFile(music)});
    return 0;
}

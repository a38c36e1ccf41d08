// Usage: open_bench FILE
//
// Opens FILE with the engine, as the window does, while a timer on the same thread
// notes how long the event loop goes without running. Prints "<open ms> <longest
// stall ms> <peak MB added>": the time OpenFile took, the longest the window would not
// have answered meanwhile, and how far the open raised the process's peak resident
// memory. Exit status 1 when the file does not open.
#include "mp3play.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// The process's peak resident memory so far, in kB.
long long peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    velmora::Mp3Play engine(velmora::Mp3Play::Output::Silent);
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestStall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(1);
    int status = 1;
    QTimer::singleShot(50, [&] {
        lastTick = clock.elapsed();
        longestStall = 0;
        const long long peakBefore = peakKb();
        QElapsedTimer open;
        open.start();
        status = engine.OpenFile(QString::fromLocal8Bit(argv[1]), QString()) == 0 ? 0 : 1;
        const double took = open.nsecsElapsed() / 1e6;
        longestStall = std::max(longestStall, clock.elapsed() - lastTick);
        std::printf("%.2f %lld %.1f\n", took, static_cast<long long>(longestStall),
                    (peakKb() - peakBefore) / 1024.0);
        app.quit();
    });
    app.exec();
    return status;
}

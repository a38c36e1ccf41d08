// Usage: open_bench FILE
//
// Opens FILE with the engine, as the window does, while a timer on the same thread
// notes how long the event loop goes without running. Prints "<open ms> <longest
// stall ms>": the time OpenFile took and the longest the window would not have
// answered meanwhile. Exit status 1 when the file does not open.
#include "mp3play.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

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
        QElapsedTimer open;
        open.start();
        status = engine.OpenFile(QString::fromLocal8Bit(argv[1]), QString()) == 0 ? 0 : 1;
        const qint64 took = open.elapsed();
        longestStall = std::max(longestStall, clock.elapsed() - lastTick);
        std::printf("%lld %lld\n", static_cast<long long>(took), static_cast<long long>(longestStall));
        app.quit();
    });
    app.exec();
    return status;
}

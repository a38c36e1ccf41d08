// Usage: answer_probe BUS-NAME
//
// Asks a running player, again and again, for its MPRIS PlaybackStatus. Qt runs a
// property read of an exported object on that object's thread, here the window's, so
// the answer is late by as long as the window is busy. Prints a line per answer,
// "<asked> <answered>" in nanoseconds of the monotonic clock (the clock of Python's
// time.monotonic): a window that does not answer shows as a long call and a long gap
// between answers. While nobody owns the name the bus itself refuses the call at once,
// and nothing is printed. One question every 5 ms keeps the work it adds to the
// measured process to a few hundredths of a core. Runs until it is terminated.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include <cstdio>
#include <ctime>

namespace {

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BUS-NAME\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "answer_probe: no session bus\n");
        return 1;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLocal8Bit(argv[1]),
                                                      QStringLiteral("/org/mpris/MediaPlayer2"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("PlaybackStatus");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const timespec pause{0, 5'000'000};
    for (;;) {
        const long long asked = monotonicNs();
        const QDBusMessage reply = bus.call(get, QDBus::Block, 120'000);
        const long long answered = monotonicNs();
        if (reply.type() == QDBusMessage::ReplyMessage)
            std::printf("%lld %lld\n", asked, answered);
        nanosleep(&pause, nullptr);
    }
}

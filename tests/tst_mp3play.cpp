#include "decodeanybytes.h"
#include "mp3play.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <memory>
#include <sys/stat.h>

using velmora::Mp3Engine;
using velmora::Mp3Play;

namespace {

// Everything an engine reports, with the time since the log was started.
class EventLog
{
public:
    explicit EventLog(Mp3Engine &engine)
    {
        m_clock.start();
        QObject::connect(&engine, &Mp3Engine::PositionChanged, &engine,
                         [this](qint32 frame) { positions.append({m_clock.elapsed(), frame}); });
        QObject::connect(&engine, &Mp3Engine::PlaybackEnded, &engine, [this] { ends.append(m_clock.elapsed()); });
    }
    qint64 now() const { return m_clock.elapsed(); }
    qint32 lastFrame() const { return positions.isEmpty() ? -1 : positions.last().frame; }

    struct Position
    {
        qint64 at;
        qint32 frame;
    };
    QList<Position> positions;
    QList<qint64> ends;

private:
    QElapsedTimer m_clock;
};

// A disk that stops answering when told (support/stallfs.cpp); not valid where FUSE
// cannot be mounted.
class StallingDisk
{
public:
    explicit StallingDisk(const QString &source)
    {
        m_server.start(QCoreApplication::applicationDirPath() + "/velmora_stallfs", {source, m_dir.path()});
        const QDeadlineTimer deadline(5000);
        while (!valid() && m_server.state() != QProcess::NotRunning && !deadline.hasExpired())
            QThread::msleep(20);
    }
    ~StallingDisk()
    {
        resume();
        QProcess::execute("umount", {"-l", m_dir.path()}); // ends the server
        if (!m_server.waitForFinished(3000))
            m_server.kill();
    }
    bool valid() const { return QFile::exists(track()); }
    QString track() const { return m_dir.filePath("track.mp3"); }
    void stall() { tell(SIGUSR1); }
    void resume() { tell(SIGUSR2); }
    bool stalled() { return (m_said += m_server.readAllStandardOutput()).contains("stalled"); }

private:
    void tell(int signal)
    {
        if (m_server.processId() > 0)
            ::kill(pid_t(m_server.processId()), signal);
    }
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_said;
};

qint64 expectedFrames(double seconds)
{
    return qint64(std::ceil(seconds * 44100 / 1152));
}

} // namespace

class TestMp3Play : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void opensTracks_data();
    void opensTracks();
    void readsTags_data();
    void readsTags();
    void rejectsBadFiles_data();
    void rejectsBadFiles();
    void rejectsUnreadableFile();
    void playWithoutTrackEndsOnceAfterASecond();
    void laterCommandCancelsThatEnd();
    void playsToTheEndOnce_data();
    void playsToTheEndOnce();
    void seekWhilePlaying();
    void seekIsClamped();
    void stopSilencesAndRewinds();
    void pauseKeepsPosition();
    void seekWhilePausedResumesThere();
    void reopeningWhilePlayingRewinds();
    void openingAnotherTrackSilencesTheOld();
    void openingLetsEventsRunAndALaterOpenStands();
    void staleEventsAreNeverDelivered_data();
    void staleEventsAreNeverDelivered();
    void staleEndIsNeverDelivered();
    void quittingWhileAStalledTrackOpens();
    void continuousPlay_data();
    void continuousPlay();
    void junkInTheMiddleDoesNotEndEarly();
    void destroyingWhilePlaying();
    void decodesAnyBytes_data();
    void decodesAnyBytes();

private:
    QString fixture(const QString &name) const { return m_fixtures + QLatin1Char('/') + name; }
    QString longTrack(int repeats);
    QString m_fixtures;
    QTemporaryDir m_scratch;
};

void TestMp3Play::initTestCase()
{
    m_fixtures = qEnvironmentVariable("VELMORA_FIXTURES");
    if (m_fixtures.isEmpty())
        QSKIP("VELMORA_FIXTURES is not set (run through ctest)");
    QVERIFY(QFile::exists(fixture("tone_440.mp3")));
    QVERIFY(m_scratch.isValid());
}

void TestMp3Play::opensTracks_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<qint64>("durationMs");

    // lame adds a frame of padding; the gapless duration is exact.
    QTest::newRow("tone 440") << "tone_440.mp3" << expectedFrames(2.5) << qint64(2500);
    QTest::newRow("tone 880") << "tone_880.mp3" << expectedFrames(2.5) << qint64(2500);
    QTest::newRow("short") << "short_a.mp3" << expectedFrames(1.0) << qint64(1000);
    QTest::newRow("5 MB tag") << "huge_id3.mp3" << expectedFrames(2.5) << qint64(2500);
    QTest::newRow("truncated mid-frame") << "truncated.mp3" << qint64(58) << qint64(58 * 1152 * 1000 / 44100);
}

void TestMp3Play::opensTracks()
{
    QFETCH(QString, file);
    QFETCH(qint64, frames);
    QFETCH(qint64, durationMs);
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture(file), QString()), qint16(0));
    QVERIFY(engine.GetLastError().isEmpty());
    QVERIFY2(std::abs(engine.GetFrameCount() - frames) <= 2, qPrintable(QString::number(engine.GetFrameCount())));
    QVERIFY2(std::abs(engine.GetDuration() - durationMs) <= 30, qPrintable(QString::number(engine.GetDuration())));
}

void TestMp3Play::readsTags_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");

    // The tag reading itself is tested in tst_id3tags; this is the engine's wiring.
    QTest::newRow("ID3v2") << "tags_utf8_v24.mp3" << QStringLiteral("测试歌曲") << QStringLiteral("歌手")
                           << QStringLiteral("专辑");
    QTest::newRow("ID3v1 only") << "tags_gbk_v1.mp3" << QStringLiteral("中文标题") << QStringLiteral("中文歌手")
                                << QStringLiteral("中文专辑");
    QTest::newRow("none") << "no_tags.mp3" << "" << "" << "";
}

void TestMp3Play::readsTags()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QFETCH(QString, album);
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture(file), QString()), qint16(0));
    QCOMPARE(engine.GetTitle(), title);
    QCOMPARE(engine.GetArtist(), artist);
    QCOMPARE(engine.GetAlbum(), album);
}

void TestMp3Play::rejectsBadFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");

    const QString fifo = m_scratch.filePath("fifo.mp3");
    if (!QFile::exists(fifo))
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    QTest::newRow("missing") << fixture("no_such_file.mp3") << QStringLiteral("文件不存在");
    QTest::newRow("missing directory") << fixture("no_such_dir/x.mp3") << QStringLiteral("文件不存在");
    QTest::newRow("empty path") << QString() << QStringLiteral("文件不存在");
    QTest::newRow("directory") << m_fixtures << QStringLiteral("不是普通文件");
    QTest::newRow("FIFO") << fifo << QStringLiteral("不是普通文件");
    QTest::newRow("device") << "/dev/zero" << QStringLiteral("不是普通文件");
    QTest::newRow("random bytes") << fixture("random.mp3") << QStringLiteral("不是MP3文件");
    QTest::newRow("text") << fixture("text.mp3") << QStringLiteral("不是MP3文件");
    QTest::newRow("empty") << fixture("empty.mp3") << QStringLiteral("不是MP3文件");
}

void TestMp3Play::rejectsBadFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("tags_utf8_v24.mp3"), QString()), qint16(0));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(engine.OpenFile(path, QString()) != 0);
    QVERIFY(clock.elapsed() < 3000); // above all, a FIFO must not block
    QCOMPARE(engine.GetLastError(), error);
    QCOMPARE(engine.GetFrameCount(), 0);
    QCOMPARE(engine.GetDuration(), 0);
    QCOMPARE(engine.GetTitle(), QString());
    QCOMPARE(engine.GetArtist(), QString());
    QCOMPARE(engine.GetAlbum(), QString());
    QCOMPARE(engine.OpenFile(fixture("tone_440.mp3"), QString()), qint16(0));
    QCOMPARE(engine.GetLastError(), QString());
}

void TestMp3Play::rejectsUnreadableFile()
{
    const QString path = m_scratch.filePath("locked.mp3");
    QFile::remove(path);
    QVERIFY(QFile::copy(fixture("tone_440.mp3"), path));
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("this user can read a file with mode 000 (root)");
    Mp3Play engine(Mp3Play::Output::Silent);
    QVERIFY(engine.OpenFile(path, QString()) != 0);
    QCOMPARE(engine.GetLastError(), QStringLiteral("无法读取文件"));
}

void TestMp3Play::playWithoutTrackEndsOnceAfterASecond()
{
    Mp3Play neverOpened(Mp3Play::Output::Silent);
    Mp3Play failedOpen(Mp3Play::Output::Silent);
    QVERIFY(failedOpen.OpenFile(fixture("random.mp3"), QString()) != 0);
    EventLog a(neverOpened), b(failedOpen);
    neverOpened.Play();
    failedOpen.Play();
    QTest::qWait(200);
    failedOpen.Play(); // a second attempt does not add an end
    QTRY_COMPARE_WITH_TIMEOUT(a.ends.size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(b.ends.size(), 1, 5000);
    for (const EventLog *log : {&a, &b}) {
        QVERIFY2(log->ends.first() >= 800 && log->ends.first() <= 2500, qPrintable(QString::number(log->ends.first())));
        QVERIFY(log->positions.isEmpty());
    }
    QTest::qWait(1000);
    QCOMPARE(a.ends.size(), 1);
    QCOMPARE(b.ends.size(), 1);
}

void TestMp3Play::laterCommandCancelsThatEnd()
{
    Mp3Play stopped(Mp3Play::Output::Silent), paused(Mp3Play::Output::Silent), opened(Mp3Play::Output::Silent);
    EventLog a(stopped), b(paused), c(opened);
    for (Mp3Play *engine : {&stopped, &paused, &opened})
        engine->Play();
    QTest::qWait(300);
    stopped.Stop();
    paused.Pause();
    QVERIFY(opened.OpenFile(fixture("text.mp3"), QString()) != 0);
    QTest::qWait(1500);
    QCOMPARE(a.ends.size(), 0);
    QCOMPARE(b.ends.size(), 0);
    QCOMPARE(c.ends.size(), 0);
}

void TestMp3Play::playsToTheEndOnce_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("tone") << "tone_440.mp3";
    QTest::newRow("truncated mid-frame") << "truncated.mp3";
}

void TestMp3Play::playsToTheEndOnce()
{
    QFETCH(QString, file);
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture(file), QString()), qint16(0));
    const qint64 duration = engine.GetDuration();
    const qint32 frames = engine.GetFrameCount();
    EventLog log(engine);
    engine.Play();
    QTRY_COMPARE_WITH_TIMEOUT(log.ends.size(), 1, int(duration) + 5000);
    const qint64 endedAt = log.ends.first();
    QVERIFY2(endedAt >= duration - 100 && endedAt <= duration + 600, qPrintable(QString::number(endedAt)));

    // About five a second, in order, each the frame being heard at the time.
    const qsizetype expected = duration / 200;
    QVERIFY2(log.positions.size() >= expected * 7 / 10 && log.positions.size() <= expected * 13 / 10 + 2,
             qPrintable(QString::number(log.positions.size())));
    qint32 previous = 0;
    for (const EventLog::Position &p : std::as_const(log.positions)) {
        QVERIFY(p.frame >= previous);
        QVERIFY(p.frame <= frames);
        const double heard = double(p.at) * frames / double(duration);
        QVERIFY2(std::abs(p.frame - heard) <= 8, qPrintable(QStringLiteral("frame %1 at %2 ms").arg(p.frame).arg(p.at)));
        previous = p.frame;
    }
    QVERIFY(log.lastFrame() >= frames - 1);
    QVERIFY(log.positions.last().at <= endedAt);

    QTest::qWait(400);
    QCOMPARE(log.ends.size(), 1);
}

void TestMp3Play::seekWhilePlaying()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("tone_440.mp3"), QString()), qint16(0));
    const qint32 frames = engine.GetFrameCount();
    EventLog log(engine);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.lastFrame() >= 3, 3000);
    engine.SeekFrame(60);
    const qsizetype before = log.positions.size();
    const qint64 seekedAt = log.now();
    QTRY_VERIFY_WITH_TIMEOUT(log.positions.size() > before, 3000);
    const qint32 first = log.positions.at(before).frame;
    QVERIFY2(first >= 60 && first <= 64, qPrintable(QString::number(first)));
    QTRY_COMPARE_WITH_TIMEOUT(log.ends.size(), 1, 5000);
    for (qsizetype i = before; i < log.positions.size(); ++i)
        QVERIFY(log.positions.at(i).frame >= 60);
    const qint64 remainingMs = (frames - 60) * 1152 * 1000 / 44100;
    const qint64 tookMs = log.ends.first() - seekedAt;
    QVERIFY2(std::abs(tookMs - remainingMs) <= 300, qPrintable(QString::number(tookMs)));
}

void TestMp3Play::seekIsClamped()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("tone_440.mp3"), QString()), qint16(0));
    const qint32 frames = engine.GetFrameCount();
    EventLog log(engine);
    engine.SeekFrame(-5);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(!log.positions.isEmpty(), 3000);
    QVERIFY(log.positions.first().frame <= 2);
    engine.SeekFrame(1000000);
    QTRY_COMPARE_WITH_TIMEOUT(log.ends.size(), 1, 3000);
    QCOMPARE(log.lastFrame(), frames);
}

void TestMp3Play::stopSilencesAndRewinds()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("short_a.mp3"), QString()), qint16(0));
    EventLog log(engine);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.lastFrame() >= 8, 3000);
    engine.Stop();
    const qsizetype before = log.positions.size();
    QTest::qWait(900); // past where the track would have ended
    QCOMPARE(log.positions.size(), before);
    QCOMPARE(log.ends.size(), 0);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.positions.size() > before, 3000);
    QVERIFY(log.positions.at(before).frame <= 3);
    engine.Stop();
}

void TestMp3Play::pauseKeepsPosition()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    const QString path = fixture("short_a.mp3");
    QCOMPARE(engine.OpenFile(path, QString()), qint16(0));
    const qint32 frames = engine.GetFrameCount();
    EventLog log(engine);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.lastFrame() >= 15, 3000);
    engine.Pause();
    const qint32 pausedAt = log.lastFrame();
    const qsizetype before = log.positions.size();
    QTest::qWait(700); // past where the track would have ended
    QCOMPARE(log.positions.size(), before);
    QCOMPARE(log.ends.size(), 0);

    // The window resumes by reopening the same file and playing.
    QCOMPARE(engine.OpenFile(path, QString()), qint16(0));
    QCOMPARE(engine.GetFrameCount(), frames);
    const qint64 resumedAt = log.now();
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.positions.size() > before, 3000);
    const qint32 first = log.positions.at(before).frame;
    QVERIFY2(first >= pausedAt - 1 && first <= pausedAt + 4, qPrintable(QStringLiteral("%1 after %2").arg(first).arg(pausedAt)));
    QTRY_COMPARE_WITH_TIMEOUT(log.ends.size(), 1, 3000);
    const qint64 remainingMs = (frames - pausedAt) * 1152 * 1000 / 44100;
    QVERIFY2(std::abs(log.ends.first() - resumedAt - remainingMs) <= 300, qPrintable(QString::number(log.ends.first() - resumedAt)));
}

void TestMp3Play::seekWhilePausedResumesThere()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("tone_440.mp3"), QString()), qint16(0));
    EventLog log(engine);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(!log.positions.isEmpty(), 3000);
    engine.Pause();
    engine.SeekFrame(70);
    QTest::qWait(100);
    const qsizetype before = log.positions.size();
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.positions.size() > before, 3000);
    const qint32 first = log.positions.at(before).frame;
    QVERIFY2(first >= 70 && first <= 73, qPrintable(QString::number(first)));
    engine.Stop();
}

void TestMp3Play::reopeningWhilePlayingRewinds()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    const QString path = fixture("tone_440.mp3");
    QCOMPARE(engine.OpenFile(path, QString()), qint16(0));
    EventLog log(engine);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.lastFrame() >= 10, 3000);
    QCOMPARE(engine.OpenFile(path, QString()), qint16(0));
    const qsizetype before = log.positions.size();
    QTest::qWait(400);
    QCOMPARE(log.positions.size(), before); // opening stops
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.positions.size() > before, 3000);
    QVERIFY(log.positions.at(before).frame <= 3);
    engine.Stop();
}

void TestMp3Play::openingAnotherTrackSilencesTheOld()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("short_a.mp3"), QString()), qint16(0));
    EventLog log(engine);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.lastFrame() >= 5, 3000);
    QCOMPARE(engine.OpenFile(fixture("tone_880.mp3"), QString()), qint16(0));
    QCOMPARE(engine.GetFrameCount(), qint32(expectedFrames(2.5)) + 1);
    const qsizetype before = log.positions.size();
    QTest::qWait(900); // past the end of the first track
    QCOMPARE(log.positions.size(), before);
    QCOMPARE(log.ends.size(), 0);
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.positions.size() > before, 3000);
    QVERIFY(log.positions.at(before).frame <= 3);
    engine.Stop();
}

// The tone over and over.
QString TestMp3Play::longTrack(int repeats)
{
    const QString path = m_scratch.filePath(QStringLiteral("long_%1.mp3").arg(repeats));
    QFile tone(fixture("tone_440.mp3"));
    QFile long_(path);
    if (tone.open(QIODevice::ReadOnly) && long_.open(QIODevice::WriteOnly))
        long_.write(tone.readAll().repeated(repeats));
    return path;
}

void TestMp3Play::openingLetsEventsRunAndALaterOpenStands()
{
    // A long track, for a scan that takes a while.
    const QString path = longTrack(400);

    Mp3Play engine(Mp3Play::Output::Silent);
    EventLog log(engine);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(0);
    QCOMPARE(engine.OpenFile(path, QString()), qint16(0));
    ticker.stop();
    QVERIFY(ticks > 0);
    QVERIFY(engine.GetFrameCount() > 300 * expectedFrames(2.5));

    // Another track opened (by a timer's handler) while the long one is read.
    bool clicked = false;
    QTimer::singleShot(0, &engine, [&] {
        clicked = true;
        engine.OpenFile(fixture("short_a.mp3"), QString());
    });
    QCOMPARE(engine.OpenFile(path, QString()), qint16(0));
    QVERIFY(clicked);
    QVERIFY(std::abs(engine.GetFrameCount() - expectedFrames(1.0)) <= 2); // the later one stands
    engine.Play();
    QTRY_VERIFY_WITH_TIMEOUT(log.ends.size() == 1, 3000);
}

void TestMp3Play::staleEventsAreNeverDelivered_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("diskStalls"); // the worker is stuck in a read meanwhile
    for (const char *command : {"Stop", "Pause", "SeekFrame", "OpenFile same", "OpenFile other"})
        QTest::newRow(command) << QString::fromLatin1(command) << false;
    for (const char *command : {"Stop", "Pause", "SeekFrame", "OpenFile other", "destroy"})
        QTest::addRow("%s, disk stalled", command) << QString::fromLatin1(command) << true;
}

void TestMp3Play::staleEventsAreNeverDelivered()
{
    QFETCH(QString, command);
    QFETCH(bool, diskStalls);
    QString path = fixture("tone_440.mp3");
    std::unique_ptr<StallingDisk> disk;
    if (diskStalls) {
        disk = std::make_unique<StallingDisk>(longTrack(10));
        if (!disk->valid())
            QSKIP("FUSE cannot be mounted here");
        path = disk->track();
    }
    auto engine = std::make_unique<Mp3Play>(Mp3Play::Output::Silent);
    QCOMPARE(engine->OpenFile(path, QString()), qint16(0));
    EventLog log(*engine);
    engine->Play();
    if (disk) {
        // Every command below has to come while the worker waits for the disk: a seek
        // far into the track needs more of the file.
        QTRY_VERIFY_WITH_TIMEOUT(!log.positions.isEmpty(), 3000);
        disk->stall();
        engine->SeekFrame(engine->GetFrameCount() / 2);
        QTRY_VERIFY_WITH_TIMEOUT(disk->stalled(), 5000);
    } else {
        // The UI thread is busy while the worker queues positions for it...
        QThread::msleep(300);
    }
    const qsizetype before = log.positions.size();
    // ...and then changes its mind before they are delivered. (A command held up by the
    // stalled disk would hang here.)
    if (command == "Stop")
        engine->Stop();
    else if (command == "Pause")
        engine->Pause();
    else if (command == "SeekFrame")
        engine->SeekFrame(80);
    else if (command == "OpenFile same")
        engine->OpenFile(path, QString());
    else if (command == "OpenFile other")
        QCOMPARE(engine->OpenFile(fixture("tone_880.mp3"), QString()), qint16(0));
    else
        engine.reset(); // what is read afterwards goes nowhere
    if (disk)
        disk->resume();
    QTest::qWait(300);
    for (const EventLog::Position &p : log.positions.sliced(before))
        QVERIFY2(command == "SeekFrame" && p.frame >= 80 && p.frame < 120,
                 qPrintable(QString::number(p.frame)));
    QCOMPARE(log.ends.size(), 0);
}

void TestMp3Play::quittingWhileAStalledTrackOpens()
{
    StallingDisk disk(fixture("tone_440.mp3"));
    if (!disk.valid())
        QSKIP("FUSE cannot be mounted here");
    disk.stall();
    auto engine = std::make_unique<Mp3Play>(Mp3Play::Output::Silent);
    QTimer::singleShot(100, [] { QCoreApplication::exit(); });
    QVERIFY(engine->OpenFile(disk.track(), QString()) != 0); // given up on when the program quits
    QTRY_VERIFY(disk.stalled());
    engine.reset();
    // Back to normal for the tests that follow.
    QTimer::singleShot(0, [] { QCoreApplication::exit(); });
    QCoreApplication::exec();
}

void TestMp3Play::staleEndIsNeverDelivered()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("short_a.mp3"), QString()), qint16(0));
    EventLog log(engine);
    engine.Play();
    QThread::msleep(1600); // the track ends while the UI thread is busy
    engine.Stop();
    QTest::qWait(200);
    QCOMPARE(log.ends.size(), 0);
    QCOMPARE(log.positions.size(), 0);
}

void TestMp3Play::continuousPlay_data()
{
    // What the window tells the engine will follow each track: nothing, the track it
    // then opens (played on without a break), or another one (dropped at the end).
    QTest::addColumn<QString>("told");
    for (const char *told : {"nothing", "the next track", "another track"})
        QTest::newRow(told) << QString::fromLatin1(told);
}

void TestMp3Play::continuousPlay()
{
    QFETCH(QString, told);
    Mp3Play engine(Mp3Play::Output::Silent);
    const QStringList tracks = {fixture("short_a.mp3"), fixture("short_b.mp3"), fixture("short_c.mp3")};
    // As a track opened on its own shows them.
    QList<QPair<qint32, qint32>> shown;
    for (const QString &track : tracks) {
        Mp3Play probe(Mp3Play::Output::Silent);
        QCOMPARE(probe.OpenFile(track, QString()), qint16(0));
        shown.append({probe.GetFrameCount(), probe.GetDuration()});
    }
    const auto tellNext = [&](int next) {
        if (told == "the next track")
            engine.SetNextTrack(tracks.value(next));
        else if (told == "another track")
            engine.SetNextTrack(fixture("tone_880.mp3"));
    };
    EventLog log(engine);
    int next = 1;
    struct Start
    {
        qint64 at;
        qsizetype positionsBefore;
    };
    QList<Start> starts{{0, 0}};
    // What the window does at the end of a track.
    connect(&engine, &Mp3Engine::PlaybackEnded, this, [&] {
        if (next >= tracks.size())
            return;
        engine.Stop();
        QCOMPARE(engine.OpenFile(tracks.at(next++), QString()), qint16(0));
        starts.append({log.now(), log.positions.size()});
        engine.Play();
        QCOMPARE(qMakePair(engine.GetFrameCount(), engine.GetDuration()), shown.at(next - 1));
        tellNext(next);
    });
    QCOMPARE(engine.OpenFile(tracks.first(), QString()), qint16(0));
    engine.Play();
    tellNext(1);
    QTRY_COMPARE_WITH_TIMEOUT(log.ends.size(), 3, 8000);
    QVERIFY2(std::abs(log.ends.last() - 3000) <= 500, qPrintable(QString::number(log.ends.last())));
    // Each track's first position comes right after its start.
    for (const Start &start : std::as_const(starts)) {
        QVERIFY(log.positions.size() > start.positionsBefore);
        const EventLog::Position first = log.positions.at(start.positionsBefore);
        QVERIFY2(first.at - start.at <= 150 && first.frame <= 3,
                 qPrintable(QStringLiteral("frame %1 after %2 ms").arg(first.frame).arg(first.at - start.at)));
    }
}

void TestMp3Play::junkInTheMiddleDoesNotEndEarly()
{
    Mp3Play engine(Mp3Play::Output::Silent);
    QCOMPARE(engine.OpenFile(fixture("junk_middle.mp3"), QString()), qint16(0));
    const qint32 frames = engine.GetFrameCount();
    QVERIFY2(engine.GetDuration() >= 5900, qPrintable(QString::number(engine.GetDuration())));
    EventLog log(engine);
    // From shortly before the junk, which sits in the middle of the file.
    engine.SeekFrame(frames * 2 / 5);
    engine.Play();
    QTRY_COMPARE_WITH_TIMEOUT(log.ends.size(), 1, 10000);
    QVERIFY2(log.ends.first() >= 2500, qPrintable(QString::number(log.ends.first())));
    QCOMPARE(log.lastFrame(), frames);
}

void TestMp3Play::destroyingWhilePlaying()
{
    auto engine = std::make_unique<Mp3Play>(Mp3Play::Output::Silent);
    QCOMPARE(engine->OpenFile(fixture("tone_440.mp3"), QString()), qint16(0));
    engine->Play();
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    engine.reset();
    QVERIFY(clock.elapsed() < 1000);
    QTest::qWait(100); // nothing queued for the dead engine may run
}

void TestMp3Play::decodesAnyBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("audio");

    QFile tone(fixture("tone_440.mp3"));
    QVERIFY(tone.open(QIODevice::ReadOnly));
    const QByteArray mp3 = tone.readAll();
    for (const char *name : {"tone_440.mp3", "huge_id3.mp3", "junk_middle.mp3", "truncated.mp3"}) {
        QFile file(fixture(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(name) << file.readAll() << true;
    }
    for (const char *name : {"random.mp3", "text.mp3", "empty.mp3"}) {
        QFile file(fixture(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(name) << file.readAll() << false;
    }
    for (int length : {1, 4, 417, 1000, 4000, 20000})
        QTest::addRow("first %d bytes", length) << mp3.first(length) << (length >= 1000); // the first frame is the Info header
    QRandomGenerator random(7);
    for (int round = 0; round < 8; ++round) {
        QByteArray damaged = mp3;
        for (int i = 0; i < 200; ++i)
            damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
        QTest::addRow("damaged %d", round) << damaged << true;
    }
}

void TestMp3Play::decodesAnyBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, audio);
    const int frames = velmora::decodeForFuzzing(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                                 std::size_t(bytes.size()));
    QCOMPARE(frames > 0, audio);
}

QTEST_GUILESS_MAIN(TestMp3Play)
#include "tst_mp3play.moc"

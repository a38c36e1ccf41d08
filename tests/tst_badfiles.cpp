// Damaged, misleading and unreadable tracks between two good ones, on the real engine
// (silent output) and the real handlers: the window keeps turning, the processor
// stays quiet, and continuous play goes on to the next good track.
#include "form1.h"
#include "mp3play.h"
#include "scripteddialog.h"
#include "tickwatch.h"

#include <QLabel>
#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using velmora::test::cpuSeconds;
using velmora::test::TickWatch;

namespace {

enum class Outcome { Plays, Skipped, Either };

// How a row's bad track comes about: a fixture file, or something made on the spot.
enum class Make { Fixture, Missing, Directory, Unreadable, Fifo, NulInPath, OverlongPath };

const QString kCaptionPrefix = QStringLiteral("Velmora--");
constexpr int kTickMs = 50;
constexpr qint64 kLongestTickGapMs = 300;
// A thread spinning on one core would use 1.0; decoding and a silent, clock-paced
// output need a few percent. Generous for the sanitizer build.
constexpr double kMostCpuShare = 0.35;

QString fixture(const QString &name)
{
    return QDir(qEnvironmentVariable("VELMORA_FIXTURES")).filePath(name);
}

bool hasControlCharacters(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            return true;
    }
    return false;
}

// Opens the FIFO for writing after a while, which releases anybody stuck opening or
// reading it: a test that would hang then fails instead.
class FifoRescuer
{
public:
    explicit FifoRescuer(const QString &path) : m_path(QFile::encodeName(path))
    {
        m_thread = std::thread([this] {
            for (int i = 0; i < 160 && !m_cancelled; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (m_cancelled)
                return;
            const int fd = ::open(m_path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_rescued = true;
                (void)!::write(fd, "x", 1);
                ::close(fd);
            }
        });
    }
    ~FifoRescuer()
    {
        m_cancelled = true;
        m_thread.join();
    }
    FifoRescuer(const FifoRescuer &) = delete;
    FifoRescuer &operator=(const FifoRescuer &) = delete;
    bool rescued() const { return m_rescued; }

private:
    QByteArray m_path;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_rescued{false};
    std::thread m_thread;
};

struct Caption
{
    QString title;
    qint64 atMs;
    QString songPanelBefore; // what the song panel showed when this caption came up
};

// A window on the real engine whose automatic list is good, bad, good.
struct RealWindow
{
    QTemporaryDir folder;
    std::unique_ptr<Form1> form;
    QElapsedTimer clock;
    QList<Caption> captions;

    explicit RealWindow(const QStringList &paths)
    {
        QByteArray list("#EXTM3U\r\n");
        for (const QString &path : paths)
            list += "#EXTINF:235,t\r\n" + path.toUtf8() + "\r\n";
        QFile file(folder.filePath(QStringLiteral("mp3.m3u")));
        if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size())
            qFatal("cannot write the list");
        file.close();
        form = std::make_unique<Form1>(std::make_unique<Mp3Play>(Mp3Play::Output::Silent),
                                       std::make_unique<test::ScriptedDialog>());
        form->setProgramFolder(folder.path());
        clock.start();
        QObject::connect(form.get(), &QWidget::windowTitleChanged, form.get(), [this](const QString &title) {
            captions.append({title, clock.elapsed(), form->StatusPanel1->text()});
        });
    }

    int indexOfCaption(const QString &path, int from = 0) const
    {
        for (int i = from; i < captions.size(); ++i) {
            if (captions[i].title == kCaptionPrefix + path)
                return i;
        }
        return -1;
    }
};

// The good tracks around the bad one: the shortest there are, so the matrix is quick.
std::pair<QString, QString> goodTracks()
{
    if (QFile::exists(fixture(QStringLiteral("quick_a.mp3"))) && QFile::exists(fixture(QStringLiteral("quick_b.mp3"))))
        return {fixture(QStringLiteral("quick_a.mp3")), fixture(QStringLiteral("quick_b.mp3"))};
    return {fixture(QStringLiteral("short_a.mp3")), fixture(QStringLiteral("short_c.mp3"))};
}

// The length the engine gives a track, or 0 when it cannot open it.
qint32 durationMsOf(const QString &path)
{
    Mp3Play probe(Mp3Play::Output::Silent);
    return probe.OpenFile(path, QString()) == 0 ? probe.GetDuration() : 0;
}

} // namespace

class BadFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void badTrackBetweenGoodOnes_data();
    void badTrackBetweenGoodOnes();

private:
    QTemporaryDir m_scratch;
};

void BadFilesTest::initTestCase()
{
    if (!QFile::exists(fixture(QStringLiteral("short_a.mp3"))))
        QFAIL("fixtures missing: VELMORA_FIXTURES must name the generated fixture folder");
    QVERIFY(m_scratch.isValid());
}

void BadFilesTest::badTrackBetweenGoodOnes_data()
{
    QTest::addColumn<int>("make");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("outcome");
    // Plays: the least the track must last, so a track cut short by damage shows.
    QTest::addColumn<int>("leastMs");

    auto row = [](const char *tag, Make make, const QString &name, Outcome outcome, int leastMs = 0) {
        QTest::newRow(tag) << int(make) << name << int(outcome) << leastMs;
    };
    row("missing file", Make::Missing, QStringLiteral("不存在的歌.mp3"), Outcome::Skipped);
    row("empty file", Make::Fixture, QStringLiteral("empty.mp3"), Outcome::Skipped);
    row("truncated mid-frame", Make::Fixture, QStringLiteral("truncated.mp3"), Outcome::Plays, 1200);
    // 64 KB of junk is far past libmpg123's default resync limit: the track would stop at
    // the junk, about half-way.
    row("64 KB of junk mid-track", Make::Fixture, QStringLiteral("junk_middle.mp3"), Outcome::Plays, 5500);
    row("random bytes", Make::Fixture, QStringLiteral("random.mp3"), Outcome::Either);
    row("text file", Make::Fixture, QStringLiteral("text.mp3"), Outcome::Skipped);
    row("directory", Make::Directory, QStringLiteral("文件夹.mp3"), Outcome::Skipped);
    // root reads it anyway; anybody else gets a bad file.
    row("no read permission", Make::Unreadable, QStringLiteral("locked.mp3"), Outcome::Either);
    row("FIFO", Make::Fifo, QStringLiteral("pipe.mp3"), Outcome::Skipped);
    // No file can have such a path, however much of it names one that exists.
    row("NUL inside the path", Make::NulInPath, QString(), Outcome::Skipped);
    row("path longer than the system allows", Make::OverlongPath, QString(), Outcome::Skipped);
    row("5 MB picture frame", Make::Fixture, QStringLiteral("huge_id3.mp3"), Outcome::Plays, 2000);
    row("1 MB title frame", Make::Fixture, QStringLiteral("huge_title.mp3"), Outcome::Plays, 500);
    row("20000 tag frames", Make::Fixture, QStringLiteral("many_id3_frames.mp3"), Outcome::Plays, 500);
    row("tag size past end of file", Make::Fixture, QStringLiteral("id3_size_lie.mp3"), Outcome::Either);
    row("invalid UTF-16 tags", Make::Fixture, QStringLiteral("bad_utf16_tags.mp3"), Outcome::Plays, 2000);
    row("control characters in tags", Make::Fixture, QStringLiteral("control_chars_tags.mp3"), Outcome::Plays, 2000);
    row("tag without audio", Make::Fixture, QStringLiteral("id3_only.mp3"), Outcome::Skipped);
    row("1 MB of zeros", Make::Fixture, QStringLiteral("zeros.mp3"), Outcome::Skipped);
    row("64 KB of junk before the audio", Make::Fixture, QStringLiteral("junk_start.mp3"), Outcome::Either);
    row("ten frames then junk", Make::Fixture, QStringLiteral("frames_then_junk.mp3"), Outcome::Either);
    row("WAV named .mp3", Make::Fixture, QStringLiteral("wav.mp3"), Outcome::Either);
}

void BadFilesTest::badTrackBetweenGoodOnes()
{
    QFETCH(int, make);
    QFETCH(QString, name);
    QFETCH(int, outcome);
    QFETCH(int, leastMs);

    QString bad = m_scratch.filePath(name);
    switch (Make(make)) {
    case Make::Fixture:
        bad = fixture(name);
        if (!QFile::exists(bad))
            QSKIP("fixture not generated: tests/fixtures/make_bad_fixtures.sh makes it");
        break;
    case Make::Missing:
        QFile::remove(bad);
        break;
    case Make::Directory:
        QVERIFY(QDir().mkpath(bad));
        break;
    case Make::Unreadable:
        QFile::remove(bad);
        QVERIFY(QFile::copy(goodTracks().first, bad));
        QVERIFY(::chmod(QFile::encodeName(bad).constData(), 0) == 0);
        break;
    case Make::Fifo:
        QFile::remove(bad);
        QVERIFY(::mkfifo(QFile::encodeName(bad).constData(), 0644) == 0);
        break;
    case Make::NulInPath:
        bad = goodTracks().first + QChar(0) + QStringLiteral("hidden.mp3");
        break;
    case Make::OverlongPath:
        bad = m_scratch.filePath(QString(5000, QLatin1Char('x')) + QStringLiteral(".mp3"));
        break;
    }
    const auto [first, last] = goodTracks();
    std::unique_ptr<FifoRescuer> rescuer;
    if (Make(make) == Make::Fifo)
        rescuer = std::make_unique<FifoRescuer>(bad);

    const qint32 badDurationMs = durationMsOf(bad);
    RealWindow w({first, bad, last});
    QSignalSpy problems(w.form.get(), &Form1::problemReported);

    TickWatch ticks;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    w.form->start();
    QCOMPARE(w.form->windowTitle(), kCaptionPrefix + first);
    QTRY_VERIFY_WITH_TIMEOUT(w.indexOfCaption(last) >= 0, 15000 + std::max(leastMs, int(badDurationMs)));
    const double cpuShare = (cpuSeconds() - cpuBefore) / std::max(0.001, wall.elapsed() / 1000.0);

    const int badAt = w.indexOfCaption(bad);
    const int lastAt = w.indexOfCaption(last);
    QVERIFY2(badAt > 0, "the bad track was never tried");
    QVERIFY2(lastAt > badAt, "the next good track came before the bad one");
    const qint64 badLastedMs = w.captions[lastAt].atMs - w.captions[badAt].atMs;
    qInfo("%s: took %lld ms, engine length %d ms, CPU %.1f%% of a core, longest tick gap %lld ms",
          QTest::currentDataTag(), static_cast<long long>(badLastedMs), badDurationMs, cpuShare * 100,
          static_cast<long long>(ticks.longestGapMs()));

    QVERIFY2(ticks.longestGapMs() <= kLongestTickGapMs, "the window stopped turning");
    QVERIFY2(cpuShare < kMostCpuShare, "the player keeps the processor busy");
    if (rescuer)
        QVERIFY2(!rescuer->rescued(), "something waited on the FIFO");

    // What the song panel showed for the bad track: one line of valid text.
    const QString badSong = w.captions[lastAt].songPanelBefore;
    QVERIFY2(!hasControlCharacters(badSong), qPrintable(badSong.left(200)));
    QVERIFY(QStringView(badSong).isValidUtf16());

    const bool reported = !problems.isEmpty();
    const bool played = badDurationMs > 0 && !reported;
    switch (Outcome(outcome)) {
    case Outcome::Plays:
        QVERIFY2(played, qPrintable(w.form->lastProblem()));
        QVERIFY2(badDurationMs >= leastMs, "the engine finds the track shorter than it is");
        // It plays to its end, not just to the first damage.
        QVERIFY(badLastedMs >= badDurationMs * 9 / 10);
        QVERIFY(badLastedMs <= badDurationMs + 3000);
        QVERIFY(w.form->List1->model()->index(1, 0).data(Qt::ToolTipRole).toString().isEmpty());
        break;
    case Outcome::Skipped:
        QVERIFY(!played);
        QCOMPARE(problems.count(), 1);
        QVERIFY(problems.first().first().toString().contains(bad));
        QVERIFY(!w.form->List1->model()->index(1, 0).data(Qt::ToolTipRole).toString().isEmpty());
        // Skipped at about the pace of a second, neither racing on nor lingering.
        QVERIFY(badLastedMs <= 3000);
        break;
    case Outcome::Either:
        if (played)
            QVERIFY(badLastedMs <= badDurationMs + 3000);
        else
            QVERIFY(badLastedMs <= 3000);
        break;
    }
    QCOMPARE(w.form->player().selection().currentIndex().row(), 2);
}

QTEST_MAIN(BadFilesTest)
#include "tst_badfiles.moc"

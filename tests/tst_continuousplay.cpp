// Continuous play on the real engine and real generated tracks (silent output).
#include "form1.h"
#include "mp3play.h"
#include "nextentry.h"
#include "scripteddialog.h"

#include "m3u.h"

#include <QLabel>
#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

using namespace velmora;

namespace {

QString fixture(const QString &name)
{
    return QDir(qEnvironmentVariable("VELMORA_FIXTURES")).filePath(name);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct RealWindow
{
    QTemporaryDir folder;
    std::unique_ptr<Form1> form;
    QStringList titles; // every caption the window showed, in order

    explicit RealWindow(const QStringList &paths)
    {
        QByteArray list("#EXTM3U\r\n");
        for (const QString &path : paths)
            list += "#EXTINF:235,t\r\n" + path.toUtf8() + "\r\n";
        QFile file(folder.filePath(QStringLiteral("mp3.m3u")));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the list");
        file.write(list);
        file.close();
        form = std::make_unique<Form1>(std::make_unique<Mp3Play>(Mp3Play::Output::Silent),
                                       std::make_unique<test::ScriptedDialog>());
        form->setProgramFolder(folder.path());
        QObject::connect(form.get(), &QWidget::windowTitleChanged, form.get(),
                         [this](const QString &title) { titles << title; });
    }
};

} // namespace

class ContinuousPlayTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void nextEntryAtEnd_data();
    void nextEntryAtEnd();
    void skipTarget_data();
    void skipTarget();
    void playsOnFromTrackToTrack();
    void skipsMissingFile();
    void allMissingDoesNotSpin();
};

void ContinuousPlayTest::initTestCase()
{
    if (!QFile::exists(fixture(QStringLiteral("short_a.mp3"))))
        QFAIL("fixtures missing: VELMORA_FIXTURES must name the generated fixture folder");
}

// The rule of the end of a track: RoundPlay before, entries in the list -> RoundPlay
// after, and whether the entry there becomes the current track.
void ContinuousPlayTest::nextEntryAtEnd_data()
{
    QTest::addColumn<qint32>("roundPlay");
    QTest::addColumn<int>("entries");
    QTest::addColumn<qint32>("after");
    QTest::addColumn<bool>("takesEntry");
    QTest::newRow("start-up, first to second") << 0 << 3 << 1 << true;
    QTest::newRow("second to last") << 1 << 3 << 2 << true;
    QTest::newRow("last: the ended track again") << 2 << 3 << -1 << false;
    QTest::newRow("after the repeat: entry 0") << -1 << 3 << 0 << true;
    QTest::newRow("chosen entry, short list") << 100 << 3 << -1 << false;
    QTest::newRow("chosen entry, long list: entry 101") << 100 << 150 << 101 << true;
    QTest::newRow("empty list") << 0 << 0 << -1 << false;
    QTest::newRow("empty list after the repeat") << -1 << 0 << -1 << false;
    QTest::newRow("one entry") << -1 << 1 << 0 << true;
    QTest::newRow("one entry, taken") << 0 << 1 << -1 << false;
    QTest::newRow("entries removed below the position") << 5 << 2 << -1 << false;
    QTest::newRow("top of the range") << std::numeric_limits<qint32>::max() << 10 << -1 << false;
    QTest::newRow("beyond 16 bits") << 40000 << 50000 << 40001 << true;
}

void ContinuousPlayTest::nextEntryAtEnd()
{
    QFETCH(qint32, roundPlay);
    QFETCH(int, entries);
    QFETCH(qint32, after);
    QFETCH(bool, takesEntry);
    QCOMPARE(stepAtEndOfTrack(roundPlay, entries), (EndOfTrackStep{after, takesEntry}));
}

// Next and previous, from the selected entry (-1: none), wrapping around.
void ContinuousPlayTest::skipTarget_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("target");
    QTest::newRow("next") << 0 << 3 << 1 << 1;
    QTest::newRow("next from the last") << 2 << 3 << 1 << 0;
    QTest::newRow("previous") << 2 << 3 << -1 << 1;
    QTest::newRow("previous from the first") << 0 << 3 << -1 << 2;
    QTest::newRow("next, none selected") << -1 << 3 << 1 << 0;
    QTest::newRow("previous, none selected") << -1 << 3 << -1 << 2;
    QTest::newRow("one entry") << 0 << 1 << 1 << 0;
    QTest::newRow("empty list") << -1 << 0 << 1 << -1;
}

void ContinuousPlayTest::skipTarget()
{
    QFETCH(int, selected);
    QFETCH(int, entries);
    QFETCH(int, step);
    QFETCH(int, target);
    QCOMPARE(velmora::skipTarget(selected, entries, step), target);
}

void ContinuousPlayTest::playsOnFromTrackToTrack()
{
    const QString a = fixture(QStringLiteral("short_a.mp3"));
    const QString b = fixture(QStringLiteral("short_b.mp3"));
    RealWindow w({a, b});
    w.form->Form_Load();
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--") + a);
    // Nobody but the end of each track moves playback on.
    QTRY_VERIFY_WITH_TIMEOUT(w.titles.contains(QStringLiteral("Velmora--") + b), 10000);
    QCOMPARE(w.form->player().selection().currentIndex().row(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(w.form->vars().RoundPlay == 2, 10000);
    QVERIFY(w.form->StatusPanel3->text().startsWith(QStringLiteral("帧数:")));
}

void ContinuousPlayTest::skipsMissingFile()
{
    const QString a = fixture(QStringLiteral("short_a.mp3"));
    const QString gone = fixture(QStringLiteral("no such track.mp3"));
    const QString c = fixture(QStringLiteral("short_c.mp3"));
    RealWindow w({a, gone, c});
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->Form_Load();
    QTRY_VERIFY_WITH_TIMEOUT(w.titles.contains(QStringLiteral("Velmora--") + c), 15000);
    QVERIFY(w.titles.contains(QStringLiteral("Velmora--") + gone));
    QVERIFY(problems.count() >= 1);
    QVERIFY(problems.first().first().toString().contains(gone));
    QVERIFY(!w.form->List1->model()->index(1, 0).data(Qt::ToolTipRole).toString().isEmpty());
}

void ContinuousPlayTest::allMissingDoesNotSpin()
{
    RealWindow w({fixture(QStringLiteral("gone1.mp3")), fixture(QStringLiteral("gone2.mp3")),
                  fixture(QStringLiteral("gone3.mp3"))});
    w.form->Form_Load();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    int timerTicks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++timerTicks; });
    ticker.start(100);
    QTest::qWait(4000);
    const double cpuShare = (cpuSeconds() - cpuBefore) / (clock.elapsed() / 1000.0);
    qInfo("CPU while every track is missing: %.2f%% of one core; attempts: %lld", cpuShare * 100,
          static_cast<long long>(w.titles.size()));
    QVERIFY2(cpuShare < 0.05, "the player spins on a list of missing files");
    // About one attempt a second, and the window keeps turning.
    QVERIFY(w.titles.size() <= 8);
    QVERIFY(timerTicks >= 30);
}

QTEST_MAIN(ContinuousPlayTest)
#include "tst_continuousplay.moc"

// Continuous play on the real engine and real generated tracks (silent output).
#include "form1.h"
#include "mp3play.h"
#include "scripteddialog.h"

#include "m3u.h"

#include <QLabel>
#include <QListWidget>
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
    void playsOnFromTrackToTrack();
    void skipsMissingFile();
    void allMissingDoesNotSpin();
};

void ContinuousPlayTest::initTestCase()
{
    if (!QFile::exists(fixture(QStringLiteral("short_a.mp3"))))
        QFAIL("fixtures missing: VELMORA_FIXTURES must name the generated fixture folder");
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
    QCOMPARE(w.form->List1->currentRow(), 1);
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
    QVERIFY(!w.form->List1->item(1)->toolTip().isEmpty());
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

// The player layer: its state follows what the engine is told and reports, and its
// commands run the window's own handlers, so every source of a command leaves the
// window and the player alike.
#include "testwindow.h"

#include "player.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QSlider>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace velmora;
using namespace velmora::test;

namespace {

QString stateName(Transport transport)
{
    switch (transport) {
    case Transport::Playing: return QStringLiteral("playing");
    case Transport::Paused: return QStringLiteral("paused");
    case Transport::Stopped: break;
    }
    return QStringLiteral("stopped");
}

// A window that has started the automatic list A, B: A plays, entry 0 is selected.
void startTwoTracks(TestWindow &w)
{
    w.writeAutomaticList(m3u({{QStringLiteral("A"), QStringLiteral("/m/A.mp3")},
                              {QStringLiteral("B"), QStringLiteral("/m/B.mp3")}}));
    w.form->Form_Load();
    w.engine->calls.clear();
}

} // namespace

class PlayerTest : public QObject
{
    Q_OBJECT
private slots:
    void followsTheEngine_data();
    void followsTheEngine();
    void sameCommandFromEverySource_data();
    void sameCommandFromEverySource();
    void seekToTimeMovesSliderAndSignals();
    void trackAndPosition();
    void setVolume_data();
    void setVolume();
};

// Steps: "open PATH", "play", "pause", "stop", "end" (the engine reports the end).
// The path "/m/bad.mp3" cannot be opened.
void PlayerTest::followsTheEngine_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("stateChanges");
    QTest::addColumn<int>("trackChanges");
    QTest::newRow("nothing") << QStringList() << "stopped" << 0 << 0;
    QTest::newRow("play without a track") << QStringList{"play"} << "stopped" << 0 << 0;
    QTest::newRow("open, play") << QStringList{"open /m/A.mp3", "play"} << "playing" << 1 << 1;
    QTest::newRow("pause") << QStringList{"open /m/A.mp3", "play", "pause"} << "paused" << 2 << 1;
    QTest::newRow("pause twice") << QStringList{"open /m/A.mp3", "play", "pause", "pause"} << "paused" << 2 << 1;
    QTest::newRow("pause while stopped") << QStringList{"open /m/A.mp3", "pause"} << "stopped" << 0 << 1;
    QTest::newRow("resume: reopen, play")
        << QStringList{"open /m/A.mp3", "play", "pause", "open /m/A.mp3", "play"} << "playing" << 3 << 1;
    QTest::newRow("reopen while paused, no play")
        << QStringList{"open /m/A.mp3", "play", "pause", "open /m/A.mp3"} << "paused" << 2 << 1;
    QTest::newRow("another track while paused")
        << QStringList{"open /m/A.mp3", "play", "pause", "open /m/B.mp3"} << "stopped" << 3 << 2;
    QTest::newRow("stop") << QStringList{"open /m/A.mp3", "play", "stop"} << "stopped" << 2 << 1;
    QTest::newRow("end of track") << QStringList{"open /m/A.mp3", "play", "end"} << "stopped" << 2 << 1;
    QTest::newRow("next track") << QStringList{"open /m/A.mp3", "play", "stop", "open /m/B.mp3", "play"}
                                << "playing" << 3 << 2;
    QTest::newRow("bad track") << QStringList{"open /m/bad.mp3", "play"} << "stopped" << 0 << 1;
    QTest::newRow("bad track while playing")
        << QStringList{"open /m/A.mp3", "play", "open /m/bad.mp3", "play"} << "stopped" << 2 << 2;
}

void PlayerTest::followsTheEngine()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, state);
    QFETCH(int, stateChanges);
    QFETCH(int, trackChanges);
    auto owned = std::make_unique<FakeEngine>();
    FakeEngine *fake = owned.get();
    fake->tracks[QStringLiteral("/m/bad.mp3")] = FakeEngine::Track{0, 0, {}, {}, {}, 5};
    Player player(std::move(owned));
    QSignalSpy transportSpy(&player, &Player::transportChanged);
    QSignalSpy trackSpy(&player, &Player::trackChanged);
    for (const QString &step : steps) {
        if (step.startsWith(QLatin1String("open ")))
            player.engine().OpenFile(step.mid(5), QString());
        else if (step == QLatin1String("play"))
            player.engine().Play();
        else if (step == QLatin1String("pause"))
            player.engine().Pause();
        else if (step == QLatin1String("stop"))
            player.engine().Stop();
        else if (step == QLatin1String("end"))
            fake->endTrack();
    }
    QCOMPARE(stateName(player.transport()), state);
    QCOMPARE(transportSpy.count(), stateChanges);
    QCOMPARE(trackSpy.count(), trackChanges);
}

// Each command, from each place that gives it, on a window playing A of the list A, B
// (and its tag-name entry for A): what the window and the player show afterwards.
void PlayerTest::sameCommandFromEverySource_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("pauseCaption");
    QTest::addColumn<QString>("mp3File");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("roundPlay");
    QTest::addColumn<bool>("rePlay");
    const QString pause = QStringLiteral("暂停播放");
    const QString resume = QStringLiteral("继续播放");
    const QString a = QStringLiteral("/m/A.mp3");
    const QString b = QStringLiteral("/m/B.mp3");
    QTest::newRow("pause: tray") << "tray pause" << "paused" << resume << a << 0 << 0 << true;
    QTest::newRow("pause: player") << "pause" << "paused" << resume << a << 0 << 0 << true;
    QTest::newRow("pause: toggle") << "toggle" << "paused" << resume << a << 0 << 0 << true;
    // The toolbar's pause leaves the caption as it is.
    QTest::newRow("pause: toolbar") << "toolbar pause" << "paused" << pause << a << 0 << 0 << true;
    QTest::newRow("resume: tray") << "tray pause,tray pause" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("resume: player") << "pause,play" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("resume: toggle") << "toggle,toggle" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("stop: toolbar") << "toolbar stop" << "stopped" << pause << a << 0 << 0 << false;
    QTest::newRow("stop: player") << "stop" << "stopped" << pause << a << 0 << 0 << false;
    QTest::newRow("play after stop: toolbar") << "stop,toolbar play" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("play after stop: player") << "stop,play" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("play after stop: toggle") << "stop,toggle" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("next: end of track") << "end" << "playing" << pause << b << 1 << 1 << true;
    QTest::newRow("next: player") << "next" << "playing" << pause << b << 1 << 1 << true;
    QTest::newRow("next, then the end") << "next,end" << "playing" << pause << a << 2 << 2 << true;
    QTest::newRow("next after stop: moves only") << "stop,next" << "stopped" << pause << b << 1 << 1 << false;
    QTest::newRow("previous wraps to the last") << "previous" << "playing" << pause << a << 2 << 2 << true;
    QTest::newRow("next: seek by the largest offset") << "halfway,seek max" << "playing" << pause << b << 1 << 1 << true;
    QTest::newRow("previous after next") << "next,previous" << "playing" << pause << a << 0 << 0 << true;
    const QString c = QStringLiteral("/m/C.mp3");
    QTest::newRow("open a file: toolbar") << "toolbar open C" << "playing" << pause << c << 0 << -1 << true;
    // As from the command line: a file that is there, in any letter case (names without
    // a folder are in the window's own).
    // From outside, the end of the opened track moves on to the entry after it.
    QTest::newRow("open a file: player") << "open C.mp3" << "playing" << pause << "C.mp3" << 0 << 0 << true;
    QTest::newRow("open a file in capitals: player") << "open C.MP3" << "playing" << pause << "C.MP3" << 0 << 0 << true;
    QTest::newRow("open a list in capitals: player") << "open L.M3U" << "playing" << pause << "/m/X.mp3" << 0 << 0 << true;
    QTest::newRow("open a file that is not there: player") << "open D.mp3" << "playing" << pause << a << 0 << 0 << true;
    QTest::newRow("chosen entry: double-click") << "double-click B" << "playing" << pause << b << 1 << 100 << true;
    QTest::newRow("pause is ignored when paused") << "pause,pause" << "paused" << resume << a << 0 << 0 << true;
    QTest::newRow("play is ignored when playing") << "play" << "playing" << pause << a << 0 << 0 << true;
    // "meanwhile X,Y": X is given while Y's track is being opened; it runs after Y.
    QTest::newRow("stop during an open") << "meanwhile stop,next" << "stopped" << pause << b << 1 << 1 << false;
    QTest::newRow("pause during an open") << "meanwhile pause,next" << "paused" << resume << b << 1 << 1 << true;
    QTest::newRow("next during an open") << "meanwhile next,next" << "playing" << pause << a << 2 << 2 << true;
    QTest::newRow("open during an open") << "meanwhile open C.mp3,next" << "playing" << pause << "C.mp3" << 0 << 0 << true;
    QTest::newRow("tray pause during an open") << "meanwhile tray pause,next" << "paused" << resume << b << 1 << 1 << true;
    QTest::newRow("seek during an open") << "meanwhile seek half,next" << "playing" << pause << b << 1 << 1 << true;
    // While 添加's dialog waits for the user, a dropped list waits for it to close; a
    // pause from outside acts at once.
    QTest::newRow("drop and pause while a dialog waits") << "dialog drop L.m3u+pause" << "playing" << resume << "/m/X.mp3" << 0 << -1 << true;
    QTest::newRow("list dropped during an open") << "meanwhile drop L.m3u,next" << "playing" << pause << "/m/X.mp3" << 0 << -1 << true;
}

void PlayerTest::sameCommandFromEverySource()
{
    QFETCH(QString, command);
    QFETCH(QString, state);
    QFETCH(QString, pauseCaption);
    QFETCH(QString, mp3File);
    QFETCH(int, selected);
    QFETCH(int, roundPlay);
    QFETCH(bool, rePlay);
    TestWindow w;
    startTwoTracks(w);
    Player &player = w.form->player();
    QCOMPARE(player.transport(), Transport::Playing);
    QString inDialog;
    std::function<void(const QString &)> give = [&](const QString &step) {
        if (step.startsWith(QLatin1String("dialog "))) {
            w.dialog->whileShown = [&, steps = step.mid(7).split(QLatin1Char('+'))] {
                for (const QString &each : steps)
                    give(each);
                inDialog = stateName(player.transport()) + QLatin1Char(' ') + w.entries().first();
            };
            w.form->runAdd_Click();
        } else if (step.startsWith(QLatin1String("meanwhile ")))
            w.engine->duringOpen = [&give, later = step.mid(10)] { give(later); };
        else if (step == QLatin1String("tray pause"))
            w.form->munPause->trigger();
        else if (step == QLatin1String("toolbar pause"))
            w.form->Toolbar1_ButtonClick(4);
        else if (step == QLatin1String("toolbar stop"))
            w.form->Toolbar1_ButtonClick(5);
        else if (step == QLatin1String("toolbar play"))
            w.form->Toolbar1_ButtonClick(3);
        else if (step == QLatin1String("end"))
            w.engine->endTrack();
        else if (step == QLatin1String("toolbar open C")) {
            w.dialog->answers << QStringLiteral("/m/C.mp3");
            w.form->Toolbar1_ButtonClick(1);
        } else if (step.startsWith(QLatin1String("open "))) {
            const QString name = step.mid(5);
            if (name.startsWith(QLatin1Char('C')))
                w.writeFile(name, QByteArray());
            else if (name.startsWith(QLatin1Char('L')))
                w.writeFile(name, m3u({{"X", "/m/X.mp3"}, {"Y", "/m/Y.mp3"}}));
            player.open(w.path(name));
        } else if (step.startsWith(QLatin1String("drop "))) {
            w.writeFile(step.mid(5), m3u({{"X", "/m/X.mp3"}, {"Y", "/m/Y.mp3"}}));
            QVERIFY(dropFiles(*w.form, {w.path(step.mid(5))}));
        } else if (step == QLatin1String("seek half")) {
            player.seekTo(117'500'000);
        } else if (step == QLatin1String("halfway")) {
            w.engine->reportPosition(4500);
        } else if (step == QLatin1String("seek max")) {
            player.seekBy(std::numeric_limits<qint64>::max());
        } else if (step == QLatin1String("double-click B")) {
            w.form->player().selectEntry(1);
            w.form->playback().List1_DblClick();
        } else if (step == QLatin1String("pause")) {
            player.pause();
        } else if (step == QLatin1String("play")) {
            player.play();
        } else if (step == QLatin1String("toggle")) {
            player.toggle();
        } else if (step == QLatin1String("stop")) {
            player.stop();
        } else if (step == QLatin1String("next")) {
            player.next();
        } else if (step == QLatin1String("previous")) {
            player.previous();
        } else {
            QFAIL(qPrintable(step));
        }
    };
    for (const QString &step : command.split(QLatin1Char(',')))
        give(step);
    QTRY_VERIFY(player.isIdle()); // what came during an open runs after it
    if (command.startsWith(QLatin1String("dialog ")))
        QCOMPARE(inDialog, QStringLiteral("paused A     (/m/A.mp3)"));
    QVERIFY(!w.engine->duringOpen);
    QCOMPARE(stateName(player.transport()), state);
    QCOMPARE(w.form->munPause->text(), pauseCaption);
    QCOMPARE(w.form->vars().MP3File, mp3File.startsWith(QLatin1Char('/')) ? mp3File : w.path(mp3File));
    QCOMPARE(w.selectedRow(), selected);
    QCOMPARE(w.form->vars().RoundPlay, roundPlay);
    QCOMPARE(w.form->vars().RePlay, rePlay);
}

void PlayerTest::seekToTimeMovesSliderAndSignals()
{
    TestWindow w;
    startTwoTracks(w);
    Player &player = w.form->player();
    QSignalSpy seeks(&player, &Player::seeked);
    // Half of 235 s is frame 4500 of 9000.
    player.seekTo(117'500'000);
    QCOMPARE(w.engine->commands(), QStringList{"SeekFrame(4500)"});
    QCOMPARE(w.form->Slider1->value(), 4500);
    QCOMPARE(seeks.count(), 1);
    QCOMPARE(player.positionUs() / 1'000'000, 117);
    // The slider's own click is a seek as well.
    w.form->Slider1->setValue(900);
    w.form->playback().Slider1_Click();
    QCOMPARE(seeks.count(), 2);
    QCOMPARE(seeks.last().first().toInt(), 900);
    // Paused, the engine reports nothing: the panels show the new place all the same.
    player.pause();
    player.seekTo(235'000'000 / 4);
    QCOMPARE(w.form->Slider1->value(), 2250);
    QCOMPARE(w.form->StatusPanel2->text(), QStringLiteral("时间: 0分59秒/3分55秒"));
    QCOMPARE(w.form->StatusPanel3->text(), QStringLiteral("帧数: 2250/9000"));
    player.play();
    // Past the end: the next entry starts.
    player.seekBy(300'000'000);
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("/m/B.mp3"));
}

void PlayerTest::trackAndPosition()
{
    TestWindow w;
    w.engine->defaultTrack = FakeEngine::Track{1000, 26000, QStringLiteral("标题"), QStringLiteral("歌手"),
                                               QStringLiteral("专辑"), 0};
    startTwoTracks(w);
    Player &player = w.form->player();
    const TrackInfo track = player.track();
    QCOMPARE(track.path, QStringLiteral("/m/A.mp3"));
    QCOMPARE(track.title, QStringLiteral("标题"));
    QCOMPARE(track.artist, QStringLiteral("歌手"));
    QCOMPARE(track.album, QStringLiteral("专辑"));
    QCOMPARE(track.lengthUs, 26'000'000);
    w.engine->reportPosition(500);
    w.form->Toolbar1_ButtonClick(4);
    // Paused: the position stands where the last report put it.
    const qint64 paused = player.positionUs();
    QVERIFY2(qAbs(paused - 13'000'000) < 50'000, qPrintable(QString::number(paused)));
    QTest::qWait(50);
    QCOMPARE(player.positionUs(), paused);
    w.form->Toolbar1_ButtonClick(5);
    QCOMPARE(player.positionUs(), 0);
}

// Values given to setVolume in turn: the volume, and what the engine was told and
// volumeChanged said. Kept between runs: see test_mpris.sh.
void PlayerTest::setVolume_data()
{
    QTest::addColumn<QList<double>>("given");
    QTest::addColumn<double>("volume");
    QTest::addColumn<QList<double>>("told");
    using L = QList<double>;
    QTest::newRow("clamped") << L{0.25, 1.7, -0.2} << 0.0 << L{0.25, 1.0, 0.0};
    QTest::newRow("NaN, the same again") << L{0.3, std::nan(""), 0.3} << 0.3 << L{0.3};
}

void PlayerTest::setVolume()
{
    QFETCH(QList<double>, given);
    QFETCH(double, volume);
    QFETCH(QList<double>, told);
    auto owned = std::make_unique<FakeEngine>();
    FakeEngine *fake = owned.get();
    Player player(std::move(owned));
    QSignalSpy changes(&player, &Player::volumeChanged);
    for (double value : given)
        player.setVolume(value);
    QCOMPARE(player.volume(), volume);
    QCOMPARE(fake->volumes, told);
    QCOMPARE(changes.size(), told.size());
}

QTEST_MAIN(PlayerTest)
#include "tst_player.moc"

// Starting entries, continuous play, progress, seeking, pause and resume, on a fake engine.
#include "testwindow.h"

#include "entry.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QSlider>
#include <QAccessible>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

// Paths the engine was asked to open, in order.
QStringList openedPaths(const FakeEngine &engine)
{
    QStringList paths;
    for (const QString &call : engine.calls) {
        if (call.startsWith(QLatin1String("OpenFile(")))
            paths << call.mid(9, call.size() - 11);
    }
    return paths;
}

// Counts the paints of the widgets it watches.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(const QList<QWidget *> &widgets)
    {
        for (QWidget *widget : widgets)
            widget->installEventFilter(this);
    }
    QHash<QObject *, int> paints;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        return false;
    }
};

} // namespace

class PlaybackTest : public QObject
{
    Q_OBJECT
private slots:
    void continuousPlaySequence_data();
    void continuousPlaySequence();
    void endWithoutContinuousPlayOnlyMovesOn();
    void endAfterEntriesRemoved();
    void endRestartsWithTheseSteps();
    void startChosenEntry_data();
    void startChosenEntry();
    void startWithNothingSelectedPlaysEntryZero();
    void startOnEmptyListReplaysCurrentTrack();
    void startNeedsMoreThanFourCharacters_data();
    void startNeedsMoreThanFourCharacters();
    void positionUpdatesSliderAndPanels();
    void positionRepaintsOnlyWhatChanges();
    void sliderClickSeeks();
    void sliderClickSeeksDespiteReportsWhileHeld_data();
    void sliderClickSeeksDespiteReportsWhileHeld();
    void pauseToggle();
    void pauseResumeAfterNewTrackStarted();
    void resumeNeedsAPath();
    void badTrackIsReportedAndMarked();
    void hopelessListStopsAfterOneRound();
    void fileTextsShownLiterally_data();
    void fileTextsShownLiterally();
    void reportKeepsPanelsAndOutlastsOtherTracks();
};

void PlaybackTest::continuousPlaySequence_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("playing");
    QTest::addColumn<int>("roundPlay");
    QTest::addColumn<QStringList>("next");
    const QStringList abc{"/m/A.mp3", "/m/B.mp3", "/m/C.mp3"};
    QTest::newRow("A from start-up") << abc << "/m/A.mp3" << 0
                                     << QStringList{"/m/B.mp3", "/m/C.mp3", "/m/C.mp3", "/m/A.mp3", "/m/B.mp3",
                                                    "/m/C.mp3", "/m/C.mp3", "/m/A.mp3"};
    QTest::newRow("B chosen") << abc << "/m/B.mp3" << 100
                              << QStringList{"/m/B.mp3", "/m/A.mp3", "/m/B.mp3", "/m/C.mp3", "/m/C.mp3", "/m/A.mp3"};
    QTest::newRow("A from open list") << abc << "/m/A.mp3" << -1
                                      << QStringList{"/m/A.mp3", "/m/B.mp3", "/m/C.mp3", "/m/C.mp3", "/m/A.mp3"};
    QStringList many;
    for (int i = 0; i < 150; ++i)
        many << QStringLiteral("/m/%1.mp3").arg(i);
    QTest::newRow("chosen in a list over 101") << many << "/m/5.mp3" << 100
                                               << QStringList{"/m/101.mp3", "/m/102.mp3"};
    QTest::newRow("empty list") << QStringList() << "/m/X.mp3" << 0
                                << QStringList{"/m/X.mp3", "/m/X.mp3", "/m/X.mp3"};
    QTest::newRow("one entry") << QStringList{"/m/A.mp3"} << "/m/A.mp3" << 0
                               << QStringList{"/m/A.mp3", "/m/A.mp3", "/m/A.mp3", "/m/A.mp3"};
}

void PlaybackTest::continuousPlaySequence()
{
    QFETCH(QStringList, list);
    QFETCH(QString, playing);
    QFETCH(int, roundPlay);
    QFETCH(QStringList, next);
    TestWindow w;
    w.setEntries(list);
    w.form->vars().MP3File = playing;
    w.form->vars().RoundPlay = roundPlay;
    w.form->vars().RePlay = true;
    for (int i = 0; i < next.size(); ++i) {
        w.engine->endTrack();
        // Once the end is handled, the engine learns which track the next end starts.
        w.engine->nextTracks.clear();
        QTRY_VERIFY(!w.engine->nextTracks.isEmpty());
        QCOMPARE(w.engine->nextTracks.last(), next.value(i + 1, w.engine->nextTracks.last()));
    }
    QCOMPARE(openedPaths(*w.engine), next);
}

void PlaybackTest::endWithoutContinuousPlayOnlyMovesOn()
{
    TestWindow w;
    w.setEntries({"/m/A.mp3", "/m/B.mp3", "/m/C.mp3"});
    w.form->vars().MP3File = QStringLiteral("/m/A.mp3");
    w.form->vars().RoundPlay = 0;
    w.form->vars().RePlay = false;
    w.engine->endTrack();
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.form->vars().RoundPlay, 1);
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("/m/B.mp3"));
    QCOMPARE(w.selectedRow(), 1);
    QCOMPARE(w.menuStates(), QStringLiteral("pdu"));
}

void PlaybackTest::endAfterEntriesRemoved()
{
    TestWindow w;
    w.setEntries({"/m/A.mp3", "/m/B.mp3", "/m/C.mp3"});
    w.form->vars().MP3File = QStringLiteral("/m/C.mp3");
    w.form->vars().RoundPlay = 2;
    w.form->vars().RePlay = true;
    w.form->player().list().removeAt(2);
    w.form->player().list().removeAt(1);
    w.engine->endTrack();
    QCOMPARE(w.form->vars().RoundPlay, -1);
    QCOMPARE(openedPaths(*w.engine), QStringList{"/m/C.mp3"});
    w.engine->endTrack();
    QCOMPARE(openedPaths(*w.engine), QStringList({"/m/C.mp3", "/m/A.mp3"}));
}

void PlaybackTest::endRestartsWithTheseSteps()
{
    TestWindow w;
    w.setEntries({"/m/A.mp3", "/m/B.mp3"});
    w.form->vars().MP3File = QStringLiteral("/m/A.mp3");
    w.form->vars().RePlay = true;
    w.form->munPause->setText(QStringLiteral("继续播放"));
    w.form->Slider1->setPageStep(7);
    w.form->StatusPanel2->setText(QStringLiteral("时间:x"));
    w.engine->endTrack();
    QCOMPARE(w.engine->calls, QStringList({"Stop", "OpenFile(/m/B.mp3,)", "Play", "GetTitle", "GetArtist",
                                           "GetAlbum", "GetFrameCount"}));
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--/m/B.mp3"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:Song--Singer(专辑：Best)"));
    QCOMPARE(w.form->Slider1->maximum(), 9000);
    QVERIFY(w.form->Slider1->isEnabled());
    QCOMPARE(w.menuStates(), QStringLiteral("-du"));
    // Left alone: the page step, panel 2 and the pause item's caption.
    QCOMPARE(w.form->Slider1->pageStep(), 7);
    QCOMPARE(w.form->StatusPanel2->text(), QStringLiteral("时间:x"));
    QCOMPARE(w.form->munPause->text(), QStringLiteral("继续播放"));
}

void PlaybackTest::startChosenEntry_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("menu") << true;
    QTest::newRow("double-click") << false;
}

void PlaybackTest::startChosenEntry()
{
    QFETCH(bool, byMenu);
    TestWindow w;
    QStringList paths;
    for (int i = 0; i < 10; ++i)
        paths << QStringLiteral("/m/%1.mp3").arg(i);
    w.setEntries(paths);
    w.form->player().selectEntry(2);
    w.form->vars().RePlay = false;
    if (byMenu)
        w.form->playback().runPlay_Click();
    else
        w.form->playback().List1_DblClick();
    QCOMPARE(w.engine->calls, QStringList({"Stop", "OpenFile(/m/2.mp3,)", "Play", "GetTitle", "GetArtist",
                                           "GetAlbum", "GetFrameCount"}));
    QCOMPARE(w.form->vars().RoundPlay, 100);
    QVERIFY(w.form->vars().RePlay);
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--/m/2.mp3"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:Song--Singer(专辑：Best)"));
    QCOMPARE(w.form->Slider1->maximum(), 9000);
    QVERIFY(w.form->Slider1->isEnabled());
    QCOMPARE(w.menuStates(), QStringLiteral("-du"));
    // A chosen track is followed by itself once more, then entry 0.
    w.engine->calls.clear();
    w.engine->endTrack();
    w.engine->endTrack();
    QCOMPARE(openedPaths(*w.engine), QStringList({"/m/2.mp3", "/m/0.mp3"}));
}

void PlaybackTest::startWithNothingSelectedPlaysEntryZero()
{
    TestWindow w;
    w.setEntries({"/m/A.mp3", "/m/B.mp3"});
    w.form->vars().RoundPlay = 7;
    w.form->playback().runPlay_Click();
    QCOMPARE(openedPaths(*w.engine), QStringList{"/m/A.mp3"});
    QCOMPARE(w.form->vars().RoundPlay, 7);
}

void PlaybackTest::startOnEmptyListReplaysCurrentTrack()
{
    TestWindow w;
    w.form->vars().MP3File = QStringLiteral("/m/previous.mp3");
    w.form->playback().List1_DblClick();
    QCOMPARE(w.engine->commands(), QStringList({"Stop", "OpenFile(/m/previous.mp3,)", "Play"}));
}

void PlaybackTest::startNeedsMoreThanFourCharacters_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("plays");
    QTest::newRow("4") << "C:\\a" << false;
    QTest::newRow("5") << "C:\\ab" << true;
    QTest::newRow("empty path") << "" << false;
}

void PlaybackTest::startNeedsMoreThanFourCharacters()
{
    QFETCH(QString, path);
    QFETCH(bool, plays);
    TestWindow w;
    w.form->player().list().append(listFormEntry(QStringLiteral("T"), path));
    w.form->player().selectEntry(0);
    const QString menusBefore = w.menuStates();
    const bool sliderBefore = w.form->Slider1->isEnabled();
    w.form->playback().runPlay_Click();
    QCOMPARE(w.engine->commands(), plays ? QStringList({"Stop", "OpenFile(" + path + ",)", "Play"})
                                         : QStringList({"Stop"}));
    if (!plays) {
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora"));
        QCOMPARE(w.menuStates(), menusBefore);
        QCOMPARE(w.form->Slider1->isEnabled(), sliderBefore);
    }
}

void PlaybackTest::positionUpdatesSliderAndPanels()
{
    TestWindow w;
    w.form->Slider1->setMaximum(9000);
    w.engine->reportPosition(1234);
    QCOMPARE(w.form->Slider1->value(), 1234);
    QCOMPARE(w.form->StatusPanel3->text(), QStringLiteral("帧数: 1234/9000"));
    QCOMPARE(w.form->StatusPanel2->text(), QStringLiteral("时间: 0分32秒/3分55秒"));
    // Large tracks: frames beyond 16 bits show their true number.
    w.engine->defaultTrack.frames = 50000;
    w.form->Slider1->setMaximum(50000);
    w.engine->reportPosition(40000);
    QCOMPARE(w.form->StatusPanel3->text(), QStringLiteral("帧数: 40000/50000"));
    // A maximum of 0 shows the start.
    w.form->Slider1->setMaximum(0);
    w.engine->reportPosition(10);
    QCOMPARE(w.form->StatusPanel3->text(), QStringLiteral("帧数: 0/50000"));
    QCOMPARE(w.form->StatusPanel2->text(), QStringLiteral("时间: 0分00秒/3分55秒"));
}

void PlaybackTest::positionRepaintsOnlyWhatChanges()
{
    TestWindow w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QSlider *slider = w.form->Slider1;
    w.engine->defaultTrack.frames = 200000;
    w.engine->defaultTrack.durationMs = 5400000;
    slider->setMaximum(200000);
    w.engine->reportPosition(9999);
    QTest::qWait(50);
    PaintCounter counter({slider, w.form->StatusPanel1, w.form->StatusPanel2, w.form->StatusPanel3});
    // A frame more, a digit longer: the handle stays on its pixel, the time on its second.
    w.engine->reportPosition(10000);
    QCOMPARE(slider->value(), 10000);
    QTRY_VERIFY(counter.paints.value(w.form->StatusPanel3) > 0);
    QTest::qWait(50);
    QCOMPARE(counter.paints.value(slider), 0);
    QCOMPARE(counter.paints.value(w.form->StatusPanel2), 0);
    QCOMPARE(counter.paints.value(w.form->StatusPanel1), 0);
    // The panels already hold the track's longest texts; the handle moves at last.
    w.engine->reportPosition(200000);
    QTRY_VERIFY(counter.paints.value(slider) > 0);
    QTRY_VERIFY(counter.paints.value(w.form->StatusPanel2) > 0);
    QTest::qWait(50);
    QCOMPARE(counter.paints.value(w.form->StatusPanel1), 0);
    QLabel *time = w.form->StatusPanel2;
    QVERIFY(time->fontMetrics().horizontalAdvance(time->text()) <= time->contentsRect().width());
    QVERIFY(w.form->StatusPanel3->width() >= 96);
}

void PlaybackTest::sliderClickSeeks()
{
    TestWindow w;
    w.form->Slider1->setMaximum(9000);
    w.form->Slider1->setValue(4500);
    const QString before = w.form->StatusPanel3->text();
    w.form->playback().Slider1_Click();
    QCOMPARE(w.engine->calls, QStringList{"SeekFrame(4500)"});
    QCOMPARE(w.form->StatusPanel3->text(), before);
}

// A click takes longer than the time between two position reports: those that come
// while the button is down, or before the click is handled, must not undo it.
void PlaybackTest::sliderClickSeeksDespiteReportsWhileHeld_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("expected");
    // The middle button sets the slider to the point clicked, the left one steps a page.
    QTest::newRow("middle button") << Qt::MiddleButton << 6750;
    QTest::newRow("left button") << Qt::LeftButton << 1180;
}

void PlaybackTest::sliderClickSeeksDespiteReportsWhileHeld()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, expected);
    TestWindow w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QSlider *slider = w.form->Slider1;
    slider->setEnabled(true);
    slider->setMaximum(9000);
    slider->setPageStep(180);
    w.engine->reportPosition(1000);
    const QPoint threeQuarters(slider->width() * 3 / 4, slider->height() / 2);

    QTest::mousePress(slider, button, {}, threeQuarters);
    const int held = slider->value();
    QVERIFY2(qAbs(held - expected) <= 200, qPrintable(QString::number(held)));
    w.engine->reportPosition(1005);
    QCOMPARE(slider->value(), held);
    QTest::mouseRelease(slider, button, {}, threeQuarters);
    w.engine->reportPosition(1010); // already queued when the click is handled
    QTRY_COMPARE(w.engine->calls.filter(QStringLiteral("SeekFrame")),
                 QStringList{QStringLiteral("SeekFrame(%1)").arg(held)});
    // Afterwards the reports move the slider again.
    w.engine->reportPosition(held + 40);
    QCOMPARE(slider->value(), held + 40);
}

void PlaybackTest::pauseToggle()
{
    TestWindow w;
    w.form->vars().MP3File = QStringLiteral("/m/A.mp3");
    w.form->munPause->trigger();
    QCOMPARE(w.engine->calls, QStringList{"Pause"});
    QCOMPARE(w.form->munPause->text(), QStringLiteral("继续播放"));
    w.form->munPause->trigger();
    QCOMPARE(w.engine->calls, QStringList({"Pause", "OpenFile(/m/A.mp3,)", "Play"}));
    QCOMPARE(w.form->munPause->text(), QStringLiteral("暂停播放"));
    // The toolbar's pause leaves the caption, so the item pauses again.
    w.engine->calls.clear();
    w.form->Toolbar1_ButtonClick(4);
    QCOMPARE(w.form->munPause->text(), QStringLiteral("暂停播放"));
    w.form->munPause->trigger();
    QCOMPARE(w.engine->calls, QStringList({"Pause", "Pause"}));
    QCOMPARE(w.form->munPause->text(), QStringLiteral("继续播放"));
}

void PlaybackTest::pauseResumeAfterNewTrackStarted()
{
    TestWindow w;
    w.setEntries({"/m/A.mp3", "/m/B.mp3"});
    w.form->vars().MP3File = QStringLiteral("/m/A.mp3");
    w.form->munPause->trigger();
    w.form->player().selectEntry(1);
    w.form->playback().runPlay_Click();
    QCOMPARE(w.form->munPause->text(), QStringLiteral("继续播放"));
    w.engine->calls.clear();
    w.form->munPause->trigger();
    QCOMPARE(w.engine->commands(), QStringList({"OpenFile(/m/B.mp3,)", "Play"}));
    QCOMPARE(w.form->munPause->text(), QStringLiteral("暂停播放"));
}

void PlaybackTest::resumeNeedsAPath()
{
    TestWindow w;
    w.form->vars().MP3File = QStringLiteral("C:\\a");
    w.form->munPause->trigger();
    w.form->munPause->trigger();
    QCOMPARE(w.engine->calls, QStringList{"Pause"});
    QCOMPARE(w.form->munPause->text(), QStringLiteral("继续播放"));
}

void PlaybackTest::badTrackIsReportedAndMarked()
{
    TestWindow w;
    w.setEntries({"/m/gone.mp3", "/m/B.mp3"});
    w.engine->tracks[QStringLiteral("/m/gone.mp3")] = FakeEngine::Track{0, 0, {}, {}, {}, 1};
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->player().selectEntry(0);
    w.form->playback().runPlay_Click();
    QCOMPARE(problems.count(), 1);
    QVERIFY(problems.first().first().toString().contains(QStringLiteral("/m/gone.mp3")));
    QVERIFY(!w.form->List1->model()->index(0, 0).data(Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(w.form->List1->model()->index(1, 0).data(Qt::ToolTipRole).toString().isEmpty());
    // The texts of the caption and panel stay as they are for any track.
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--/m/gone.mp3"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:--(专辑：)"));
    // Once the file plays again its entry is no longer marked.
    w.engine->tracks.clear();
    w.form->playback().runPlay_Click();
    QVERIFY(w.form->List1->model()->index(0, 0).data(Qt::ToolTipRole).toString().isEmpty());
}

void PlaybackTest::hopelessListStopsAfterOneRound()
{
    TestWindow w;
    const QStringList gone{"/m/gone1.mp3", "/m/gone2.mp3", "/m/gone3.mp3"};
    w.setEntries(gone);
    w.engine->defaultTrack.openStatus = 1;
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->player().selectEntry(0);
    w.form->playback().runPlay_Click();
    for (int i = 0; i < 10; ++i)
        w.engine->endTrack();
    // Entry 0 chosen, once more as a chosen track is, as the first of the round, 1, 2: then a stop.
    QCOMPARE(openedPaths(*w.engine), QStringList({gone[0], gone[0], gone[0], gone[1], gone[2]}));
    QCOMPARE(w.engine->commands().last(), QStringLiteral("Stop"));
    QCOMPARE(problems.last().first().toString(), QStringLiteral("列表中没有可以播放的文件"));
    QCOMPARE(w.entries().size(), 3);
    // The next command of the user starts afresh.
    w.engine->calls.clear();
    w.form->playback().runPlay_Click();
    w.engine->endTrack();
    QCOMPARE(openedPaths(*w.engine).size(), 2);
}

void PlaybackTest::fileTextsShownLiterally_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("path");
    QTest::newRow("markup in a tag") << QStringLiteral("A<b>B</b>") << QStringLiteral("/m/<i>x</i>.mp3");
    QTest::newRow("entity") << QStringLiteral("&amp; &lt;") << QStringLiteral("/m/&amp;.mp3");
    QTest::newRow("modified mark in a path") << QStringLiteral("[*]") << QStringLiteral("/m/[*]/a[*][*].mp3");
}

// What a screen reader and the window manager get is what the file says.
void PlaybackTest::fileTextsShownLiterally()
{
    QFETCH(QString, title);
    QFETCH(QString, path);
    TestWindow w;
    w.setEntries({path, QStringLiteral("/m/B.mp3")});
    w.engine->tracks[path] = FakeEngine::Track{10, 1000, title, title, title, 1};
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    w.form->player().selectEntry(0);
    w.form->playback().runPlay_Click();
    const auto shown = [](QWidget *widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    QCOMPARE(shown(w.form->StatusPanel1), QStringLiteral("当前歌曲:%1--%1(专辑：%1)").arg(title));
    QCOMPARE(shown(w.form->StatusReport), QStringLiteral("无法播放 %1：文件不存在").arg(path));
    QCOMPARE(w.form->windowHandle()->title(), QStringLiteral("Velmora--") + path);
}

void PlaybackTest::reportKeepsPanelsAndOutlastsOtherTracks()
{
    TestWindow w;
    w.setEntries({QStringLiteral("/m/gone.mp3"), QStringLiteral("/m/B.mp3")});
    w.engine->tracks[QStringLiteral("/m/gone.mp3")] = FakeEngine::Track{0, 0, {}, {}, {}, 1};
    w.form->show();
    w.form->player().selectEntry(0);
    w.form->playback().runPlay_Click();
    const QString report = QStringLiteral("无法播放 /m/gone.mp3：文件不存在");
    QCOMPARE(w.form->shownReport(), report);
    // Another track plays: the report stays, and so do the time and frame panels.
    w.form->player().selectEntry(1);
    w.form->playback().runPlay_Click();
    w.engine->reportPosition(5);
    QCOMPARE(w.form->shownReport(), report);
    QVERIFY(w.form->StatusPanel2->isVisible() && w.form->StatusPanel3->isVisible());
    QCOMPARE(w.form->StatusPanel3->text(), QStringLiteral("帧数: 5/9000"));
    // The failing track plays after all: its report is wrong now and goes.
    w.engine->tracks.clear();
    w.form->player().selectEntry(0);
    w.form->playback().runPlay_Click();
    QCOMPARE(w.form->shownReport(), QString());
    QVERIFY(w.form->StatusPanel1->isVisible());
}

QTEST_MAIN(PlaybackTest)
#include "tst_playback.moc"

// The toolbar's five commands.
#include "testwindow.h"

#include "commandline.h"
#include "entry.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QSlider>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {
const QString kOpenFilter = QStringLiteral("open:MP3音乐文件,MP3播放列表(*.mp3,*.m3u)|*.mp3;*.m3u");
enum { Open = 1, Save, Play, Pause, Stop };

// A window that has started the two-entry automatic list, so every state is set.
struct PlayingWindow : TestWindow
{
    PlayingWindow()
    {
        writeAutomaticList(m3u({{"A", "/m/a.mp3"}, {"B", "/m/b.mp3"}}));
        form->Form_Load();
        engine->calls.clear();
        form->StatusPanel1->setText(QStringLiteral("当前歌曲:before"));
        form->setWindowTitle(QStringLiteral("before"));
    }
};
} // namespace

class ToolbarTest : public QObject
{
    Q_OBJECT
private slots:
    void buttonsRunTheirCommand();
    void openSingleTrack_data();
    void openSingleTrack();
    void openDoesNothing_data();
    void openDoesNothing();
    void openListExample();
    void openListWithOnePathLineStartsNothing();
    void openListThatCannotBeReadKeepsEverything();
    void saveEmptyList();
    void saveThenOpenGivesFifteenSpaces();
    void failingStepsAreSkipped_data();
    void failingStepsAreSkipped();
    void unwritableSaveIsSilent();
    void pauseThenPlay();
    void stopThenPlay();
    void playNeedsATrack();
    void filesFromOutside_data();
    void filesFromOutside();
    void absoluteFiles_data();
    void absoluteFiles();
};

void ToolbarTest::buttonsRunTheirCommand()
{
    PlayingWindow w;
    w.form->Toolbar1_ButtonClick(0);
    w.form->Toolbar1_ButtonClick(6);
    w.form->Toolbar1_ButtonClick(-1);
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.dialog->shown, QStringList());
    // The real buttons reach the handler with their index.
    w.form->ToolbarButtons[Pause - 1]->trigger();
    QCOMPARE(w.engine->calls, QStringList{"Pause"});
    QVERIFY(!w.form->Slider1->isEnabled());
}

void ToolbarTest::openSingleTrack_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("entry");
    QTest::newRow("windows") << "C:\\Music\\Song.mp3" << "Song.mp3          (C:\\Music\\Song.mp3)";
    QTest::newRow("unix") << "/home/u/Music/Song.mp3" << "Song.mp3          (/home/u/Music/Song.mp3)";
    QTest::newRow("no extension dot") << "C:\\x\\abcmp3" << "ab.mp3          (C:\\x\\abcmp3)";
    QTest::newRow("short file name") << "C:\\mp3" << ".mp3          (C:\\mp3)";
}

void ToolbarTest::openSingleTrack()
{
    QFETCH(QString, chosen);
    QFETCH(QString, entry);
    PlayingWindow w;
    const QString filePath = w.form->vars().FilePath;
    w.form->vars().RePlay = false;
    w.engine->defaultTrack.frames = 777;
    w.dialog->answers << chosen;
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.dialog->shown, QStringList{kOpenFilter});
    QCOMPARE(w.entries().first(), entry);
    QCOMPARE(w.entries().size(), 4);
    QCOMPARE(w.selectedRow(), 0);
    QCOMPARE(w.form->vars().RoundPlay, -1);
    QCOMPARE(w.form->vars().MP3File, chosen);
    QCOMPARE(w.engine->calls, QStringList({"Stop", "OpenFile(" + chosen + ",)", "GetFrameCount", "Play"}));
    QVERIFY(w.form->Slider1->isEnabled());
    QCOMPARE(w.form->Slider1->maximum(), 777);
    QCOMPARE(w.form->windowTitle(), QStringLiteral("before"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:before"));
    QVERIFY(!w.form->vars().RePlay);
    QCOMPARE(w.form->vars().FilePath, filePath);
}

void ToolbarTest::openDoesNothing_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::newRow("cancel") << QString();
    QTest::newRow("upper-case MP3") << "C:\\Music\\Song.MP3";
    QTest::newRow("upper-case M3U") << "C:\\Music\\List.M3U";
    QTest::newRow("four characters") << ".mp3";
    QTest::newRow("other") << "/m/readme.txt";
}

void ToolbarTest::openDoesNothing()
{
    QFETCH(QString, chosen);
    PlayingWindow w;
    const QStringList entries = w.entries();
    w.dialog->answers << chosen;
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.entries(), entries);
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("/m/a.mp3"));
}

void ToolbarTest::openListExample()
{
    PlayingWindow w;
    w.writeFile(QStringLiteral("list.m3u"), "#EXTM3U\r\n#EXTINF:235,Song A\r\nC:\\a.mp3\r\n#EXTINF:180,Song B\r\n"
                                            "D:\\b.mp3\r\ne:\\c.mp3\r\n");
    w.form->vars().RePlay = false;
    w.dialog->answers << w.path("list.m3u");
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.entries(), QStringList({"Song A     (C:\\a.mp3)", "Song A     (D:\\b.mp3)",
                                       "Song--Singer.mp3          (C:\\a.mp3)"}));
    QCOMPARE(w.engine->calls, QStringList({"Stop", "OpenFile(C:\\a.mp3,)", "GetTitle", "GetArtist", "GetAlbum",
                                           "GetFrameCount", "GetTitle", "GetArtist", "Play"}));
    QCOMPARE(w.form->vars().RoundPlay, 0);
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("C:\\a.mp3"));
    QCOMPARE(w.form->vars().FilePath, w.path("list.m3u"));
    QVERIFY(w.form->vars().RePlay);
    QCOMPARE(w.selectedRow(), 0);
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--C:\\a.mp3"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:Song--Singer(专辑：Best)"));
    QCOMPARE(w.menuStates(), QStringLiteral("pdu"));
    QCOMPARE(w.form->Slider1->pageStep(), 180);
}

void ToolbarTest::openListWithOnePathLineStartsNothing()
{
    PlayingWindow w;
    w.writeFile(QStringLiteral("one.m3u"), "#EXTINF:235,Solo\r\n/m/solo.mp3\r\n");
    w.writeFile(QStringLiteral("none.m3u"), "#EXTM3U\r\n");
    w.dialog->answers << w.path("one.m3u");
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.entries(), QStringList{"Solo     (/m/solo.mp3)"});
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.form->vars().FilePath, w.path("one.m3u"));
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("/m/a.mp3"));
    w.dialog->answers << w.path("none.m3u");
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.entries(), QStringList());
    QCOMPARE(w.form->vars().FilePath, w.path("none.m3u"));
}

void ToolbarTest::openListThatCannotBeReadKeepsEverything()
{
    PlayingWindow w;
    const QStringList entries = w.entries();
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.dialog->answers << w.path("gone.m3u");
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.entries(), entries);
    QCOMPARE(w.form->vars().FilePath, w.path("mp3.m3u"));
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(problems.count(), 0);
}

void ToolbarTest::saveEmptyList()
{
    PlayingWindow w;
    w.form->player().list().clear();
    w.form->Toolbar1_ButtonClick(Save);
    QCOMPARE(w.readFile(QStringLiteral("mp3.m3u")), QByteArray("#EXTM3U\r\n"));
    QCOMPARE(w.dialog->shown, QStringList());
}

void ToolbarTest::saveThenOpenGivesFifteenSpaces()
{
    PlayingWindow w;
    w.form->player().list().clear();
    w.form->player().list().append(fileFormEntry(QStringLiteral("Song"), QStringLiteral("C:\\Music\\Song.mp3")));
    w.form->player().list().append(fileFormEntry(QStringLiteral("Other"), QStringLiteral("C:\\Music\\Other.mp3")));
    w.form->Toolbar1_ButtonClick(Save);
    w.dialog->answers << w.path("mp3.m3u");
    w.form->Toolbar1_ButtonClick(Open);
    QCOMPARE(w.entries().first(), QStringLiteral("Song.mp3") + QString(15, QLatin1Char(' '))
                                      + QStringLiteral("(C:\\Music\\Song.mp3)"));
}

void ToolbarTest::failingStepsAreSkipped_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("open track, stop fails") << int(Open) << "Stop"
                                            << QStringList{"Stop", "OpenFile(/m/new.mp3,)", "GetFrameCount", "Play"};
    QTest::newRow("open track, open fails") << int(Open) << "OpenFile"
                                            << QStringList{"Stop", "OpenFile(/m/new.mp3,)", "GetFrameCount", "Play"};
    QTest::newRow("play, open fails") << int(Play) << "OpenFile" << QStringList{"OpenFile(/m/a.mp3,)", "Play"};
    QTest::newRow("stop, stop fails") << int(Stop) << "Stop" << QStringList{"Stop"};
    QTest::newRow("pause, pause fails") << int(Pause) << "Pause" << QStringList{"Pause"};
}

void ToolbarTest::failingStepsAreSkipped()
{
    QFETCH(int, button);
    QFETCH(QString, failing);
    QFETCH(QStringList, calls);
    PlayingWindow w;
    w.engine->failingCall = failing;
    w.dialog->answers << QStringLiteral("/m/new.mp3");
    w.form->Toolbar1_ButtonClick(button);
    QCOMPARE(w.engine->calls, calls);
    if (button == Play)
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--/m/a.mp3"));
    if (button == Stop || button == Pause)
        QVERIFY(!w.form->Slider1->isEnabled());
}

void ToolbarTest::unwritableSaveIsSilent()
{
    PlayingWindow w;
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->vars().FilePath = w.path("missing/list.m3u");
    w.form->Toolbar1_ButtonClick(Save);
    w.form->Toolbar1_ButtonClick(Stop);
    QCOMPARE(problems.count(), 0);
    QCOMPARE(w.engine->calls, QStringList{"Stop"});
    QVERIFY(!w.form->vars().RePlay);
}

void ToolbarTest::pauseThenPlay()
{
    PlayingWindow w;
    w.form->Toolbar1_ButtonClick(Pause);
    QCOMPARE(w.form->munPause->text(), QStringLiteral("暂停播放"));
    w.form->Toolbar1_ButtonClick(Play);
    QCOMPARE(w.engine->calls, QStringList({"Pause", "OpenFile(/m/a.mp3,)", "Play"}));
    QVERIFY(!w.form->Slider1->isEnabled());
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--/m/a.mp3"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:before"));
}

void ToolbarTest::stopThenPlay()
{
    PlayingWindow w;
    const int roundPlay = w.form->vars().RoundPlay;
    w.form->Toolbar1_ButtonClick(Stop);
    QVERIFY(!w.form->vars().RePlay);
    QVERIFY(!w.form->Slider1->isEnabled());
    // An end event while stopped moves on but starts nothing.
    w.engine->endTrack();
    QCOMPARE(w.engine->calls, QStringList{"Stop"});
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("/m/b.mp3"));
    w.form->Toolbar1_ButtonClick(Play);
    QVERIFY(w.form->vars().RePlay);
    QCOMPARE(w.engine->calls, QStringList({"Stop", "OpenFile(/m/b.mp3,)", "Play"}));
    QVERIFY(!w.form->Slider1->isEnabled());
    QCOMPARE(w.form->vars().RoundPlay, roundPlay + 1);
}

void ToolbarTest::playNeedsATrack()
{
    TestWindow w;
    w.form->Form_Load();
    w.form->Toolbar1_ButtonClick(Play);
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora"));
}

// Files from the command line or a second launch act as 打开 would act on them.
void ToolbarTest::filesFromOutside_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("paths"); // of the entries afterwards
    QTest::addColumn<QString>("playing");
    QTest::addColumn<int>("roundPlay");
    QTest::addColumn<QString>("problem");
    const QStringList before{"/m/a.mp3", "/m/b.mp3", "/m/a.mp3"};
    // The end of the first track opened moves on to the second entry, not to itself again.
    QTest::newRow("one track") << QStringList{"x.mp3"} << QStringList{"x.mp3"} + before << "x.mp3" << 0 << "";
    QTest::newRow("several in order, the first plays")
        << QStringList{"x.mp3", "Y.MP3"} << QStringList{"x.mp3", "Y.MP3"} + before << "x.mp3" << 0 << "";
    QTest::newRow("list") << QStringList{"list.m3u"} << QStringList{"/m/c.mp3", "/m/d.mp3", "/m/c.mp3"}
                          << "/m/c.mp3" << 0 << "";
    QTest::newRow("upper-case m3u8") << QStringList{"LIST.M3U8"} << QStringList{"/m/c.mp3", "/m/d.mp3", "/m/c.mp3"}
                                     << "/m/c.mp3" << 0 << "";
    QTest::newRow("tracks go on top of a list") << QStringList{"x.mp3", "list.m3u"}
                                                << QStringList{"x.mp3", "/m/c.mp3", "/m/d.mp3", "/m/c.mp3"}
                                                << "x.mp3" << 0 << "";
    QTest::newRow("missing track, the rest loads")
        << QStringList{"gone.mp3", "x.mp3"} << QStringList{"x.mp3"} + before << "x.mp3" << 0
        << "无法打开MP3文件：文件不存在（gone.mp3）";
    QTest::newRow("unreadable list and another kind")
        << QStringList{"gone.m3u", "notes.txt"} << before << "/m/a.mp3" << 0
        << "无法打开播放列表：文件不存在（gone.m3u）；不是MP3文件或M3U播放列表（notes.txt）";
    QTest::newRow("a folder") << QStringList{"folder"} << before << "/m/a.mp3" << 0
                              << "这是一个文件夹，无法打开（folder）";
}

void ToolbarTest::filesFromOutside()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, paths);
    QFETCH(QString, playing);
    QFETCH(int, roundPlay);
    QFETCH(QString, problem);
    PlayingWindow w;
    const QByteArray list = m3u({{"C", "/m/c.mp3"}, {"D", "/m/d.mp3"}});
    for (const char *name : {"x.mp3", "Y.MP3", "notes.txt"})
        w.writeFile(QString::fromLatin1(name), "ID3");
    w.writeFile(QStringLiteral("list.m3u"), list);
    w.writeFile(QStringLiteral("LIST.M3U8"), list);
    QDir(w.folder.path()).mkdir(QStringLiteral("folder"));
    auto inFolder = [&](QString name) { return name.startsWith(u'/') ? name : w.path(name); };
    QStringList absolute;
    for (const QString &file : files)
        absolute << inFolder(file);
    QSignalSpy problems(w.form.get(), &Form1::problemReported);

    w.form->player().openFiles(absolute);
    QStringList entryPaths;
    for (const QString &entry : w.entries())
        entryPaths << *EntryPath(fixedText(entry));
    QStringList expected;
    for (const QString &path : paths)
        expected << inFolder(path);
    QCOMPARE(entryPaths, expected);
    QCOMPARE(w.form->vars().MP3File, inFolder(playing));
    QCOMPARE(w.form->vars().RoundPlay, roundPlay);
    QCOMPARE(w.selectedRow(), 0);
    QCOMPARE(w.dialog->shown, QStringList());
    if (playing != QLatin1String("/m/a.mp3")) {
        QCOMPARE(w.engine->calls.filter(QStringLiteral("OpenFile")).last(), "OpenFile(" + inFolder(playing) + ",)");
        QCOMPARE(w.form->windowTitle(), trackCaption(inFolder(playing))); // at once
    }
    QCOMPARE(w.engine->commands().isEmpty() ? QString() : w.engine->commands().last(),
             playing == QLatin1String("/m/a.mp3") ? QString() : QStringLiteral("Play"));
    QString shownProblem = problem;
    for (const QString name : {"gone.mp3", "gone.m3u", "notes.txt", "folder"})
        shownProblem.replace(QStringLiteral("（%1）").arg(name), QStringLiteral("（%1）").arg(w.path(name)));
    QCOMPARE(problems.isEmpty() ? QString() : problems.last().first().toString(), shownProblem);
}

void ToolbarTest::absoluteFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("relative") << QStringList{"a.mp3", "../b.mp3", "./c/d.m3u"}
                              << QStringList{"/w/x/a.mp3", "/w/b.mp3", "/w/x/c/d.m3u"};
    QTest::newRow("absolute") << QStringList{"/m/歌.mp3"} << QStringList{"/m/歌.mp3"};
    QTest::newRow("file URL") << QStringList{"file:///m/%E6%AD%8C%201.mp3"} << QStringList{"/m/歌 1.mp3"};
    QTest::newRow("empty") << QStringList{""} << QStringList();
}

void ToolbarTest::absoluteFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QCOMPARE(velmora::absoluteFiles(arguments, QStringLiteral("/w/x")), files);
}

QTEST_MAIN(ToolbarTest)
#include "tst_toolbar.moc"

// The main window as created, and what start-up does with the automatic playlist.
#include "scratchmount.h"
#include "testwindow.h"

#include <QAction>
#include <QFontDatabase>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

class StartupTest : public QObject
{
    Q_OBJECT
private slots:
    void controlsAsCreated();
    void toolbarButtons();
    void menusAsCreated();
    void startsFirstOfTwoOrMore_data();
    void startsFirstOfTwoOrMore();
    void pageStepRoundsHalfToEven_data();
    void pageStepRoundsHalfToEven();
    void idleStart_data();
    void idleStart();
    void unreadableAutomaticListIsReported();
    void automaticListOfReadOnlyFolder_data();
    void automaticListOfReadOnlyFolder();
    void filesToOpenLeaveAutomaticListUnstarted();
    void resizeFollowsClientArea();
    void openListThatCannotBeReadKeepsEverything();
    void openListStartsWithPositionMinusOne();
};

void StartupTest::controlsAsCreated()
{
    TestWindow w;
    Form1 &f = *w.form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Velmora"));
    QCOMPARE(f.size(), QSize(481, 273));
    QCOMPARE(f.Slider1->geometry(), QRect(0, 56, 481, 48));
    QCOMPARE(f.List1->geometry().topLeft(), QPoint(0, 88));
    QCOMPARE(f.List1->width(), 481);
    QCOMPARE(f.List1->height(), 160);
    QCOMPARE(f.StatusBar1->height(), 25);
    QCOMPARE(f.Toolbar1->height(), 51);
    QCOMPARE(f.Slider1->minimum(), 0);
    QCOMPARE(f.Slider1->maximum(), 10);
    QCOMPARE(f.Slider1->pageStep(), 5);
    QCOMPARE(f.Slider1->singleStep(), 1);
    QCOMPARE(f.List1->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(f.StatusPanel1->text(), QStringLiteral("当前歌曲:"));
    QCOMPARE(f.StatusPanel2->text(), QStringLiteral("时间："));
    QCOMPARE(f.StatusPanel3->text(), QStringLiteral("帧数："));
    QCOMPARE(f.StatusPanel1->minimumWidth(), 96);
    QCOMPARE(f.StatusPanel2->minimumWidth(), 96);
    QCOMPARE(f.StatusPanel3->minimumWidth(), 96);
    const QImage icon(QStringLiteral(":/icons/velmora.png"));
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(icon.colorCount() > 0 && icon.colorCount() <= 256);
    QVERIFY(!f.windowIcon().isNull());
    QCOMPARE(f.ImageList1.size(), 5);
    for (const QPixmap &picture : f.ImageList1)
        QCOMPARE(picture.size(), QSize(32, 32));
    // Tab order: the slider, then the list.
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.activateWindow();
    f.Slider1->setFocus();
    QTest::keyClick(f.Slider1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.List1);
}

void StartupTest::toolbarButtons()
{
    TestWindow w;
    const QStringList captions{"打开", "保存", "播放", "暂停", "停止"};
    const QStringList tooltips{"打开MP3文件", "保存播放列表", "播放", "暂停", "停止"};
    QCOMPARE(w.form->ToolbarButtons.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QAction *button = w.form->ToolbarButtons[i];
        QCOMPARE(button->text(), captions[i]);
        QCOMPARE(button->toolTip(), tooltips[i]);
        QWidget *widget = w.form->Toolbar1->widgetForAction(button);
        QVERIFY(widget);
        QCOMPARE(widget->accessibleName(), captions[i]);
        QCOMPARE(qobject_cast<QToolButton *>(widget)->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    }
}

void StartupTest::menusAsCreated()
{
    TestWindow w;
    QStringList tray, list;
    for (QAction *a : w.form->munTray->actions()) {
        tray << a->objectName() + QLatin1Char('=') + a->text();
        QVERIFY(a->isEnabled());
        QVERIFY(!a->isCheckable());
        QVERIFY(!a->isSeparator());
    }
    for (QAction *a : w.form->munReplay->actions()) {
        list << a->objectName() + QLatin1Char('=') + a->text();
        QVERIFY(a->isEnabled());
    }
    QCOMPARE(tray, QStringList({"munShow=显示窗口", "munPause=暂停播放", "munAbout=关于", "munExit=退出"}));
    QCOMPARE(list, QStringList({"runPlay=播放", "runAdd=添加", "runDel=删除", "munSave=保存",
                                "munOpenList=打开列表", "munSaveAs=列表另存为"}));
    QVERIFY(!w.form->menuBar()->isVisible());
}

void StartupTest::startsFirstOfTwoOrMore_data()
{
    QTest::addColumn<int>("tracks");
    QTest::newRow("two") << 2;
    QTest::newRow("five") << 5;
}

void StartupTest::startsFirstOfTwoOrMore()
{
    QFETCH(int, tracks);
    TestWindow w;
    QList<QPair<QString, QString>> list;
    for (int i = 0; i < tracks; ++i)
        list << qMakePair(QStringLiteral("歌曲%1").arg(i), QStringLiteral("/music/track%1.mp3").arg(i));
    w.writeAutomaticList(m3u(list));
    w.dialog->FileName = QStringLiteral("left over");
    w.form->Form_Load();

    QCOMPARE(w.engine->calls, QStringList({"Stop", "OpenFile(/music/track0.mp3,)", "GetTitle", "GetArtist",
                                           "GetAlbum", "GetFrameCount", "GetTitle", "GetArtist", "Play"}));
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--/music/track0.mp3"));
    QCOMPARE(w.form->StatusPanel1->text(), QStringLiteral("当前歌曲:Song--Singer(专辑：Best)"));
    QCOMPARE(w.form->Slider1->maximum(), 9000);
    QCOMPARE(w.form->Slider1->pageStep(), 180);
    QVERIFY(w.form->Slider1->isEnabled());
    QCOMPARE(w.dialog->FileName, QString());
    const QStringList entries = w.entries();
    QCOMPARE(entries.size(), tracks + 1);
    QCOMPARE(entries.first(), QStringLiteral("歌曲0     (/music/track0.mp3)"));
    QCOMPARE(entries.last(), QStringLiteral("Song--Singer.mp3          (/music/track0.mp3)"));
    QCOMPARE(w.selectedRow(), 0);
    QCOMPARE(w.form->vars().RoundPlay, 0);
    QCOMPARE(w.form->vars().MP3File, QStringLiteral("/music/track0.mp3"));
    QVERIFY(w.form->vars().RePlay);
    QCOMPARE(w.form->vars().FilePath, w.path("mp3.m3u"));
    QCOMPARE(w.menuStates(), QStringLiteral("pdu"));
    QVERIFY(w.form->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(w.form->List1->font().pointSize(), 10);
    // 宋体 where installed; elsewhere the window's own family, not a second CJK font.
    const QFont status = w.form->StatusBar1->font();
    QCOMPARE(status.pointSizeF(), 9.75);
    QCOMPARE(status.family(), QFontDatabase::hasFamily("SimSun") ? QStringLiteral("SimSun") : w.form->font().family());
}

void StartupTest::pageStepRoundsHalfToEven_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("pageStep");
    QTest::newRow("125") << 125 << 2;
    QTest::newRow("175") << 175 << 4;
    QTest::newRow("75") << 75 << 2;
    QTest::newRow("24") << 24 << 0;
    QTest::newRow("26") << 26 << 1;
}

void StartupTest::pageStepRoundsHalfToEven()
{
    QFETCH(int, frames);
    QFETCH(int, pageStep);
    TestWindow w;
    w.engine->defaultTrack.frames = frames;
    w.writeAutomaticList(m3u({{"A", "/m/a.mp3"}, {"B", "/m/b.mp3"}}));
    w.form->Form_Load();
    QCOMPARE(w.form->Slider1->maximum(), frames);
    QCOMPARE(w.form->Slider1->pageStep(), pageStep);
}

void StartupTest::idleStart_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("mp3File");
    QTest::addColumn<QString>("menus");
    QTest::newRow("missing") << QByteArray() << 0 << -1 << QString() << "---";
    QTest::newRow("empty") << QByteArray("") << 0 << -1 << QString() << "---";
    QTest::newRow("header only") << QByteArray("#EXTM3U\r\n") << 0 << -1 << QString() << "---";
    QTest::newRow("one entry") << m3u({{"A", "/m/a.mp3"}}) << 1 << -1 << QString() << "---";
    QTest::newRow("short entry 0") << m3u({{"A", "C:\\a"}, {"B", "/m/b.mp3"}}) << 2 << 0 << "C:\\a" << "pd-";
}

void StartupTest::idleStart()
{
    QFETCH(QByteArray, list);
    QFETCH(int, entries);
    QFETCH(int, selected);
    QFETCH(QString, mp3File);
    QFETCH(QString, menus);
    TestWindow w;
    if (QString::fromLatin1(QTest::currentDataTag()) != QLatin1String("missing"))
        w.writeAutomaticList(list);
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->Form_Load();
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.entries().size(), entries);
    QCOMPARE(w.selectedRow(), selected);
    QCOMPARE(w.form->vars().MP3File, mp3File);
    QCOMPARE(w.form->vars().RoundPlay, 0);
    QCOMPARE(w.form->vars().FilePath, w.path("mp3.m3u"));
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora"));
    QVERIFY(!w.form->Slider1->isEnabled());
    QCOMPARE(w.menuStates(), menus);
    QCOMPARE(problems.count(), 0);
}

void StartupTest::unreadableAutomaticListIsReported()
{
    TestWindow w;
    QDir(w.folder.path()).mkdir(QStringLiteral("mp3.m3u"));
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->Form_Load();
    QCOMPARE(problems.count(), 1);
    QCOMPARE(w.entries(), QStringList());
    QCOMPARE(w.form->vars().FilePath, w.path("mp3.m3u"));
    QCOMPARE(w.engine->calls, QStringList());
}

// Installed where it cannot write, as in /usr/bin, the program keeps its list in the
// user's data folder, unless a list stands beside it.
void StartupTest::automaticListOfReadOnlyFolder_data()
{
    QTest::addColumn<bool>("listBeside");
    QTest::addColumn<bool>("toolbarSave");
    QTest::newRow("no list beside") << false << false;
    QTest::newRow("no list beside, toolbar save") << false << true;
    QTest::newRow("list beside") << true << false;
}

void StartupTest::automaticListOfReadOnlyFolder()
{
    QFETCH(bool, listBeside);
    QFETCH(bool, toolbarSave);
    ScratchMount program;
    if (!program.valid())
        QSKIP("mounting a scratch tmpfs needs root");
    QTemporaryDir dataHome;
    const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", oldDataHome); });
    if (listBeside) {
        QFile file(program.filePath("mp3.m3u"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m3u({{"A", "/m/a.mp3"}}));
    }
    QVERIFY(program.makeReadOnly());
    TestWindow w;
    w.form->setProgramFolder(program.path());
    w.form->Form_Load();
    const QString expected = listBeside ? program.filePath("mp3.m3u") : dataHome.filePath("velmora/mp3.m3u");
    QCOMPARE(w.form->vars().FilePath, expected);
    QCOMPARE(w.entries().size(), listBeside ? 1 : 0);
    if (listBeside)
        return;
    // A launch that saves nothing leaves no trace; the first save creates the list there.
    QVERIFY(!QFileInfo::exists(dataHome.filePath("velmora")));
    w.setEntries({"/m/b.mp3"});
    toolbarSave ? w.form->Toolbar1_ButtonClick(2) : w.form->munSave_Click();
    QCOMPARE(w.form->lastProblem(), QString());
    QFile saved(expected);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("#EXTM3U\r\n#EXTINF:235,T     \r\n/m/b.mp3\r\n"));
}

void StartupTest::filesToOpenLeaveAutomaticListUnstarted()
{
    TestWindow w;
    w.writeAutomaticList(m3u({{"A", "/m/a.mp3"}, {"B", "/m/b.mp3"}}));
    w.form->start(false);
    QCOMPARE(w.entries(), QStringList({"A     (/m/a.mp3)", "B     (/m/b.mp3)"}));
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(w.form->vars().FilePath, w.path("mp3.m3u"));
    QVERIFY(w.form->isVisible());
}

void StartupTest::resizeFollowsClientArea()
{
    TestWindow w;
    Form1 &f = *w.form;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.resize(700, 400);
    QCOMPARE(f.Slider1->width(), 700);
    QCOMPARE(f.List1->width(), 700);
    QCOMPARE(f.List1->height(), 400 - 25 - 88);
    QCOMPARE(f.Slider1->y(), 56);
    QCOMPARE(f.Slider1->height(), 48);
    // Too low for the list: its height stays, the widths still follow.
    f.resize(400, 100);
    QCOMPARE(f.Slider1->width(), f.width());
    QCOMPARE(f.List1->width(), f.width());
    QCOMPARE(f.List1->height(), 400 - 25 - 88);
    f.resize(481, 273);
    QCOMPARE(f.List1->height(), 160);
    QCOMPARE(f.List1->y() + f.List1->height(), f.height() - f.StatusBar1->height());
}

void StartupTest::openListThatCannotBeReadKeepsEverything()
{
    TestWindow w;
    w.writeAutomaticList(m3u({{"A", "/m/a.mp3"}, {"B", "/m/b.mp3"}}));
    w.form->Form_Load();
    const QStringList before = w.entries();
    w.engine->calls.clear();
    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.dialog->answers << w.path("gone.m3u");
    w.form->munOpenList_Click();
    QCOMPARE(w.entries(), before);
    QCOMPARE(w.form->vars().FilePath, w.path("mp3.m3u"));
    QCOMPARE(w.engine->calls, QStringList());
    QCOMPARE(problems.count(), 1);
    QVERIFY(problems.first().first().toString().contains(QStringLiteral("gone.m3u"))
            || !problems.first().first().toString().isEmpty());
}

void StartupTest::openListStartsWithPositionMinusOne()
{
    TestWindow w;
    w.form->Form_Load();
    w.writeFile(QStringLiteral("other.m3u"), m3u({{"X", "/m/x.mp3"}, {"Y", "/m/y.mp3"}}));
    w.dialog->answers << w.path("other.m3u");
    w.form->munOpenList_Click();
    QCOMPARE(w.dialog->shown, QStringList({"open:MP3播放列表(*.m3u)|*.m3u"}));
    QCOMPARE(w.form->vars().RoundPlay, -1);
    QCOMPARE(w.form->vars().FilePath, w.path("other.m3u"));
    QCOMPARE(w.entries().size(), 3);
    QCOMPARE(w.engine->commands(), QStringList({"Stop", "OpenFile(/m/x.mp3,)", "Play"}));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"

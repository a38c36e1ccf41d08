// The pop-up menus, adding and removing entries, saving, and the about box.
#include "aboutbox.h"
#include "dropimport.h"
#include "scratchmount.h"
#include "m3u.h"
#include "testwindow.h"

#include "entry.h"
#include "playlistedit.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

QPoint entryCentre(QListView *list, int row)
{
    return list->visualRect(list->model()->index(row, 0)).center();
}

// Presses the right button on the list; records the states the pop-up shows and
// then closes it, choosing the item named by choose when given.
QString rightPressAndClose(TestWindow &w, const QPoint &where, const QString &choose = QString())
{
    QString shownStates;
    QTimer::singleShot(50, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            shownStates = QStringLiteral("no menu");
            return;
        }
        shownStates = w.menuStates().left(2);
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->text() == choose)
                chosen = action;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    QTest::mousePress(w.form->List1->viewport(), Qt::RightButton, {}, where);
    QTest::mouseRelease(w.form->List1->viewport(), Qt::RightButton, {}, where);
    return shownStates;
}

} // namespace

class MenusTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void leftPressOnEntryOffersPlayAndDelete();
    void pressOnEmptySpaceOffersNeither();
    void rightPressUsesStatesFromBefore();
    void rightPressNeverChangesSelection();
    void keyboardSelectionOffersBoth();
    void addFromMenuDisablesAfterwards();
    void trayMenuShowsWindow();
    void trayMenuShowsMinimisedWindowBeforeRestoring();
    void add_data();
    void add();
    void addSameFileTwiceAndCancel();
    void drop_data();
    void drop();
    void dropListAloneOpensIt();
    void deleteSelected();
    void deleteWithNothingSelected();
    void deletePlayingEntryKeepsPlaying();
    void saveWritesFilePath();
    void saveAsLeavesFilePath();
    void saveRoundTripGrowsFiveSpaces();
    void saveAfterStartHasOneMoreEntry();
    void saveFailureKeepsOldFile();
    void saveOntoFullOrReadOnlyDisk();
    void aboutBox();
    void aboutBoxCloses_data();
    void aboutBoxCloses();

private:
    std::unique_ptr<TestWindow> w;
};

void MenusTest::init()
{
    w = std::make_unique<TestWindow>();
    w->form->Form_Load();
    w->setEntries({"/m/A.mp3", "/m/B.mp3", "/m/C.mp3"});
    w->form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->form.get()));
}

void MenusTest::leftPressOnEntryOffersPlayAndDelete()
{
    QCOMPARE(w->menuStates(), QStringLiteral("---"));
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 1));
    QCOMPARE(w->selectedRow(), 1);
    QCOMPARE(w->menuStates(), QStringLiteral("pd-"));
    // Clicking the entry that is already selected keeps them offered.
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 1));
    QCOMPARE(w->menuStates(), QStringLiteral("pd-"));
}

void MenusTest::pressOnEmptySpaceOffersNeither()
{
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 0));
    QCOMPARE(w->menuStates(), QStringLiteral("pd-"));
    const QPoint empty(10, w->form->List1->viewport()->height() - 5);
    QVERIFY(!w->form->List1->indexAt(empty).isValid());
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, empty);
    QCOMPARE(w->menuStates(), QStringLiteral("---"));
}

void MenusTest::rightPressUsesStatesFromBefore()
{
    QCOMPARE(rightPressAndClose(*w, entryCentre(w->form->List1, 0)), QStringLiteral("--"));
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 2));
    QCOMPARE(rightPressAndClose(*w, entryCentre(w->form->List1, 2)), QStringLiteral("pd"));
    QCOMPARE(w->menuStates(), QStringLiteral("---"));
    QCOMPARE(rightPressAndClose(*w, entryCentre(w->form->List1, 2)), QStringLiteral("--"));
}

void MenusTest::rightPressNeverChangesSelection()
{
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 0));
    rightPressAndClose(*w, entryCentre(w->form->List1, 2));
    QCOMPARE(w->selectedRow(), 0);
}

void MenusTest::keyboardSelectionOffersBoth()
{
    w->form->List1->setFocus();
    QTest::keyClick(w->form->List1, Qt::Key_Down);
    QVERIFY(w->selectedRow() >= 0);
    QCOMPARE(w->menuStates(), QStringLiteral("pd-"));
}

void MenusTest::addFromMenuDisablesAfterwards()
{
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 0));
    w->dialog->answers << QStringLiteral("/m/New Song.mp3");
    QCOMPARE(rightPressAndClose(*w, entryCentre(w->form->List1, 0), QStringLiteral("添加")), QStringLiteral("pd"));
    QCOMPARE(w->entries().last(), QStringLiteral("New Song.mp3          (/m/New Song.mp3)"));
    QCOMPARE(w->menuStates(), QStringLiteral("---"));
}

void MenusTest::trayMenuShowsWindow()
{
    w->form->hide();
    QVERIFY(!w->form->isVisible());
    w->form->munShow->trigger();
    QVERIFY(w->form->isVisible());
    QVERIFY(!w->form->isMinimized());
    QVERIFY(w->form->windowFlags() & Qt::WindowStaysOnTopHint);
}

// A window hidden to the tray while minimised: restoring it while still hidden would
// map it before it is shown with its stay-on-top state, and a window manager would then
// keep it among ordinary windows. So it has to be visible when it stops being minimised.
void MenusTest::trayMenuShowsMinimisedWindowBeforeRestoring()
{
    struct Recorder : QObject
    {
        QStringList seen;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            auto *widget = static_cast<QWidget *>(watched);
            if (event->type() == QEvent::Show)
                seen << QStringLiteral("shown");
            else if (event->type() == QEvent::WindowStateChange && !widget->isMinimized())
                seen << (widget->isVisible() ? QStringLiteral("restored while visible")
                                             : QStringLiteral("restored while hidden"));
            return false;
        }
    } recorder;

    w->form->setWindowState(w->form->windowState() | Qt::WindowMinimized);
    w->form->hide();
    QVERIFY(w->form->isMinimized());
    w->form->installEventFilter(&recorder);
    w->form->munShow->trigger();
    w->form->removeEventFilter(&recorder);
    QVERIFY2(recorder.seen.startsWith(QStringLiteral("shown")) && !recorder.seen.contains("restored while hidden")
                 && recorder.seen.contains("restored while visible"),
             qPrintable(recorder.seen.join(u',')));
    QVERIFY(w->form->isVisible());
    QVERIFY(!w->form->isMinimized());
    QVERIFY(w->form->windowFlags() & Qt::WindowStaysOnTopHint);
}

void MenusTest::add_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("entry");
    QTest::newRow("upper-case extension") << "C:\\Music\\Loud.MP3" << "Loud.mp3          (C:\\Music\\Loud.MP3)";
    QTest::newRow("unix path") << "/home/u/Music/Song.mp3" << "Song.mp3          (/home/u/Music/Song.mp3)";
    QTest::newRow("other extension") << "C:\\Docs\\notes.txt" << "notes.mp3          (C:\\Docs\\notes.txt)";
    QTest::newRow("short file name") << "/home/u/ab" << ".mp3          (/home/u/ab)";
    QTest::newRow("chinese") << "/音乐/晨曦.mp3" << "晨曦.mp3          (/音乐/晨曦.mp3)";
}

void MenusTest::add()
{
    QFETCH(QString, chosen);
    QFETCH(QString, entry);
    w->form->vars().MP3File = QStringLiteral("/m/current.mp3");
    w->dialog->answers << chosen;
    w->form->runAdd->trigger();
    QCOMPARE(w->dialog->shown, QStringList{"open:*.mp3|*.mp3"});
    QCOMPARE(w->dialog->fileNameWhenShown, QString());
    QCOMPARE(w->entries().size(), 4);
    QCOMPARE(w->entries().last(), entry);
    QCOMPARE(w->selectedRow(), -1);
    QCOMPARE(w->engine->calls, QStringList());
    QCOMPARE(w->form->vars().MP3File, QStringLiteral("/m/current.mp3"));
}

void MenusTest::addSameFileTwiceAndCancel()
{
    w->dialog->answers << QStringLiteral("/m/x/Song.mp3") << QStringLiteral("/m/x/Song.mp3") << QString()
                       << QStringLiteral("/a.b");
    for (int i = 0; i < 4; ++i)
        w->form->runAdd_Click();
    const QStringList entries = w->entries();
    QCOMPARE(entries.size(), 5);
    QCOMPARE(entries[3], entries[4]);
}

namespace {

} // namespace

// Files and folders dropped from a file manager are appended as 添加 appends them.
void MenusTest::drop_data()
{
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QString>("problem");
    QTest::newRow("files, sorted by name")
        << QStringList{"第10首.mp3", "第2首.mp3"} << QStringList{"第2首.mp3", "第10首.mp3"} << "";
    // Chinese collation puts Chinese names before Latin ones.
    QTest::newRow("nested folder") << QStringList{"专辑"}
                                   << QStringList{"专辑/第2首.mp3", "专辑/第10首.mp3", "专辑/CD 1/第1首.MP3",
                                                  "专辑/CD 1/b.mp3"}
                                   << "";
    QTest::newRow("upper-case MP3") << QStringList{"LOUD.MP3"} << QStringList{"LOUD.MP3"} << "";
    QTest::newRow("txt skipped") << QStringList{"notes.txt", "第2首.mp3"} << QStringList{"第2首.mp3"}
                                 << "已跳过 1 个不是MP3的文件";
    QTest::newRow("list among others skipped")
        << QStringList{"第2首.mp3", "list.m3u"} << QStringList{"第2首.mp3"}
        << "已跳过 1 个不是MP3的文件（播放列表请单独拖入）";
    QTest::newRow("folder without tracks") << QStringList{"空"} << QStringList() << "拖入的文件夹中没有MP3文件";
}

void MenusTest::drop()
{
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, added);
    QFETCH(QString, problem);
    QDir folder(w->folder.path());
    for (const char *sub : {"专辑/CD 1", "空/更空"})
        QVERIFY(folder.mkpath(QString::fromUtf8(sub)));
    for (const char *name : {"第10首.mp3", "第2首.mp3", "LOUD.MP3", "notes.txt", "list.m3u", "专辑/第10首.mp3",
                             "专辑/第2首.mp3", "专辑/cover.jpg", "专辑/CD 1/第1首.MP3", "专辑/CD 1/b.mp3"})
        w->writeFile(QString::fromUtf8(name), "ID3");
    w->form->player().selectEntry(1);
    w->form->vars().MP3File = QStringLiteral("/m/B.mp3");
    const QStringList before = w->entries();
    QSignalSpy done(w->form->findChild<DropImport *>(), &DropImport::dropAdded);
    QSignalSpy problems(w->form.get(), &Form1::problemReported);

    QStringList paths;
    for (const QString &name : dropped)
        paths << w->path(name);
    QVERIFY(dropFiles(*w->form, paths));
    QVERIFY(done.wait(5000));
    QStringList expected = before;
    for (const QString &name : added)
        expected << fileEntryForPath(w->path(name));
    QCOMPARE(w->entries(), expected);
    QCOMPARE(w->selectedRow(), 1);
    QCOMPARE(w->form->vars().MP3File, QStringLiteral("/m/B.mp3"));
    QCOMPARE(w->engine->calls, QStringList());
    QCOMPARE(problems.isEmpty() ? QString() : problems.last().first().toString(), problem);
}

void MenusTest::dropListAloneOpensIt()
{
    w->writeFile(QStringLiteral("list.m3u"), m3u({{"C", "/m/c.mp3"}, {"D", "/m/d.mp3"}}));
    QVERIFY(dropFiles(*w->form, {w->path("list.m3u")}));
    QCOMPARE(w->entries().mid(0, 2), QStringList({"C     (/m/c.mp3)", "D     (/m/d.mp3)"}));
    QCOMPARE(w->entries().size(), 3);
    QCOMPARE(w->form->vars().FilePath, w->path("list.m3u"));
    QCOMPARE(w->form->vars().RoundPlay, -1);
    QCOMPARE(w->engine->commands(), QStringList({"Stop", "OpenFile(/m/c.mp3,)", "Play"}));
    // Text that is not a file is not taken.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->form->List1->viewport(), &enter);
    QVERIFY(!enter.isAccepted());
}

void MenusTest::deleteSelected()
{
    w->setEntries({"/m/0.mp3", "/m/1.mp3", "/m/2.mp3", "/m/3.mp3", "/m/4.mp3"});
    QTest::mouseClick(w->form->List1->viewport(), Qt::LeftButton, {}, entryCentre(w->form->List1, 2));
    QCOMPARE(w->menuStates(), QStringLiteral("pd-"));
    w->form->runDel->trigger();
    QStringList paths;
    for (const QString &entry : w->entries())
        paths << *EntryPath(fixedText(entry));
    QCOMPARE(paths, QStringList({"/m/0.mp3", "/m/1.mp3", "/m/3.mp3", "/m/4.mp3"}));
    QCOMPARE(w->selectedRow(), -1);
    QVERIFY(!w->form->runDel->isEnabled());
}

void MenusTest::deleteWithNothingSelected()
{
    w->form->runDel->setEnabled(true);
    w->form->runDel_Click();
    QCOMPARE(w->entries().size(), 3);
    QVERIFY(w->form->runDel->isEnabled());
}

void MenusTest::deletePlayingEntryKeepsPlaying()
{
    w->form->player().selectEntry(1);
    w->form->playback().runPlay_Click();
    w->form->player().selectEntry(1);
    w->engine->calls.clear();
    w->form->runDel_Click();
    QCOMPARE(w->engine->calls, QStringList());
    QCOMPARE(w->form->vars().MP3File, QStringLiteral("/m/B.mp3"));
    QCOMPARE(w->entries().size(), 2);
}

void MenusTest::saveWritesFilePath()
{
    w->form->player().list().clear();
    w->form->player().list().append(listFormEntry(QStringLiteral("晨曦"), QStringLiteral("/音乐/a.mp3")));
    w->form->player().list().append(fileFormEntry(QStringLiteral("Song (Live)"), QStringLiteral("C:\\b.mp3")));
    w->form->player().list().append(QStringLiteral("no bracket"));
    w->form->munSave->trigger();
    const QString expected = QStringLiteral("#EXTM3U\r\n#EXTINF:235,晨曦     \r\n/音乐/a.mp3\r\n"
                                            "#EXTINF:235,Song (Live).mp3          \r\nC:\\b.mp3\r\n");
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder(expected);
    QCOMPARE(w->readFile(QStringLiteral("mp3.m3u")), bytes);
    QCOMPARE(w->dialog->shown, QStringList());
}

void MenusTest::saveAsLeavesFilePath()
{
    w->dialog->answers << w->path("copy");
    w->form->munSaveAs->trigger();
    QCOMPARE(w->dialog->shown, QStringList{"save:MP3播放列表(*.m3u)|*.m3u"});
    QVERIFY(QFile::exists(w->path("copy")));
    QVERIFY(!QFile::exists(w->path("copy.m3u")));
    QCOMPARE(w->form->vars().FilePath, w->path("mp3.m3u"));
    // Cancel and short names write nothing.
    w->dialog->answers << QString() << QStringLiteral("a.m3");
    w->form->munSaveAs_Click();
    w->form->munSaveAs_Click();
    QCOMPARE(QDir(w->folder.path()).entryList(QDir::Files), QStringList{"copy"});
}

void MenusTest::saveRoundTripGrowsFiveSpaces()
{
    w->form->player().list().clear();
    w->form->player().list().append(listFormEntry(QStringLiteral("Song A"), QStringLiteral("C:\\Music\\a.mp3")));
    w->form->player().list().append(fileFormEntry(QStringLiteral("Song B"), QStringLiteral("C:\\Music\\Song B.mp3")));
    w->form->player().list().append(listFormEntry(QStringLiteral("low"), QStringLiteral("c:\\music\\low.mp3")));
    w->form->munSave_Click();
    QCOMPARE(texts(readPlaylistFile(w->path("mp3.m3u")).entries), QStringList({"Song A          (C:\\Music\\a.mp3)",
                                        "Song B.mp3               (C:\\Music\\Song B.mp3)"}));
}

void MenusTest::saveAfterStartHasOneMoreEntry()
{
    TestWindow fresh;
    fresh.writeAutomaticList(m3u({{"A", "/m/a.mp3"}, {"B", "/m/b.mp3"}}));
    fresh.form->Form_Load();
    fresh.form->munSave_Click();
    const QByteArray saved = fresh.readFile(QStringLiteral("mp3.m3u"));
    QCOMPARE(saved.count("#EXTINF:235,"), 3);
    QVERIFY(saved.endsWith("#EXTINF:235,Song--Singer.mp3          \r\n/m/a.mp3\r\n"));
}

void MenusTest::saveFailureKeepsOldFile()
{
    // The target is a directory, then a folder that does not exist.
    QSignalSpy problems(w->form.get(), &Form1::problemReported);
    QDir(w->folder.path()).mkdir(QStringLiteral("dir.m3u"));
    QVERIFY(!w->saveAs(w->path("dir.m3u")));
    QVERIFY(QFileInfo(w->path("dir.m3u")).isDir());
    w->form->vars().FilePath = w->path("missing/list.m3u");
    w->form->munSave_Click();
    QCOMPARE(problems.count(), 2);
    QVERIFY(!QFile::exists(w->path("missing")));
}

void MenusTest::saveOntoFullOrReadOnlyDisk()
{
    ScratchMount disk;
    if (!disk.valid())
        QSKIP("mounting a scratch tmpfs needs root");
    const QByteArray old = m3u({{"Old", "/m/old.mp3"}});
    {
        QFile file(disk.filePath("list.m3u"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    // A list far larger than the 64 KiB disk.
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << QStringLiteral("/music/a rather long folder name/track number %1.mp3").arg(i);
    w->setEntries(many);
    QSignalSpy problems(w->form.get(), &Form1::problemReported);
    w->form->vars().FilePath = disk.filePath("list.m3u");
    w->form->munSave_Click();
    QCOMPARE(problems.count(), 1);
    auto contents = [&] {
        QFile file(disk.filePath("list.m3u"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    QCOMPARE(contents(), old);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.m3u"});

    w->setEntries({"/m/small.mp3"});
    QVERIFY(disk.makeReadOnly());
    w->form->munSave_Click();
    QCOMPARE(problems.count(), 2);
    QCOMPARE(contents(), old);
    // The toolbar's save fails without a word and leaves the file too.
    w->form->Toolbar1_ButtonClick(2);
    QCOMPARE(problems.count(), 2);
    QCOMPARE(contents(), old);
}

void MenusTest::aboutBox()
{
    frmAbout about(w->form.get());
    QCOMPARE(about.windowTitle(), QStringLiteral("关于"));
    QCOMPARE(about.size(), QSize(248, 127));
    QCOMPARE(about.lblTitle->text(), QStringLiteral("Velmora2004版"));
    QCOMPARE(about.lblVersion->text(), QStringLiteral("版本：1.0"));
    QVERIFY(about.lblDescription->text().startsWith(QStringLiteral("作者：")));
    QVERIFY(about.Label1->text().startsWith(QStringLiteral("主页：")));
    QCOMPARE(about.cmdOK->text(), QStringLiteral("确定"));
    QVERIFY(about.cmdOK->isDefault());
    QCOMPARE(about.cmdOK->geometry(), QRect(88, 88, 68, 23));
    QCOMPARE(about.lblTitle->pos(), QPoint(62, 8));
    QCOMPARE(about.picIcon->geometry(), QRect(16, 16, 32, 32));
    QVERIFY(!about.picIcon->pixmap().isNull());
    QCOMPARE(about.parentWidget(), w->form.get());
}

void MenusTest::aboutBoxCloses_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Esc") << int(Qt::Key_Escape);
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("click") << 0;
}

void MenusTest::aboutBoxCloses()
{
    QFETCH(int, key);
    // Playback reports keep arriving while the box is open.
    w->form->Slider1->setMaximum(9000);
    bool closedByUser = false;
    QTimer::singleShot(100, [&] {
        auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
        QVERIFY(about);
        QCOMPARE(QApplication::focusWidget(), about->cmdOK);
        w->engine->reportPosition(4500);
        if (key)
            QTest::keyClick(about, Qt::Key(key));
        else
            QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        closedByUser = true;
    });
    QTimer::singleShot(3000, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    w->form->munAbout->trigger();
    QVERIFY(closedByUser);
    QCOMPARE(w->form->Slider1->value(), 4500);
    QCOMPARE(w->form->StatusPanel3->text(), QStringLiteral("帧数: 4500/9000"));
}

QTEST_MAIN(MenusTest)
#include "tst_menus.moc"

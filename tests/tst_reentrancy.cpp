// Handlers that run while another handler's scan yields: an entry deleted, the list
// cleared, another list opened, the track ending, the list saved. Each is run at the
// first, a middle and the last yield point of every handler that scans. Nothing may
// crash or read freed memory (the sanitizer build runs this too), and what the window
// ends up with is made of whole entries and paths, never of pieces.
#include "testwindow.h"

#include "entry.h"
#include "m3u.h"

#include <QListView>
#include <QtTest>

#include <functional>

using namespace velmora;
using namespace velmora::test;

namespace {

const QStringList kListA{
    QStringLiteral("/music/甲/the first track of the automatic list.mp3"),
    QStringLiteral("/music/甲/the second track of the automatic list.mp3"),
    QStringLiteral("/music/甲/the third track of the automatic list.mp3"),
};
const QStringList kListB{
    QStringLiteral("/music/乙/one of the list opened in between.mp3"),
    QStringLiteral("/music/乙/two of the list opened in between.mp3"),
};
const QStringList kListC{
    QStringLiteral("/music/丙/first of the list the toolbar opens.mp3"),
    QStringLiteral("/music/丙/second of the list the toolbar opens.mp3"),
};
const QString kAddedTrack = QStringLiteral("/music/丁/a track added from the menu.mp3");
const QString kOpenedTrack = QStringLiteral("/music/戊/a track opened from the toolbar.mp3");

enum class Handler {
    StartUp,
    OpenListMenu,
    PlayMenu,
    DoubleClick,
    TrackEnds,
    AddMenu,
    SaveMenu,
    SaveAsMenu,
    ToolbarOpenTrack,
    ToolbarOpenList,
    ToolbarSave,
};

enum class Interference { EntryDeleted, ListCleared, ListOpened, TrackEnded, ListSaved };

enum class Moment { First, Middle, Last };

QByteArray listBytes(const QStringList &paths)
{
    QList<QPair<QString, QString>> titled;
    for (const QString &path : paths)
        titled.append({QFileInfo(path).completeBaseName(), path});
    return m3u(titled);
}

// A window as the user has it before the handler runs: the automatic list loaded and
// playing (except for start-up itself), the second entry selected.
void prepare(TestWindow &w, Handler handler)
{
    w.writeAutomaticList(listBytes(kListA));
    w.writeFile(QStringLiteral("乙.m3u"), listBytes(kListB));
    w.writeFile(QStringLiteral("丙.m3u"), listBytes(kListC));
    w.writeFile(QStringLiteral("empty.m3u"), QByteArray("#EXTM3U\r\n"));
    if (handler == Handler::StartUp)
        return;
    w.form->Form_Load();
    w.form->player().selectEntry(1);
    w.engine->calls.clear();
}

void runHandler(TestWindow &w, Handler handler)
{
    Form1 &form = *w.form;
    switch (handler) {
    case Handler::StartUp:
        form.Form_Load();
        break;
    case Handler::OpenListMenu:
        w.dialog->answers << w.path(QStringLiteral("丙.m3u"));
        form.munOpenList_Click();
        break;
    case Handler::PlayMenu:
        form.playback().runPlay_Click();
        break;
    case Handler::DoubleClick:
        form.playback().List1_DblClick();
        break;
    case Handler::TrackEnds:
        w.engine->endTrack();
        break;
    case Handler::AddMenu:
        w.dialog->answers << kAddedTrack;
        form.runAdd_Click();
        break;
    case Handler::SaveMenu:
        form.munSave_Click();
        break;
    case Handler::SaveAsMenu:
        w.dialog->answers << w.path(QStringLiteral("saved as.m3u"));
        form.munSaveAs_Click();
        break;
    case Handler::ToolbarOpenTrack:
        w.dialog->answers << kOpenedTrack;
        form.Toolbar1_ButtonClick(1);
        break;
    case Handler::ToolbarOpenList:
        w.dialog->answers << w.path(QStringLiteral("丙.m3u"));
        form.Toolbar1_ButtonClick(1);
        break;
    case Handler::ToolbarSave:
        form.Toolbar1_ButtonClick(2);
        break;
    }
}

void interfere(TestWindow &w, Interference interference)
{
    Form1 &form = *w.form;
    switch (interference) {
    case Interference::EntryDeleted:
        form.player().selectEntry(0);
        form.runDel_Click();
        break;
    case Interference::ListCleared:
        w.dialog->answers << w.path(QStringLiteral("empty.m3u"));
        form.munOpenList_Click();
        break;
    case Interference::ListOpened:
        w.dialog->answers << w.path(QStringLiteral("乙.m3u"));
        form.munOpenList_Click();
        break;
    case Interference::TrackEnded:
        w.engine->endTrack();
        break;
    case Interference::ListSaved:
        form.munSave_Click();
        break;
    }
}

// Counts the yield points a handler passes, or runs `atTrigger` at the given one and
// reports to the scan that events ran.
class YieldHook
{
public:
    explicit YieldHook(int trigger = 0, std::function<void()> atTrigger = {})
        : m_trigger(trigger), m_atTrigger(std::move(atTrigger))
    {
        setScanYieldHook([this] {
            ++m_calls;
            if (m_fired || m_calls != m_trigger || !m_atTrigger)
                return false;
            m_fired = true; // the handlers run from here yield without interference
            m_atTrigger();
            return true;
        });
    }
    ~YieldHook() { setScanYieldHook({}); }
    YieldHook(const YieldHook &) = delete;
    YieldHook &operator=(const YieldHook &) = delete;

    int calls() const { return m_calls; }
    bool fired() const { return m_fired; }

private:
    int m_calls = 0;
    int m_trigger;
    bool m_fired = false;
    std::function<void()> m_atTrigger;
};

QStringList knownPaths()
{
    return kListA + kListB + kListC + QStringList{kAddedTrack, kOpenedTrack};
}

// The path of an entry as the scans see it: between the last "(" and the last character.
QString pathOfEntry(const QString &entry)
{
    const qsizetype bracket = entry.lastIndexOf(QLatin1Char('('));
    return bracket < 0 ? QString() : entry.mid(bracket + 1, entry.size() - bracket - 2);
}

} // namespace

class ReentrancyTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setScanYieldHook({}); }
    void handlerInterruptedAtYield_data();
    void handlerInterruptedAtYield();
    void saveStaysWithItsFile_data();
    void saveStaysWithItsFile();
};

void ReentrancyTest::handlerInterruptedAtYield_data()
{
    QTest::addColumn<int>("handler");
    QTest::addColumn<int>("interference");
    QTest::addColumn<int>("moment");

    const QList<QPair<const char *, Handler>> handlers{
        {"start-up", Handler::StartUp},
        {"open list menu", Handler::OpenListMenu},
        {"play menu", Handler::PlayMenu},
        {"double-click", Handler::DoubleClick},
        {"track end", Handler::TrackEnds},
        {"add menu", Handler::AddMenu},
        {"save menu", Handler::SaveMenu},
        {"save-as menu", Handler::SaveAsMenu},
        {"toolbar open track", Handler::ToolbarOpenTrack},
        {"toolbar open list", Handler::ToolbarOpenList},
        {"toolbar save", Handler::ToolbarSave},
    };
    const QList<QPair<const char *, Interference>> interferences{
        {"entry deleted", Interference::EntryDeleted},
        {"list cleared", Interference::ListCleared},
        {"list opened", Interference::ListOpened},
        {"track ended", Interference::TrackEnded},
        {"list saved", Interference::ListSaved},
    };
    const QList<QPair<const char *, Moment>> moments{
        {"first yield", Moment::First},
        {"middle yield", Moment::Middle},
        {"last yield", Moment::Last},
    };
    for (const auto &[handlerName, handler] : handlers) {
        for (const auto &[interferenceName, interference] : interferences) {
            for (const auto &[momentName, moment] : moments) {
                QTest::addRow("%s, %s at %s", handlerName, interferenceName, momentName)
                    << int(handler) << int(interference) << int(moment);
            }
        }
    }
}

void ReentrancyTest::handlerInterruptedAtYield()
{
    QFETCH(int, handler);
    QFETCH(int, interference);
    QFETCH(int, moment);

    // How many yield points the handler passes when nothing interferes.
    int yields = 0;
    {
        TestWindow dry;
        prepare(dry, Handler(handler));
        YieldHook counter;
        runHandler(dry, Handler(handler));
        yields = counter.calls();
    }
    QVERIFY2(yields > 0, "the handler does not scan");
    const int trigger = Moment(moment) == Moment::First ? 1 : Moment(moment) == Moment::Middle ? (yields + 1) / 2 : yields;

    TestWindow w;
    prepare(w, Handler(handler));
    {
        YieldHook hook(trigger, [&] { interfere(w, Interference(interference)); });
        runHandler(w, Handler(handler));
        QVERIFY(hook.fired());
    }
    // Whatever ran last, the window holds only whole entries of known tracks...
    const QStringList known = knownPaths();
    for (const QString &entry : w.entries())
        QVERIFY2(known.contains(pathOfEntry(entry)), qPrintable(entry));
    QVERIFY(w.selectedRow() < w.form->player().list().count());
    // ...plays a whole known path or none...
    const QString playing = w.form->vars().MP3File;
    QVERIFY2(playing.isEmpty() || known.contains(playing), qPrintable(playing));
    const QString caption = w.form->windowTitle();
    QVERIFY2(caption == QLatin1String("Velmora") || known.contains(caption.mid(9)), qPrintable(caption));
    for (const QString &call : w.engine->calls) {
        if (call.startsWith(QLatin1String("OpenFile(")))
            QVERIFY2(known.contains(call.mid(9, call.size() - 11)), qPrintable(call));
    }
    // ...and every list it wrote reads back as whole entries of known tracks.
    const QStringList lists = QDir(w.folder.path()).entryList({QStringLiteral("*.m3u")}, QDir::Files);
    for (const QString &name : lists) {
        const ReadResult read = readPlaylistFile(w.path(name));
        QVERIFY2(read.ok, qPrintable(name));
        for (const QString &entry : texts(read.entries))
            QVERIFY2(known.contains(pathOfEntry(entry)), qPrintable(name + QStringLiteral(": ") + entry));
    }
}

void ReentrancyTest::saveStaysWithItsFile_data()
{
    QTest::addColumn<int>("handler");
    QTest::addColumn<int>("moment");
    for (const auto &[name, handler] : {std::pair{"save menu", Handler::SaveMenu}, std::pair{"toolbar save", Handler::ToolbarSave}}) {
        QTest::addRow("%s, list opened at first yield", name) << int(handler) << int(Moment::First);
        QTest::addRow("%s, list opened at middle yield", name) << int(handler) << int(Moment::Middle);
        QTest::addRow("%s, list opened at last yield", name) << int(handler) << int(Moment::Last);
    }
}

// A save writes the file of the list it was asked to save. A list opened while the
// save is under way is the user's other file, and stays as it was.
void ReentrancyTest::saveStaysWithItsFile()
{
    QFETCH(int, handler);
    QFETCH(int, moment);
    int yields = 0;
    {
        TestWindow dry;
        prepare(dry, Handler(handler));
        YieldHook counter;
        runHandler(dry, Handler(handler));
        yields = counter.calls();
    }
    const int trigger = Moment(moment) == Moment::First ? 1 : Moment(moment) == Moment::Middle ? (yields + 1) / 2 : yields;

    TestWindow w;
    prepare(w, Handler(handler));
    const QByteArray otherList = w.readFile(QStringLiteral("乙.m3u"));
    {
        YieldHook hook(trigger, [&] { interfere(w, Interference::ListOpened); });
        runHandler(w, Handler(handler));
        QVERIFY(hook.fired());
    }
    // The list opened meanwhile opens once the save is done.
    QTRY_VERIFY(w.form->player().isIdle());
    QCOMPARE(w.form->vars().FilePath, w.path(QStringLiteral("乙.m3u")));
    QCOMPARE(w.readFile(QStringLiteral("乙.m3u")), otherList);
    const ReadResult saved = readPlaylistFile(w.path(QStringLiteral("mp3.m3u")));
    QVERIFY(saved.ok);
    QVERIFY(!saved.entries.isEmpty());
}

QTEST_MAIN(ReentrancyTest)
#include "tst_reentrancy.moc"

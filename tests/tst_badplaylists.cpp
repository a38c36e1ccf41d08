// Odd, damaged and unreadable playlists through every way a list gets into the
// window: start-up, 打开列表, loading onto the list, and the toolbar's 打开.
#include "testwindow.h"

#include <QElapsedTimer>
#include <QListView>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

enum class Route { StartUp, OpenListMenu, ToolbarOpen };

const char *routeName(Route route)
{
    switch (route) {
    case Route::StartUp: return "start-up";
    case Route::OpenListMenu: return "open list menu";
    case Route::ToolbarOpen: return "toolbar open";
    }
    return "";
}

const Route kRoutes[] = {Route::StartUp, Route::OpenListMenu, Route::ToolbarOpen};

// Stands for the list's own path in list bytes and expected entries.
const QByteArray kSelf = "@SELF@";
const QString kSelfText = QStringLiteral("@SELF@");

// Anything that takes this long is stuck, not slow.
constexpr qint64 kHangMs = 10000;

// The window must keep turning while it shows whatever a list holds.
constexpr qint64 kLongestRepaintMs = 300;

// Bytes of a literal, NULs included.
template<std::size_t N>
QByteArray bytesOf(const char (&literal)[N])
{
    return QByteArray(literal, qsizetype(N - 1));
}

// Puts the window into its state before the list under test arrives: for start-up a
// fresh window, otherwise one that started on a list of two old entries.
void prepare(TestWindow &w, Route route)
{
    if (route == Route::StartUp)
        return;
    w.writeAutomaticList(m3u({{"Old", "/old/one.mp3"}, {"Old", "/old/two.mp3"}}));
    w.form->Form_Load();
    w.engine->calls.clear();
}

// Brings the list at path into the window the way the route does.
void bringIn(TestWindow &w, Route route, const QString &path)
{
    switch (route) {
    case Route::StartUp:
        w.form->Form_Load();
        break;
    case Route::OpenListMenu:
        w.dialog->answers << path;
        w.form->munOpenList_Click();
        break;
    case Route::ToolbarOpen:
        w.dialog->answers << path;
        w.form->Toolbar1_ButtonClick(1);
        break;
    }
    // A big list is read on a thread; the command ends once it is in the list.
    QTRY_VERIFY(w.form->player().isIdle());
}

QString listPathFor(const TestWindow &w, Route route)
{
    return route == Route::StartUp ? w.path(QStringLiteral("mp3.m3u")) : w.path(QStringLiteral("其他 list.m3u"));
}

QByteArray manyEntries(int count, QStringList &entries)
{
    QByteArray bytes("#EXTM3U\r\n");
    bytes.reserve(count * 48);
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        bytes += "#EXTINF:235,Song " + n + "\r\n/music/album/track " + n + ".mp3\r\n";
        entries << QStringLiteral("Song %1     (/music/album/track %1.mp3)").arg(i);
    }
    return bytes;
}

QStringList openedPaths(const FakeEngine &engine)
{
    QStringList paths;
    for (const QString &call : engine.calls) {
        if (call.startsWith(QLatin1String("OpenFile(")))
            paths << call.mid(9, call.size() - 11);
    }
    return paths;
}

} // namespace

class BadPlaylistsTest : public QObject
{
    Q_OBJECT
private slots:
    void readableList_data();
    void readableList();
    void unreadableListChangesNothing_data();
    void unreadableListChangesNothing();
};

void BadPlaylistsTest::readableList_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<QByteArray>("bytes");
    // The entries the list gives; the first one's path is what a start plays.
    QTest::addColumn<QStringList>("entries");

    struct Kind
    {
        const char *name;
        QByteArray bytes;
        QStringList entries;
        // Huge lists take two routes only: one that starts a track, one that does not.
        bool huge = false;
    };
    QList<Kind> kinds;

    QStringList many;
    const QByteArray manyBytes = manyEntries(100000, many);
    kinds.append({"100000 entries", manyBytes, many, true});

    const QString longPath = QStringLiteral("/") + QString(1024 * 1024, QLatin1Char('p')) + QStringLiteral(".mp3");
    kinds.append({"1 MB path line", "#EXTINF:235,T\r\n" + longPath.toLatin1() + "\r\n/b.mp3\r\n",
                  {QStringLiteral("T     (") + longPath + QLatin1Char(')'), QStringLiteral("T     (/b.mp3)")}, true});
    const QString longTitle(1024 * 1024, QLatin1Char('t'));
    kinds.append({"1 MB title line", "#EXTINF:235," + longTitle.toLatin1() + "\r\n/a.mp3\r\n/b.mp3\r\n",
                  {longTitle + QStringLiteral("     (/a.mp3)"), longTitle + QStringLiteral("     (/b.mp3)")}, true});
    const QByteArray noBreaks(1024 * 1024, 'x');
    kinds.append({"1 MB without a line end", "#EXTM3U\r\n/a.mp3\r\n/b.mp3\r\n" + noBreaks,
                  {QStringLiteral("     (/a.mp3)"), QStringLiteral("     (/b.mp3)")}, true});

    kinds.append({"NUL bytes",
                  bytesOf("#EXTINF:235,a\0b\r\n/x\0y.mp3\r\n\0/skipped.mp3\r\n/z.mp3\r\n"),
                  {QStringLiteral("a") + QChar(0) + QStringLiteral("b     (/x") + QChar(0) + QStringLiteral("y.mp3)"),
                   QStringLiteral("a") + QChar(0) + QStringLiteral("b     (/z.mp3)")}});
    // Not UTF-8, so GB18030.
    kinds.append({"GBK bytes", "#EXTINF:235,\xd6\xd0\xce\xc4\r\n/\xd2\xf4\xc0\xd6/\xb8\xe8\xc7\xfa.mp3\r\n/b.mp3\r\n",
                  {QStringLiteral("中文     (/音乐/歌曲.mp3)"), QStringLiteral("中文     (/b.mp3)")}});
    // An overlong "/" is no separator: read as GB18030 it is a character of its own.
    kinds.append({"overlong UTF-8", "/x\xc0\xaf.mp3\r\n/b.mp3\r\n",
                  {QStringLiteral("     (/x蜡.mp3)"), QStringLiteral("     (/b.mp3)")}});
    kinds.append({"UTF-8 encoded surrogate", "/\xed\xa0\x80.mp3\r\n/b.mp3\r\n",
                  {QStringLiteral("     (/頎\uFFFD.mp3)"), QStringLiteral("     (/b.mp3)")}});
    kinds.append({"invalid GB18030", "#EXTINF:235,\xd6\xd0\x80\r\n/a\xff" "b.mp3\r\n/\xce\xc4",
                  {QStringLiteral("中\uFFFD     (/a\uFFFDb.mp3)"), QStringLiteral("中\uFFFD     (/文)")}});
    kinds.append({"BOM, then invalid UTF-8", "\xef\xbb\xbf/a\xc0\xaf.mp3\r\n/b.mp3\r\n",
                  {QStringLiteral("     (/a\uFFFD\uFFFD.mp3)"), QStringLiteral("     (/b.mp3)")}});
    kinds.append({"lone CR line ends", "#EXTM3U\r#EXTINF:235,A\r/a.mp3\r#EXTINF:235,B\r/b.mp3\r",
                  {QStringLiteral("A     (/a.mp3)"), QStringLiteral("B     (/b.mp3)")}});
    kinds.append({"LF line ends only", "#EXTM3U\n#EXTINF:235,A\n/a.mp3\n/b.mp3\n", {}});
    kinds.append({"LF line ends, path first", "/a.mp3\n/b.mp3\n", {QStringLiteral("     (/a.mp3\n/b.mp3\n)")}});
    kinds.append({"only #EXTINF:235, is a title",
                  "#EXTINF:235,A\r\n#EXTINF:100,B\r\n/a.mp3\r\n#EXTINF: 235,C\r\n#extinf:235,D\r\n/b.mp3\r\n",
                  {QStringLiteral("A     (/a.mp3)"), QStringLiteral("A     (/b.mp3)")}});
    kinds.append({"only A-Z and / start a path",
                  "a:/x.mp3\r\n ./x.mp3\r\n./x.mp3\r\n1.mp3\r\n\\\\server\\x.mp3\r\nZ:\\z.mp3\r\n/a.mp3\r\n",
                  {QStringLiteral("     (Z:\\z.mp3)"), QStringLiteral("     (/a.mp3)")}});
    kinds.append({"names itself", "#EXTM3U\r\n#EXTINF:235,me\r\n" + kSelf + "\r\n#EXTINF:235,me again\r\n" + kSelf + "\r\n",
                  {QStringLiteral("me     (@SELF@)"), QStringLiteral("me again     (@SELF@)")}});

    for (const Kind &kind : kinds) {
        for (Route route : kRoutes) {
            if (kind.huge && route != Route::StartUp)
                continue;
            QTest::addRow("%s, %s", kind.name, routeName(route)) << int(route) << kind.bytes << kind.entries;
        }
    }
}

void BadPlaylistsTest::readableList()
{
    QFETCH(int, route);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);

    TestWindow w;
    prepare(w, Route(route));
    const QString listPath = listPathFor(w, Route(route));
    bytes.replace(kSelf, listPath.toUtf8());
    entries.replaceInStrings(kSelfText, listPath);
    {
        QFile file(listPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    const QStringList before = w.entries();
    QSignalSpy problems(w.form.get(), &Form1::problemReported);

    QElapsedTimer clock;
    clock.start();
    bringIn(w, Route(route), listPath);
    const qint64 loadMs = clock.restart();
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get(), int(kHangMs)));
    const qint64 showMs = clock.restart();
    // Any scroll, hover or track change repaints the list.
    w.form->List1->viewport()->repaint();
    const qint64 repaintMs = clock.elapsed();
    if (entries.size() > 1000 || bytes.size() > 1000000)
        qInfo("%lld entries: in the list after %lld ms, shown after %lld ms more, repainted in %lld ms",
              static_cast<long long>(entries.size()), static_cast<long long>(loadMs), static_cast<long long>(showMs),
              static_cast<long long>(repaintMs));
    QVERIFY2(loadMs < kHangMs, "loading the list hangs");
    QVERIFY2(repaintMs <= kLongestRepaintMs, "every repaint of the list blocks the window");

    QCOMPARE(problems.count(), 0);
    QCOMPARE(w.form->vars().FilePath, listPath);
    const QStringList shown = w.entries();
    QCOMPARE(shown.mid(0, entries.size()), entries);

    // Every route starts entry 0 of a list longer than one entry, and adds the
    // started track to the end.
    const bool starts = entries.size() > 1;
    QCOMPARE(shown.size(), entries.size() + (starts ? 1 : 0));
    if (starts) {
        const QString first = entries.first();
        const QString firstPath = first.mid(first.lastIndexOf(QLatin1Char('(')) + 1).chopped(1);
        QCOMPARE(openedPaths(*w.engine), QStringList{firstPath});
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Velmora--") + firstPath);
        QCOMPARE(w.selectedRow(), 0);
    } else {
        QCOMPARE(openedPaths(*w.engine), QStringList());
    }
}

void BadPlaylistsTest::unreadableListChangesNothing_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    const QList<QPair<QString, QString>> kinds{
        {QStringLiteral("directory"), QStringLiteral("这是一个文件夹")},
        {QStringLiteral("missing"), QStringLiteral("文件不存在")},
        {QStringLiteral("missing folder"), QStringLiteral("文件不存在")},
        {QStringLiteral("fifo"), QStringLiteral("不是普通文件")},
        {QStringLiteral("device"), QStringLiteral("不是普通文件")},
        {QStringLiteral("dangling link"), QStringLiteral("文件不存在")},
        {QStringLiteral("too large"), QStringLiteral("文件太大")},
        {QStringLiteral("no read permission"), QStringLiteral("无法读取（没有权限）")},
    };
    for (const auto &[kind, reason] : kinds) {
        for (Route route : kRoutes) {
            QTest::addRow("%s, %s", qPrintable(kind), routeName(route)) << int(route) << kind << reason;
        }
    }
}

void BadPlaylistsTest::unreadableListChangesNothing()
{
    QFETCH(int, route);
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    if (kind == QLatin1String("no read permission") && ::geteuid() == 0)
        QSKIP("root reads every file");

    TestWindow w;
    prepare(w, Route(route));
    QString listPath = listPathFor(w, Route(route));
    const QByteArray native = QFile::encodeName(listPath);
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(listPath));
    } else if (kind == QLatin1String("missing folder")) {
        if (Route(route) == Route::StartUp)
            QSKIP("the automatic list always lies in the program folder");
        listPath = w.path(QStringLiteral("gone/list.m3u"));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(native.constData(), 0644), 0);
    } else if (kind == QLatin1String("device")) {
        QCOMPARE(::symlink("/dev/zero", native.constData()), 0);
    } else if (kind == QLatin1String("dangling link")) {
        QCOMPARE(::symlink("/nowhere/at/all.m3u", native.constData()), 0);
    } else if (kind == QLatin1String("too large")) {
        // Sparse: large on paper, no room on disk.
        QFile file(listPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(300) * 1024 * 1024));
    } else if (kind == QLatin1String("no read permission")) {
        w.writeFile(QFileInfo(listPath).fileName(), m3u({{"X", "/x.mp3"}, {"Y", "/y.mp3"}}));
        QCOMPARE(::chmod(native.constData(), 0), 0);
    }

    const QStringList entriesBefore = w.entries();
    const QString filePathBefore = w.form->vars().FilePath.isEmpty() && Route(route) == Route::StartUp
                                       ? w.path(QStringLiteral("mp3.m3u"))
                                       : w.form->vars().FilePath;
    const QString captionBefore = w.form->windowTitle();
    QSignalSpy problems(w.form.get(), &Form1::problemReported);

    QElapsedTimer clock;
    clock.start();
    bringIn(w, Route(route), listPath);
    QVERIFY2(clock.elapsed() < kHangMs, "an unreadable list hangs the window");

    QCOMPARE(w.entries(), entriesBefore);
    QCOMPARE(w.form->vars().FilePath, filePathBefore);
    QCOMPARE(w.form->windowTitle(), captionBefore);
    QCOMPARE(w.engine->calls, QStringList());

    // The toolbar says nothing; a missing automatic list is simply no list yet.
    const bool silent = Route(route) == Route::ToolbarOpen
                        || (Route(route) == Route::StartUp && !QFileInfo::exists(listPath));
    if (silent) {
        QCOMPARE(problems.count(), 0);
    } else {
        QCOMPARE(problems.count(), 1);
        QCOMPARE(problems.first().first().toString(), QStringLiteral("无法打开播放列表：") + reason);
    }
}

QTEST_MAIN(BadPlaylistsTest)
#include "tst_badplaylists.moc"

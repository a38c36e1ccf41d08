#include "entry.h"

#include <QElapsedTimer>
#include "playlistmodel.h"
#include "testwindow.h"
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace velmora;
using namespace Qt::StringLiterals;

namespace {

// A missing result is written as this marker in the data tables.
const QString kNone = QStringLiteral("<none>");

QString orNone(const std::optional<QString> &value)
{
    return value ? *value : kNone;
}

// Installs a yield hook for one test and always removes it again.
struct ScopedYieldHook
{
    explicit ScopedYieldHook(std::function<bool()> hook) { setScanYieldHook(std::move(hook)); }
    ~ScopedYieldHook() { setScanYieldHook({}); }
};

} // namespace

class EntryTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setScanYieldHook({}); }

    void entryForms()
    {
        QCOMPARE(listFormEntry(u"Title"_s, u"C:\\a.mp3"_s), u"Title     (C:\\a.mp3)"_s);
        QCOMPARE(fileFormEntry(u"Song"_s, u"/m/Song.mp3"_s), u"Song.mp3          (/m/Song.mp3)"_s);
        QCOMPARE(listFormEntry(QString(), QString()), u"     ()"_s);
    }

    void entryPath_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");

        QTest::newRow("list form") << u"Title     (C:\\Music\\a.mp3)"_s << u"C:\\Music\\a.mp3"_s << u"Title     "_s;
        QTest::newRow("file form") << u"Song.mp3          (/home/u/Song.mp3)"_s << u"/home/u/Song.mp3"_s
                                   << u"Song.mp3          "_s;
        QTest::newRow("brackets in title") << u"My (Best) Song     (C:\\x.mp3)"_s << u"C:\\x.mp3"_s
                                           << u"My (Best) Song     "_s;
        QTest::newRow("bracket in path") << u"Song (Live).mp3          (C:\\Music\\Song (Live).mp3)"_s
                                         << u"Live).mp3"_s
                                         << u"Song (Live).mp3          (C:\\Music\\Song "_s;
        QTest::newRow("empty brackets") << u"()"_s << QString() << QString();
        QTest::newRow("text then ()") << u"abc()"_s << QString() << u"abc"_s;
        QTest::newRow("bracket second to last") << u"ab(x"_s << QString() << u"ab"_s;
        QTest::newRow("bracket last") << u"abc("_s << QString() << u"abc"_s;
        QTest::newRow("bracket alone") << u"("_s << QString() << QString();
        QTest::newRow("last character dropped whatever it is") << u"a (bcd"_s << u"bc"_s << u"a "_s;
        QTest::newRow("closing bracket inside") << u"a (b) c"_s << u"b) "_s << u"a "_s;
        QTest::newRow("chinese") << u"歌曲     (/音乐/歌.mp3)"_s << u"/音乐/歌.mp3"_s << u"歌曲     "_s;
        QTest::newRow("no bracket") << u"plain text)"_s << kNone << kNone;
        QTest::newRow("empty") << QString() << kNone << kNone;
    }

    void entryPath()
    {
        QFETCH(QString, text);
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(orNone(EntryPath(fixedText(text))), path);
        const auto parts = SplitEntry(fixedText(text));
        QCOMPARE(parts ? parts->name : kNone, name);
        QCOMPARE(parts ? parts->path : kNone, path);
    }

    void trackBaseName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("base");

        QTest::newRow("windows") << u"C:\\Music\\Song.MP3"_s << u"Song"_s;
        QTest::newRow("unix") << u"/home/u/Music/Song.mp3"_s << u"Song"_s;
        QTest::newRow("last four dropped, dot or not") << u"C:\\x\\abcmp3"_s << u"ab"_s;
        QTest::newRow("name of four") << u"C:\\mp3x"_s << QString();
        QTest::newRow("name of three") << u"C:\\mp3"_s << QString();
        QTest::newRow("extension only") << u"/a/.mp3"_s << QString();
        QTest::newRow("one character") << u"C:\\a.mp3"_s << u"a"_s;
        QTest::newRow("mixed separators") << u"C:\\dir/sub\\x.mp3"_s << u"x"_s;
        QTest::newRow("slash after backslash") << u"C:\\dir\\sub/x.mp3"_s << u"x"_s;
        QTest::newRow("ends in separator") << u"/a/b/"_s << QString();
        QTest::newRow("no separator") << u"Song.mp3"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("brackets and dots") << u"/m/A (Live) v1.2.mp3"_s << u"A (Live) v1.2"_s;
        QTest::newRow("chinese") << u"/音乐/中文歌.mp3"_s << u"中文歌"_s;
    }

    void trackBaseName()
    {
        QFETCH(QString, path);
        QFETCH(QString, base);
        QCOMPARE(TrackBaseName(fixedText(path)), base);
    }

    void listEntryTextFollowsTheList()
    {
        auto list = std::make_unique<PlaylistModel>();
        list->append(test::entryTexts({u"a"_s, u"b"_s}));
        const TextReader second = listEntryText(list.get(), 1);
        QCOMPARE(second(), u"b"_s);
        { list->removeAt(1); list->insert(1, test::entryTexts({u"c"_s})); }
        QCOMPARE(second(), u"c"_s);
        list->removeAt(0);
        QCOMPARE(second(), QString());
        QCOMPARE(listEntryText(list.get(), -1)(), QString());
        QCOMPARE(listEntryText(nullptr, 0)(), QString());
        const TextReader first = listEntryText(list.get(), 0);
        list.reset();
        QCOMPARE(first(), QString());
    }

    // Every character that is not the sought one is followed by exactly one yield point.
    void yieldsOncePerSkippedCharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pathYields");
        QTest::addColumn<int>("baseNameYields");

        QTest::newRow("entry") << u"T     (/a/b.mp3)"_s << 9 << 6;
        QTest::newRow("bracket last") << u"abc("_s << 0 << 4;
        QTest::newRow("nothing found") << u"abcdef"_s << 6 << 6;
        QTest::newRow("empty") << QString() << 0 << 0;
    }

    void yieldsOncePerSkippedCharacter()
    {
        QFETCH(QString, text);
        QFETCH(int, pathYields);
        QFETCH(int, baseNameYields);
        int yields = 0;
        const ScopedYieldHook hook([&yields] {
            ++yields;
            return false;
        });
        EntryPath(fixedText(text));
        QCOMPARE(yields, pathYields);
        yields = 0;
        TrackBaseName(fixedText(text));
        QCOMPARE(yields, baseNameYields);
    }

    // Handlers that run while a scan yields may change, remove or clear the entry, or
    // destroy the whole list; the scan must then go on with what the list now holds.
    void listChangesWhileScanning_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("atYield");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("baseName");

        // The scanned entry is row 1: "Old     (/old/a.mp3)". Taken as a path, an entry's
        // closing bracket is the fourth of the last four characters, hence "a.".
        QTest::newRow("unchanged") << u"none"_s << 1 << u"/old/a.mp3"_s << u"a."_s;
        QTest::newRow("text replaced") << u"change"_s << 1 << u"/new/path.mp3"_s << u"path."_s;
        QTest::newRow("replaced late") << u"change"_s << 6 << u"/new/path.mp3"_s << u"path."_s;
        QTest::newRow("replaced, bracket beyond bound") << u"lengthen"_s << 1 << kNone << QString();
        QTest::newRow("entry removed, next moves up") << u"remove"_s << 1 << u"/c/next.mp3"_s << u"next."_s;
        QTest::newRow("last entries removed") << u"removeTail"_s << 2 << kNone << QString();
        QTest::newRow("list cleared") << u"clear"_s << 3 << kNone << QString();
        QTest::newRow("list destroyed") << u"destroy"_s << 1 << kNone << QString();
    }

    void listChangesWhileScanning()
    {
        QFETCH(QString, action);
        QFETCH(int, atYield);
        QFETCH(QString, path);
        QFETCH(QString, baseName);

        for (const bool scanBaseName : {false, true}) {
            auto *list = new PlaylistModel; // deleted below, unless the hook destroys it
            const QPointer<PlaylistModel> guard(list);
            const auto deleteList = qScopeGuard([&guard] { delete guard.data(); });
            list->append(test::entryTexts({u"First     (/a/first.mp3)"_s, u"Old     (/old/a.mp3)"_s,
                            u"Next     (/c/next.mp3)"_s}));
            const QString original = list->text(1);

            int yields = 0;
            const ScopedYieldHook hook([&] {
                if (++yields != atYield || !guard)
                    return false;
                if (action == u"change")
                    { list->removeAt(1); list->insert(1, test::entryTexts({u"B (/new/path.mp3)"_s})); }
                else if (action == u"lengthen")
                    { list->removeAt(1); list->insert(1, test::entryTexts({QString(original.size() + 2, u'x') + u"(/z/zz.mp3)"_s})); }
                else if (action == u"remove")
                    list->removeAt(1);
                else if (action == u"removeTail")
                    while (list->count() > 1)
                        list->removeAt(1);
                else if (action == u"clear")
                    list->clear();
                else if (action == u"destroy")
                    delete list;
                return true;
            });
            const TextReader entry = listEntryText(list, 1);
            if (scanBaseName)
                QCOMPARE(TrackBaseName(entry), baseName);
            else
                QCOMPARE(orNone(EntryPath(entry)), path);
        }
    }

    // The default policy processes pending events once enough time has passed.
    void defaultYieldProcessesEvents()
    {
        EntryPath(fixedText(u"x"_s)); // starts the policy's clock if nothing has yet
        bool handled = false;
        QTimer::singleShot(0, this, [&handled] { handled = true; });
        QTest::qSleep(30);
        EntryPath(fixedText(QString(10000, u'x')));
        QVERIFY(handled);
    }

    void fullScanOfHugeListIsFast()
    {
        constexpr int kEntries = 100000;
        QStringList texts;
        texts.reserve(kEntries);
        for (int i = 0; i < kEntries; ++i)
            texts.append(fileFormEntry(u"Track %1"_s.arg(i), u"/home/user/Music/Album/Track %1.mp3"_s.arg(i)));
        PlaylistModel list;
        list.append(test::entryTexts(texts));

        QElapsedTimer timer;
        timer.start();
        qsizetype found = 0;
        for (int row = 0; row < kEntries; ++row) {
            const TextReader entry = listEntryText(&list, row);
            if (const auto path = EntryPath(entry))
                found += TrackBaseName(fixedText(*path)).isEmpty() ? 0 : 1;
        }
        const qint64 elapsed = timer.elapsed();
        qInfo("path and base name of %d list entries: %lld ms", kEntries, elapsed);
        QCOMPARE(found, kEntries);
        QVERIFY2(elapsed < 5000, "scanning a long list hangs");
    }
};

QTEST_MAIN(EntryTest)
#include "tst_entry.moc"

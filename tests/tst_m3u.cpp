#include "entry.h"
#include "filedialog.h"
#include "m3u.h"
#include "playlistlines.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include "playlistmodel.h"
#include "testwindow.h"
#include <QPointer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace velmora;
using namespace Qt::StringLiterals;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList folderContents(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Runs `act` on the next file dialog once it is shown and its file name box has the
// keyboard focus, as a user or a script would find it; then rejects the dialog a
// little later should `act` have left it open, so a failing check cannot hang.
void onNextFileDialog(std::function<void(QFileDialog &)> act)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || !dialog->isAncestorOf(QApplication::focusWidget()))
            return;
        poll->stop();
        poll->deleteLater();
        act(*dialog);
        QTimer::singleShot(3000, dialog, [guard = QPointer<QFileDialog>(dialog)] {
            if (guard && guard->isVisible())
                guard->reject();
        });
    });
    poll->start(10);
}

// Key by key, like typing on a keyboard (QTest::keyClicks knows only ASCII).
void typeIntoFileNameBox(QFileDialog &dialog, const QString &text)
{
    auto *edit = dialog.findChild<QLineEdit *>(u"fileNameEdit"_s);
    QVERIFY(edit);
    edit->clear();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    QCOMPARE(edit->text(), text);
    QTest::keyClick(edit, Qt::Key_Return);
}

const QByteArray kGbChinese = QByteArray::fromHex("d6d0cec4");   // 中文
const QByteArray kGbMusic = QByteArray::fromHex("d2f4c0d6");     // 音乐
const QByteArray kGbSong = QByteArray::fromHex("b8e8c7fa");      // 歌曲
const QByteArray kGbEmoji = QByteArray::fromHex("9439fc36");     // 😀

// A list a little over the 256 KB the reader reads at a time, ending in `tail`, with the
// boundary `cut` bytes into it: ASCII path lines before make up the rest.
QByteArray listWithPieceBoundaryAt(const QByteArray &tail, qsizetype cut)
{
    constexpr qsizetype kPieceBytes = 256 * 1024; // as the reader reads
    const QByteArray line = "/pad/" + QByteArray(24, 'p') + ".mp3\r\n";
    const qsizetype padding = kPieceBytes - cut - 9; // after the header
    QByteArray bytes = "#EXTM3U\r\n#" + QByteArray(padding % line.size() + line.size() - 3, 'x') + "\r\n";
    bytes += line.repeated(padding / line.size() - 1);
    return bytes + tail;
}

} // namespace

class M3uTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString tempPath(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() { setScanYieldHook({}); }

    void splitLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("crlf") << u"a\r\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("lone cr") << u"a\rb\r"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("lf stays inside") << u"a\nb\n"_s << QStringList{u"a\nb\n"_s};
        QTest::newRow("mixed") << u"a\r\nb\rc\nd\r\n"_s << QStringList{u"a"_s, u"b"_s, u"c\nd"_s};
        QTest::newRow("lf before cr") << u"a\n\rb"_s << QStringList{u"a\n"_s, u"b"_s};
        QTest::newRow("no last line end") << u"a\r\nb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("empty lines") << u"\r\n\r\r\n"_s << QStringList{QString(), QString(), QString()};
        QTest::newRow("empty") << QString() << QStringList();
    }

    void splitLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(splitPlaylistLines(text), lines);
    }

    // Byte-level playlists, read both from memory and from a file.
    void readEntries_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("entries");

        const QStringList oneTwo{u"One     (C:\\a.mp3)"_s, u"Two     (/b.mp3)"_s};
        QTest::newRow("crlf") << QByteArray("#EXTM3U\r\n#EXTINF:235,One\r\nC:\\a.mp3\r\n#EXTINF:235,Two\r\n/b.mp3\r\n")
                              << oneTwo;
        QTest::newRow("lone cr") << QByteArray("#EXTM3U\r#EXTINF:235,One\rC:\\a.mp3\r#EXTINF:235,Two\r/b.mp3\r")
                                 << oneTwo;
        QTest::newRow("lf only is one line") << QByteArray("#EXTM3U\n#EXTINF:235,One\nC:\\a.mp3\n") << QStringList();
        QTest::newRow("lf only, path first") << QByteArray("/a.mp3\n/b.mp3\n")
                                             << QStringList{u"     (/a.mp3\n/b.mp3\n)"_s};
        QTest::newRow("mixed") << QByteArray("#EXTINF:235,T\r\nA.mp3\rB.mp3\nC.mp3\r\n")
                               << QStringList{u"T     (A.mp3)"_s, u"T     (B.mp3\nC.mp3)"_s};
        QTest::newRow("no last line end") << QByteArray("#EXTINF:235,T\r\n/x.mp3") << QStringList{u"T     (/x.mp3)"_s};
        QTest::newRow("title carries over") << QByteArray("#EXTINF:235,T\r\n/a.mp3\r\n/b.mp3\r\n")
                                            << QStringList{u"T     (/a.mp3)"_s, u"T     (/b.mp3)"_s};
        QTest::newRow("path before any title") << QByteArray("/a.mp3\r\n") << QStringList{u"     (/a.mp3)"_s};
        QTest::newRow("other title lines ignored")
            << QByteArray("#EXTINF:235,T\r\n#EXTINF:180,Other\r\n/a.mp3\r\n#EXTINF:2350,X\r\n"
                          "#extinf:235,low\r\n#EXTINF:235\r\n /EXTINF:235,y\r\n/b.mp3\r\n")
            << QStringList{u"T     (/a.mp3)"_s, u"T     (/b.mp3)"_s};
        QTest::newRow("empty title") << QByteArray("#EXTINF:235,T\r\n#EXTINF:235,\r\n/a.mp3\r\n")
                                     << QStringList{u"     (/a.mp3)"_s};
        QTest::newRow("title keeps its spaces") << QByteArray("#EXTINF:235, T (1)  \r\n/a.mp3\r\n")
                                                << QStringList{u" T (1)       (/a.mp3)"_s};
        QTest::newRow("which lines are paths")
            << QByteArray("Z:\\z.mp3\r\nc:\\lower.mp3\r\n1.mp3\r\n\\\\server\\a.mp3\r\n.\\rel.mp3\r\n rel.mp3\r\n"
                          "\r\n[x]\r\n@x\r\n\xe4\xb8\xad.mp3\r\n\xc3\x80.mp3\r\nA\r\n/ok.mp3  \r\n")
            << QStringList{u"     (Z:\\z.mp3)"_s, u"     (A)"_s, u"     (/ok.mp3  )"_s};
        QTest::newRow("gb18030") << "#EXTINF:235," + kGbChinese + "\r\n/" + kGbMusic + "/" + kGbSong + ".mp3\r\n"
                                 << QStringList{u"中文     (/音乐/歌曲.mp3)"_s};
        QTest::newRow("utf-8") << QByteArray("#EXTINF:235,中文\r\n/音乐/歌曲.mp3\r\n")
                               << QStringList{u"中文     (/音乐/歌曲.mp3)"_s};
        QTest::newRow("utf-8 with bom") << QByteArray("\xef\xbb\xbf/音乐.mp3\r\n") << QStringList{u"     (/音乐.mp3)"_s};
        QTest::newRow("invalid gb18030")
            << QByteArray("#EXTINF:235,a\x80" "b\xff\r\n/x\x81\r\n/y\xd6")
            << QStringList{u"a\uFFFDb\uFFFD     (/x\uFFFD)"_s, u"a\uFFFDb\uFFFD     (/y\uFFFD)"_s};
        QTest::newRow("bom then invalid utf-8") << QByteArray("\xef\xbb\xbf/a\xff.mp3") << QStringList{u"     (/a\uFFFD.mp3)"_s};
        QTest::newRow("nul byte") << QByteArray("/a\0b\r\n", 6) << QStringList{u"     (/a\0b)"_s};
        QTest::newRow("empty") << QByteArray() << QStringList();
    }

    void readEntries()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, entries);
        QCOMPARE(test::texts(entriesFromPlaylistText(decodePlaylistText(bytes))), entries);

        const QString path = tempPath(u"read.m3u"_s);
        QVERIFY(writeBytes(path, bytes));
        const ReadResult read = readPlaylistFile(path);
        QVERIFY(read.ok);
        QCOMPARE(read.error, QString());
        QCOMPARE(test::texts(read.entries), entries);
    }

    // Bytes that are valid UTF-8 and GB18030 alike. "%D" stands for the test's folder.
    void readEncodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("listName");
        QTest::addColumn<QStringList>("existingFiles");
        QTest::addColumn<QString>("entry");

        const QByteArray snow = QByteArray::fromHex("d1a9"); // 雪 in GB18030, U+0469 in UTF-8
        QTest::newRow("gb18030 hanzi that reads as utf-8")
            << "#EXTINF:235," + snow + "\r\n/m/" + snow + "/a.mp3\r\n" << u"read.m3u"_s << QStringList()
            << u"雪     (/m/雪/a.mp3)"_s;
        // 猫毛 and 丰尰 in UTF-8 hide in the bytes of 猫毛 and 涓板鞍 in GB18030.
        QTest::newRow("gb18030 hanzi that read as latin letters")
            << "#EXTINF:235," + QByteArray::fromHex("c3a8c3ab") + "\r\n/x/" + QByteArray::fromHex("c3a8c3ab") + ".mp3\r\n"
            << u"read.m3u"_s << QStringList() << u"猫毛     (/x/猫毛.mp3)"_s;
        QTest::newRow("gb18030 hanzi that read as utf-8 hanzi")
            << "/x/" + QByteArray::fromHex("e4b8b0e5b0b0") + ".mp3\r\n" << u"read.m3u"_s << QStringList()
            << u"     (/x/涓板鞍.mp3)"_s;
        QTest::newRow("utf-8 chinese") << QByteArray("#EXTINF:235,十年\r\n/音乐/王菲/红豆.mp3\r\n") << u"read.m3u"_s
                                       << QStringList() << u"十年     (/音乐/王菲/红豆.mp3)"_s;
        QTest::newRow("european accents, files there")
            << QByteArray("%D/Beyonc\xc3\xa9 - caf\xc3\xa9.mp3\r\n") << u"read.m3u"_s
            << QStringList{u"Beyoncé - café.mp3"_s} << u"     (%D/Beyoncé - café.mp3)"_s;
        QTest::newRow("cyrillic, files there") << QByteArray("#EXTINF:235,Кино\r\n%D/Группа крови.mp3\r\n")
                                               << u"read.m3u"_s << QStringList{u"Группа крови.mp3"_s}
                                               << u"Кино     (%D/Группа крови.mp3)"_s;
        QTest::newRow("japanese") << QByteArray("/m/テスト「曲」.mp3\r\n") << u"read.m3u"_s << QStringList()
                                  << u"     (/m/テスト「曲」.mp3)"_s;
        QTest::newRow("m3u8 is utf-8") << "/m/" + snow + ".mp3\r\n" << u"read.M3U8"_s << QStringList()
                                       << u"     (/m/ѩ.mp3)"_s;
        QTest::newRow("existing file decides for gb18030")
            << QByteArray("%D/caf\xc3\xa9.mp3\r\n") << u"read.m3u"_s << QStringList{u"caf茅.mp3"_s}
            << u"     (%D/caf茅.mp3)"_s;
        QTest::newRow("existing file decides for utf-8") << "%D/" + snow + ".mp3\r\n" << u"read.m3u"_s
                                                         << QStringList{u"ѩ.mp3"_s} << u"     (%D/ѩ.mp3)"_s;
    }

    void readEncodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, listName);
        QFETCH(QStringList, existingFiles);
        QFETCH(QString, entry);
        QTemporaryDir dir;
        for (const QString &name : existingFiles)
            QVERIFY(writeBytes(dir.filePath(name), "x"));
        const QString list = dir.filePath(listName);
        QVERIFY(writeBytes(list, QByteArray(bytes).replace("%D", QFile::encodeName(dir.path()))));
        const ReadResult read = readPlaylistFile(list);
        QVERIFY(read.ok);
        QCOMPARE(test::texts(read.entries), QStringList{QString(entry).replace(u"%D"_s, dir.path())});
    }

    // A list read a piece at a time gives what its bytes read whole give, wherever the
    // boundary between two pieces falls.
    void readAcrossPieces_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("cut");
        QTest::addColumn<QString>("listName");
        QTest::addColumn<QStringList>("lastEntries");

        const QByteArray gbSong = "#EXTINF:235," + kGbChinese + "\r\n/" + kGbMusic + "/" + kGbSong + ".mp3\r\n";
        QTest::newRow("inside a gb18030 hanzi") << gbSong << 13 << u"list.m3u"_s << QStringList{u"中文     (/音乐/歌曲.mp3)"_s};
        const QByteArray gbEmoji = "/" + kGbEmoji + kGbSong + ".mp3\r\n";
        for (int into = 1; into < 4; ++into)
            QTest::addRow("inside a gb18030 four-byte character, %d of 4", into)
                << gbEmoji << 1 + into << u"list.m3u"_s << QStringList{u"     (/😀歌曲.mp3)"_s};
        // In GB18030 the last byte of "中" and the "/" after it make no pair: UTF-8.
        QTest::newRow("inside a utf-8 hanzi") << QByteArray("/中/歌.mp3\r\n") << 2 << u"list.m3u"_s
                                              << QStringList{u"     (/中/歌.mp3)"_s};
        QTest::newRow("inside a utf-8 hanzi, m3u8") << QByteArray("/中/歌.mp3\r\n") << 3 << u"list.m3u8"_s
                                                    << QStringList{u"     (/中/歌.mp3)"_s};
        QTest::newRow("inside a hanzi that reads both ways") // GB18030 wins
            << "/x/" + QByteArray::fromHex("e4b8b0e5b0b0") + ".mp3\r\n" << 4 << u"list.m3u"_s
            << QStringList{u"     (/x/涓板鞍.mp3)"_s};
        const QByteArray twoPaths = "/a.mp3\r\n/b.mp3\r\n";
        QTest::newRow("between cr and lf") << twoPaths << 7 << u"list.m3u"_s
                                           << QStringList{u"     (/a.mp3)"_s, u"     (/b.mp3)"_s};
        QTest::newRow("after a lone cr") << QByteArray("/a.mp3\r/b.mp3\r\n") << 7 << u"list.m3u"_s
                                         << QStringList{u"     (/a.mp3)"_s, u"     (/b.mp3)"_s};
        QTest::newRow("inside a title line") << QByteArray("#EXTINF:235,Title\r\n/t.mp3") << 5 << u"list.m3u"_s
                                             << QStringList{u"Title     (/t.mp3)"_s};
        // A decoder fed piece by piece can lose the byte after a broken sequence, in
        // GB18030 where it is the last one.
        QTest::newRow("broken utf-8 before cr lf") << QByteArray("/a\xc3\r\n/b.mp3\r\n") << 3 << u"list.m3u8"_s
                                                   << QStringList{u"     (/a\uFFFD)"_s, u"     (/b.mp3)"_s};
        QTest::newRow("broken gb18030 four-byte character")
            << QByteArray("/a\x84\x32" "0") << 4 << u"list.m3u"_s << QStringList{u"     (/a\uFFFD20)"_s};
    }

    void readAcrossPieces()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, cut);
        QFETCH(QString, listName);
        QFETCH(QStringList, lastEntries);
        const QByteArray bytes = listWithPieceBoundaryAt(tail, cut);
        const QString path = tempPath(listName);
        QVERIFY(writeBytes(path, bytes));
        const ReadResult read = readPlaylistFile(path);
        QVERIFY(read.ok);
        const QStringList entries = test::texts(read.entries);
        QCOMPARE(entries, test::texts(entriesFromPlaylistText(decodePlaylistText(bytes, path))));
        QCOMPARE(entries.mid(entries.size() - lastEntries.size()), lastEntries);
    }

    // A list written here reads back as written with its files gone: every one of the
    // 6,763 GB2312 hanzi, alone and in runs of two and three with its neighbours, and
    // runs whose bytes read as UTF-8 hanzi too (a row E0-F3 hanzi of every trail that
    // is a UTF-8 continuation byte, followed by row B0-BF ones), as title and path.
    void everyGb2312HanziRoundTrips()
    {
        QStringDecoder gb18030("GB18030");
        auto gb = [&gb18030](std::initializer_list<int> bytes) {
            const std::string pairs(bytes.begin(), bytes.end());
            return QString(gb18030.decode(QByteArrayView(pairs)));
        };
        QStringList hanzi;
        for (int lead = 0xB0; lead <= 0xF7; ++lead) {
            for (int trail = 0xA1; trail <= 0xFE; ++trail) {
                if (lead != 0xD7 || trail < 0xFA) // the five unassigned places
                    hanzi.append(gb({lead, trail}));
            }
        }
        QCOMPARE(hanzi.size(), 6763);
        QStringList titles = hanzi;
        for (qsizetype i = 0; i < hanzi.size(); ++i) {
            const QString next = hanzi.at((i + 1) % hanzi.size());
            titles << hanzi.at(i) + next << hanzi.at(i) + next + hanzi.at((i + 2) % hanzi.size());
        }
        for (int lead = 0xE0; lead <= 0xF3; ++lead) {
            for (int trail = 0xA1; trail <= 0xBF; ++trail) {
                const int row = 0xB0 + trail % 16;
                // E0-EF: two three-byte characters, the second a CJK one; F0-F3: one of
                // four bytes (CJK from F0 A0 on), then one of two.
                const bool three = lead <= 0xEF;
                titles << gb({lead, trail, row, three ? 0xE4 + trail % 6 : trail,
                              three ? 0xB0 + trail / 2 % 16 : 0xC2 + trail % 22, 0xA1 + trail * 7 % 31});
            }
        }
        QCOMPARE(titles.size(), 6763 * 3 + 20 * 31);
        for (const QString &title : std::as_const(titles)) {
            const QString path = u"/gone/"_s + title + u".mp3"_s;
            const QByteArray saved = encodePlaylistText(playlistTextFromEntries(test::entryTexts({title + u"     ("_s + path + u')'})));
            const QStringList read = test::texts(entriesFromPlaylistText(decodePlaylistText(saved, u"/gone/l.m3u"_s)));
            QCOMPARE(read, QStringList{title + QString(10, u' ') + u'(' + path + u')'});
        }
    }

    void readFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");

        const QString fifo = tempPath(u"fifo.m3u"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        QFile huge(tempPath(u"huge.m3u"_s));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(257) * 1024 * 1024)); // sparse

        QTest::newRow("missing") << tempPath(u"missing.m3u"_s) << u"无法打开播放列表：文件不存在"_s;
        QTest::newRow("missing folder") << tempPath(u"no/such.m3u"_s) << u"无法打开播放列表：文件不存在"_s;
        QTest::newRow("empty name") << QString() << u"无法打开播放列表：文件不存在"_s;
        QTest::newRow("folder") << m_dir.path() << u"无法打开播放列表：这是一个文件夹"_s;
        QTest::newRow("fifo") << fifo << u"无法打开播放列表：不是普通文件"_s;
        QTest::newRow("device") << u"/dev/zero"_s << u"无法打开播放列表：不是普通文件"_s;
        QTest::newRow("too large") << huge.fileName() << u"无法打开播放列表：文件太大"_s;
    }

    void readFailures()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        const ReadResult read = readPlaylistFile(path);
        QVERIFY(!read.ok);
        QCOMPARE(read.error, error);
        QVERIFY(read.entries.isEmpty());
    }

    void readUnreadableFile()
    {
        const QString path = tempPath(u"locked.m3u"_s);
        QVERIFY(writeBytes(path, "/a.mp3\r\n"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        const auto restore = qScopeGuard([&path] { QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner); });
        if (QFile(path).open(QIODevice::ReadOnly))
            QSKIP("permissions do not keep this user (root) from reading");
        const ReadResult read = readPlaylistFile(path);
        QVERIFY(!read.ok);
        QCOMPARE(read.error, u"无法打开播放列表：无法读取（没有权限）"_s);
    }

    void writtenBytes_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("empty list") << QStringList() << QByteArray("#EXTM3U\r\n");
        QTest::newRow("list form") << QStringList{u"Title     (C:\\a.mp3)"_s}
                                   << QByteArray("#EXTM3U\r\n#EXTINF:235,Title     \r\nC:\\a.mp3\r\n");
        QTest::newRow("file form") << QStringList{u"Song.mp3          (/m/Song.mp3)"_s}
                                   << QByteArray("#EXTM3U\r\n#EXTINF:235,Song.mp3          \r\n/m/Song.mp3\r\n");
        QTest::newRow("entry without bracket left out")
            << QStringList{u"no bracket"_s, u"A     (/a.mp3)"_s, QString()}
            << QByteArray("#EXTM3U\r\n#EXTINF:235,A     \r\n/a.mp3\r\n");
        QTest::newRow("brackets in name") << QStringList{u"My (Best) Song     (/x.mp3)"_s}
                                          << QByteArray("#EXTM3U\r\n#EXTINF:235,My (Best) Song     \r\n/x.mp3\r\n");
        QTest::newRow("bracket in path")
            << QStringList{u"Song (Live).mp3          (/m/Song (Live).mp3)"_s}
            << QByteArray("#EXTM3U\r\n#EXTINF:235,Song (Live).mp3          (/m/Song \r\nLive).mp3\r\n");
        QTest::newRow("empty brackets") << QStringList{u"()"_s} << QByteArray("#EXTM3U\r\n#EXTINF:235,\r\n\r\n");
        QTest::newRow("lower-case path") << QStringList{u"T     (c:\\a.mp3)"_s}
                                         << QByteArray("#EXTM3U\r\n#EXTINF:235,T     \r\nc:\\a.mp3\r\n");
        QTest::newRow("chinese in gb18030")
            << QStringList{u"中文     (/音乐/歌曲.mp3)"_s}
            << "#EXTM3U\r\n#EXTINF:235," + kGbChinese + "     \r\n/" + kGbMusic + "/" + kGbSong + ".mp3\r\n";
        QTest::newRow("beyond the basic plane") << QStringList{u"😀     (/😀.mp3)"_s}
                                                << "#EXTM3U\r\n#EXTINF:235," + kGbEmoji + "     \r\n/" + kGbEmoji
                                                       + ".mp3\r\n";
    }

    void writtenBytes()
    {
        QFETCH(QStringList, entries);
        QFETCH(QByteArray, bytes);
        PlaylistModel list;
        list.append(test::entryTexts(entries));
        QCOMPARE(encodePlaylistText(playlistTextFromEntries(list.texts())), bytes);
        QCOMPARE(encodePlaylistText(playlistTextFromEntries(EntryTexts())), QByteArray("#EXTM3U\r\n"));
    }

    // The list is taken as it stands when the save is asked for: rows removed, a
    // cleared list or a deleted widget while the entries are scanned change nothing.
    void listChangesWhileWriting_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("first removed") << u"removeFirst"_s;
        QTest::newRow("cleared") << u"clear"_s;
        QTest::newRow("destroyed") << u"destroy"_s;
    }

    void listChangesWhileWriting()
    {
        QFETCH(QString, action);
        const QByteArray bytes("#EXTM3U\r\n#EXTINF:235,A     \r\n/a.mp3\r\n#EXTINF:235,B     \r\n/b.mp3\r\n"
                               "#EXTINF:235,C     \r\n/c.mp3\r\n");
        auto *list = new PlaylistModel; // deleted below, unless the hook destroys it
        const QPointer<PlaylistModel> guard(list);
        const auto deleteList = qScopeGuard([&guard] { delete guard.data(); });
        list->append(test::entryTexts({u"A     (/a.mp3)"_s, u"B     (/b.mp3)"_s, u"C     (/c.mp3)"_s}));

        bool done = false;
        setScanYieldHook([&] {
            if (done)
                return false;
            done = true;
            if (action == u"removeFirst")
                list->removeAt(0);
            else if (action == u"clear")
                list->clear();
            else
                delete list;
            return true;
        });
        QCOMPARE(encodePlaylistText(playlistTextFromEntries(list->texts())), bytes);
    }

    // Every save and reload adds five spaces in front of the bracket.
    void roundTrips_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("saves");
        QTest::addColumn<QStringList>("reloaded");
        QTest::addColumn<QString>("listName");

        QTest::newRow("list form") << u"T     (C:\\a.mp3)"_s << 1 << QStringList{u"T          (C:\\a.mp3)"_s} << u"roundtrip.m3u"_s;
        QTest::newRow("list form, three saves") << u"T     (C:\\a.mp3)"_s << 3
                                                << QStringList{u"T"_s + QString(20, u' ') + u"(C:\\a.mp3)"_s} << u"roundtrip.m3u"_s;
        QTest::newRow("file form") << u"Song.mp3          (/m/Song.mp3)"_s << 1
                                   << QStringList{u"Song.mp3"_s + QString(15, u' ') + u"(/m/Song.mp3)"_s} << u"roundtrip.m3u"_s;
        QTest::newRow("chinese") << u"中文     (/音乐/歌.mp3)"_s << 1 << QStringList{u"中文          (/音乐/歌.mp3)"_s} << u"roundtrip.m3u"_s;
        QTest::newRow("lower-case path is not read back") << u"T     (c:\\a.mp3)"_s << 1 << QStringList() << u"roundtrip.m3u"_s;
        // A ".m3u8" list is read as UTF-8, so it is written so: 猫毛 in GB18030 would read as "èë".
        QTest::newRow("m3u8 named list") << u"猫毛     (/gone/猫毛.mp3)"_s << 2
                                        << QStringList{u"猫毛"_s + QString(15, u' ') + u"(/gone/猫毛.mp3)"_s}
                                        << u"roundtrip.m3u8"_s;
    }

    void roundTrips()
    {
        QFETCH(QString, entry);
        QFETCH(int, saves);
        QFETCH(QStringList, reloaded);
        QFETCH(QString, listName);
        const QString path = tempPath(listName);
        QStringList entries{entry};
        for (int i = 0; i < saves; ++i) {
            const WriteResult written = writeFileAtomically(path, encodePlaylistText(playlistTextFromEntries(test::entryTexts(entries)), path));
            QVERIFY2(written.ok, qPrintable(written.error));
            const ReadResult read = readPlaylistFile(path);
            QVERIFY(read.ok);
            entries = test::texts(read.entries);
        }
        QCOMPARE(entries, reloaded);
    }

    void atomicWriteReplacesAndCreates()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"list.m3u"_s);
        QVERIFY(writeBytes(path, "old contents that are longer than the new"));
        WriteResult written = writeFileAtomically(path, "#EXTM3U\r\n");
        QVERIFY(written.ok);
        QCOMPARE(written.error, QString());
        QCOMPARE(readBytes(path), QByteArray("#EXTM3U\r\n"));

        const QString fresh = dir.filePath(u"新列表.m3u"_s);
        QVERIFY(writeFileAtomically(fresh, QByteArray()).ok);
        QCOMPARE(readBytes(fresh), QByteArray());
        QCOMPARE(folderContents(dir.path()), (QStringList{u"list.m3u"_s, u"新列表.m3u"_s}));
    }

    // A failed save leaves the old playlist byte for byte and no temporary file behind.
    void atomicWriteFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("target is a folder") << u"folder"_s;
        QTest::newRow("missing parent folder") << u"missingParent"_s;
        QTest::newRow("read-only folder and list") << u"readOnly"_s;
        QTest::newRow("file size limit reached") << u"sizeLimit"_s;
    }

    void atomicWriteFailures()
    {
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QByteArray old = "#EXTM3U\r\n#EXTINF:235,old\r\n/old.mp3\r\n";
        const QByteArray replacement(64 * 1024, 'x');
        QString target = dir.filePath(u"list.m3u"_s);
        QVERIFY(writeBytes(target, old));

        const auto restoreFolder = qScopeGuard([&dir] {
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        rlimit savedLimit{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &savedLimit), 0);
        const auto restoreLimit = qScopeGuard([&savedLimit] { ::setrlimit(RLIMIT_FSIZE, &savedLimit); });

        if (failure == u"folder") {
            target = dir.filePath(u"folder.m3u"_s);
            QVERIFY(QDir(dir.path()).mkdir(u"folder.m3u"_s));
        } else if (failure == u"missingParent") {
            target = dir.filePath(u"missing/list.m3u"_s);
        } else if (failure == u"readOnly") {
            // A list that can be written would be written in place.
            QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner));
            QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            QFile probe(dir.filePath(u"probe"_s));
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QSKIP("permissions do not keep this user (root) from writing");
            }
        } else if (failure == u"sizeLimit") {
            std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of killing the test
            rlimit small = savedLimit;
            small.rlim_cur = 4096;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }

        const QStringList before = folderContents(dir.path());
        const WriteResult written = writeFileAtomically(target, replacement);
        ::setrlimit(RLIMIT_FSIZE, &savedLimit); // before the test log can grow past the limit
        QVERIFY(!written.ok);
        QVERIFY2(written.error.startsWith(u"保存失败："_s), qPrintable(written.error));
        QCOMPARE(readBytes(dir.filePath(u"list.m3u"_s)), old);
        QCOMPARE(folderContents(dir.path()), before);
        if (failure == u"folder")
            QVERIFY(QFileInfo(target).isDir());
    }

    void hugePlaylistIsFast()
    {
        constexpr int kEntries = 100000;
        QStringList entries;
        for (int i = 0; i < kEntries; ++i)
            entries.append(listFormEntry(u"歌曲 %1"_s.arg(i), u"/home/user/Music/Album %1/Track %1.mp3"_s.arg(i)));
        PlaylistModel list;
        list.append(test::entryTexts(entries));
        const QString path = tempPath(u"huge100k.m3u"_s);

        QElapsedTimer timer;
        timer.start();
        const QByteArray bytes = encodePlaylistText(playlistTextFromEntries(list.texts()));
        const qint64 composed = timer.restart();
        QVERIFY(writeFileAtomically(path, bytes).ok);
        const qint64 written = timer.restart();
        const ReadResult read = readPlaylistFile(path);
        const qint64 reread = timer.elapsed();
        qInfo("%d entries (%lld bytes): composed %lld ms, written %lld ms, read %lld ms", kEntries,
              qint64(bytes.size()), composed, written, reread);

        QVERIFY(read.ok);
        QCOMPARE(read.entries.size(), kEntries);
        QCOMPARE(read.entries.at(kEntries - 1), u"歌曲 99999          (/home/user/Music/Album 99999/Track 99999.mp3)"_s);
        QVERIFY2(composed + written + reread < 5000, "saving or loading a long playlist hangs");
    }

    void pipeFilter_data()
    {
        QTest::addColumn<QString>("pipeFilter");
        QTest::addColumn<QString>("qtFilter");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QStringList>("shown"); // what the type box offers

        QTest::newRow("one pattern") << u"*.mp3|*.mp3"_s << u"*.mp3 (*.mp3)"_s << QStringList{u"*.mp3"_s}
                                     << QStringList{u"*.mp3"_s};
        QTest::newRow("brackets in description")
            << u"MP3音乐文件,MP3播放列表(*.mp3,*.m3u)|*.mp3;*.m3u"_s
            << u"MP3音乐文件,MP3播放列表(*.mp3,*.m3u) (*.mp3 *.m3u)"_s << QStringList{u"*.mp3"_s, u"*.m3u"_s}
            << QStringList{u"MP3音乐文件,MP3播放列表(*.mp3,*.m3u)"_s};
        QTest::newRow("playlists") << u"MP3播放列表(*.m3u)|*.m3u"_s << u"MP3播放列表(*.m3u) (*.m3u)"_s
                                   << QStringList{u"*.m3u"_s} << QStringList{u"MP3播放列表(*.m3u)"_s};
        QTest::newRow("spaces") << u" Lists | *.m3u ; *.M3U ;"_s << u"Lists (*.m3u *.M3U)"_s
                                << QStringList{u"*.m3u"_s, u"*.M3U"_s} << QStringList{u"Lists"_s};
        QTest::newRow("two filters") << u"Music|*.mp3|All|*.*"_s << u"Music (*.mp3);;All (*.*)"_s
                                     << QStringList{u"*.mp3"_s} << QStringList{u"Music"_s, u"All"_s};
        QTest::newRow("patterns only") << u"*.m3u"_s << u"*.m3u (*.m3u)"_s << QStringList{u"*.m3u"_s}
                                       << QStringList{u"*.m3u"_s};
        QTest::newRow("empty") << QString() << QString() << QStringList() << QStringList();
    }

    // Checked on the real dialog too: Qt must find the patterns behind a description
    // that has brackets of its own.
    void pipeFilter()
    {
        QFETCH(QString, pipeFilter);
        QFETCH(QString, qtFilter);
        QFETCH(QStringList, patterns);
        QFETCH(QStringList, shown);
        QCOMPARE(qtFilterFromPipeFilter(pipeFilter), qtFilter);
        if (patterns.isEmpty())
            return;

        QWidget window;
        QtFileDialog dialog(&window);
        dialog.Filter = pipeFilter;
        QStringList applied;
        QStringList offered;
        onNextFileDialog([&](QFileDialog &open) {
            if (auto *model = open.findChild<QFileSystemModel *>())
                applied = model->nameFilters();
            if (auto *types = open.findChild<QComboBox *>(u"fileTypeCombo"_s)) {
                for (int i = 0; i < types->count(); ++i)
                    offered << types->itemText(i);
            }
            open.reject();
        });
        dialog.ShowOpen();
        QCOMPARE(applied, patterns);
        QCOMPARE(offered, shown);
    }

    void dialogAcceptsTypedPath_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");

        QTest::newRow("open existing") << false << u"song.mp3"_s << true;
        QTest::newRow("open chinese name") << false << u"歌曲.m3u"_s << true;
        QTest::newRow("open missing name") << false << u"不在.m3u"_s << false;
        QTest::newRow("save without suffix") << true << u"newlist"_s << false;
        QTest::newRow("save over existing") << true << u"old.m3u"_s << true;
    }

    void dialogAcceptsTypedPath()
    {
        QFETCH(bool, save);
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (exists)
            QVERIFY(writeBytes(path, "x"));

        QWidget window;
        QtFileDialog dialog(&window);
        dialog.Filter = u"MP3音乐文件,MP3播放列表(*.mp3,*.m3u)|*.mp3;*.m3u"_s;
        bool checked = false;
        onNextFileDialog([&](QFileDialog &shown) {
            QCOMPARE(shown.parentWidget(), &window);
            QVERIFY(shown.isModal());
            QVERIFY(shown.testOption(QFileDialog::DontUseNativeDialog));
            QCOMPARE(shown.acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            QCOMPARE(shown.windowTitle(), save ? u"保存"_s : u"打开"_s);
            checked = true;
            typeIntoFileNameBox(shown, path);
        });
        save ? dialog.ShowSave() : dialog.ShowOpen();
        QVERIFY(checked);
        QCOMPARE(dialog.FileName, QDir::toNativeSeparators(path));
    }

    void dialogCancelKeepsFileName()
    {
        for (const bool save : {false, true}) {
            QWidget window;
            QtFileDialog dialog(&window);
            dialog.FileName = u"/no/such/place/kept.m3u"_s;
            onNextFileDialog([](QFileDialog &shown) { QTest::keyClick(&shown, Qt::Key_Escape); });
            save ? dialog.ShowSave() : dialog.ShowOpen();
            QCOMPARE(dialog.FileName, u"/no/such/place/kept.m3u"_s);
        }
    }
};

QTEST_MAIN(M3uTest)
#include "tst_m3u.moc"

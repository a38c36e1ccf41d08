#include "id3tags.h"
#include "posixfile.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>

using velmora::TrackTags;

namespace {

QByteArray syncsafe(quint32 n)
{
    QByteArray out;
    for (int shift : {21, 14, 7, 0})
        out.append(char((n >> shift) & 0x7F));
    return out;
}

QByteArray bigEndian(quint32 n, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((n >> (8 * i)) & 0xFF));
    return out;
}

QByteArray unsynchronise(const QByteArray &data)
{
    QByteArray out;
    for (qsizetype i = 0; i < data.size(); ++i) {
        out.append(data[i]);
        if (uchar(data[i]) == 0xFF && (i + 1 == data.size() || uchar(data[i + 1]) >= 0xE0 || data[i + 1] == '\0'))
            out.append('\0');
    }
    return out;
}

// Text frame bodies: the encoding byte, then the text.
QByteArray latin1(const QByteArray &bytes) { return QByteArray(1, '\0') + bytes; }
QByteArray utf8(const QString &text) { return QByteArray(1, '\3') + text.toUtf8(); }
QByteArray utf16BE(const QString &text)
{
    QByteArray out(1, '\2');
    for (QChar c : text)
        out += bigEndian(c.unicode(), 2);
    return out;
}
QByteArray utf16WithBom(const QString &text, bool bigEndianOrder = false)
{
    QByteArray out(1, '\1');
    out += bigEndianOrder ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (QChar c : text) {
        const QByteArray unit = bigEndian(c.unicode(), 2);
        out += bigEndianOrder ? unit : QByteArray().append(unit[1]).append(unit[0]);
    }
    return out;
}
QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

struct Frame
{
    QByteArray id;
    QByteArray body;
    uchar formatFlags = 0; // second flag byte (v2.3/v2.4)
    bool plainSize = false; // v2.4: size as a plain integer, as some taggers wrote it
};

QByteArray frameBytes(int major, const Frame &frame)
{
    const quint32 size = quint32(frame.body.size());
    if (major == 2)
        return frame.id + bigEndian(size, 3) + frame.body;
    const QByteArray sizeBytes = major == 4 && !frame.plainSize ? syncsafe(size) : bigEndian(size, 4);
    return frame.id + sizeBytes + QByteArray(1, '\0') + QByteArray(1, char(frame.formatFlags)) + frame.body;
}

QByteArray tag(int major, const QList<Frame> &frames, uchar flags = 0, const QByteArray &extendedHeader = {},
               int padding = 0)
{
    QByteArray body = extendedHeader;
    for (const Frame &frame : frames)
        body += frameBytes(major, frame);
    body += QByteArray(padding, '\0');
    if (major < 4 && (flags & 0x80))
        body = unsynchronise(body);
    return "ID3" + QByteArray(1, char(major)) + QByteArray(1, '\0') + QByteArray(1, char(flags))
           + syncsafe(quint32(body.size())) + body;
}

QByteArray v1(const QByteArray &title, const QByteArray &artist, const QByteArray &album)
{
    const auto field = [](QByteArray bytes) {
        bytes.truncate(30);
        return bytes + QByteArray(30 - bytes.size(), '\0');
    };
    return "TAG" + field(title) + field(artist) + field(album) + "1999" + QByteArray(30, '\0') + QByteArray(1, '\xFF');
}

QList<Frame> frames3(const QByteArray &title, const QByteArray &artist, const QByteArray &album)
{
    return {{"TIT2", title}, {"TPE1", artist}, {"TALB", album}};
}

} // namespace

class TestId3Tags : public QObject
{
    Q_OBJECT

private slots:
    void parsesTags_data();
    void parsesTags();
    void survivesDamage_data();
    void survivesDamage();
    void survivesEveryTruncation();
    void survivesRandomMutation();
    void legacyText_data();
    void legacyText();
    void oneLine_data();
    void oneLine();
    void tagSize_data();
    void tagSize();
    void readsFixtureFiles_data();
    void readsFixtureFiles();
    void readsAroundHugeFrames_data();
    void readsAroundHugeFrames();
};

void TestId3Tags::parsesTags_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");

    const QString t = QStringLiteral("测试歌曲"), a = QStringLiteral("歌手"), b = QStringLiteral("专辑");

    QTest::newRow("v2.4 UTF-8") << tag(4, frames3(utf8(t), utf8(a), utf8(b))) << QByteArray() << t << a << b;
    QTest::newRow("v2.4 UTF-16BE") << tag(4, frames3(utf16BE(t), utf16BE(a), utf16BE(b))) << QByteArray() << t << a
                                   << b;
    QTest::newRow("v2.3 UTF-16 little-endian BOM")
        << tag(3, frames3(utf16WithBom(t), utf16WithBom(a), utf16WithBom(b))) << QByteArray() << t << a << b;
    QTest::newRow("v2.3 UTF-16 big-endian BOM")
        << tag(3, frames3(utf16WithBom(t, true), utf16WithBom(a, true), utf16WithBom(b, true))) << QByteArray() << t
        << a << b;
    QTest::newRow("v2.3 UTF-16 without BOM is little-endian")
        << tag(3, {{"TIT2", QByteArray("\x01\x41\x00\x42\x00", 5)}}) << QByteArray() << "AB" << "" << "";
    QTest::newRow("v2.2 Latin-1") << tag(2, {{"TT2", latin1("Old")}, {"TP1", latin1("Band")}, {"TAL", latin1("LP")}})
                                  << QByteArray() << "Old" << "Band" << "LP";
    QTest::newRow("v2.2 UTF-16")
        << tag(2, {{"TT2", utf16WithBom(t)}, {"TP1", utf16WithBom(a)}, {"TAL", utf16WithBom(b)}}) << QByteArray() << t
        << a << b;
    QTest::newRow("Latin-1 accents stay Latin-1")
        << tag(3, frames3(latin1("Caf\xE9"), latin1("Beyonc\xE9"), latin1("\xC0 la carte"))) << QByteArray()
        << QStringLiteral("Café") << QStringLiteral("Beyoncé") << QStringLiteral("À la carte");
    QTest::newRow("GBK declared UTF-8") << tag(4, {{"TIT2", QByteArray(1, '\3') + gbk(t)}, {"TPE1", utf8("Caf") + '\xE9'}})
                                        << QByteArray() << t << QStringLiteral("Café") << "";
    QTest::newRow("GBK declared Latin-1") << tag(3, frames3(latin1(gbk(t)), latin1(gbk(a)), latin1(gbk(b))))
                                          << QByteArray() << t << a << b;
    QTest::newRow("v1 GBK") << QByteArray() << v1(gbk(t), gbk(a), gbk(b)) << t << a << b;
    QTest::newRow("v1 Latin-1, trailing spaces and NULs")
        << QByteArray() << v1("Title   ", "Artist \0 \0", "Caf\xE9  ") << "Title" << "Artist"
        << QStringLiteral("Café");
    QTest::newRow("v1 behind other bytes") << QByteArray() << QByteArray(500, 'x') + v1("T", "A", "B") << "T" << "A"
                                           << "B";
    QTest::newRow("v2 first, v1 fills gaps") << tag(4, {{"TIT2", utf8(t)}}) << v1("x", "Artist", "Album") << t
                                             << "Artist" << "Album";
    QTest::newRow("v2.3 tag unsynchronised")
        << tag(3, frames3(utf16WithBom(QStringLiteral("ÿÿ同步")), utf16WithBom(a), utf16WithBom(b)), 0x80)
        << QByteArray() << QStringLiteral("ÿÿ同步") << a << b;
    QTest::newRow("v2.4 frame unsynchronised, data length indicator")
        << tag(4, {{"TIT2", syncsafe(9) + unsynchronise(utf16WithBom(QStringLiteral("ÿÿ"))), 0x03}}) << QByteArray()
        << QStringLiteral("ÿÿ") << "" << "";
    QTest::newRow("v2.4 tag unsynchronised")
        << tag(4, {{"TIT2", unsynchronise(utf16WithBom(QStringLiteral("ÿA")))}}, 0x80) << QByteArray()
        << QStringLiteral("ÿA") << "" << "";
    QTest::newRow("v2.3 extended header")
        << tag(3, frames3(latin1("T"), latin1("A"), latin1("B")), 0x40, bigEndian(6, 4) + QByteArray(6, '\0'))
        << QByteArray() << "T" << "A" << "B";
    QTest::newRow("v2.3 extended header with CRC")
        << tag(3, frames3(latin1("T"), latin1("A"), latin1("B")), 0x40,
               bigEndian(10, 4) + QByteArray("\x80\0", 2) + QByteArray(8, '\x11'))
        << QByteArray() << "T" << "A" << "B";
    QTest::newRow("v2.4 extended header")
        << tag(4, frames3(utf8(t), utf8(a), utf8(b)), 0x40, syncsafe(6) + QByteArray("\x01\x00", 2)) << QByteArray()
        << t << a << b;
    QTest::newRow("v2.3 compressed and encrypted frames skipped")
        << tag(3, {{"TIT2", latin1("zipped"), 0x80}, {"TPE1", latin1("secret"), 0x40}, {"TALB", latin1("B")}})
        << QByteArray() << "" << "" << "B";
    QTest::newRow("v2.3 grouping byte") << tag(3, {{"TIT2", QByteArray(1, '\x07') + latin1("T"), 0x20}})
                                        << QByteArray() << "T" << "" << "";
    QTest::newRow("v2.4 compressed frame skipped, later copy used")
        << tag(4, {{"TIT2", utf8("zipped"), 0x08}, {"TIT2", utf8("plain")}}) << QByteArray() << "plain" << "" << "";
    QTest::newRow("v2.4 encrypted frame skipped")
        << tag(4, {{"TIT2", QByteArray(1, '\x01') + utf8("x"), 0x04}}) << QByteArray() << "" << "" << "";
    QTest::newRow("v2.4 grouping and data length")
        << tag(4, {{"TIT2", QByteArray(1, '\x05') + syncsafe(2) + utf8("T"), 0x41}}) << QByteArray() << "T" << ""
        << "";
    QTest::newRow("v2.4 plain (non-syncsafe) frame size")
        << tag(4, {{"TIT2", utf8(QString(200, QLatin1Char('x'))), 0, true}, {"TPE1", utf8("A")}}) << QByteArray()
        << QString(200, QLatin1Char('x')) << "A" << "";
    QTest::newRow("first of several frames wins") << tag(3, {{"TIT2", latin1("one")}, {"TIT2", latin1("two")}})
                                                  << QByteArray() << "one" << "" << "";
    QTest::newRow("v2.4 several values") << tag(4, {{"TPE1", utf8(QStringLiteral("甲")) + '\0' + "B" + '\0'}})
                                         << QByteArray() << "" << QStringLiteral("甲/B") << "";
    QTest::newRow("terminators and UTF-16 values")
        << tag(3, {{"TIT2", utf16WithBom("A") + QByteArray(2, '\0') + QByteArray("\xFE\xFF\0B", 4)}}) << QByteArray()
        << "A/B" << "" << "";
    QTest::newRow("byte order mark in UTF-8") << tag(4, {{"TIT2", utf8(QStringLiteral("\uFEFFT"))}}) << QByteArray()
                                              << "T" << "" << "";
    QTest::newRow("odd-length UTF-16") << tag(4, {{"TIT2", QByteArray("\x01\xFF\xFE\x41\x00\x42\x00\xFF", 8)}})
                                       << QByteArray() << "AB" << "" << "";
    QTest::newRow("lone high surrogate")
        << tag(4, {{"TPE1", QByteArray("\x01\xFF\xFE\x58\x00\x00\xD8\x59\x00", 9)}}) << QByteArray() << ""
        << QStringLiteral("X\uFFFDY") << "";
    QTest::newRow("lone low surrogate, UTF-16BE odd length")
        << tag(4, {{"TALB", QByteArray("\x02\xDC\x00\x00\x43\xAB", 6)}}) << QByteArray() << "" << ""
        << QStringLiteral("\uFFFDC");
    QTest::newRow("surrogate pair") << tag(4, {{"TIT2", utf16BE(QStringLiteral("\U0001F3B5!"))}}) << QByteArray()
                                    << QStringLiteral("\U0001F3B5!") << "" << "";
    QTest::newRow("control characters")
        << tag(4, frames3(utf8("Line1\nLine2"), utf8("\tTab\there\r"), utf8(QStringLiteral("Bell\a Esc\x1B Del\x7F!"))))
        << QByteArray() << "Line1 Line2" << "Tab here" << "Bell Esc Del !";
    QTest::newRow("C1 controls from Latin-1") << tag(3, {{"TIT2", latin1("A\x85\nB")}}) << QByteArray() << "A B" << ""
                                              << "";
    QTest::newRow("unknown text encoding") << tag(4, {{"TIT2", QByteArray("\x07xyz")}}) << QByteArray() << "" << ""
                                           << "";
    QTest::newRow("empty frames") << tag(4, frames3({}, QByteArray(1, '\3'), latin1("  "))) << QByteArray() << ""
                                  << "" << "";
    QTest::newRow("padding ends the frames")
        << tag(3, {{"TIT2", latin1("T")}}, 0, {}, 20) + QByteArray("TPE1") << QByteArray() << "T" << "" << "";
    QTest::newRow("v2.2 compressed tag ignored") << tag(2, {{"TT2", latin1("T")}}, 0x40) << v1("V1", "", "") << "V1"
                                                 << "" << "";
    QTest::newRow("no tags") << QByteArray(300, '\xFF') << QByteArray(128, 'x') << "" << "" << "";
    QTest::newRow("nothing at all") << QByteArray() << QByteArray() << "" << "" << "";
}

void TestId3Tags::parsesTags()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QFETCH(QString, album);
    const TrackTags tags = velmora::parseTags(head, tail);
    QCOMPARE(tags.title, title);
    QCOMPARE(tags.artist, artist);
    QCOMPARE(tags.album, album);
}

void TestId3Tags::survivesDamage_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("title");

    const QByteArray good = tag(3, {{"TIT2", latin1("T")}, {"TPE1", latin1("A")}});
    QByteArray claimsMore = good;
    claimsMore.replace(6, 4, syncsafe(100000));
    QByteArray hugeFrame = tag(3, {{"TIT2", latin1("T")}});
    hugeFrame.replace(14, 4, QByteArray("\x7F\xFF\xFF\xFF"));
    QByteArray hugeV24Frame = tag(4, {{"TIT2", utf8("T")}});
    hugeV24Frame.replace(14, 4, QByteArray("\xFF\xFF\xFF\xFF"));
    QByteArray badVersion = good;
    badVersion[3] = 5;
    QByteArray badSize = good;
    badSize[7] = char(0x80);

    QTest::newRow("tag claims more than there is") << claimsMore << "T";
    QTest::newRow("frame claims 2 GB") << hugeFrame << "";
    QTest::newRow("v2.4 frame size all ones") << hugeV24Frame << "";
    QTest::newRow("unknown version") << badVersion << "";
    QTest::newRow("size not syncsafe") << badSize << "";
    QTest::newRow("header only") << good.first(10) << "";
    QTest::newRow("short header") << QByteArray("ID3\x03") << "";
    QTest::newRow("extended header larger than tag")
        << tag(3, {{"TIT2", latin1("T")}}, 0x40, bigEndian(0x7FFFFFF0, 4)) << "";
    QTest::newRow("v2.4 extended header too small") << tag(4, {{"TIT2", utf8("T")}}, 0x40, syncsafe(2)) << "";
    QTest::newRow("flags longer than the frame") << tag(4, {{"TIT2", QByteArray(2, 'x'), 0x41}}) << "";
    QTest::newRow("garbage frame id") << tag(3, {{"ti!2", latin1("T")}}) << "";
    QTest::newRow("unsynchronised tag ending in 0xFF") << tag(3, {{"TIT2", latin1("T\xFF")}}, 0x80)
                                                       << QStringLiteral("Tÿ");
}

void TestId3Tags::survivesDamage()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, title);
    QCOMPARE(velmora::parseId3v2(head).title, title);
}

void TestId3Tags::survivesEveryTruncation()
{
    const QByteArray whole = tag(4, frames3(utf8(QStringLiteral("标题")), utf16WithBom("Artist"), latin1("Album")),
                                 0x40, syncsafe(6) + QByteArray("\x01\x00", 2), 16);
    const TrackTags complete = velmora::parseId3v2(whole);
    QCOMPARE(complete.album, QStringLiteral("Album"));
    for (qsizetype length = 0; length <= whole.size(); ++length) {
        const TrackTags partial = velmora::parseId3v2(QByteArrayView(whole).first(length));
        // Whatever is read from a cut tag is a whole field of the complete one.
        QVERIFY(partial.title.isEmpty() || partial.title == complete.title);
        QVERIFY(partial.artist.isEmpty() || partial.artist == complete.artist);
        QVERIFY(partial.album.isEmpty() || partial.album == complete.album);
    }
}

void TestId3Tags::survivesRandomMutation()
{
    const QList<QByteArray> seeds = {
        tag(2, {{"TT2", utf16WithBom("T")}, {"TP1", latin1("A")}}, 0x80),
        tag(3, frames3(utf16WithBom("T"), latin1("A\xFF"), latin1("B")), 0xC0, bigEndian(6, 4) + QByteArray(6, '\0')),
        tag(4, {{"TIT2", syncsafe(3) + utf8("T"), 0x43}, {"TPE1", utf16BE("A")}}, 0xC0,
            syncsafe(6) + QByteArray("\x01\x00", 2)),
    };
    QRandomGenerator random(20240607);
    for (int round = 0; round < 3000; ++round) {
        QByteArray data = seeds[round % seeds.size()];
        const int edits = 1 + int(random.bounded(6));
        for (int e = 0; e < edits; ++e)
            data[random.bounded(int(data.size()))] = char(random.bounded(256));
        if (random.bounded(4) == 0)
            data.truncate(random.bounded(int(data.size())));
        const TrackTags tags = velmora::parseTags(data, data);
        for (const QString &field : {tags.title, tags.artist, tags.album}) {
            for (QChar c : field)
                QVERIFY2(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F), qPrintable(field));
        }
    }
}

void TestId3Tags::legacyText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QByteArray("Plain") << "Plain";
    QTest::newRow("GBK") << gbk(QStringLiteral("中文标题")) << QStringLiteral("中文标题");
    QTest::newRow("GBK mixed with ASCII") << "CD1 " + gbk(QStringLiteral("第一面")) << QStringLiteral("CD1 第一面");
    QTest::newRow("GB18030 four-byte") << QByteArray("\x81\x30\x89\x38") << QStringLiteral("ß");
    QTest::newRow("cut GBK is Latin-1") << QByteArray("\xD6\xD0\xCE") << QStringLiteral("ÖÐÎ");
    QTest::newRow("Latin-1 accent at the end") << QByteArray("Caf\xE9") << QStringLiteral("Café");
    QTest::newRow("0xFF is never GB18030") << QByteArray("\xFF\xFE") << QStringLiteral("ÿþ");
    QTest::newRow("empty") << QByteArray() << "";
}

void TestId3Tags::legacyText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(velmora::decodeLegacyText(bytes), text);
}

void TestId3Tags::oneLine_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");

    QTest::newRow("unchanged") << QStringLiteral("歌手 A") << QStringLiteral("歌手 A");
    QTest::newRow("newlines and tabs") << "\tA\r\n\nB " << "A B";
    QTest::newRow("NUL and DEL") << QString::fromLatin1("A\0B\x7F", 4) << "A B";
    QTest::newRow("line separators") << QStringLiteral("A\u2028B\u2029C") << "A B C";
    QTest::newRow("byte order mark") << QStringLiteral("\uFEFFA") << "A";
    QTest::newRow("only controls") << "\x01\x02\x1F" << "";
    QTest::newRow("overlong") << QString(500000, QChar(u'长')) << QString(velmora::kMaxTagCharacters, QChar(u'长'));
    // Cut before a pair that would be split, never leaving half a character.
    QTest::newRow("overlong, pair at the cut")
        << QString(velmora::kMaxTagCharacters - 1, QLatin1Char('a')) + QStringLiteral("\U0001F3B5\U0001F3B5")
        << QString(velmora::kMaxTagCharacters - 1, QLatin1Char('a'));
}

void TestId3Tags::oneLine()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(velmora::oneLine(input), output);
}

void TestId3Tags::tagSize_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<qint64>("size");

    QTest::newRow("v2.3") << QByteArray("ID3\x03\x00\x00", 6) + syncsafe(1000) << qint64(1010);
    QTest::newRow("v2.4 with footer") << QByteArray("ID3\x04\x00\x10", 6) + syncsafe(1000) << qint64(1020);
    QTest::newRow("v2.5") << QByteArray("ID3\x05\x00\x00", 6) + syncsafe(10) << qint64(0);
    QTest::newRow("not syncsafe") << QByteArray("ID3\x03\x00\x00\x00\x00\x00\x80", 10) << qint64(0);
    QTest::newRow("no tag") << QByteArray(10, '\xFF') << qint64(0);
}

void TestId3Tags::tagSize()
{
    QFETCH(QByteArray, header);
    QFETCH(qint64, size);
    QCOMPARE(velmora::id3v2TagSize(header), size);
}

void TestId3Tags::readsFixtureFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");

    QTest::newRow("v2.4 UTF-8") << "tags_utf8_v24.mp3" << QStringLiteral("测试歌曲") << QStringLiteral("歌手")
                                << QStringLiteral("专辑");
    QTest::newRow("v2.3 UTF-16") << "tags_utf16_v23.mp3" << QStringLiteral("双字节标题") << QStringLiteral("演唱者")
                                 << QStringLiteral("合辑");
    QTest::newRow("v2.2") << "tags_v22.mp3" << QStringLiteral("旧版标签") << "Old Artist" << QStringLiteral("旧专辑");
    QTest::newRow("v1 GBK") << "tags_gbk_v1.mp3" << QStringLiteral("中文标题") << QStringLiteral("中文歌手")
                            << QStringLiteral("中文专辑");
    QTest::newRow("v2.3 GBK as Latin-1") << "tags_gbk_latin1_v23.mp3" << QStringLiteral("国标标题")
                                         << QStringLiteral("国标歌手") << QStringLiteral("国标专辑");
    QTest::newRow("v2.3 unsynchronised") << "tags_unsync_v23.mp3" << QStringLiteral("ÿÿ同步") << QStringLiteral("艺人")
                                         << QStringLiteral("唱片");
    QTest::newRow("v2.4 unsynchronised") << "tags_unsync_v24.mp3" << QStringLiteral("ÿÿ同步") << QStringLiteral("艺人")
                                         << QStringLiteral("唱片");
    QTest::newRow("5 MB picture between frames") << "huge_id3.mp3" << QStringLiteral("大标签") << QStringLiteral("歌手")
                                                 << QStringLiteral("专辑");
    QTest::newRow("bad UTF-16") << "bad_utf16_tags.mp3" << "AB" << QStringLiteral("X\uFFFDY")
                                << QStringLiteral("\uFFFDC");
    QTest::newRow("control characters") << "control_chars_tags.mp3" << "Line1 Line2" << "Tab here"
                                        << "Bell Esc Del !";
    QTest::newRow("untagged") << "no_tags.mp3" << "" << "" << "";
    QTest::newRow("random bytes") << "random.mp3" << "" << "" << "";
    QTest::newRow("text") << "text.mp3" << "" << "" << "";
}

void TestId3Tags::readsFixtureFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QFETCH(QString, album);
    const QString dir = qEnvironmentVariable("VELMORA_FIXTURES");
    if (dir.isEmpty())
        QSKIP("VELMORA_FIXTURES is not set (run through ctest)");
    velmora::OpenedFile opened = velmora::openRegularFile(dir + QLatin1Char('/') + file);
    QCOMPARE(opened.problem, velmora::FileProblem::None);
    const TrackTags tags = velmora::readTags(opened.fd.get(), opened.size);
    QCOMPARE(tags.title, title);
    QCOMPARE(tags.artist, artist);
    QCOMPARE(tags.album, album);
}

void TestId3Tags::readsAroundHugeFrames_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");

    const Frame picture{"APIC", QByteArray(3 << 20, '\xFF')};
    const QByteArray extended = syncsafe(6) + QByteArray("\x01\x00", 2);
    QTest::newRow("v2.4, title after the picture")
        << tag(4, {picture, {"TIT2", utf8("T")}, {"TPE1", utf8("A")}}, 0x40, extended) << "T" << "A";
    QTest::newRow("v2.3, huge title frame ignored")
        << tag(3, {{"TIT2", latin1(QByteArray(2 << 20, 'x'))}, {"TPE1", latin1("A")}}) << "" << "A";
    QTest::newRow("v2.3 unsynchronised: the first megabyte is read")
        << tag(3, {{"TIT2", latin1("T")}, picture, {"TPE1", latin1("A")}}, 0x80) << "T" << "";
    QTest::newRow("v2.2") << tag(2, {{"PIC", QByteArray(3 << 20, 'p')}, {"TT2", latin1("T")}}) << "T" << "";
}

void TestId3Tags::readsAroundHugeFrames()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("big.mp3");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(head);
    file.write(QByteArray(1000, '\0'));
    file.close();
    velmora::OpenedFile opened = velmora::openRegularFile(path);
    QVERIFY(opened.fd.isValid());
    const TrackTags tags = velmora::readTags(opened.fd.get(), opened.size);
    QCOMPARE(tags.title, title);
    QCOMPARE(tags.artist, artist);
}

QTEST_GUILESS_MAIN(TestId3Tags)
#include "tst_id3tags.moc"

// Arbitrary bytes as a playlist file: decoding, line splitting and entry reading, the
// file read a piece at a time against the bytes read whole, then writing the entries
// back and reading them again.
#include "fuzzcheck.h"

#include "m3u.h"
#include "playlistlines.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace {

const QString kTitlePrefix = QStringLiteral("#EXTINF:235,");
const QString kTitleGap = QStringLiteral("     ");

bool startsLikePath(const QString &line)
{
    return !line.isEmpty() && ((line.front() >= u'A' && line.front() <= u'Z') || line.front() == u'/');
}

// The lines must be the text cut at CR LF or a lone CR, nothing lost, nothing added.
void checkLines(const QString &text, const QStringList &lines)
{
    qsizetype pos = 0;
    for (const QString &line : lines) {
        FUZZ_REQUIRE(!line.contains(u'\r'));
        FUZZ_REQUIRE(QStringView(text).sliced(pos).startsWith(line));
        pos += line.size();
        if (pos < text.size()) {
            FUZZ_REQUIRE(text.at(pos) == u'\r');
            ++pos;
            if (pos < text.size() && text.at(pos) == u'\n')
                ++pos;
        }
    }
    FUZZ_REQUIRE(pos == text.size());
}

struct ReadLine
{
    QString title; // the last title line before the path line
    QString path;  // the path line as it stands
};

QList<ReadLine> pathLinesWithTitles(const QStringList &lines)
{
    QList<ReadLine> result;
    QString title;
    for (const QString &line : lines) {
        if (line.startsWith(kTitlePrefix))
            title = line.sliced(kTitlePrefix.size());
        else if (startsLikePath(line))
            result.append({title, line});
    }
    return result;
}

// What reading the written list must give for one entry read from a path line: the
// title gains the five spaces of the entry form, and a path holding "(" is cut after
// its last "(" (the part before joins the title); a cut path that no longer starts like
// a path is dropped.
std::optional<QString> entryAfterRoundTrip(const ReadLine &read)
{
    const qsizetype bracket = read.path.lastIndexOf(u'(');
    const QString name = bracket < 0 ? read.title + kTitleGap
                                     : read.title + kTitleGap + u'(' + read.path.left(bracket);
    const QString path = bracket < 0 ? read.path : read.path.sliced(bracket + 1);
    if (!startsLikePath(path))
        return std::nullopt;
    return name + kTitleGap + u'(' + path + u')';
}

// ASCII and the byte pairs of GB2312 alone.
bool withinGb2312(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto lead = std::uint8_t(bytes.at(i));
        if (lead < 0x80)
            continue;
        const auto trail = i + 1 < bytes.size() ? std::uint8_t(bytes.at(i + 1)) : 0;
        if (lead < 0xA1 || lead > 0xF7 || (lead > 0xA9 && lead < 0xB0) || trail < 0xA1 || trail > 0xFE)
            return false;
        ++i;
    }
    return true;
}

QStringList texts(const velmora::EntryTexts &entries)
{
    QStringList list;
    for (qsizetype row = 0; row < entries.size(); ++row)
        list.append(entries.at(row));
    return list;
}

// Where the inputs are written to be read back as files: memory, where there is a
// tmpfs for it, since every input is written twice.
std::unique_ptr<QTemporaryDir> listFolder;

// The file reader decodes a piece at a time where the bytes alone tell the encoding,
// and must give what the whole bytes give.
void checkFileReading(const QByteArray &bytes, const QString &name)
{
    const QString path = listFolder->filePath(name);
    QFile file(path);
    FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_REQUIRE(file.write(bytes) == bytes.size());
    file.close();
    const velmora::ReadResult read = velmora::readPlaylistFile(path);
    FUZZ_REQUIRE(read.ok);
    FUZZ_REQUIRE(texts(read.entries) == texts(velmora::entriesFromPlaylistText(velmora::decodePlaylistText(bytes, path))));
}

void checkEntryShape(const QStringList &entries)
{
    for (const QString &entry : entries) {
        FUZZ_REQUIRE(entry.endsWith(u')'));
        FUZZ_REQUIRE(entry.contains(QStringLiteral("     (")));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const QString shm = QStringLiteral("/dev/shm");
    listFolder = QDir(shm).exists() ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/fuzz_m3u-XXXXXX"))
                                    : std::make_unique<QTemporaryDir>();
    FUZZ_REQUIRE(listFolder->isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = velmora::decodePlaylistText(bytes);
    const QStringList lines = velmora::splitPlaylistLines(text);
    checkLines(text, lines);

    checkFileReading(bytes, QStringLiteral("list.m3u"));
    checkFileReading(bytes, QStringLiteral("list.m3u8"));

    const velmora::EntryTexts entryTexts = velmora::entriesFromPlaylistText(text);
    const QStringList entries = texts(entryTexts);
    checkEntryShape(entries);
    const QList<ReadLine> pathLines = pathLinesWithTitles(lines);
    FUZZ_REQUIRE(entries.size() == pathLines.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        FUZZ_REQUIRE(entries[i] == pathLines[i].title + kTitleGap + u'(' + pathLines[i].path + u')');

    const QString written = velmora::playlistTextFromEntries(entryTexts);
    FUZZ_REQUIRE(written.startsWith(QStringLiteral("#EXTM3U\r\n")));
    FUZZ_REQUIRE(written.endsWith(QStringLiteral("\r\n")));
    FUZZ_REQUIRE(velmora::splitPlaylistLines(written).size() == 1 + 2 * entries.size());

    const QByteArray encoded = velmora::encodePlaylistText(written);
    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid())
        FUZZ_REQUIRE(gb18030.decode(encoded) == written); // GB18030 holds all of Unicode

    const QString reread = velmora::decodePlaylistText(encoded);
    const QStringList entriesAgain = texts(velmora::entriesFromPlaylistText(reread));
    checkEntryShape(entriesAgain);
    // GB18030 bytes that also happen to be valid UTF-8 may be read as UTF-8, but never
    // text within GB2312; only when the text came back unchanged can the entries be
    // compared.
    FUZZ_REQUIRE(reread == written || !withinGb2312(encoded));
    if (reread == written) {
        QStringList expected;
        for (const ReadLine &read : pathLines) {
            if (const auto entry = entryAfterRoundTrip(read))
                expected.append(*entry);
        }
        FUZZ_REQUIRE(entriesAgain == expected);
    }
    return 0;
}

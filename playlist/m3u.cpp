#include "m3u.h"

#include "entry.h"
#include "playlistmodel.h"
#include "posixfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

const QString kTitlePrefix = QStringLiteral("#EXTINF:235,");
const QString kHeader = QStringLiteral("#EXTM3U");
const QString kLineEnd = QStringLiteral("\r\n");

// Far beyond any real playlist; refusing it keeps a stray huge file from eating memory.
constexpr qint64 kMaxPlaylistBytes = qint64(256) * 1024 * 1024;

// ".m3u8" names a UTF-8 list by convention.
bool namesUtf8List(const QString &listPath)
{
    return listPath.endsWith(QStringLiteral(".m3u8"), Qt::CaseInsensitive);
}

QString openFailure(const QString &reason)
{
    return QStringLiteral("无法打开播放列表：") + reason;
}

ReadResult failedRead(const QString &reason)
{
    ReadResult result;
    result.error = openFailure(reason);
    return result;
}

enum class ReadOutcome { Complete, TooLarge, Failed };

// Pieces a list is read and decoded in: big enough to be quick, small enough that a
// list of a million entries is never held whole as bytes and as text besides.
constexpr qsizetype kPieceBytes = 256 * 1024;

// Reads the file from its start to its end, handing each piece to `onPiece`. The
// buffer is no bigger than the list was when opened (`size`): most are a few kilobytes.
template<typename PieceHandler>
ReadOutcome readInPieces(int fd, qint64 size, int &error, PieceHandler onPiece)
{
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        error = errno;
        return ReadOutcome::Failed;
    }
    QByteArray piece(qsizetype(std::clamp<qint64>(size, 4096, kPieceBytes)), Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, piece.data(), size_t(piece.size()));
        if (got == 0)
            return ReadOutcome::Complete;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return ReadOutcome::Failed;
        }
        // The file may grow while it is read; the size guard has to hold regardless.
        total += got;
        if (total > kMaxPlaylistBytes)
            return ReadOutcome::TooLarge;
        onPiece(QByteArrayView(piece.constData(), got));
    }
}

bool isPathLine(QStringView line)
{
    if (line.isEmpty())
        return false;
    const char16_t first = line.front().unicode();
    return (first >= u'A' && first <= u'Z') || first == u'/';
}

void appendEntryLines(QString &out, const EntryParts &parts)
{
    out += kTitlePrefix;
    out += parts.name;
    out += kLineEnd;
    out += parts.path;
    out += kLineEnd;
}

WriteResult failedWrite(const QString &reason)
{
    WriteResult result;
    result.error = QStringLiteral("保存失败：") + reason;
    return result;
}

QString withDetail(const QString &reason, const QString &detail)
{
    if (detail.isEmpty())
        return reason;
    return reason + QStringLiteral("（") + detail + QStringLiteral("）");
}

QString decodeUtf8(const QByteArray &bytes)
{
    // Drops one leading BOM by itself. Stateless, so a sequence cut off at the end
    // counts as an error instead of waiting for more input.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    return utf8.decode(bytes);
}

QString decodeGb18030(const QByteArray &bytes)
{
    QStringDecoder gb18030("GB18030");
    if (!gb18030.isValid())
        return QString::fromUtf8(bytes);
    QString text = gb18030.decode(bytes);
    // A multi-byte sequence cut off at the very end would otherwise vanish silently:
    // a trailing line feed can never continue a sequence, so it flushes it out as a
    // replacement character, and is then removed again.
    text += gb18030.decode(QByteArrayView("\n"));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

// How many of the first path lines with non-ASCII text name existing files. Only
// those can tell the two readings apart, and a few are enough to decide.
int existingPathCount(const QString &text)
{
    constexpr int kPathsChecked = 32;
    int checked = 0;
    int found = 0;
    forEachPlaylistLine(text, [&](QStringView line) {
        if (checked >= kPathsChecked || !isPathLine(line))
            return;
        if (std::all_of(line.begin(), line.end(), [](QChar c) { return c.unicode() < 0x80; }))
            return;
        ++checked;
        if (QFileInfo::exists(line.toString()))
            ++found;
    });
    return found;
}

// The scripts of a Chinese user's names: hanzi, CJK punctuation, kana, bopomofo,
// hangul and full-width forms.
bool isEastAsian(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x312F) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF)
        || (c >= 0x20000 && c <= 0x3FFFF);
}

// The byte pairs of GB2312, the common characters: symbols, kana, Greek and Cyrillic
// in rows A1-A9, the 6,763 hanzi in rows B0-F7.
bool isGb2312Pair(uchar lead, uchar trail)
{
    return ((lead >= 0xA1 && lead <= 0xA9) || (lead >= 0xB0 && lead <= 0xF7)) && trail >= 0xA1 && trail <= 0xFE;
}

struct Gb18030Reading
{
    bool valid = true;
    int score = 0;
};

// Walks the bytes as GB18030. Scores its non-ASCII characters: a GB2312 character 2
// (one point per byte), any other GBK character 1, a private-use one -2. Unless the
// bytes are the last ones, stops before a character that may go on past them, and
// returns how many it took.
qsizetype scoreGb18030Part(QByteArrayView bytes, bool last, Gb18030Reading &reading)
{
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size && reading.valid) {
        const uchar lead = uchar(bytes.at(i));
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (!last && i + 4 > size)
            return i;
        const uchar trail = i + 1 < size ? uchar(bytes.at(i + 1)) : 0;
        if (lead == 0x80 || lead == 0xFF || trail < 0x30 || (trail > 0x39 && trail < 0x40) || trail == 0x7F
            || trail == 0xFF) {
            reading.valid = false;
            break;
        }
        if (trail <= 0x39) { // four bytes: lead, digit, 81-FE, digit
            const uchar third = i + 2 < size ? uchar(bytes.at(i + 2)) : 0;
            const uchar fourth = i + 3 < size ? uchar(bytes.at(i + 3)) : 0;
            if (third < 0x81 || third == 0xFF || fourth < 0x30 || fourth > 0x39) {
                reading.valid = false;
                break;
            }
            i += 4;
            continue;
        }
        const bool privateUse = (trail >= 0xA1 && ((lead >= 0xAA && lead <= 0xAF) || lead >= 0xF8))
            || (trail < 0xA1 && lead >= 0xA1 && lead <= 0xA7);
        reading.score += isGb2312Pair(lead, trail) ? 2 : privateUse ? -2 : 1;
        i += 2;
    }
    return size;
}

Gb18030Reading scoreGb18030(const QByteArray &bytes)
{
    Gb18030Reading reading;
    scoreGb18030Part(bytes, true, reading);
    return reading;
}

struct Utf8Reading
{
    bool eastAsian = false;
    int score = 0;
};

// Scores the UTF-8 reading: an East Asian character 3 when GB2312 holds it (a common
// one), else 1; other scripts 0. At most one point per byte, as the GB18030 reading
// of GB2312 text gets: so a list of such text can never lose to its UTF-8 reading.
Utf8Reading scoreUtf8(const QString &text)
{
    Utf8Reading reading;
    // The GB18030 bytes of each character tell whether GB2312 holds it.
    const QByteArray gb = encodePlaylistText(text);
    qsizetype at = 0;
    for (qsizetype i = 0; i < text.size() && at < gb.size();) {
        char32_t c = text.at(i).unicode();
        qsizetype units = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            units = 2;
        }
        const uchar lead = uchar(gb.at(at));
        const uchar trail = at + 1 < gb.size() ? uchar(gb.at(at + 1)) : 0;
        const qsizetype length = lead < 0x80 ? 1 : (trail >= 0x30 && trail <= 0x39) ? 4 : 2;
        if (isEastAsian(c)) {
            reading.eastAsian = true;
            reading.score += length == 2 && isGb2312Pair(lead, trail) ? 3 : 1;
        }
        at += length;
        i += units;
    }
    return reading;
}

} // namespace

QString decodePlaylistText(const QByteArray &bytes, const QString &listPath)
{
    if (namesUtf8List(listPath) || bytes.startsWith("\xEF\xBB\xBF"))
        return decodeUtf8(bytes);
    // Validating first spares a big GB18030 list a whole UTF-8 decode thrown away.
    if (!QByteArrayView(bytes).isValidUtf8())
        return decodeGb18030(bytes);
    const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
    if (ascii)
        return decodeUtf8(bytes);

    // Both readings may decode. Velmora writes GB18030, and its lists must come back as
    // written whether or not their files exist. A GB2312 pair read as UTF-8 often gives
    // a Latin, Greek or Cyrillic letter (猫毛 as "èë"), so such letters never make a
    // case for UTF-8; hanzi pairs run together can even read as other hanzi, hence the
    // scores. UTF-8 wins only where the bytes are not GB18030, where its paths name the
    // files, or where it is the more common East Asian text.
    const Gb18030Reading gb = scoreGb18030(bytes);
    const QString asUtf8 = decodeUtf8(bytes);
    if (!gb.valid)
        return asUtf8;
    const QString asGb = decodeGb18030(bytes);
    const int utf8Found = existingPathCount(asUtf8);
    const int gbFound = existingPathCount(asGb);
    if (utf8Found != gbFound)
        return utf8Found > gbFound ? asUtf8 : asGb;
    const Utf8Reading utf8 = scoreUtf8(asUtf8);
    return utf8.eastAsian && utf8.score > gb.score ? asUtf8 : asGb;
}

namespace {

// Makes entries of lines as they come: a title line names the path lines after it.
class EntryCollector
{
public:
    explicit EntryCollector(EntryTexts &entries) : m_entries(entries) {}
    void take(QStringView line)
    {
        if (line.startsWith(kTitlePrefix))
            m_title = line.sliced(kTitlePrefix.size()).toString();
        else if (isPathLine(line))
            m_entries.append(listFormEntry(m_title, line.toString())); // the title carries over
    }

private:
    EntryTexts &m_entries;
    QString m_title;
};

// The bytes of a UTF-8 character begun at the end of `bytes` but not finished there.
qsizetype unfinishedUtf8(QByteArrayView bytes)
{
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, bytes.size()); ++back) {
        const uchar byte = uchar(bytes.at(bytes.size() - back));
        if ((byte & 0xC0) == 0x80)
            continue;
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

// What decodePlaylistText asks of the bytes, learnt piece by piece.
class EncodingSurvey
{
public:
    void add(QByteArrayView piece)
    {
        if (m_first) {
            m_bom = piece.startsWith("\xEF\xBB\xBF");
            m_first = false;
        }
        if (m_ascii)
            m_ascii = std::all_of(piece.begin(), piece.end(), [](char c) { return uchar(c) < 0x80; });
        if (m_utf8Valid) {
            const QByteArray bytes = m_utf8Rest + piece.toByteArray();
            const qsizetype rest = unfinishedUtf8(bytes);
            m_utf8Valid = QByteArrayView(bytes).chopped(rest).isValidUtf8();
            m_utf8Rest = bytes.right(rest);
        }
        if (m_gb.valid) {
            const QByteArray bytes = m_gbRest + piece.toByteArray();
            m_gbRest = bytes.sliced(scoreGb18030Part(bytes, false, m_gb));
        }
    }
    void finish()
    {
        m_utf8Valid = m_utf8Valid && m_utf8Rest.isEmpty();
        if (m_gb.valid)
            scoreGb18030Part(m_gbRest, true, m_gb);
    }

    enum class Reading { Utf8, Gb18030, Whole };
    // The same choice as decodePlaylistText, where the bytes alone decide it and are
    // valid in the encoding chosen; else the bytes are decoded whole. A decoder fed
    // piece by piece recovers from a broken sequence at a piece's end otherwise than
    // from one inside it (Qt's UTF-8 decoder even drops the byte after it).
    Reading reading(const QString &listPath) const
    {
        if (namesUtf8List(listPath) || m_bom)
            return m_utf8Valid ? Reading::Utf8 : Reading::Whole;
        if (!m_utf8Valid)
            return m_gb.valid ? Reading::Gb18030 : Reading::Whole;
        if (m_ascii || !m_gb.valid)
            return Reading::Utf8;
        return Reading::Whole;
    }

private:
    bool m_first = true;
    bool m_bom = false;
    bool m_ascii = true;
    bool m_utf8Valid = true;
    QByteArray m_utf8Rest;
    Gb18030Reading m_gb;
    QByteArray m_gbRest;
};

// Decodes pieces and hands on every whole line.
class LineDecoder
{
public:
    LineDecoder(bool utf8, EntryCollector &collector)
        : m_decoder(utf8 ? QStringDecoder(QStringDecoder::Utf8) : QStringDecoder("GB18030")),
          m_utf8(utf8 || !m_decoder.isValid()), m_collector(collector)
    {
    }
    void add(QByteArrayView piece)
    {
        QString decoded = m_utf8 && !m_decoder.isValid() ? QString::fromUtf8(piece) : QString(m_decoder.decode(piece));
        // Only the unfinished line is carried over, never the whole piece copied.
        if (m_pending.isEmpty())
            m_pending = std::move(decoded);
        else
            m_pending += decoded;
        // A CR at the very end may yet be followed by the LF that belongs to it.
        if (m_pending.size() < 2)
            return;
        const qsizetype lastCr = m_pending.lastIndexOf(u'\r', m_pending.size() - 2);
        if (lastCr < 0)
            return;
        const qsizetype end = lastCr + (m_pending.at(lastCr + 1) == u'\n' ? 2 : 1);
        forEachPlaylistLine(QStringView(m_pending).first(end), [this](QStringView line) { m_collector.take(line); });
        m_pending = m_pending.sliced(end);
    }
    void finish()
    {
        // A character cut off at the very end would otherwise vanish silently: a line
        // feed can never continue one, so it flushes it out as a replacement character.
        if (m_decoder.isValid()) {
            m_pending += m_decoder.decode(QByteArrayView("\n"));
            if (m_pending.endsWith(u'\n'))
                m_pending.chop(1);
        }
        forEachPlaylistLine(m_pending, [this](QStringView line) { m_collector.take(line); });
        m_pending.clear();
    }

private:
    QStringDecoder m_decoder;
    bool m_utf8;
    EntryCollector &m_collector;
    QString m_pending;
};

ReadResult readFailure(ReadOutcome outcome, int error)
{
    return failedRead(outcome == ReadOutcome::TooLarge ? QStringLiteral("文件太大")
                                                       : fileProblemText(problemForErrno(error), FileRole::Playlist));
}

} // namespace

EntryTexts entriesFromPlaylistText(const QString &text)
{
    EntryTexts entries;
    EntryCollector collector(entries);
    forEachPlaylistLine(text, [&](QStringView line) { collector.take(line); });
    return entries;
}

ReadResult readPlaylistFile(const QString &path)
{
    // Never waits on a FIFO or device: they are refused before anything is read.
    OpenedFile file = openRegularFile(path);
    if (file.problem != FileProblem::None)
        return failedRead(fileProblemText(file.problem, FileRole::Playlist));
    if (file.size > kMaxPlaylistBytes)
        return failedRead(QStringLiteral("文件太大"));
    const int fd = file.fd.get();

    // Read twice, a piece at a time: first to learn the encoding, then to decode.
    int error = 0;
    EncodingSurvey survey;
    ReadOutcome outcome = readInPieces(fd, file.size, error, [&](QByteArrayView piece) { survey.add(piece); });
    if (outcome != ReadOutcome::Complete)
        return readFailure(outcome, error);
    survey.finish();

    ReadResult result;
    const EncodingSurvey::Reading reading = survey.reading(path);
    if (reading == EncodingSurvey::Reading::Whole) {
        // Bytes that read both ways, or broken ones: decoded whole, as decodePlaylistText
        // decodes them.
        QByteArray bytes;
        bytes.reserve(file.size);
        outcome = readInPieces(fd, file.size, error, [&](QByteArrayView piece) { bytes.append(piece); });
        if (outcome != ReadOutcome::Complete)
            return readFailure(outcome, error);
        result.entries = entriesFromPlaylistText(decodePlaylistText(bytes, path));
    } else {
        // Room for the text as UTF-8 (at most half as long again as GB18030), taken
        // from the system only as it is written, and given back after.
        result.entries.reserve(file.size / 16, file.size + file.size / 2);
        EntryCollector collector(result.entries);
        LineDecoder decoder(reading == EncodingSurvey::Reading::Utf8, collector);
        outcome = readInPieces(fd, file.size, error, [&](QByteArrayView piece) { decoder.add(piece); });
        if (outcome != ReadOutcome::Complete)
            return readFailure(outcome, error);
        decoder.finish();
        result.entries.squeeze();
    }
    result.ok = true;
    return result;
}

namespace {

// The title and path lines of entries [from, to).
void appendPlaylistLines(QString &out, const EntryTexts &entries, qsizetype from, qsizetype to)
{
    for (qsizetype row = from; row < to; ++row) {
        if (const auto parts = SplitEntry(fixedText(entries.at(row))))
            appendEntryLines(out, *parts);
    }
}

} // namespace

QString playlistTextFromEntries(const EntryTexts &entries)
{
    QString out = kHeader + kLineEnd;
    appendPlaylistLines(out, entries, 0, entries.size());
    return out;
}

QByteArray encodePlaylist(const EntryTexts &entries, const QString &listPath)
{
    // A few thousand entries at a time: the text of a big list is never held whole
    // beside its bytes. Cut between lines, so no character is split.
    constexpr qsizetype kEntriesAtATime = 4096;
    QStringEncoder encoder = namesUtf8List(listPath) ? QStringEncoder(QStringEncoder::Utf8) : QStringEncoder("GB18030");
    if (!encoder.isValid())
        encoder = QStringEncoder(QStringEncoder::Utf8);
    // Room for all of it at once (an entry's two lines take at most 16 bytes more than
    // its text), so that the bytes are never copied to grow.
    QByteArray bytes;
    bytes.reserve(entries.textBytes() + 16 * entries.size() + 64);
    QString text = kHeader + kLineEnd;
    for (qsizetype from = 0; from < entries.size(); from += kEntriesAtATime) {
        appendPlaylistLines(text, entries, from, std::min(entries.size(), from + kEntriesAtATime));
        bytes += encoder.encode(text);
        text.clear();
    }
    bytes += encoder.encode(text);
    return bytes;
}

QByteArray encodePlaylistText(const QString &text, const QString &listPath)
{
    if (namesUtf8List(listPath))
        return text.toUtf8();
    // GB18030 covers all of Unicode, so any path survives, and older players read it.
    QStringEncoder gb18030("GB18030");
    if (!gb18030.isValid())
        return text.toUtf8();
    return gb18030.encode(text);
}

namespace {

// Rewrites an existing file over its old bytes, for a list in a folder where no file
// can be made to rename over it. That cannot be atomic; it comes as close as the file
// system allows: the space is reserved first, so a full disk fails before an old byte
// changes; the new bytes are written and synced, and only then is the file cut to
// their length. A crash in the middle of the write can still leave the file partly
// new and partly old, and one before the cut leaves old bytes after the new ones.
WriteResult writeInPlace(const QString &path, const QByteArray &bytes, const QString &refused)
{
    OpenedFile file = openRegularFile(path, OpenFor::Writing);
    if (file.problem != FileProblem::None)
        return failedWrite(refused);
    const int fd = file.fd.get();
    const qint64 newSize = bytes.size();
    if (newSize > file.size) {
        const int error = ::posix_fallocate(fd, 0, off_t(newSize));
        if (error != 0) {
            // Whatever a failed reservation added beyond the old end goes again.
            [[maybe_unused]] const int cut = ::ftruncate(fd, off_t(file.size));
            return failedWrite(withDetail(QStringLiteral("写入出错"), qt_error_string(error)));
        }
    }
    if (!writeAllAt(fd, 0, bytes) || ::fsync(fd) != 0)
        return failedWrite(withDetail(QStringLiteral("写入出错"), qt_error_string(errno)));
    if (::ftruncate(fd, off_t(newSize)) != 0 || ::fsync(fd) != 0)
        return failedWrite(withDetail(QStringLiteral("无法写入或替换原文件"), qt_error_string(errno)));
    return WriteResult{true, QString()};
}

} // namespace

WriteResult writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return failedWrite(QStringLiteral("没有文件名"));
    const QFileInfo target(path);
    if (target.isDir())
        return failedWrite(QStringLiteral("目标是一个文件夹"));
    if (!target.absoluteDir().exists())
        return failedWrite(QStringLiteral("文件夹不存在"));

    // The bytes go to a temporary file beside the target, which is synced and then
    // renamed over it: the old playlist stays whole until the new one is complete.
    // Qt's own fallback would empty the old file first, so it stays off.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        const QString refused = withDetail(QStringLiteral("无法在该文件夹中创建文件"), file.errorString());
        // A folder that takes no new file may still hold a list that can be written.
        if (!target.isFile())
            return failedWrite(refused);
        return writeInPlace(path, bytes, refused);
    }
    if (file.write(bytes) != bytes.size()) {
        const QString detail = file.errorString();
        file.cancelWriting();
        return failedWrite(withDetail(QStringLiteral("写入出错"), detail));
    }
    if (!file.commit())
        return failedWrite(withDetail(QStringLiteral("无法写入或替换原文件"), file.errorString()));
    return WriteResult{true, QString()};
}

} // namespace velmora

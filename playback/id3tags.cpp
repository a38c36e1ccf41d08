#include "id3tags.h"

#include "entry.h"
#include "posixfile.h"

#include <QList>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

namespace velmora {

namespace {

// Tags up to this size are read in one piece; larger ones (embedded pictures) are
// walked frame by frame so that memory stays small.
constexpr qint64 kWholeTagLimit = 1 << 20;
// A title, artist or album frame larger than this is garbage, not text.
constexpr qint64 kTextFrameLimit = 64 * 1024;
// Bounds the work on hostile tags made of millions of tiny frames.
constexpr int kMaxFrames = 4096;

enum class Field { None, Title, Artist, Album };

quint32 bigEndian(QByteArrayView bytes)
{
    quint32 value = 0;
    for (char c : bytes)
        value = (value << 8) | uchar(c);
    return value;
}

bool isSyncsafe(QByteArrayView bytes)
{
    return std::none_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) & 0x80; });
}

quint32 syncsafe(QByteArrayView bytes)
{
    quint32 value = 0;
    for (char c : bytes)
        value = (value << 7) | (uchar(c) & 0x7F);
    return value;
}

QByteArray syncsafeBytes(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 3; i >= 0; --i) {
        bytes[i] = char(value & 0x7F);
        value >>= 7;
    }
    return bytes;
}

// Undoes ID3 unsynchronisation: every 0xFF 0x00 pair was a lone 0xFF.
QByteArray resynchronise(QByteArrayView data)
{
    QByteArray out;
    out.reserve(data.size());
    for (qsizetype i = 0; i < data.size(); ++i) {
        out.append(data[i]);
        if (uchar(data[i]) == 0xFF && i + 1 < data.size() && data[i + 1] == '\0')
            ++i;
    }
    return out;
}

bool isFrameId(QByteArrayView id)
{
    return !id.isEmpty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

Field fieldOf(QByteArrayView id)
{
    if (id == "TIT2" || id == "TT2")
        return Field::Title;
    if (id == "TPE1" || id == "TP1")
        return Field::Artist;
    if (id == "TALB" || id == "TAL")
        return Field::Album;
    return Field::None;
}

QString &fieldRef(TrackTags &tags, Field field)
{
    switch (field) {
    case Field::Title:
        return tags.title;
    case Field::Artist:
        return tags.artist;
    default:
        return tags.album;
    }
}

// UTF-16 code units to text; lone surrogates become U+FFFD, an odd last byte is dropped.
QString decodeUtf16(QByteArrayView bytes, bool bigEndianOrder)
{
    QString text;
    text.reserve(bytes.size() / 2);
    const auto unitAt = [&](qsizetype i) {
        const uchar a = uchar(bytes[i]), b = uchar(bytes[i + 1]);
        return char16_t(bigEndianOrder ? (a << 8) | b : (b << 8) | a);
    };
    const qsizetype units = bytes.size() / 2;
    for (qsizetype u = 0; u < units; ++u) {
        const char16_t unit = unitAt(2 * u);
        if (QChar::isHighSurrogate(unit) && u + 1 < units && QChar::isLowSurrogate(unitAt(2 * u + 2))) {
            text.append(QChar(unit));
            text.append(QChar(unitAt(2 * u + 2)));
            ++u;
        } else if (QChar::isSurrogate(unit)) {
            text.append(QChar(QChar::ReplacementCharacter));
        } else {
            text.append(QChar(unit));
        }
    }
    return text;
}

// Splits at terminators: a 0x00 byte, or for UTF-16 an aligned 0x00 0x00 pair.
QList<QByteArrayView> splitValues(QByteArrayView text, bool wide)
{
    QList<QByteArrayView> values;
    const qsizetype step = wide ? 2 : 1;
    qsizetype start = 0;
    for (qsizetype i = 0; i + step <= text.size(); i += step) {
        if (text[i] == '\0' && (!wide || text[i + 1] == '\0')) {
            values.append(text.sliced(start, i - start));
            start = i + step;
        }
    }
    if (start < text.size())
        values.append(text.sliced(start));
    return values;
}

// The text of a T*** frame body: the encoding byte, then one or more values.
QString decodeTextFrame(QByteArrayView body)
{
    if (body.isEmpty())
        return {};
    const uchar encoding = uchar(body[0]);
    if (encoding > 3)
        return {};
    const bool wide = encoding == 1 || encoding == 2;
    QStringList parts;
    bool bigEndianOrder = encoding == 2;
    for (QByteArrayView value : splitValues(body.sliced(1), wide)) {
        QString text;
        switch (encoding) {
        case 0:
            text = decodeLegacyText(value);
            break;
        case 1:
        case 2:
            // A byte order mark applies to its value and, for lack of one, to those after it.
            if (value.size() >= 2 && uchar(value[0]) == 0xFF && uchar(value[1]) == 0xFE) {
                bigEndianOrder = false;
                value = value.sliced(2);
            } else if (value.size() >= 2 && uchar(value[0]) == 0xFE && uchar(value[1]) == 0xFF) {
                bigEndianOrder = true;
                value = value.sliced(2);
            }
            text = decodeUtf16(value, bigEndianOrder);
            break;
        default:
            text = QString::fromUtf8(value);
            break;
        }
        text = oneLine(text);
        if (!text.isEmpty())
            parts.append(text);
    }
    return parts.join(QLatin1Char('/'));
}

// ID3v2.4 sizes are syncsafe, but some taggers wrote plain integers. Prefer whichever
// reading makes the frame end on a boundary (the next frame, the padding or the end of
// the tag), as `endsWell(size)` tells.
template<typename EndsWell>
qint64 v24FrameSize(QByteArrayView sizeBytes, EndsWell endsWell)
{
    const quint32 plain = bigEndian(sizeBytes);
    if (!isSyncsafe(sizeBytes))
        return plain;
    const quint32 safe = syncsafe(sizeBytes);
    if (safe != plain && !endsWell(safe) && endsWell(plain))
        return plain;
    return safe;
}

void fillMissing(TrackTags &tags, const TrackTags &fallback)
{
    if (tags.title.isEmpty())
        tags.title = fallback.title;
    if (tags.artist.isEmpty())
        tags.artist = fallback.artist;
    if (tags.album.isEmpty())
        tags.album = fallback.album;
}

} // namespace

QString decodeLegacyText(QByteArrayView bytes)
{
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
    if (!ascii) {
        QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
        if (gb18030.isValid()) {
            QString text = gb18030.decode(bytes);
            if (!gb18030.hasError())
                return text;
        }
    }
    return QString::fromLatin1(bytes);
}

QString oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            line.append(QLatin1Char(' '));
        else if (u != 0xFEFF) // stray byte order marks
            line.append(c);
    }
    // A tag value longer than this is junk, and laying it out would stall the window.
    return leftWholeCharacters(line.simplified(), kMaxTagCharacters);
}

qint64 id3v2TagSize(QByteArrayView header)
{
    if (header.size() < 10 || !header.startsWith("ID3"))
        return 0;
    const uchar major = uchar(header[3]);
    if (major < 2 || major > 4 || uchar(header[4]) == 0xFF || !isSyncsafe(header.sliced(6, 4)))
        return 0;
    const bool footer = major == 4 && (uchar(header[5]) & 0x10);
    return 10 + qint64(syncsafe(header.sliced(6, 4))) + (footer ? 10 : 0);
}

TrackTags parseId3v2(QByteArrayView tag)
{
    TrackTags tags;
    if (id3v2TagSize(tag) == 0)
        return tags;
    const int major = uchar(tag[3]);
    const uchar flags = uchar(tag[5]);
    if (major == 2 && (flags & 0x40))
        return tags; // ID3v2.2 "compressed" tags never had a defined compression: ignore them

    QByteArrayView frames = tag.sliced(10, std::min<qint64>(syncsafe(tag.sliced(6, 4)), tag.size() - 10));
    QByteArray resynchronised;
    if (major < 4 && (flags & 0x80)) {
        resynchronised = resynchronise(frames);
        frames = resynchronised;
    }
    const bool allFramesUnsynchronised = major == 4 && (flags & 0x80);

    qsizetype pos = 0;
    if (major >= 3 && (flags & 0x40)) {
        if (frames.size() < 4)
            return tags;
        qint64 extendedSize = 0;
        if (major == 3) {
            extendedSize = qint64(bigEndian(frames.first(4))) + 4;
        } else {
            if (!isSyncsafe(frames.first(4)))
                return tags;
            extendedSize = syncsafe(frames.first(4));
        }
        if (extendedSize < 6 || extendedSize > frames.size())
            return tags;
        pos = qsizetype(extendedSize);
    }

    const int idLength = major == 2 ? 3 : 4;
    const int headerLength = major == 2 ? 6 : 10;
    for (int count = 0; count < kMaxFrames && pos + headerLength <= frames.size(); ++count) {
        const QByteArrayView id = frames.sliced(pos, idLength);
        if (!isFrameId(id))
            break; // padding, or garbage
        qint64 size = 0;
        if (major == 2)
            size = bigEndian(frames.sliced(pos + 3, 3));
        else if (major == 3)
            size = bigEndian(frames.sliced(pos + 4, 4));
        else
            size = v24FrameSize(frames.sliced(pos + 4, 4), [&](qint64 candidate) {
                const qint64 next = qint64(pos) + 10 + candidate;
                if (next >= frames.size())
                    return next == frames.size();
                return frames[next] == '\0' || (next + 4 <= frames.size() && isFrameId(frames.sliced(next, 4)));
            });
        const uchar formatFlags = major >= 3 ? uchar(frames[pos + 9]) : 0;
        const qsizetype dataStart = pos + headerLength;
        if (size > frames.size() - dataStart)
            break; // cut short
        QByteArrayView data = frames.sliced(dataStart, qsizetype(size));
        pos = dataStart + qsizetype(size);

        const Field field = fieldOf(id);
        if (field == Field::None || !fieldRef(tags, field).isEmpty())
            continue;

        QByteArray resynchronisedFrame;
        qsizetype skip = 0;
        if (major == 3) {
            if (formatFlags & 0xC0)
                continue; // compressed or encrypted
            if (formatFlags & 0x20)
                skip += 1; // group id
        } else if (major == 4) {
            if (formatFlags & 0x0C)
                continue; // compressed or encrypted
            if ((formatFlags & 0x02) || allFramesUnsynchronised) {
                resynchronisedFrame = resynchronise(data);
                data = resynchronisedFrame;
            }
            if (formatFlags & 0x40)
                skip += 1; // group id
            if (formatFlags & 0x01)
                skip += 4; // data length indicator
        }
        if (skip > data.size())
            continue;
        fieldRef(tags, field) = decodeTextFrame(data.sliced(skip));
    }
    return tags;
}

TrackTags parseId3v1(QByteArrayView tail)
{
    TrackTags tags;
    if (tail.size() < 128)
        return tags;
    const QByteArrayView tag = tail.last(128);
    if (!tag.startsWith("TAG"))
        return tags;
    const auto field = [&](qsizetype offset) {
        QByteArrayView bytes = tag.sliced(offset, 30);
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes = bytes.first(nul);
        while (!bytes.isEmpty() && bytes.back() == ' ')
            bytes.chop(1);
        return oneLine(decodeLegacyText(bytes));
    };
    tags.title = field(3);
    tags.artist = field(33);
    tags.album = field(63);
    return tags;
}

TrackTags parseTags(QByteArrayView head, QByteArrayView tail)
{
    TrackTags tags = parseId3v2(head);
    fillMissing(tags, parseId3v1(tail));
    return tags;
}

namespace {

// For tags too big to load: copies only the wanted text frames into a small tag of the
// same version, which parseId3v2() then reads as usual.
QByteArray readWantedFrames(int fd, const QByteArray &header, qint64 fileSize)
{
    const int major = uchar(header[3]);
    const uchar flags = uchar(header[5]);
    if (major < 4 && (flags & 0x80)) {
        // Unsynchronised as a whole: frame sizes only make sense after decoding, so
        // settle for the frames in the first part of the tag.
        return readAt(fd, 0, kWholeTagLimit);
    }
    const qint64 end = std::min<qint64>(10 + syncsafe(QByteArrayView(header).sliced(6, 4)), fileSize);
    qint64 pos = 10;
    if (major >= 3 && (flags & 0x40)) {
        const QByteArray extended = readAt(fd, pos, 4);
        if (extended.size() < 4)
            return {};
        pos += major == 3 ? qint64(bigEndian(extended)) + 4 : qint64(syncsafe(extended));
    }
    const int headerLength = major == 2 ? 6 : 10;
    const auto isBoundary = [&](qint64 at) {
        if (at == end)
            return true;
        if (at > end)
            return false;
        const QByteArray next = readAt(fd, at, 4);
        return !next.isEmpty() && (next[0] == '\0' || (next.size() == 4 && isFrameId(next)));
    };
    QByteArray frames;
    for (int count = 0; count < kMaxFrames && pos + headerLength <= end; ++count) {
        const QByteArray frameHeader = readAt(fd, pos, headerLength);
        if (frameHeader.size() < headerLength)
            break;
        const QByteArrayView id = QByteArrayView(frameHeader).first(major == 2 ? 3 : 4);
        if (!isFrameId(id))
            break;
        const QByteArrayView sizeBytes = QByteArrayView(frameHeader).sliced(major == 2 ? 3 : 4, major == 2 ? 3 : 4);
        const qint64 size = major == 4 ? v24FrameSize(sizeBytes, [&](qint64 candidate) {
            return isBoundary(pos + 10 + candidate);
        })
                                       : qint64(bigEndian(sizeBytes));
        if (fieldOf(id) != Field::None && size <= kTextFrameLimit)
            frames += frameHeader + readAt(fd, pos + headerLength, size);
        pos += headerLength + size;
    }
    QByteArray tag = header.first(10);
    if (major >= 3)
        tag[5] = char(flags & ~0x50); // the extended header and footer were left behind
    tag.replace(6, 4, syncsafeBytes(quint32(frames.size())));
    return tag + frames;
}

} // namespace

TrackTags readTags(int fd, qint64 fileSize)
{
    QByteArray head;
    const QByteArray header = readAt(fd, 0, 10);
    const qint64 tagSize = id3v2TagSize(header);
    if (tagSize > 0) {
        if (std::min(tagSize, fileSize) <= kWholeTagLimit)
            head = readAt(fd, 0, std::min(tagSize, fileSize));
        else
            head = readWantedFrames(fd, header, fileSize);
    }
    QByteArray tail;
    if (fileSize >= 128 && fileSize - 128 >= std::min(tagSize, fileSize))
        tail = readAt(fd, fileSize - 128, 128);
    return parseTags(head, tail);
}

} // namespace velmora

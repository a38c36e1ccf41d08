#include "id3tags.h"

#include "posixfile.h"
#include "wholecharacters.h"

#include <QList>
#include <QStringDecoder>
#include <QStringList>

#include <id3v1tag.h>
#include <id3v2frame.h>
#include <id3v2header.h>
#include <id3v2synchdata.h>
#include <id3v2tag.h>
#include <tdebuglistener.h>
#include <textidentificationframe.h>

#include <algorithm>
#include <functional>

// TagLib decodes the headers, flags and text values. What stays here is what it does not
// do: reading a tag without loading it whole (TagLib's ID3v2::Tag reads every byte, even
// a picture of many MB), telling GBK from Latin-1, and a few repairs of broken taggers'
// output that TagLib does not make (see below).

namespace velmora {

namespace {

namespace ID3v2 = TagLib::ID3v2;

// Tags up to this size are read in one piece; larger ones (embedded pictures) are
// walked frame by frame so that memory stays small.
constexpr qint64 kWholeTagLimit = 1 << 20;
// A title, artist or album frame larger than this is garbage, not text.
constexpr qint64 kTextFrameLimit = 64 * 1024;
// Bounds the work on hostile tags made of millions of tiny frames.
constexpr int kMaxFrames = 4096;

// Returns up to `length` bytes at `offset` of a tag's source, fewer at its end.
using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

// Bytes in memory, lent without a copy: `bytes` outlives the reading.
ReadAt readerOf(QByteArrayView bytes)
{
    return [bytes](qint64 offset, qint64 length) {
        return offset >= bytes.size()
                   ? QByteArray()
                   : QByteArray::fromRawData(bytes.data() + offset, std::min(length, bytes.size() - offset));
    };
}

TagLib::ByteVector toVector(QByteArrayView bytes)
{
    return TagLib::ByteVector(bytes.data(), uint(bytes.size()));
}

QByteArrayView viewOf(const TagLib::ByteVector &bytes)
{
    return QByteArrayView(bytes.data(), bytes.size());
}

// TagLib keeps the UTF-16 code units of the file; a lone surrogate becomes U+FFFD.
QString fromTagLib(const TagLib::String &text)
{
    QString units;
    units.reserve(text.size());
    for (wchar_t unit : text)
        units.append(QChar(char16_t(unit)));
    const QList<uint> ucs4 = units.toUcs4(); // replaces lone surrogates
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(ucs4.constData()), ucs4.size());
}

// Legacy 8-bit text, in ID3v2 values declared Latin-1 and in ID3v1 fields: one
// parse() serves both of TagLib's handler interfaces.
class LegacyTextHandler final : public ID3v2::Latin1StringHandler, public TagLib::ID3v1::StringHandler
{
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        // ID3v1 fields are padded with NULs or spaces.
        QByteArrayView bytes = viewOf(data);
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes = bytes.first(nul);
        while (!bytes.isEmpty() && bytes.back() == ' ')
            bytes.chop(1);
        return TagLib::String(decodeLegacyText(bytes).toStdString(), TagLib::String::UTF8);
    }
};

// TagLib reports every oddity of a broken tag on stderr; broken tags are expected here.
class SilentDebugListener final : public TagLib::DebugListener
{
public:
    void printMessage(const TagLib::String &) override {}
};

// TagLib's string handlers and debug listener are process-wide: set them once.
void setUpTagLib()
{
    [[maybe_unused]] static const bool done = [] {
        static LegacyTextHandler legacyText;
        static SilentDebugListener silent;
        TagLib::setDebugListener(&silent);
        ID3v2::Tag::setLatin1StringHandler(&legacyText);
        TagLib::ID3v1::Tag::setStringHandler(&legacyText);
        return true;
    }();
}

// TagLib keeps ID3v2::Frame::Header for frames and their factory; a subclass may name it.
struct FrameHeaderName : ID3v2::Frame
{
    using Header = ID3v2::Frame::Header;
};
using FrameHeader = FrameHeaderName::Header;

enum class Field { None, Title, Artist, Album };

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

bool isFrameId(QByteArrayView id)
{
    return !id.isEmpty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// The text of a T*** frame body (the encoding byte, then one or more values), its
// values joined with '/'.
QString frameText(TagLib::ByteVector body)
{
    if (body.isEmpty() || uchar(body[0]) > 3)
        return {}; // an encoding ID3 does not define
    // TagLib drops UTF-16 without a byte order mark; what taggers wrote so is little-endian.
    if (body[0] == 1 && !body.containsAt("\xFF\xFE", 1) && !body.containsAt("\xFE\xFF", 1))
        body = body.mid(0, 1) + TagLib::ByteVector("\xFF\xFE", 2) + body.mid(1);
    // TagLib drops UTF-8 that is not valid; old taggers wrote GBK or Latin-1 so.
    if (body[0] == 3 && !viewOf(body).sliced(1).isValidUtf8())
        body[0] = 0;
    // The flags were undone by the caller: TagLib gets a plain frame.
    const ID3v2::TextIdentificationFrame frame(TagLib::ByteVector("TIT2") + ID3v2::SynchData::fromUInt(body.size())
                                               + TagLib::ByteVector(2, '\0') + body);
    QStringList values;
    for (const TagLib::String &value : frame.fieldList()) {
        const QString text = oneLine(fromTagLib(value));
        if (!text.isEmpty())
            values.append(text);
    }
    return values.join(QLatin1Char('/'));
}

// The wanted text frames between `pos` and `end` of an ID3v2 tag, read through `read`:
// only their headers and the frames wanted are read, so a picture costs nothing.
TrackTags readFrames(const ReadAt &read, const ID3v2::Header &tagHeader, qint64 pos, qint64 end)
{
    TrackTags tags;
    const uint major = tagHeader.majorVersion();
    if (major >= 3 && tagHeader.extendedHeader()) {
        // Not ID3v2::ExtendedHeader: it reads the v2.3 size as v2.4 defines it. In v2.3 the
        // size leaves out its own 4 bytes and is a plain integer.
        const TagLib::ByteVector size = toVector(read(pos, 4));
        if (size.size() < 4)
            return tags;
        const qint64 extendedSize = major == 3 ? qint64(size.toUInt()) + 4 : ID3v2::SynchData::toUInt(size);
        if (extendedSize < 6 || extendedSize > end - pos)
            return tags;
        pos += extendedSize;
    }
    // Where a frame may end: the next frame, the padding, or the end of the tag.
    const auto isBoundary = [&](qint64 at) {
        if (at >= end)
            return at == end;
        const QByteArray next = read(at, 4);
        return !next.isEmpty() && (next[0] == '\0' || (next.size() == 4 && isFrameId(next)));
    };
    const qint64 headerLength = ID3v2::Frame::headerSize(major);
    for (int count = 0; count < kMaxFrames && pos + headerLength <= end; ++count) {
        const QByteArray headerBytes = read(pos, headerLength);
        if (headerBytes.size() < headerLength)
            break;
        const QByteArrayView id = QByteArrayView(headerBytes).first(major == 2 ? 3 : 4);
        if (!isFrameId(id))
            break; // padding, or garbage
        const FrameHeader header(toVector(headerBytes), major);
        const qint64 dataStart = pos + headerLength;
        qint64 size = header.frameSize();
        // Some taggers wrote plain integers as v2.4 sizes, which TagLib takes only when a
        // byte is not syncsafe: take the plain reading also when only it ends on a boundary.
        const qint64 plain = major == 4 ? toVector(headerBytes).toUInt(4u) : size;
        if (plain != size && !isBoundary(dataStart + size) && isBoundary(dataStart + plain))
            size = plain;
        if (size > end - dataStart)
            break; // cut short
        pos = dataStart + size;

        const Field field = fieldOf(id);
        if (field == Field::None || !fieldRef(tags, field).isEmpty() || size > kTextFrameLimit
            || header.compression() || header.encryption())
            continue;
        TagLib::ByteVector data = toVector(read(dataStart, size));
        if (header.unsynchronisation() || (major == 4 && tagHeader.unsynchronisation()))
            data = ID3v2::SynchData::decode(data);
        // TagLib skips the data length indicator, but not the group id before it.
        const uint extra = (header.groupingIdentity() ? 1 : 0) + (header.dataLengthIndicator() ? 4 : 0);
        if (extra <= data.size())
            fieldRef(tags, field) = frameText(data.mid(extra));
    }
    return tags;
}

// The ID3v2 tag at the start of a source of `available` bytes.
TrackTags readId3v2(const ReadAt &read, qint64 available)
{
    setUpTagLib();
    const QByteArray headerBytes = read(0, 10);
    if (id3v2TagSize(headerBytes) == 0)
        return {};
    const ID3v2::Header header(toVector(headerBytes));
    const uint major = header.majorVersion();
    if (major == 2 && header.extendedHeader())
        return {}; // ID3v2.2 "compressed" tags never had a defined compression: ignore them
    const qint64 end = std::min<qint64>(10 + header.tagSize(), available);
    if (major < 4 && header.unsynchronisation()) {
        // Unsynchronised as a whole: frame sizes only make sense after decoding, so settle
        // for the frames in the first part of the tag.
        const QByteArray frames =
            viewOf(ID3v2::SynchData::decode(toVector(read(10, std::min(end - 10, kWholeTagLimit))))).toByteArray();
        return readFrames(readerOf(frames), header, 0, frames.size());
    }
    return readFrames(read, header, 10, end);
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
    const QByteArrayView size = header.sliced(6, 4);
    if (major < 2 || major > 4 || uchar(header[4]) == 0xFF
        || std::any_of(size.begin(), size.end(), [](char c) { return uchar(c) & 0x80; }))
        return 0;
    const ID3v2::Header parsed(toVector(header.first(10)));
    return major == 4 ? parsed.completeTagSize() : 10 + parsed.tagSize(); // footers came with v2.4
}

TrackTags parseId3v2(QByteArrayView tag)
{
    return readId3v2(readerOf(tag), tag.size());
}

TrackTags parseId3v1(QByteArrayView tail)
{
    if (tail.size() < 128 || !tail.last(128).startsWith("TAG"))
        return {};
    setUpTagLib();
    // ID3v1::Tag reads a file; its parse() of the 128 bytes is for subclasses.
    struct Id3v1Tag : TagLib::ID3v1::Tag
    {
        explicit Id3v1Tag(const TagLib::ByteVector &data) { parse(data); }
    };
    const Id3v1Tag tag(toVector(tail.last(128)));
    return {oneLine(fromTagLib(tag.title())), oneLine(fromTagLib(tag.artist())), oneLine(fromTagLib(tag.album()))};
}

TrackTags parseTags(QByteArrayView head, QByteArrayView tail)
{
    TrackTags tags = parseId3v2(head);
    fillMissing(tags, parseId3v1(tail));
    return tags;
}

TrackTags readTags(int fd, qint64 fileSize)
{
    const qint64 tagSize = std::min(id3v2TagSize(readAt(fd, 0, 10)), fileSize);
    // ID3v1 is in the last 128 bytes, unless they belong to the ID3v2 tag.
    const QByteArray tail = fileSize - 128 >= tagSize ? readAt(fd, fileSize - 128, 128) : QByteArray();
    if (tagSize <= kWholeTagLimit)
        return parseTags(readAt(fd, 0, tagSize), tail);
    TrackTags tags = readId3v2([fd](qint64 offset, qint64 length) { return readAt(fd, offset, length); }, fileSize);
    fillMissing(tags, parseId3v1(tail));
    return tags;
}

} // namespace velmora

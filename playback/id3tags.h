#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace velmora {

struct TrackTags
{
    QString title;
    QString artist;
    QString album;

    bool isEmpty() const { return title.isEmpty() && artist.isEmpty() && album.isEmpty(); }
    bool operator==(const TrackTags &) const = default;
};

// ID3v2.2/2.3/2.4 tag at the start of `tag` (which may be cut short: whatever is
// complete is used). Unsynchronisation, extended headers and frame flags are honoured;
// compressed and encrypted frames are skipped. Never reads outside `tag`.
TrackTags parseId3v2(QByteArrayView tag);

// ID3v1 tag in the last 128 bytes of a file (`tail` may be longer; its end is used).
TrackTags parseId3v1(QByteArrayView tail);

// ID3v2 from `head`, each missing field filled from ID3v1 in `tail`.
TrackTags parseTags(QByteArrayView head, QByteArrayView tail);

// Total size in bytes (header, frames, padding, footer) of the ID3v2 tag that starts
// `header` (at least 10 bytes), or 0 if there is none.
qint64 id3v2TagSize(QByteArrayView header);

// Text in a legacy 8-bit field: GB18030 when that is what the bytes are (old Chinese
// taggers wrote GBK into Latin-1 fields), otherwise Latin-1.
QString decodeLegacyText(QByteArrayView bytes);

// Makes a tag value fit one line of text: control characters become spaces, runs of
// white space collapse, ends are trimmed, and at most kMaxTagCharacters are kept.
inline constexpr qsizetype kMaxTagCharacters = 1000;
QString oneLine(const QString &text);

// Reads the tags of an open file without loading huge tags (pictures of many MB):
// frames other than the text frames wanted are stepped over.
TrackTags readTags(int fd, qint64 fileSize);

} // namespace velmora

#pragma once

#include "entrytexts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>


namespace velmora {

// --- Reading -------------------------------------------------------------------------
// Decodes playlist bytes: UTF-8 for a ".m3u8" list, one starting with a BOM, or bytes
// that are not GB18030; GB18030 for bytes that are not UTF-8. Bytes valid both ways are
// GB18030, the program's own format, unless the UTF-8 reading names existing files or
// is East Asian text more common than the GB18030 one. So a list written here reads
// back as written whether or not its files exist; for text within GB2312 (with any
// ASCII) that is certain, see scoreUtf8.
QString decodePlaylistText(const QByteArray &bytes, const QString &listPath = QString());
// Calls `onLine` for every line: CR LF or a lone CR ends a line, a lone LF stays inside
// it, and the last line need not be ended.
template<typename LineHandler>
void forEachPlaylistLine(QStringView text, LineHandler onLine)
{
    const qsizetype size = text.size();
    qsizetype lineStart = 0;
    while (lineStart < size) {
        const qsizetype cr = text.indexOf(u'\r', lineStart);
        if (cr < 0) {
            onLine(text.sliced(lineStart));
            return;
        }
        onLine(text.sliced(lineStart, cr - lineStart));
        lineStart = cr + 1;
        if (lineStart < size && text.at(lineStart) == u'\n')
            ++lineStart;
    }
}
// The list-form entries that the lines give (title lines "#EXTINF:235,", path lines
// beginning with "A"-"Z" or "/"; everything else is skipped).
EntryTexts entriesFromPlaylistText(const QString &text);

struct ReadResult
{
    bool ok = false;
    QString error; // in words for the user when !ok
    EntryTexts entries;
};
// Reads and decodes the list a piece at a time, so that a big one is never held whole
// as bytes and text at once. Blocking: for a thread of its own where the list is big.
ReadResult readPlaylistFile(const QString &path);

// --- Writing -------------------------------------------------------------------------
// "#EXTM3U", then a title line and a path line per entry that holds "(", every line
// ending in CR LF. Works on the texts as they were taken: the scans may yield, and
// what runs meanwhile may change the list, but a save writes the list as it was asked.
QString playlistTextFromEntries(const EntryTexts &entries);
// The same text as the bytes a list file holds, in the encoding encodePlaylistText uses.
QByteArray encodePlaylist(const EntryTexts &entries, const QString &listPath = QString());
// GB18030, no BOM; UTF-8 for a list named ".m3u8", which every reader takes as UTF-8.
QByteArray encodePlaylistText(const QString &text, const QString &listPath = QString());

struct WriteResult
{
    bool ok = false;
    QString error; // in words for the user when !ok
};
// Replaces the file atomically: a failed or interrupted write leaves the old file as it
// was. Only where the folder takes no new file but the file itself can be written is it
// rewritten in place, which a crash can leave half done.
WriteResult writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace velmora

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QListWidget;

namespace velmora {

// --- Reading -------------------------------------------------------------------------
// Decodes playlist bytes: UTF-8 for a ".m3u8" list, a BOM or bytes that are valid
// UTF-8 and not a GB18030 list that happens to be valid UTF-8 too (told by the files
// its paths name, else by which reading is the more plausible text); otherwise GB18030.
QString decodePlaylistText(const QByteArray &bytes, const QString &listPath = QString());
// Calls `onLine` for every line: CR LF or a lone CR ends a line, a lone LF stays inside
// it, and the last line need not be ended.
template<typename LineHandler>
void forEachPlaylistLine(const QString &text, LineHandler onLine)
{
    const qsizetype size = text.size();
    qsizetype lineStart = 0;
    while (lineStart < size) {
        const qsizetype cr = text.indexOf(u'\r', lineStart);
        if (cr < 0) {
            onLine(QStringView(text).sliced(lineStart));
            return;
        }
        onLine(QStringView(text).sliced(lineStart, cr - lineStart));
        lineStart = cr + 1;
        if (lineStart < size && text.at(lineStart) == u'\n')
            ++lineStart;
    }
}
// The list-form entries that the lines give (title lines "#EXTINF:235,", path lines
// beginning with "A"-"Z" or "/"; everything else is skipped).
QStringList entriesFromPlaylistText(const QString &text);

struct ReadResult
{
    bool ok = false;
    QString error; // in words for the user when !ok
    QStringList entries;
};
ReadResult readPlaylistFile(const QString &path);

// --- Writing -------------------------------------------------------------------------
// "#EXTM3U", then a title line and a path line per entry that holds "(", every line
// ending in CR LF. Reads each entry text afresh from the list (the scans may yield).
QString playlistTextFromList(QListWidget *list);
QString playlistTextFromEntries(const QStringList &entries);
QByteArray encodePlaylistText(const QString &text); // GB18030, no BOM

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

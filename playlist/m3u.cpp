#include "m3u.h"

#include "entry.h"
#include "posixfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <unistd.h>

namespace velmora {

namespace {

const QString kTitlePrefix = QStringLiteral("#EXTINF:235,");
const QString kHeader = QStringLiteral("#EXTM3U");
const QString kLineEnd = QStringLiteral("\r\n");

// Far beyond any real playlist; refusing it keeps a stray huge file from eating memory.
constexpr qint64 kMaxPlaylistBytes = qint64(256) * 1024 * 1024;

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

ReadOutcome readAll(int fd, qint64 expectedSize, QByteArray &bytes, int &error)
{
    bytes.clear();
    bytes.reserve(expectedSize);
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return ReadOutcome::Complete;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return ReadOutcome::Failed;
        }
        // The file may grow while it is read; the size guard has to hold regardless.
        if (bytes.size() + got > kMaxPlaylistBytes)
            return ReadOutcome::TooLarge;
        bytes.append(chunk, got);
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

} // namespace

QString decodePlaylistText(const QByteArray &bytes)
{
    // Validating first spares a big GB18030 list a whole UTF-8 decode thrown away.
    // The UTF-8 decoder drops one leading BOM by itself. Stateless, so a sequence cut
    // off at the end counts as an error instead of waiting for more input.
    QStringDecoder gb18030("GB18030");
    if (bytes.startsWith("\xEF\xBB\xBF") || QByteArrayView(bytes).isValidUtf8() || !gb18030.isValid())
        return QStringDecoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless).decode(bytes);

    QString text = gb18030.decode(bytes);
    // A multi-byte sequence cut off at the very end would otherwise vanish silently:
    // a trailing line feed can never continue a sequence, so it flushes it out as a
    // replacement character, and is then removed again.
    text += gb18030.decode(QByteArrayView("\n"));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

QStringList entriesFromPlaylistText(const QString &text)
{
    QStringList entries;
    QString title;
    forEachPlaylistLine(text, [&](QStringView line) {
        if (line.startsWith(kTitlePrefix))
            title = line.sliced(kTitlePrefix.size()).toString();
        else if (isPathLine(line))
            entries.append(listFormEntry(title, line.toString())); // the title carries over
    });
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

    QByteArray bytes;
    int readError = 0;
    switch (readAll(file.fd.get(), file.size, bytes, readError)) {
    case ReadOutcome::Complete:
        break;
    case ReadOutcome::TooLarge:
        return failedRead(QStringLiteral("文件太大"));
    case ReadOutcome::Failed:
        return failedRead(fileProblemText(problemForErrno(readError), FileRole::Playlist));
    }

    ReadResult result;
    result.ok = true;
    result.entries = entriesFromPlaylistText(decodePlaylistText(bytes));
    return result;
}

QString playlistTextFromList(QListWidget *list)
{
    // Take the texts first: each scan may run other handlers, which may open
    // another list or delete entries, and a save writes the list as it was asked.
    QStringList entries;
    const int count = list ? list->count() : 0;
    entries.reserve(count);
    for (int row = 0; row < count; ++row)
        entries.append(list->item(row)->text());
    return playlistTextFromEntries(entries);
}

QString playlistTextFromEntries(const QStringList &entries)
{
    QString out = kHeader + kLineEnd;
    for (const QString &entry : entries) {
        if (const auto parts = SplitEntry(fixedText(entry)))
            appendEntryLines(out, *parts);
    }
    return out;
}

QByteArray encodePlaylistText(const QString &text)
{
    // GB18030 covers all of Unicode, so any path survives, and older players read it.
    QStringEncoder gb18030("GB18030");
    if (!gb18030.isValid())
        return text.toUtf8();
    return gb18030.encode(text);
}

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
    // Writing in place as a fallback would give that up, so it stays off.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return failedWrite(withDetail(QStringLiteral("无法在该文件夹中创建文件"), file.errorString()));
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

#include "entry.h"

#include "playlistmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <utility>

namespace velmora {

namespace {

std::function<bool()> &yieldHook()
{
    static std::function<bool()> hook;
    return hook;
}

// Events are processed at most this often during a scan; more often would make a
// scan over a long list crawl, less often would make the window feel stuck.
constexpr qint64 kYieldIntervalMs = 10;
// Reading the clock costs far more than a character comparison, so it is only
// consulted every so many yield points.
constexpr unsigned kClockCheckStride = 64;

bool defaultYield()
{
    // Per thread, so a scan off the GUI thread neither races with one on it nor runs
    // the GUI thread's events.
    thread_local QElapsedTimer sinceLastProcessing;
    thread_local unsigned callsSinceClockCheck = 0;

    if (++callsSinceClockCheck < kClockCheckStride)
        return false;
    callsSinceClockCheck = 0;
    if (!sinceLastProcessing.isValid()) {
        sinceLastProcessing.start();
        return false;
    }
    if (sinceLastProcessing.elapsed() < kYieldIntervalMs)
        return false;
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread()) {
        sinceLastProcessing.restart();
        return false;
    }
    QCoreApplication::processEvents();
    sinceLastProcessing.restart();
    return true;
}

struct ScanHit
{
    QString text;    // the text as it was when the sought character was found
    qsizetype index; // 0-based position of that character
};

// Walks from the last character towards the first until `isSought` matches. The
// bound is the length the text had when the scan began; whenever the yield point
// reports that events ran, the text is read afresh, and positions past its new end
// simply do not match.
template<typename Predicate>
std::optional<ScanHit> scanBackward(const TextReader &read, Predicate isSought)
{
    QString text = read();
    const qsizetype bound = text.size();
    for (qsizetype index = bound - 1; index >= 0; --index) {
        if (index < text.size() && isSought(text.at(index)))
            return ScanHit{std::move(text), index};
        if (scanYield())
            text = read();
    }
    return std::nullopt;
}

bool isOpeningBracket(QChar c)
{
    return c == u'(';
}

bool isPathSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

// The path sits between the bracket and the last character, which is dropped
// whatever it is (normally the closing bracket).
QString pathAfterBracket(const ScanHit &hit)
{
    const qsizetype length = hit.text.size() - hit.index - 2;
    return hit.text.mid(hit.index + 1, std::max<qsizetype>(length, 0));
}

} // namespace

bool scanYield()
{
    const auto &hook = yieldHook();
    if (hook)
        return hook();
    return defaultYield();
}

void setScanYieldHook(std::function<bool()> hook)
{
    yieldHook() = std::move(hook);
}

TextReader fixedText(const QString &text)
{
    return [text] { return text; };
}

TextReader listEntryText(PlaylistModel *list, int row)
{
    // The list may be cleared, shortened or even destroyed while a scan yields.
    return [guard = QPointer<PlaylistModel>(list), row]() -> QString {
        return guard ? guard->text(row) : QString();
    };
}

std::optional<QString> EntryPath(const TextReader &read)
{
    const auto hit = scanBackward(read, isOpeningBracket);
    if (!hit)
        return std::nullopt;
    return pathAfterBracket(*hit);
}

std::optional<QString> EntryPathOf(const QString &text)
{
    const qsizetype bracket = text.lastIndexOf(u'(');
    if (bracket < 0)
        return std::nullopt;
    return pathAfterBracket(ScanHit{text, bracket});
}

std::optional<EntryParts> SplitEntry(const TextReader &read)
{
    const auto hit = scanBackward(read, isOpeningBracket);
    if (!hit)
        return std::nullopt;
    return EntryParts{hit->text.left(hit->index), pathAfterBracket(*hit)};
}

QString TrackBaseName(const TextReader &read)
{
    const auto hit = scanBackward(read, isPathSeparator);
    if (!hit)
        return QString();
    // Drops the four characters of the extension, ".mp3" or whatever stands there.
    const qsizetype length = hit->text.size() - hit->index - 1 - 4;
    if (length <= 0)
        return QString();
    return hit->text.mid(hit->index + 1, length);
}

namespace {

// One allocation per entry: loading a long playlist builds a great many of them.
QString composeEntry(QStringView display, QStringView separator, QStringView path)
{
    QString entry;
    entry.reserve(display.size() + separator.size() + path.size() + 1);
    entry.append(display).append(separator).append(path).append(u')');
    return entry;
}

} // namespace

QString listFormEntry(const QString &title, const QString &path)
{
    return composeEntry(title, u"     (", path);
}

QString fileFormEntry(const QString &name, const QString &path)
{
    return composeEntry(name, u".mp3          (", path);
}

} // namespace velmora

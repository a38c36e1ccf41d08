#pragma once

#include "wholecharacters.h"

#include <QString>

#include <functional>
#include <optional>


namespace velmora {

// --- Yield points of the backward scans -------------------------------------------
// Every scan calls scanYield() after each character that is not the one it seeks, so
// other handlers can run during a long scan. Pending events are processed only when
// some milliseconds have passed since the last time, which keeps a scan over a huge
// list cheap. Returns true when events were processed: the caller must then read its
// text again, since the list may have changed.
bool scanYield();
// Replaces the yield policy (tests make a scan yield at chosen moments). An empty
// function restores the default.
void setScanYieldHook(std::function<bool()> hook);

// Reads the text being scanned, afresh; an entry that has gone reads as "".
using TextReader = std::function<QString()>;
TextReader fixedText(const QString &text);
class PlaylistModel;
TextReader listEntryText(PlaylistModel *list, int row);

struct EntryParts
{
    QString name; // everything before the last "(", untrimmed
    QString path; // between that "(" and the last character
};

// Path of an entry: the text between its last "(" and its last character; nullopt
// when the text holds no "(".
std::optional<QString> EntryPath(const TextReader &read);
// The same for a text as it stands, without yielding: for code inside other handlers.
std::optional<QString> EntryPathOf(const QString &text);
std::optional<EntryParts> SplitEntry(const TextReader &read);
// Characters after the last "\" or "/" without the last four; empty when there is no
// separator or the file name is shorter than four characters.
QString TrackBaseName(const TextReader &read);

// The three entry forms.
QString listFormEntry(const QString &title, const QString &path);   // title, 5 spaces, (path)
QString fileFormEntry(const QString &name, const QString &path);    // name.mp3, 10 spaces, (path)

} // namespace velmora

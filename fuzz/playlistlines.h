#pragma once
// The playlist reader's lines as a list, for tests and fuzzers to compare against.

#include "m3u.h"

#include <QStringList>

namespace velmora {

inline QStringList splitPlaylistLines(const QString &text)
{
    QStringList lines;
    forEachPlaylistLine(text, [&lines](QStringView line) { lines.append(line.toString()); });
    return lines;
}

} // namespace velmora

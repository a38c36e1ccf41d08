#pragma once

#include <QString>

namespace velmora {

// The file-form entry for a chosen file: base name, ".mp3", ten spaces, (path).
QString fileEntryForPath(const QString &path);

// What a file is by its name, in any letter case: an MP3 track (".mp3"), a playlist
// (".m3u", ".m3u8").
bool isTrackName(const QString &name);
bool isListName(const QString &name);

} // namespace velmora

#pragma once

#include <QString>

namespace velmora {

// The automatic playlist of a program installed in `programFolder`: mp3.m3u beside the
// program wherever that works (the file is there, or the folder can be written);
// otherwise, as in /usr/bin, $XDG_DATA_HOME/velmora/mp3.m3u, whose folder is made
// here so that the first save can create the list.
QString automaticPlaylistIn(const QString &programFolder);

} // namespace velmora

#pragma once

#include <QString>

namespace velmora {

// The automatic playlist of a program installed in `programFolder`: mp3.m3u beside the
// program wherever that works (the file is there, or the folder can be written);
// otherwise, as in /usr/bin, $XDG_DATA_HOME/velmora/mp3.m3u. Nothing is made here.
QString automaticPlaylistIn(const QString &programFolder);

// Before a save: makes the folder of the list in $XDG_DATA_HOME when `listPath` is
// that list, so that the first save creates it and a launch that saves nothing
// leaves no trace. Any other folder is left alone: a missing one is the user's to see.
void makeDataFolderFor(const QString &listPath);

} // namespace velmora

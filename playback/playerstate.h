#pragma once

#include <QString>

namespace velmora {

// The variables every command shares.
struct PlayerVars
{
    QString MP3File;      // path of the current track
    bool RePlay = false;  // continuous play: the end of a track starts the next
    // List position the end-of-track step moves on from. Kept 32-bit: a 16-bit
    // counter would overflow on lists longer than 32767 entries.
    qint32 RoundPlay = 0;
    QString FilePath;     // the playlist file that "保存" writes
};

} // namespace velmora

#pragma once

#include <QPointer>
#include <QString>

class QAction;
class QLabel;
class QListWidget;
class QSlider;
class QWidget;

namespace velmora {

class FileDialog;
class Mp3Engine;

// The window-level variables every handler shares.
struct PlayerVars
{
    QString MP3File;      // path of the current track
    bool RePlay = false;  // continuous play: the end of a track starts the next
    // List position the end-of-track step moves on from. Kept 32-bit: a 16-bit
    // counter would overflow on lists longer than 32767 entries.
    qint32 RoundPlay = 0;
    QString FilePath;     // the playlist file that "保存" writes
};

// The parts of the main window the playback handlers work on. Owned by the window.
struct PlayerControls
{
    QWidget *window = nullptr;
    QListWidget *List1 = nullptr;
    QSlider *Slider1 = nullptr;
    QLabel *songPanel = nullptr;   // status panel 1
    QLabel *timePanel = nullptr;   // status panel 2
    QLabel *framePanel = nullptr;  // status panel 3
    QAction *runPlay = nullptr;
    QAction *runDel = nullptr;
    QAction *munPause = nullptr;
    FileDialog *CommonDialog1 = nullptr;
    Mp3Engine *Mp3Play1 = nullptr;
};

} // namespace velmora

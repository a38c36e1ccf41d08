#pragma once

#include "player.h"

#include <QObject>

class QAction;
class QLabel;
class QSlider;
class QWidget;

namespace velmora {

// The window caption while `path` plays: "Velmora--" and the path as it is. Qt takes
// "[*]" in a caption for its modified-mark placeholder, so it is doubled to stay literal.
QString trackCaption(const QString &path);

// The parts of the main window that show playback. Owned by the window.
struct PlayerControls
{
    QWidget *window = nullptr;
    QSlider *Slider1 = nullptr;
    QLabel *songPanel = nullptr;   // status panel 1
    QLabel *timePanel = nullptr;   // status panel 2
    QLabel *framePanel = nullptr;  // status panel 3
    QAction *runPlay = nullptr;
    QAction *munPause = nullptr;
};

// The handlers of the playback controls: they give their commands to the player and
// show what it announces on the window's caption, slider, panels and menu items.
class PlaybackHandlers : public QObject
{
    Q_OBJECT
public:
    PlaybackHandlers(Player &player, const PlayerControls &controls, QObject *parent = nullptr);

    // While a mouse button is held on the slider, position reports leave its value
    // alone, so that the click seeks to where the user put it.
    void setSliderHeld(bool held) { m_sliderHeld = held; }

public slots:
    void runPlay_Click();
    void List1_DblClick();
    void munPause_Click();
    void Mp3Play1_PositionChanged(qint32 frame);
    void Slider1_Click();

private:
    void showSongPanel(const QString &title, const QString &artist, const QString &album);

    Player &m_player;
    PlayerControls m_ui;
    bool m_sliderHeld = false;
    const int m_timePanelWidth;  // design widths of panels 2 and 3
    const int m_framePanelWidth;
    qint64 m_fittedFrameCount = -1; // the track the panels' widths were fitted to
    qint64 m_fittedDuration = -1;
};

} // namespace velmora

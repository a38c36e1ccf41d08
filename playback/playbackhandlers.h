#pragma once

#include "playerstate.h"
#include "steps.h"

#include <QObject>
#include <QTimer>

namespace velmora {

// The window caption while `path` plays: "Velmora--" and the path as it is. Qt takes
// "[*]" in a caption for its modified-mark placeholder, so it is doubled to stay literal.
QString trackCaption(const QString &path);

// Starting, pausing, following and ending tracks: the handlers of the playback
// commands and events, working on the window's variables and controls.
class PlaybackHandlers : public QObject
{
    Q_OBJECT
public:
    PlaybackHandlers(PlayerVars &vars, const PlayerControls &controls, QObject *parent = nullptr);

    // Caption and current-song panel for MP3File.
    void ShowNowPlaying();
    // Starts entry 0 of a freshly loaded list; RoundPlay becomes listPosition.
    void StartLoadedList(qint32 listPosition, const Steps &steps = Steps::direct());
    // OpenFile(MP3File, ""), telling the window whether the track could be opened.
    qint16 openCurrentTrack();
    // Selects an entry the way a click does (the window's selection handling runs).
    void selectEntry(int row);
    // While a mouse button is held on the slider, position reports leave its value
    // alone, so that the click seeks to where the user put it.
    void setSliderHeld(bool held) { m_sliderHeld = held; }

    // The two halves of the tray menu's pause item, for commands from elsewhere.
    void pauseTrack();
    void resumeTrack();
    // Starts the entry `step` places after (or before) the selected one, wrapping
    // around, the way the end of a track starts the next one.
    void skipEntries(int step);
    // Seeks as a click on the slider at that frame does.
    void seekToFrame(qint32 frame);
    // The list, the play mode or the track changed: the engine is told, once the command
    // at hand is done, which track the end of this one will start.
    void nextTrackMayHaveChanged() { m_nextTrackHint.start(); }

public slots:
    void runPlay_Click();
    void List1_DblClick();
    void munPause_Click();
    void Mp3Play1_PositionChanged(qint32 frame);
    void Slider1_Click();
    void Mp3Play1_PlaybackEnded();

signals:
    // After every open: reason is empty when the track opened, else why it did not.
    void trackOpened(const QString &path, const QString &reason);
    // Continuous play went round the whole list without a track that opened, and stopped.
    void nothingPlayable();

private:
    void startSelectedEntry(bool firstSelectedWins);
    void showCaption();
    void showSongPanel();
    void showFrameCount();
    // Opens MP3File, plays it and shows it as the playing track.
    void playCurrentTrack();
    void tellNextTrack();

    PlayerVars &m_vars;
    PlayerControls m_ui;
    bool m_sliderHeld = false;
    const int m_timePanelWidth;  // design widths of panels 2 and 3
    const int m_framePanelWidth;
    qint64 m_fittedFrameCount = -1; // the track the panels' widths were fitted to
    qint64 m_fittedDuration = -1;
    // Opens that failed one after the other since a track last opened or the user last
    // started one: a whole round of them means nothing in the list can be played.
    qint64 m_failedOpensInARow = 0;
    QTimer m_nextTrackHint;
};

} // namespace velmora

#pragma once

#include "mp3engine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class QSettings;

namespace velmora {

enum class Transport { Stopped, Playing, Paused };

// The current track as the status bar shows it.
struct TrackInfo
{
    QString path;
    QString title, artist, album;
    qint64 lengthUs = 0;
};

// How the window carries out the commands: each is a handler its toolbar, tray menu,
// list or slider runs, so captions, slider, panels and RoundPlay stay right whoever
// gives the command.
struct PlayerActions
{
    std::function<void()> play;                     // the toolbar's play
    std::function<void()> pause;                    // the tray menu's pause
    std::function<void()> resume;                   // the tray menu's resume
    std::function<void()> stop;                     // the toolbar's stop
    std::function<void(int step)> skip;             // +1: next entry, -1: previous
    std::function<void(qint32 frame)> seekFrame;    // a click on the slider at frame
    std::function<void(const QString &path)> open;  // a file handed in from outside
    std::function<int()> entryCount;
};

// The transport state, the commands and the current track, without widgets. The state
// is what the engine has been told to do and has reported, never a caption: every
// engine call the handlers make passes through engine() on its way to the real engine.
class Player : public QObject
{
    Q_OBJECT
public:
    explicit Player(std::unique_ptr<Mp3Engine> engine, QObject *parent = nullptr);
    ~Player() override;

    // The engine as the handlers call it.
    Mp3Engine &engine();
    void setActions(PlayerActions actions) { m_actions = std::move(actions); }

    Transport transport() const { return m_transport; }
    // True while the engine opens a file: the command that asked for it is still running.
    bool opening() const { return m_opening > 0; }
    bool hasEntries() const;
    // Counts the files opened: changes whenever another file becomes the current track.
    quint64 trackNumber() const { return m_trackNumber; }
    TrackInfo track() const;
    // Where playback is now, in microseconds, between two position reports as well.
    qint64 positionUs() const;
    qint64 frameToUs(qint64 frame) const;

    void play();
    void pause();
    void resume();
    void toggle();
    void stop();
    void next();
    void previous();
    void seekTo(qint64 positionUs);
    // Relative seek; past the end of the track it moves on to the next entry.
    void seekBy(qint64 offsetUs);
    void open(const QString &path);
    // Runs `command` now or, while another command is in progress (a track opening lets
    // events run), right after it: commands from outside never run inside one another,
    // and run in the order they came. Every command above goes through here.
    void submit(std::function<void()> command);

    // How loud the engine plays, from 0.0 (silent) to 1.0 (as decoded, where a first run
    // starts).
    double volume() const { return m_volume; }
    // The one place the volume is set, whoever asks (MPRIS, the tray's wheel): clamped to
    // 0..1; not a number is ignored.
    void setVolume(double volume);
    // Takes the volume the last run left in the user's settings, and keeps every change
    // there for the next run. Without it (tests) the volume starts full and is not kept.
    void rememberVolume();

signals:
    void transportChanged(velmora::Transport transport);
    void trackChanged();
    // After every seek, whoever asked for it.
    void seeked(qint32 frame);
    // Entries were added to the list or removed (emitted by the window).
    void entriesChanged();
    // No command is in progress any more, and none waits: the state is whole again.
    void settled();
    void volumeChanged(double volume);

private:
    class Watched;
    friend class Watched;

    void setTransport(Transport transport);
    void noteOpened(const QString &path, bool ok);
    void notePlay();
    void notePause();
    void noteStop();
    void notePosition(qint64 frame);
    void noteSeek(qint32 frame);

    bool busy() const { return m_opening > 0 || m_running > 0; }
    void runWaiting();
    void runWaitingSoon();
    void doPlay();
    void doPause();
    void doSkip(int step);
    void doSeekTo(qint64 positionUs);

    Mp3Engine &real() const;
    qint64 lengthUs() const; // the open track's length

    std::unique_ptr<Watched> m_engine;
    PlayerActions m_actions;
    Transport m_transport = Transport::Stopped;
    int m_opening = 0;
    int m_running = 0;                         // commands running, the outermost first
    std::deque<std::function<void()>> m_waiting; // commands that came meanwhile
    QString m_path;
    bool m_trackOpen = false;
    quint64 m_trackNumber = 0;
    qint64 m_frame = 0;          // last frame reported, sought or started from
    qint64 m_heldMs = 0;         // played since then, up to the last pause
    QElapsedTimer m_sinceFrame;  // running while playing
    double m_volume = 1.0;
    std::unique_ptr<QSettings> m_settings; // where the volume is kept, once remembered
};

} // namespace velmora

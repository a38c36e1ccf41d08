#pragma once

#include "mp3engine.h"
#include "playerstate.h"
#include "playlistmodel.h"
#include "steps.h"

#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "m3u.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>

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

// The player: the playlist, which entry is selected, the transport state, the current
// track and every command, without widgets. Whoever gives a command (the window's
// handlers, the tray, MPRIS, the command line, a second launch, a drop) calls it here;
// the window only shows what the signals below announce, in the order the command's
// steps announce it.
class Player : public QObject
{
    Q_OBJECT
public:
    explicit Player(std::unique_ptr<Mp3Engine> engine, QObject *parent = nullptr);
    ~Player() override;

    // The engine, as the commands call it: every call is seen by the player first.
    Mp3Engine &engine();
    PlaylistModel &list() { return m_list; }
    QItemSelectionModel &selection() { return m_selection; }
    PlayerVars &vars() { return m_vars; }

    Transport transport() const { return m_transport; }
    bool hasEntries() const { return m_list.count() > 0; }
    // Counts the files opened: changes whenever another file becomes the current track.
    quint64 trackNumber() const { return m_trackNumber; }
    TrackInfo track() const;
    // Where playback is now, in microseconds, between two position reports as well.
    qint64 positionUs() const;
    qint64 frameToUs(qint64 frame) const;
    // No command is in progress and none waits to run (list commands may wait for a
    // dialog to close).
    bool isIdle() const;
    // The first selected entry, -1 when none is.
    int selectedRow() const;

    // --- Commands. Each runs now or, while another is in progress (a track opening, a
    // list being read, a scan letting events run), right after it, in the order they
    // came: no command runs inside another.

    // Transport, as the tray, MPRIS and media keys give it.
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
    // Files handed in from outside (the command line, a second launch, MPRIS), acted on
    // as the toolbar's 打开 would: each list (.m3u, .m3u8) replaces the playlist and
    // starts it, in the order given; then the MP3 files go to the top of the list in the
    // order given and the first of them plays. Letter case of the extensions does not
    // matter. A file that is missing, unreadable or of another kind is reported in the
    // status bar and skipped; the others still load. `then` runs once they are open.
    void openFiles(const QStringList &files, std::function<void()> then = {});
    void open(const QString &path) { openFiles({path}); }

    // The window's commands.
    void loadAutomaticList(const QString &path, bool start); // start-up
    void playSelected(bool firstSelectedWins); // 播放 (last selected wins), a double-click (first)
    void togglePauseItem();                    // the tray menu's 暂停播放 / 继续播放
    void seekFrame(qint32 frame);              // a click on the slider
    void toolbarOpen(const QString &chosen);   // the toolbar's 打开, with the file chosen
    void toolbarSave();
    void toolbarPlay();
    void toolbarPause();
    void toolbarStop();
    void openList(const QString &path);        // 打开列表, a list dropped alone
    void save();                               // 保存
    void saveAs(const QString &path);          // 列表另存为
    void add(const QString &path);             // 添加
    void removeSelected();                     // 删除
    // Tracks dropped from a file manager, appended as 添加 appends them; `then` runs after.
    void appendTracks(const QStringList &paths, std::function<void()> then = {});
    // Selects an entry the way a click does.
    void selectEntry(int row);
    // Starts entry 0 of a freshly loaded list; RoundPlay becomes listPosition.
    void StartLoadedList(qint32 listPosition, const Steps &steps = Steps::direct());

    // How loud the engine plays, from 0.0 (silent) to 1.0 (as decoded, where a first run
    // starts).
    double volume() const { return m_volume; }
    // The one place the volume is set, whoever asks (MPRIS, the tray's wheel): clamped to
    // 0..1; not a number is ignored. Acts at once, like the other transport commands.
    void setVolume(double volume);
    // Takes the volume the last run left in the user's settings, and keeps every change
    // there for the next run. Without it (tests) the volume starts full and is not kept.
    void rememberVolume();

    // While a dialog or a menu waits for the user, transport commands still act at
    // once, but commands that replace or extend the list wait until it closes.
    class UserWait
    {
    public:
        explicit UserWait(Player &player);
        ~UserWait();
        UserWait(const UserWait &) = delete;
        UserWait &operator=(const UserWait &) = delete;

    private:
        Player &m_player;
    };

public slots:
    // The engine's end of a track: the next entry starts, as continuous play has it.
    void Mp3Play1_PlaybackEnded();

signals:
    void transportChanged(velmora::Transport transport);
    void trackChanged();
    // After every seek, whoever asked for it.
    void seeked(qint32 frame);
    void positionChanged(qint32 frame);
    // Entries were added to the list or removed.
    void entriesChanged();
    // No command is in progress any more, and none waits: the state is whole again.
    void settled();
    void volumeChanged(double volume);

    // What the window shows, announced step by step.
    void captionShown(const QString &path);
    void songShown(const QString &title, const QString &artist, const QString &album);
    void frameCountShown(qint32 frames);
    void pageStepShown(int step);
    void sliderEnabled(bool enabled);
    void playItemEnabled(bool enabled);
    void pauseItemEnabled(bool enabled);
    void pauseItemResumes(bool resumes); // the item reads 继续播放 (true) or 暂停播放
    void fileChoiceCleared();
    // After every open: reason is empty when the track opened, else why it did not.
    void trackOpened(const QString &path, const QString &reason);
    // A problem for the status bar, without a dialog.
    void problem(const QString &text);

private:
    class Watched;
    friend class Watched;
    enum class Kind { Transport, ChangesList };

    void submit(std::function<void()> command, Kind kind = Kind::Transport);
    bool busy(Kind kind) const;
    std::optional<std::size_t> nextRunnable() const;
    void runWaiting();
    void runWaitingSoon();

    // Bookkeeping of what the engine was told and reported.
    void setTransport(Transport transport);
    void noteOpened(const QString &path, bool ok);
    void notePlay();
    void notePause();
    void noteStop();
    void notePosition(qint64 frame);
    void noteSeek(qint32 frame);
    Mp3Engine &real() const;
    qint64 lengthUs() const; // the open track's length

    // The commands' steps.
    void announceSong();
    qint16 openCurrentTrack();
    void playCurrentTrack();
    void startSelectedEntry(bool firstSelectedWins);
    void pauseTrack();
    void resumeTrack();
    void skipEntries(int step);
    void doSeekTo(qint64 positionUs);
    void doPlay();
    void doPause();
    void stopTrack(const Steps &steps);
    void playTrack(const Steps &steps);
    void openTracks(const QStringList &paths, const Steps &steps);
    void openReadList(const QString &path, EntryTexts entries, const Steps &steps);
    struct OutsideFiles
    {
        QStringList files;
        qsizetype next = 0;
        QStringList tracks;
        QStringList problems;
        std::function<void()> then;
    };
    void openFilesFrom(const std::shared_ptr<OutsideFiles> &opening);
    bool loadPlaylist(ReadResult result, const QString &path, bool clearFirst, bool quietWhenMissing);
    // Writes the list as it stands now: a big one on a thread of its own.
    void writePlaylist(const QString &path, bool reportFailure);
    void markTrack(const QString &path, const QString &reason);
    // Runs `work` on a thread of its own, then what it returns here; the player counts
    // as busy until then.
    void runOnThread(std::function<std::function<void()>()> work);
    // Reads a list file and then runs `then` with it: a big list on a thread.
    void readList(const QString &path, std::function<void(ReadResult)> then);
    void nextTrackMayHaveChanged() { m_nextTrackHint.start(); }
    void tellNextTrack();

    PlaylistModel m_list;
    QItemSelectionModel m_selection{&m_list};
    PlayerVars m_vars;
    std::unique_ptr<Watched> m_engine;
    Transport m_transport = Transport::Stopped;
    int m_opening = 0;
    quint64 m_engineCalls = 0; // commands the engine has been given
    int m_running = 0;      // commands running, the outermost first
    int m_working = 0;      // lists being read or written on a thread
    int m_userWaits = 0;    // dialogs and menus waiting for the user
    std::deque<std::pair<Kind, std::function<void()>>> m_waiting; // commands that came meanwhile
    QString m_path;
    bool m_trackOpen = false;
    quint64 m_trackNumber = 0;
    qint64 m_frame = 0;          // last frame reported, sought or started from
    qint64 m_heldMs = 0;         // played since then, up to the last pause
    QElapsedTimer m_sinceFrame;  // running while playing
    double m_volume = 1.0;
    std::unique_ptr<QSettings> m_settings; // where the volume is kept, once remembered
    bool m_pauseItemResumes = false;
    // Opens that failed one after the other since a track last opened or the user last
    // started one: a whole round of them means nothing in the list can be played.
    qint64 m_failedOpensInARow = 0;
    QTimer m_nextTrackHint;
    std::vector<std::unique_ptr<class QThread>> m_workers;
};

} // namespace velmora

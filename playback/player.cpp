#include "player.h"

#include "entry.h"
#include "m3u.h"
#include "nextentry.h"
#include "playlistedit.h"
#include "playlistlocation.h"
#include "posixfile.h"
#include "progresstext.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <malloc.h>
#include <optional>

namespace velmora {

// Passes every call on to the real engine and tells the player what it did. Its events
// are the real engine's, seen by the player first.
class Player::Watched final : public Mp3Engine
{
public:
    Watched(Player &player, std::unique_ptr<Mp3Engine> real) : m_player(player), m_real(std::move(real))
    {
        connect(m_real.get(), &Mp3Engine::PositionChanged, this, [this](qint32 frame) {
            m_player.notePosition(frame);
            emit PositionChanged(frame);
        });
        connect(m_real.get(), &Mp3Engine::PlaybackEnded, this, [this] {
            m_player.noteStop();
            emit PlaybackEnded();
        });
        connect(m_real.get(), &Mp3Engine::NoSoundOutput, this, &Mp3Engine::NoSoundOutput);
    }

    void Stop() override
    {
        ++m_player.m_engineCalls;
        m_real->Stop();
        m_player.noteStop();
    }
    qint16 OpenFile(const QString &path, const QString &options) override
    {
        ++m_player.m_engineCalls;
        // The open lets the window's events run while the file is read; a handler's
        // changes are not complete until it returns.
        ++m_player.m_opening;
        const qint16 status = m_real->OpenFile(path, options);
        --m_player.m_opening;
        m_player.noteOpened(path, status == 0);
        m_player.nextTrackMayHaveChanged();
        m_player.runWaitingSoon();
        return status;
    }
    void Play() override
    {
        ++m_player.m_engineCalls;
        m_real->Play();
        m_player.notePlay();
    }
    void Pause() override
    {
        ++m_player.m_engineCalls;
        m_real->Pause();
        m_player.notePause();
    }
    void SeekFrame(qint32 frame) override
    {
        ++m_player.m_engineCalls;
        m_real->SeekFrame(frame);
        m_player.noteSeek(frame);
        // A paused engine reports no position until it plays again; the slider and the
        // panels are told of the new one now, as a playing engine's next report would.
        if (m_player.m_trackOpen && m_player.m_transport == Transport::Paused)
            emit PositionChanged(frame);
    }
    qint32 GetFrameCount() override { return m_real->GetFrameCount(); }
    qint32 GetDuration() override { return m_real->GetDuration(); }
    QString GetTitle() override { return m_real->GetTitle(); }
    QString GetArtist() override { return m_real->GetArtist(); }
    QString GetAlbum() override { return m_real->GetAlbum(); }
    QString GetLastError() override { return m_real->GetLastError(); }
    void SetNextTrack(const QString &path) override { m_real->SetNextTrack(path); }
    // Through the player, which keeps and announces it.
    void SetVolume(double volume) override { m_player.setVolume(volume); }

    Mp3Engine &real() const { return *m_real; }

private:
    Player &m_player;
    std::unique_ptr<Mp3Engine> m_real;
};

Player::Player(std::unique_ptr<Mp3Engine> engine, QObject *parent)
    : QObject(parent), m_engine(std::make_unique<Watched>(*this, std::move(engine)))
{
    connect(m_engine.get(), &Mp3Engine::PositionChanged, this, &Player::positionChanged);
    connect(m_engine.get(), &Mp3Engine::PlaybackEnded, this, [this] {
        // An end that has to wait is void once the engine has been told anything since.
        const quint64 calls = m_engineCalls;
        submit([this, calls] {
            if (calls == m_engineCalls)
                Mp3Play1_PlaybackEnded();
        });
    });
    connect(m_engine.get(), &Mp3Engine::NoSoundOutput, this, &Player::problem);

    m_nextTrackHint.setSingleShot(true);
    m_nextTrackHint.setInterval(0);
    connect(&m_nextTrackHint, &QTimer::timeout, this, &Player::tellNextTrack);
    const auto listChanged = [this] {
        nextTrackMayHaveChanged();
        emit entriesChanged();
    };
    connect(&m_list, &QAbstractItemModel::rowsInserted, this, listChanged);
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, listChanged);
    connect(&m_list, &QAbstractItemModel::modelReset, this, listChanged);
    // Stop, play and the toolbar's commands change what the end of a track starts.
    connect(this, &Player::transportChanged, this, &Player::nextTrackMayHaveChanged);
}

Player::~Player()
{
    // A list still being read is small work; its result has nowhere to go.
    for (const auto &worker : m_workers)
        worker->wait();
}

Mp3Engine &Player::engine()
{
    return *m_engine;
}

Mp3Engine &Player::real() const
{
    return m_engine->real();
}

qint64 Player::lengthUs() const
{
    return qint64(real().GetDuration()) * 1000;
}

TrackInfo Player::track() const
{
    TrackInfo info;
    info.path = m_path;
    if (m_path.isEmpty())
        return info;
    info.title = real().GetTitle();
    info.artist = real().GetArtist();
    info.album = real().GetAlbum();
    info.lengthUs = lengthUs();
    return info;
}

qint64 Player::frameToUs(qint64 frame) const
{
    const qint64 frames = real().GetFrameCount();
    if (frames <= 0)
        return 0;
    const qint64 length = lengthUs();
    return std::clamp<qint64>(std::llround(double(frame) * double(length) / double(frames)), 0, length);
}

qint64 Player::positionUs() const
{
    if (!m_trackOpen)
        return 0;
    qint64 playedMs = m_heldMs;
    if (m_transport == Transport::Playing && m_sinceFrame.isValid())
        playedMs += m_sinceFrame.elapsed();
    return std::min(frameToUs(m_frame) + playedMs * 1000, lengthUs());
}

void Player::setTransport(Transport transport)
{
    if (m_transport == transport)
        return;
    m_transport = transport;
    emit transportChanged(transport);
}

void Player::noteOpened(const QString &path, bool ok)
{
    // Opening the paused track again is how the tray resumes it: the engine keeps its place.
    const bool resumes = m_transport == Transport::Paused && m_trackOpen && ok && path == m_path;
    const bool another = path != m_path;
    m_path = path;
    m_trackOpen = ok;
    if (another)
        ++m_trackNumber;
    if (!resumes) {
        m_frame = 0;
        m_heldMs = 0;
        m_sinceFrame.invalidate();
        setTransport(Transport::Stopped);
    }
    if (another)
        emit trackChanged();
}

void Player::notePlay()
{
    // Without a playable track the engine plays nothing (and soon reports an end).
    if (!m_trackOpen || m_transport == Transport::Playing)
        return;
    m_sinceFrame.start();
    setTransport(Transport::Playing);
}

void Player::notePause()
{
    if (m_transport != Transport::Playing)
        return;
    m_heldMs += m_sinceFrame.elapsed();
    m_sinceFrame.invalidate();
    setTransport(Transport::Paused);
}

void Player::noteStop()
{
    m_frame = 0;
    m_heldMs = 0;
    m_sinceFrame.invalidate();
    setTransport(Transport::Stopped);
}

void Player::notePosition(qint64 frame)
{
    m_frame = frame;
    m_heldMs = 0;
    if (m_transport == Transport::Playing)
        m_sinceFrame.start();
}

void Player::noteSeek(qint32 frame)
{
    if (!m_trackOpen)
        return;
    notePosition(std::max<qint32>(frame, 0));
    emit seeked(frame);
}


// --- Running commands one after the other -------------------------------------------

bool Player::busy(Kind kind) const
{
    return m_opening > 0 || m_running > 0 || m_working > 0 || (kind == Kind::ChangesList && m_userWaits > 0);
}

// The command that runs next, if one may: the first in line, or, while a dialog holds
// back the list commands, the first transport command behind them.
std::optional<std::size_t> Player::nextRunnable() const
{
    if (busy(Kind::Transport))
        return std::nullopt;
    for (std::size_t i = 0; i < m_waiting.size(); ++i) {
        if (!busy(m_waiting[i].first))
            return i;
    }
    return std::nullopt;
}

bool Player::isIdle() const
{
    return !nextRunnable() && !busy(Kind::Transport);
}

void Player::submit(std::function<void()> command, Kind kind)
{
    // Nothing overtakes a command of its own kind, and a list command overtakes nothing.
    const bool behind = std::any_of(m_waiting.begin(), m_waiting.end(), [kind](const auto &waiting) {
        return kind == Kind::ChangesList || waiting.first == Kind::Transport;
    });
    if (busy(kind) || behind) {
        m_waiting.emplace_back(kind, std::move(command));
        runWaitingSoon();
        return;
    }
    {
        ++m_running;
        const auto done = qScopeGuard([this] { --m_running; });
        command();
    }
    runWaitingSoon();
}

// From the event loop, once the command in progress has returned: a call from inside
// an open's events would run inside the handler that opens.
void Player::runWaitingSoon()
{
    QMetaObject::invokeMethod(this, &Player::runWaiting, Qt::QueuedConnection);
}

void Player::runWaiting()
{
    while (const std::optional<std::size_t> next = nextRunnable()) {
        const std::function<void()> command = std::move(m_waiting[*next].second);
        m_waiting.erase(m_waiting.begin() + std::ptrdiff_t(*next));
        ++m_running;
        const auto done = qScopeGuard([this] { --m_running; });
        command();
    }
    if (isIdle())
        emit settled();
}

Player::UserWait::UserWait(Player &player) : m_player(player)
{
    ++m_player.m_userWaits;
}

Player::UserWait::~UserWait()
{
    --m_player.m_userWaits;
    m_player.runWaitingSoon();
}

// --- The list --------------------------------------------------------------------------

namespace {

// Shorter paths are taken for "nothing to play".
bool playablePath(const QString &path) { return path.size() > 4; }

// Lists up to this size are read and written at once; bigger ones on a thread, so that
// the window keeps answering meanwhile.
constexpr qint64 kListReadAtOnceBytes = 1024 * 1024;
constexpr int kListWrittenAtOnceEntries = 20000;

enum class FileKind { Track, List, Other };

FileKind kindOf(const QString &path)
{
    return isTrackName(path) ? FileKind::Track : isListName(path) ? FileKind::List : FileKind::Other;
}

QString problemWith(const QString &path, const QString &what)
{
    return what + QStringLiteral("（") + path + QStringLiteral("）");
}

} // namespace

int Player::selectedRow() const
{
    const QModelIndexList rows = m_selection.selectedRows();
    int first = -1;
    for (const QModelIndex &row : rows)
        first = first < 0 ? row.row() : std::min(first, row.row());
    return first;
}

void Player::selectEntry(int row)
{
    m_selection.setCurrentIndex(m_list.index(row), QItemSelectionModel::ClearAndSelect);
}

void Player::runOnThread(std::function<std::function<void()>()> work)
{
    // Everything that comes meanwhile waits: the rest of this command runs first.
    ++m_working;
    auto done = std::make_shared<std::function<void()>>();
    std::erase_if(m_workers, [](const auto &worker) { return worker->isFinished(); });
    m_workers.push_back(std::unique_ptr<QThread>(QThread::create([work = std::move(work), done]() mutable {
        *done = std::exchange(work, {})(); // what it holds goes as soon as it is done
    })));
    QThread *worker = m_workers.back().get();
    connect(worker, &QThread::finished, this, [this, done] {
        {
            ++m_running;
            const auto finished = qScopeGuard([this] {
                --m_running;
                --m_working;
            });
            // Let go of as soon as it has run: it may hold a whole list.
            std::exchange(*done, {})();
        }
        // Reading or writing a big list leaves much memory free in the malloc arena of
        // the thread that did it; glibc keeps it unless asked to give it back.
        malloc_trim(0);
        runWaiting();
    });
    worker->start();
}

void Player::readList(const QString &path, std::function<void(ReadResult)> then)
{
    if (QFileInfo(path).size() <= kListReadAtOnceBytes) {
        then(readPlaylistFile(path));
        return;
    }
    runOnThread([path, then = std::move(then)]() -> std::function<void()> {
        auto result = std::make_shared<ReadResult>(readPlaylistFile(path));
        return [then, result] { then(std::exchange(*result, ReadResult())); };
    });
}

bool Player::loadPlaylist(ReadResult result, const QString &path, bool clearFirst, bool quietWhenMissing)
{
    if (!result.ok) {
        if (!(quietWhenMissing && !QFileInfo::exists(path)))
            emit problem(result.error);
        return false;
    }
    if (clearFirst)
        m_list.clear();
    m_vars.FilePath = path;
    m_list.append(std::move(result.entries));
    return true;
}

void Player::loadAutomaticList(const QString &path, bool start)
{
    submit([this, path, start] {
        // "保存" must always have a file to write, even when the automatic list is missing.
        m_vars.FilePath = path;
        readList(path, [this, path, start](ReadResult result) {
            loadPlaylist(std::move(result), path, false, true);
            if (start)
                StartLoadedList(0);
        });
    });
}

void Player::openList(const QString &path)
{
    submit([this, path] {
        readList(path, [this, path](ReadResult result) {
            if (loadPlaylist(std::move(result), path, true, false))
                StartLoadedList(-1);
        });
    }, Kind::ChangesList);
}

void Player::writePlaylist(const QString &path, bool reportFailure)
{
    const auto write = [path, entries = m_list.texts()] {
        makeDataFolderFor(path);
        return writeFileAtomically(path, encodePlaylist(entries, path));
    };
    const auto tell = [this, reportFailure](const WriteResult &result) {
        if (!result.ok && reportFailure)
            emit problem(result.error);
    };
    if (m_list.count() <= kListWrittenAtOnceEntries) {
        tell(write());
        return;
    }
    runOnThread([write, tell]() -> std::function<void()> {
        const WriteResult result = write();
        return [tell, result] { tell(result); };
    });
}

void Player::save()
{
    submit([this] { writePlaylist(m_vars.FilePath, true); });
}

void Player::saveAs(const QString &path)
{
    submit([this, path] { writePlaylist(path, true); });
}

void Player::add(const QString &path)
{
    submit([this, path] { m_list.append(fileEntryForPath(path)); }, Kind::ChangesList);
}

void Player::removeSelected()
{
    submit([this] {
        const int row = selectedRow();
        if (row < 0)
            return;
        // Not a selection by the user: the window's selection handling sees nothing selected.
        m_list.removeAt(row);
        m_selection.clear();
    }, Kind::ChangesList);
}

void Player::appendTracks(const QStringList &paths, std::function<void()> then)
{
    submit([this, paths, then = std::move(then)] {
        EntryTexts entries;
        for (const QString &track : paths)
            entries.append(fileEntryForPath(track));
        m_list.append(std::move(entries));
        if (then)
            then();
    }, Kind::ChangesList);
}

void Player::openFiles(const QStringList &files, std::function<void()> then)
{
    submit([this, files, then = std::move(then)] {
        auto opening = std::make_shared<OutsideFiles>();
        opening->files = files;
        opening->then = then;
        openFilesFrom(opening);
    }, Kind::ChangesList);
}

// Takes the files in order; a list is read (a big one on a thread) before the files
// after it are looked at.
void Player::openFilesFrom(const std::shared_ptr<OutsideFiles> &opening)
{
    const Steps steps = Steps::skippingFailures();
    while (opening->next < opening->files.size()) {
        const QString file = opening->files.at(opening->next++);
        switch (kindOf(file)) {
        case FileKind::Track: {
            const FileProblem problem = openRegularFile(file).problem;
            // An empty file gets as far as the engine, as from the toolbar, which says why.
            if (problem == FileProblem::None)
                opening->tracks << file;
            else
                opening->problems << problemWith(file, QStringLiteral("无法打开MP3文件：")
                                                           + fileProblemText(problem, FileRole::Track));
            break;
        }
        case FileKind::List:
            readList(file, [this, file, opening, steps](ReadResult list) {
                if (list.ok)
                    openReadList(file, std::move(list.entries), steps);
                else
                    opening->problems << problemWith(file, list.error);
                openFilesFrom(opening);
            });
            return;
        case FileKind::Other:
            opening->problems << problemWith(file, QFileInfo(file).isDir() ? QStringLiteral("这是一个文件夹，无法打开")
                                                                            : QStringLiteral("不是MP3文件或M3U播放列表"));
            break;
        }
    }
    if (!opening->tracks.isEmpty()) {
        openTracks(opening->tracks, steps);
        // Unlike the toolbar's 打开, the window names the track at once, and the end of
        // the first track moves on to the second, not to the first again.
        m_vars.RoundPlay = 0;
        emit captionShown(m_vars.MP3File);
        announceSong();
        nextTrackMayHaveChanged();
    }
    // Last, so that the opening of a track does not clear the report at once.
    if (!opening->problems.isEmpty())
        emit problem(opening->problems.join(QStringLiteral("；")));
    if (opening->then)
        opening->then();
}

// --- Starting and following tracks -------------------------------------------------

// The track the end of this one starts, by the rule Mp3Play1_PlaybackEnded follows,
// as the list stands now; none when the end starts nothing.
void Player::tellNextTrack()
{
    // Not in the middle of an open: the command that opens tells it once it is done.
    if (m_opening > 0)
        return;
    QString next;
    if (m_vars.RePlay) {
        next = m_vars.MP3File;
        const EndOfTrackStep step = stepAtEndOfTrack(m_vars.RoundPlay, m_list.count());
        if (step.takesEntry) {
            if (const auto path = EntryPathOf(m_list.text(step.roundPlay)))
                next = *path;
        }
    }
    m_engine->SetNextTrack(next);
}

// The tags of the open track for the current-song panel, read in the panel's order.
void Player::announceSong()
{
    const QString title = m_engine->GetTitle();
    const QString artist = m_engine->GetArtist();
    emit songShown(title, artist, m_engine->GetAlbum());
}

qint16 Player::openCurrentTrack()
{
    const QString path = m_vars.MP3File;
    const qint16 status = m_engine->OpenFile(path, QString());
    m_failedOpensInARow = status == 0 ? 0 : m_failedOpensInARow + 1;
    markTrack(path, status == 0 ? QString() : m_engine->GetLastError());
    return status;
}

// A track that could not be played greys out the entry that was started, with the
// reason as its tooltip, until it plays again. Only that entry: finding every entry of
// the path would walk the whole list on every failed open.
void Player::markTrack(const QString &path, const QString &reason)
{
    if (reason.isEmpty()) {
        m_list.unmarkTrack(path);
        emit trackOpened(path, reason);
        return;
    }
    emit trackOpened(path, reason);
    const int row = m_selection.currentIndex().row();
    if (EntryPathOf(m_list.text(row)) == path)
        m_list.markFailed(row, reason);
}

void Player::StartLoadedList(qint32 listPosition, const Steps &steps)
{
    if (m_list.count() <= 1)
        return;
    steps([&] {
        if (const auto path = EntryPath(listEntryText(&m_list, 0)))
            m_vars.MP3File = *path;
    });
    steps([&] { selectEntry(0); });
    if (!playablePath(m_vars.MP3File))
        return;
    steps([&] { m_engine->Stop(); });
    m_vars.RePlay = true;
    m_failedOpensInARow = 0;
    steps([&] { openCurrentTrack(); });
    steps([&] { emit captionShown(m_vars.MP3File); });
    steps([&] { announceSong(); });
    steps([&] {
        const qint32 frames = m_engine->GetFrameCount();
        emit frameCountShown(frames);
        emit pageStepShown(static_cast<int>(roundHalfEven(std::max(frames, 0) / 50.0)));
    });
    steps([&] { emit fileChoiceCleared(); });
    steps([&] {
        const QString title = m_engine->GetTitle();
        const QString artist = m_engine->GetArtist();
        m_list.append(fileFormEntry(title + QStringLiteral("--") + artist, m_vars.MP3File));
    });
    steps([&] { m_engine->Play(); });
    steps([&] { emit pauseItemEnabled(true); });
    steps([&] { emit sliderEnabled(true); });
    m_vars.RoundPlay = listPosition;
    nextTrackMayHaveChanged();
}

void Player::playSelected(bool firstSelectedWins)
{
    submit([this, firstSelectedWins] { startSelectedEntry(firstSelectedWins); });
}

void Player::startSelectedEntry(bool firstSelectedWins)
{
    m_engine->Stop();
    int chosen = 0;
    QList<int> rows;
    for (const QModelIndex &index : m_selection.selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    if (!rows.isEmpty()) {
        chosen = firstSelectedWins ? rows.first() : rows.last();
        m_vars.RoundPlay = 100;
    }
    if (const auto path = EntryPath(listEntryText(&m_list, chosen)))
        m_vars.MP3File = *path;
    if (!playablePath(m_vars.MP3File))
        return;
    m_vars.RePlay = true;
    m_failedOpensInARow = 0;
    playCurrentTrack();
}

void Player::playCurrentTrack()
{
    openCurrentTrack();
    m_engine->Play();
    emit captionShown(m_vars.MP3File);
    announceSong();
    emit frameCountShown(m_engine->GetFrameCount());
    emit sliderEnabled(true);
    emit playItemEnabled(false);
    emit pauseItemEnabled(true);
    nextTrackMayHaveChanged();
}

void Player::togglePauseItem()
{
    submit([this] {
        if (m_pauseItemResumes)
            resumeTrack();
        else
            pauseTrack();
    });
}

void Player::pauseTrack()
{
    m_engine->Pause();
    m_pauseItemResumes = true;
    emit pauseItemResumes(true);
}

void Player::resumeTrack()
{
    if (!playablePath(m_vars.MP3File))
        return;
    m_failedOpensInARow = 0;
    openCurrentTrack();
    m_engine->Play();
    m_pauseItemResumes = false;
    emit pauseItemResumes(false);
    nextTrackMayHaveChanged();
}

void Player::seekFrame(qint32 frame)
{
    submit([this, frame] { m_engine->SeekFrame(frame); });
}

void Player::skipEntries(int step)
{
    const int target = skipTarget(selectedRow(), m_list.count(), step);
    if (target < 0)
        return;
    // The end of a track moves on from RoundPlay to the entry after it.
    m_vars.RoundPlay = target - 1;
    Mp3Play1_PlaybackEnded();
}

void Player::Mp3Play1_PlaybackEnded()
{
    const EndOfTrackStep step = stepAtEndOfTrack(m_vars.RoundPlay, m_list.count());
    m_vars.RoundPlay = step.roundPlay;
    if (step.takesEntry) {
        if (const auto path = EntryPath(listEntryText(&m_list, m_vars.RoundPlay))) {
            m_vars.MP3File = *path;
            selectEntry(m_vars.RoundPlay);
        }
    }
    if (!m_vars.RePlay)
        return;
    m_engine->Stop();
    // Every entry has been tried once that many opens failed: a round may also replay a
    // chosen track and, at the end of the list, the last one.
    if (m_failedOpensInARow >= qint64(m_list.count()) + 2) {
        emit problem(QStringLiteral("列表中没有可以播放的文件"));
        return;
    }
    playCurrentTrack();
}

// --- The toolbar: every step runs on its own; a step that fails is abandoned without
// a word and the next one runs.

void Player::toolbarOpen(const QString &chosen)
{
    submit([this, chosen] {
        const Steps steps = Steps::skippingFailures();
        if (chosen.size() <= 4)
            return;
        if (chosen.endsWith(QStringLiteral("mp3"))) {
            openTracks({chosen}, steps);
            return;
        }
        if (!chosen.endsWith(QStringLiteral("m3u")))
            return;
        // A list that cannot be read leaves the current list and its file alone.
        readList(chosen, [this, chosen, steps](ReadResult list) {
            if (list.ok)
                openReadList(chosen, std::move(list.entries), steps);
        });
    }, Kind::ChangesList);
}

void Player::openTracks(const QStringList &paths, const Steps &steps)
{
    if (paths.isEmpty())
        return;
    for (int row = 0; row < paths.size(); ++row) {
        const QString &path = paths.at(row);
        QString displayName;
        steps([&] { displayName = TrackBaseName(fixedText(path)); });
        steps([&] {
            EntryTexts entry;
            entry.append(fileFormEntry(displayName, path));
            m_list.insert(row, entry);
        });
    }
    steps([&] { selectEntry(0); });
    m_vars.RoundPlay = -1;
    m_vars.MP3File = paths.first();
    steps([&] { m_engine->Stop(); });
    steps([&] { openCurrentTrack(); });
    steps([&] { emit sliderEnabled(true); });
    steps([&] { emit frameCountShown(m_engine->GetFrameCount()); });
    steps([&] { m_engine->Play(); });
}

void Player::openReadList(const QString &path, EntryTexts entries, const Steps &steps)
{
    steps([&] { m_list.clear(); });
    m_vars.FilePath = path;
    steps([&] { m_list.append(std::move(entries)); });
    StartLoadedList(0, steps);
}

void Player::toolbarSave()
{
    submit([this] {
        const Steps steps = Steps::skippingFailures();
        const QString path = m_vars.FilePath;
        // A failure is not reported: the toolbar's steps fail silently.
        steps([&] { writePlaylist(path, false); });
    });
}

void Player::toolbarPlay()
{
    submit([this] { playTrack(Steps::skippingFailures()); });
}

void Player::playTrack(const Steps &steps)
{
    if (!playablePath(m_vars.MP3File))
        return;
    m_vars.RePlay = true;
    steps([&] { openCurrentTrack(); });
    steps([&] { emit captionShown(m_vars.MP3File); });
    steps([&] { m_engine->Play(); });
}

void Player::toolbarPause()
{
    submit([this] {
        const Steps steps = Steps::skippingFailures();
        steps([&] { m_engine->Pause(); });
        steps([&] { emit sliderEnabled(false); });
    });
}

void Player::toolbarStop()
{
    submit([this] { stopTrack(Steps::skippingFailures()); });
}

void Player::stopTrack(const Steps &steps)
{
    m_vars.RePlay = false;
    steps([&] { m_engine->Stop(); });
    steps([&] { emit sliderEnabled(false); });
}

// --- Transport from outside the window --------------------------------------------

void Player::doPlay()
{
    if (m_transport == Transport::Paused)
        resumeTrack();
    else if (m_transport == Transport::Stopped)
        playTrack(Steps::skippingFailures());
}

void Player::doPause()
{
    if (m_transport == Transport::Playing)
        pauseTrack();
}

void Player::play()
{
    submit([this] { doPlay(); });
}

void Player::pause()
{
    submit([this] { doPause(); });
}

void Player::resume()
{
    submit([this] {
        if (m_transport == Transport::Paused)
            resumeTrack();
    });
}

void Player::toggle()
{
    submit([this] {
        if (m_transport == Transport::Playing)
            doPause();
        else
            doPlay();
    });
}

void Player::stop()
{
    submit([this] { stopTrack(Steps::skippingFailures()); });
}

void Player::next()
{
    submit([this] { skipEntries(1); });
}

void Player::previous()
{
    submit([this] { skipEntries(-1); });
}

void Player::seekTo(qint64 positionUs)
{
    submit([this, positionUs] { doSeekTo(positionUs); });
}

void Player::doSeekTo(qint64 positionUs)
{
    const qint64 frames = real().GetFrameCount();
    const qint64 length = lengthUs();
    if (!m_trackOpen || frames <= 0 || length <= 0)
        return;
    const qint64 target = std::clamp<qint64>(positionUs, 0, length);
    m_engine->SeekFrame(qint32(std::llround(double(target) * double(frames) / double(length))));
}

void Player::seekBy(qint64 offsetUs)
{
    submit([this, offsetUs] {
        if (!m_trackOpen)
            return;
        const qint64 position = positionUs();
        // Compared before adding: an offset near the limits of its type would wrap round.
        if (offsetUs > lengthUs() - position)
            skipEntries(1);
        else
            doSeekTo(std::max<qint64>(position + offsetUs, 0));
    });
}

// --- Volume ----------------------------------------------------------------------------

namespace {
const QString kVolumeKey = QStringLiteral("volume");
} // namespace

void Player::setVolume(double volume)
{
    if (std::isnan(volume))
        return;
    volume = std::clamp(volume, 0.0, 1.0);
    if (volume == m_volume)
        return;
    m_volume = volume;
    real().SetVolume(volume);
    // Written out by QSettings a moment later, once for a run of changes (a turn of the wheel).
    if (m_settings)
        m_settings->setValue(kVolumeKey, volume);
    emit volumeChanged(volume);
}

void Player::rememberVolume()
{
    // $XDG_CONFIG_HOME/velmora/velmora.conf (~/.config when unset), an INI file.
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("velmora"), QStringLiteral("velmora"));
    bool ok = false;
    const double saved = settings->value(kVolumeKey).toDouble(&ok);
    if (ok)
        setVolume(saved); // a value out of range is clamped, a damaged one leaves full volume
    m_settings = std::move(settings); // kept from here on: what was read is not written back
}

} // namespace velmora

#include "moc_player.cpp"

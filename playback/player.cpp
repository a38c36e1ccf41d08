#include "player.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

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
        m_real->Stop();
        m_player.noteStop();
    }
    qint16 OpenFile(const QString &path, const QString &options) override
    {
        // The open lets the window's events run while the file is read; a handler's
        // changes are not complete until it returns.
        ++m_player.m_opening;
        const qint16 status = m_real->OpenFile(path, options);
        --m_player.m_opening;
        m_player.noteOpened(path, status == 0);
        m_player.runWaitingSoon();
        return status;
    }
    void Play() override
    {
        m_real->Play();
        m_player.notePlay();
    }
    void Pause() override
    {
        m_real->Pause();
        m_player.notePause();
    }
    void SeekFrame(qint32 frame) override
    {
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
}

Player::~Player() = default;

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

bool Player::hasEntries() const
{
    return m_actions.entryCount && m_actions.entryCount() > 0;
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

namespace {
void run(const std::function<void()> &action)
{
    if (action)
        action();
}
} // namespace

void Player::submit(std::function<void()> command)
{
    if (busy()) {
        m_waiting.push_back(std::move(command));
        runWaitingSoon();
        return;
    }
    ++m_running;
    command();
    --m_running;
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
    while (!busy() && !m_waiting.empty()) {
        const std::function<void()> command = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_running;
        command();
        --m_running;
    }
    if (!busy() && m_waiting.empty())
        emit settled();
}

void Player::doPlay()
{
    if (m_transport == Transport::Paused)
        run(m_actions.resume);
    else if (m_transport == Transport::Stopped)
        run(m_actions.play);
}

void Player::doPause()
{
    if (m_transport == Transport::Playing)
        run(m_actions.pause);
}

void Player::doSkip(int step)
{
    if (m_actions.skip)
        m_actions.skip(step);
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
            run(m_actions.resume);
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
    submit([this] { run(m_actions.stop); });
}

void Player::next()
{
    submit([this] { doSkip(1); });
}

void Player::previous()
{
    submit([this] { doSkip(-1); });
}

void Player::seekTo(qint64 positionUs)
{
    submit([this, positionUs] { doSeekTo(positionUs); });
}

void Player::doSeekTo(qint64 positionUs)
{
    const qint64 frames = real().GetFrameCount();
    const qint64 length = lengthUs();
    if (!m_trackOpen || !m_actions.seekFrame || frames <= 0 || length <= 0)
        return;
    const qint64 target = std::clamp<qint64>(positionUs, 0, length);
    m_actions.seekFrame(qint32(std::llround(double(target) * double(frames) / double(length))));
}

void Player::seekBy(qint64 offsetUs)
{
    submit([this, offsetUs] {
        if (!m_trackOpen)
            return;
        const qint64 position = positionUs();
        // Compared before adding: an offset near the limits of its type would wrap round.
        if (offsetUs > lengthUs() - position)
            doSkip(1);
        else
            doSeekTo(std::max<qint64>(position + offsetUs, 0));
    });
}

void Player::open(const QString &path)
{
    submit([this, path] {
        if (m_actions.open)
            m_actions.open(path);
    });
}

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

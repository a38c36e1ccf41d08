#include "mpris.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDir>
#include <QUrl>

#include <unistd.h>

namespace velmora {

namespace {
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kBusName = QStringLiteral("org.mpris.MediaPlayer2.velmora");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

QString statusText(Transport transport)
{
    switch (transport) {
    case Transport::Playing: return QStringLiteral("Playing");
    case Transport::Paused: return QStringLiteral("Paused");
    case Transport::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

} // namespace

MprisService::MprisService(Player &player, std::function<void()> raise, std::function<void()> quit,
                           std::function<void(const QString &)> report, QObject *parent)
    : QObject(parent), m_player(player), m_raise(std::move(raise)), m_quit(std::move(quit)),
      m_report(std::move(report))
{
    new RootAdaptor(this);
    m_playerAdaptor = new PlayerAdaptor(this);
    m_publish.setSingleShot(true);
    m_publish.setInterval(0);
    connect(&m_publish, &QTimer::timeout, this, &MprisService::publishChanges);
    connect(&m_player, &Player::transportChanged, &m_publish, qOverload<>(&QTimer::start));
    connect(&m_player, &Player::trackChanged, &m_publish, qOverload<>(&QTimer::start));
    connect(&m_player, &Player::entriesChanged, &m_publish, qOverload<>(&QTimer::start));
    connect(&m_player, &Player::settled, &m_publish, qOverload<>(&QTimer::start));
    connect(&m_player, &Player::volumeChanged, &m_publish, qOverload<>(&QTimer::start));
    connect(&m_player, &Player::seeked, m_playerAdaptor, [this](qint32 frame) {
        emit m_playerAdaptor->Seeked(m_player.frameToUs(frame));
    });
    m_published = current();
}

bool MprisService::registerOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerObject(kObjectPath, this))
        return false;
    if (bus.registerService(kBusName)
        || bus.registerService(kBusName + QStringLiteral(".instance") + QString::number(getpid())))
        return true;
    bus.unregisterObject(kObjectPath);
    return false;
}

void MprisService::refuse(const QString &problem)
{
    m_report(problem);
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, problem);
}

QString MprisService::livePlaybackStatus() const
{
    return statusText(m_player.transport());
}

QString MprisService::playbackStatus() const
{
    return m_player.isIdle() ? livePlaybackStatus() : m_published.status;
}

QVariantMap MprisService::metadata() const
{
    return m_player.isIdle() ? liveMetadata() : m_published.metadata;
}

QDBusObjectPath MprisService::trackId() const
{
    if (m_player.trackNumber() == 0)
        return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    return QDBusObjectPath(QStringLiteral("/org/velmora/track/%1").arg(m_player.trackNumber()));
}

QVariantMap MprisService::liveMetadata() const
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
    const TrackInfo track = m_player.track();
    if (track.path.isEmpty())
        return map;
    map.insert(QStringLiteral("mpris:length"), qlonglong(track.lengthUs));
    map.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(track.path).toString(QUrl::FullyEncoded));
    // Tags the track lacks are left out, so that clients fall back to the file's name.
    if (!track.title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), track.title);
    if (!track.artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{track.artist});
    if (!track.album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), track.album);
    return map;
}

MprisService::Published MprisService::current() const
{
    return {livePlaybackStatus(), m_player.trackNumber(), liveMetadata(), m_player.hasEntries(), m_player.volume()};
}

void MprisService::publishChanges()
{
    // Mid-command (a track being opened) the state is half changed: published once the
    // player has settled.
    if (!m_player.isIdle())
        return;
    const Published now = current();
    QVariantMap changed;
    if (now.status != m_published.status)
        changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    if (now.track != m_published.track)
        changed.insert(QStringLiteral("Metadata"), now.metadata);
    if (now.canControl != m_published.canControl) {
        for (const char *name : {"CanPlay", "CanPause", "CanSeek", "CanGoNext", "CanGoPrevious", "CanControl"})
            changed.insert(QString::fromLatin1(name), now.canControl);
    }
    if (now.volume != m_published.volume)
        changed.insert(QStringLiteral("Volume"), now.volume);
    m_published = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

RootAdaptor::RootAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}

void RootAdaptor::Raise()
{
    m_service->raise();
}

void RootAdaptor::Quit()
{
    // After the reply has gone out.
    QTimer::singleShot(0, m_service, [service = m_service] { service->quit(); });
}

PlayerAdaptor::PlayerAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}

void PlayerAdaptor::SetPosition(const QDBusObjectPath &TrackId, qlonglong Position)
{
    // A request for a track that is no longer the current one is ignored.
    if (TrackId != m_service->trackId() || Position < 0 || Position > m_service->player().track().lengthUs)
        return;
    m_service->player().seekTo(Position);
}

void PlayerAdaptor::OpenUri(const QString &Uri)
{
    QUrl url(Uri);
    if (url.host() == QLatin1String("localhost"))
        url.setHost(QString());
    // Only a whole path on this machine: a relative one would depend on whichever
    // folder the player happened to be started in, and "//host/..." is not local.
    const QString path = url.isLocalFile() && url.host().isEmpty() ? url.toLocalFile() : QString();
    if (!QDir::isAbsolutePath(path)) {
        const QString problem = QStringLiteral("无法打开：只能打开本机文件的完整路径（%1）").arg(Uri);
        m_service->refuse(problem);
        return;
    }
    m_service->player().open(QDir::cleanPath(path));
}

} // namespace velmora

#include "moc_mpris.cpp"

#pragma once

#include "player.h"

#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>

namespace velmora {

// Media keys, desktop media controls and playerctl reach the player through MPRIS2 on
// the session bus: org.mpris.MediaPlayer2.velmora, object /org/mpris/MediaPlayer2.
// The D-Bus context of a call to an adaptor is its parent's: this object's.
class MprisService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    // `report` shows a problem with a request to the user (the status bar).
    MprisService(Player &player, std::function<void()> raise, std::function<void()> quit,
                 std::function<void(const QString &)> report, QObject *parent = nullptr);

    // Takes the bus name (or a name of its own when another player holds it). False,
    // and nothing registered, without a session bus or when the bus refuses.
    bool registerOnSessionBus();

    Player &player() { return m_player; }
    void raise() { m_raise(); }
    void quit() { m_quit(); }
    // Tells the user why the request being handled is not carried out, and its caller
    // with an error reply.
    void refuse(const QString &problem);
    // While a command is under way, clients are answered with the state as it was last
    // published, never with one half changed; the change follows once it is whole.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    QDBusObjectPath trackId() const;

private:
    // What clients are told through PropertiesChanged.
    struct Published
    {
        QString status;
        quint64 track = 0;
        QVariantMap metadata;
        bool canControl = false;
        double volume = 1.0;
    };
    Published current() const;
    QString livePlaybackStatus() const;
    QVariantMap liveMetadata() const;
    void publishChanges();

    Player &m_player;
    std::function<void()> m_raise;
    std::function<void()> m_quit;
    std::function<void(const QString &)> m_report;
    Published m_published;
    // Changes within one handler (stop, open, play of the next track) go out as one.
    QTimer m_publish;
    class PlayerAdaptor *m_playerAdaptor = nullptr;
};

class RootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    explicit RootAdaptor(MprisService *service);

    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Velmora"); }
    QString desktopEntry() const { return QStringLiteral("velmora"); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const { return {QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-mpegurl")}; }

public slots:
    void Raise();
    void Quit();

private:
    MprisService *m_service;
};

class PlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Rate READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(bool CanPlay READ canControl)
    Q_PROPERTY(bool CanPause READ canControl)
    Q_PROPERTY(bool CanSeek READ canControl)
    Q_PROPERTY(bool CanGoNext READ canControl)
    Q_PROPERTY(bool CanGoPrevious READ canControl)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    explicit PlayerAdaptor(MprisService *service);

    QString playbackStatus() const { return m_service->playbackStatus(); }
    QVariantMap metadata() const { return m_service->metadata(); }
    qlonglong position() const { return m_service->player().positionUs(); }
    double one() const { return 1.0; }
    double volume() const { return m_service->player().volume(); }
    // Below 0 counts as 0, above 1 as 1.
    void setVolume(double volume) { m_service->player().setVolume(volume); }
    bool canControl() const { return m_service->player().hasEntries(); }

public slots:
    void Play() { m_service->player().play(); }
    void Pause() { m_service->player().pause(); }
    void PlayPause() { m_service->player().toggle(); }
    void Stop() { m_service->player().stop(); }
    void Next() { m_service->player().next(); }
    void Previous() { m_service->player().previous(); }
    void Seek(qlonglong Offset) { m_service->player().seekBy(Offset); }
    void SetPosition(const QDBusObjectPath &TrackId, qlonglong Position);
    void OpenUri(const QString &Uri);

signals:
    void Seeked(qlonglong Position);

private:
    MprisService *m_service;
};

} // namespace velmora

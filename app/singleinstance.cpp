#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace velmora {

namespace {
const QString kPath = QStringLiteral("/org/velmora/Velmora");
const QString kInterface = QStringLiteral("org.velmora.Velmora");
// A Velmora that takes longer than this is taken to be stopped or hung.
constexpr int kHandOverTimeoutMs = 1000;
} // namespace

SingleInstance::SingleInstance(const QString &automaticList, QObject *parent)
    : QObject(parent), m_service(busNameFor(automaticList))
{
}

QString SingleInstance::busNameFor(const QString &automaticList)
{
    // The list, even its folder, may not exist yet: the part that does is resolved, so
    // that the name stays the same once the rest is made.
    QString existing = QDir::cleanPath(QFileInfo(automaticList).absoluteFilePath());
    QString rest;
    QString resolved = QFileInfo(existing).canonicalFilePath();
    while (resolved.isEmpty() && existing.lastIndexOf(QLatin1Char('/')) > 0) {
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        rest.prepend(existing.mid(slash));
        existing.truncate(slash);
        resolved = QFileInfo(existing).canonicalFilePath();
    }
    const QString path = resolved.isEmpty() ? existing + rest : QDir::cleanPath(resolved + rest);
    // A bus name allows only [A-Za-z0-9_] in an element, and no digit first.
    const QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256);
    return kInterface + QStringLiteral(".l") + QString::fromLatin1(digest.left(8).toHex());
}

bool SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return true;
    // The object is there before the name, so that no call finds the name without it.
    if (!bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots))
        return true;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        m_service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        bus.unregisterObject(kPath);
        return false;
    }
    return true;
}

SingleInstance::HandOver SingleInstance::handOver(const QStringList &files) const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return HandOver::Absent;
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, kPath, kInterface,
                                                       files.isEmpty() ? QStringLiteral("Activate")
                                                                       : QStringLiteral("Open"));
    if (!files.isEmpty())
        call << files;
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kHandOverTimeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage)
        return HandOver::Done;
    // The request stays queued for a stopped Velmora, which may act on it once it runs
    // again; this launch cannot wait for that.
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
        return HandOver::NoAnswer;
    return HandOver::Absent;
}

void SingleInstance::setHandler(std::function<void(const QStringList &)> handler)
{
    m_handler = std::move(handler);
    const QList<QStringList> waiting = std::exchange(m_waiting, {});
    for (const QStringList &files : waiting)
        m_handler(files);
}

void SingleInstance::Open(const QStringList &files)
{
    // Answered at once; the files are opened from the event loop.
    QTimer::singleShot(0, this, [this, files] {
        if (m_handler)
            m_handler(files);
        else
            m_waiting.append(files);
    });
}

void SingleInstance::Activate()
{
    Open({});
}

} // namespace velmora

#include "moc_singleinstance.cpp"

#include "singleinstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QTimer>

namespace velmora {

namespace {
const QString kService = QStringLiteral("org.velmora.Velmora");
const QString kPath = QStringLiteral("/org/velmora/Velmora");
const QString kInterface = QStringLiteral("org.velmora.Velmora");
// The second launch has to end within a second, whatever the first one is doing.
constexpr int kHandOverTimeoutMs = 800;
} // namespace

bool SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return true;
    // The object is there before the name, so that no call finds the name without it.
    if (!bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots))
        return true;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        kService, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        bus.unregisterObject(kPath);
        return false;
    }
    return true;
}

bool SingleInstance::handOver(const QStringList &files)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       files.isEmpty() ? QStringLiteral("Activate")
                                                                       : QStringLiteral("Open"));
    if (!files.isEmpty())
        call << files;
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kHandOverTimeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage)
        return true;
    // A Velmora too busy to answer in time still gets the request; only one that is
    // gone leaves this launch to play.
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply");
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

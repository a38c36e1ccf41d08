#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

namespace velmora {

// One Velmora per session: the first launch owns the name org.velmora.Velmora on the
// session bus; later launches hand their files to it there and end. Without a session
// bus every launch simply runs on its own.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.Velmora")
public:
    using QObject::QObject;

    // Becomes the running Velmora. False when another one already is.
    bool claim();
    // Gives the files (none: just show the window) to the running Velmora. False when
    // it could not be reached, so that this launch should run itself.
    static bool handOver(const QStringList &files);
    // Requests are given to `handler` on the window's thread; those that came before
    // it was set wait for it.
    void setHandler(std::function<void(const QStringList &)> handler);

public slots:
    Q_SCRIPTABLE void Open(const QStringList &files);
    Q_SCRIPTABLE void Activate();

private:
    std::function<void(const QStringList &)> m_handler;
    QList<QStringList> m_waiting;
};

} // namespace velmora

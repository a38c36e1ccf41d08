#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

namespace velmora {

// One Velmora per automatic playlist: the first launch owns a session-bus name made
// from that list's path; a later launch of the same list hands its files to it there
// and ends, while a copy with a list of its own runs beside it. Without a session bus
// every launch simply runs on its own.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.Velmora")
public:
    enum class HandOver { Done, Absent, NoAnswer };

    explicit SingleInstance(const QString &automaticList, QObject *parent = nullptr);

    // The bus name of the Velmora whose automatic playlist is at `automaticList`: the
    // same list gives the same name, whichever link or folder the path was reached by.
    static QString busNameFor(const QString &automaticList);

    // Becomes the running Velmora of this list. False when another one already is.
    bool claim();
    // Gives the files (none: just show the window) to the running Velmora of this list.
    // Absent: nobody took them, this launch should run itself. NoAnswer: the running
    // one holds the name but did not answer within a second (stopped or hung).
    HandOver handOver(const QStringList &files) const;
    // Requests are given to `handler` on the window's thread; those that came before
    // it was set wait for it.
    void setHandler(std::function<void(const QStringList &)> handler);

public slots:
    Q_SCRIPTABLE void Open(const QStringList &files);
    Q_SCRIPTABLE void Activate();

private:
    QString m_service;
    std::function<void(const QStringList &)> m_handler;
    QList<QStringList> m_waiting;
};

} // namespace velmora

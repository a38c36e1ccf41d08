#include "testwindow.h"

#include "entry.h"

#include <QAction>
#include <QFile>
#include <QListWidget>

namespace velmora::test {

void TestWindow::writeFile(const QString &name, const QByteArray &bytes) const
{
    QFile file(path(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path(name)));
    file.write(bytes);
}

QByteArray TestWindow::readFile(const QString &name) const
{
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList TestWindow::entries() const
{
    QStringList result;
    for (int i = 0; i < form->List1->count(); ++i)
        result << form->List1->item(i)->text();
    return result;
}

int TestWindow::selectedRow() const
{
    for (int i = 0; i < form->List1->count(); ++i) {
        if (form->List1->item(i)->isSelected())
            return i;
    }
    return -1;
}

void TestWindow::setEntries(const QStringList &paths)
{
    form->List1->clear();
    for (const QString &p : paths)
        form->List1->addItem(listFormEntry(QStringLiteral("T"), p));
}

QString TestWindow::menuStates() const
{
    auto flag = [](QAction *a, char c) { return a->isEnabled() ? QChar::fromLatin1(c) : QLatin1Char('-'); };
    return QString() + flag(form->runPlay, 'p') + flag(form->runDel, 'd') + flag(form->munPause, 'u');
}

QByteArray m3u(const QList<QPair<QString, QString>> &titledPaths)
{
    QByteArray bytes("#EXTM3U\r\n");
    for (const auto &[title, path] : titledPaths)
        bytes += "#EXTINF:235," + title.toUtf8() + "\r\n" + path.toUtf8() + "\r\n";
    return bytes;
}

} // namespace velmora::test

#include "moc_fakeengine.cpp"

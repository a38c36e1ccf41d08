#include "testwindow.h"

#include "entry.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QFile>
#include <QItemSelectionModel>
#include <QListView>
#include <QSignalSpy>

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

QStringList texts(const EntryTexts &entries)
{
    QStringList result;
    for (qsizetype row = 0; row < entries.size(); ++row)
        result << entries.at(row);
    return result;
}

EntryTexts entryTexts(const QStringList &texts)
{
    EntryTexts entries;
    for (const QString &text : texts)
        entries.append(text);
    return entries;
}

QStringList TestWindow::entries() const
{
    // As the list shows them.
    QStringList result;
    const QAbstractItemModel *shown = form->List1->model();
    for (int row = 0; row < shown->rowCount(); ++row)
        result << shown->index(row, 0).data().toString();
    return result;
}

int TestWindow::selectedRow() const
{
    const QModelIndexList rows = form->List1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TestWindow::setEntries(const QStringList &paths)
{
    QStringList texts;
    for (const QString &p : paths)
        texts << listFormEntry(QStringLiteral("T"), p);
    form->player().list().clear();
    form->player().list().append(entryTexts(texts));
}

bool TestWindow::saveAs(const QString &path)
{
    QSignalSpy problems(form.get(), &Form1::problemReported);
    form->player().saveAs(path);
    // A big list is written on a thread.
    while (!form->player().isIdle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return problems.isEmpty();
}

QString TestWindow::menuStates() const
{
    auto flag = [](QAction *a, char c) { return a->isEnabled() ? QChar::fromLatin1(c) : QLatin1Char('-'); };
    return QString() + flag(form->runPlay, 'p') + flag(form->runDel, 'd') + flag(form->munPause, 'u');
}

bool dropFiles(Form1 &form, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    const QPoint where(10, 10);
    QDragEnterEvent enter(where, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.List1->viewport(), &enter);
    QDropEvent drop(where, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.List1->viewport(), &drop);
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
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

#include "dropimport.h"

#include "form1.h"
#include "playlistedit.h"

#include <QCollator>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace velmora {

namespace {

QStringList localPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

// File names in the order a person reads them: Chinese collation, case ignored,
// digits compared by value.
class NameOrder
{
public:
    NameOrder() : m_collator(QLocale(QLocale::Chinese, QLocale::China))
    {
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    void sort(QFileInfoList &items) const
    {
        // One key per name: comparing keys is far cheaper than collating names again.
        std::vector<std::pair<QCollatorSortKey, QFileInfo>> keyed;
        keyed.reserve(items.size());
        for (const QFileInfo &item : items)
            keyed.emplace_back(m_collator.sortKey(item.fileName()), item);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
        items.clear();
        for (auto &[key, item] : keyed)
            items.append(std::move(item));
    }

private:
    QCollator m_collator;
};

class FolderWalk
{
public:
    FolderWalk(const std::atomic_bool &cancel, QStringList &tracks) : m_cancel(cancel), m_tracks(tracks) {}

    void walk(const QFileInfo &folder)
    {
        // A link back up the tree would otherwise be walked for ever.
        const QString canonical = folder.canonicalFilePath();
        if (canonical.isEmpty() || m_seen.contains(canonical))
            return;
        m_seen.insert(canonical);
        QFileInfoList items = QDir(folder.filePath())
                                  .entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
        m_order.sort(items);
        for (const QFileInfo &item : items) {
            if (m_cancel)
                return;
            if (item.isDir())
                walk(item);
            else if (isTrackName(item.fileName()))
                m_tracks << item.filePath();
        }
    }

    const NameOrder &order() const { return m_order; }

private:
    const std::atomic_bool &m_cancel;
    QStringList &m_tracks;
    NameOrder m_order;
    QSet<QString> m_seen;
};

} // namespace

DropImport::DropImport(Form1 *window) : QObject(window), m_window(window) {}

DropImport::~DropImport()
{
    m_cancel = true;
    for (const auto &walk : m_walks)
        walk->wait();
}

DropImport::Found DropImport::tracksIn(const QStringList &paths, const std::atomic_bool &cancel)
{
    Found found;
    QFileInfoList dropped;
    for (const QString &path : paths)
        dropped.append(QFileInfo(path));
    FolderWalk folders(cancel, found.tracks);
    folders.order().sort(dropped);
    for (const QFileInfo &item : dropped) {
        if (cancel)
            break;
        if (item.isDir()) {
            folders.walk(item);
        } else if (item.isFile() && isTrackName(item.fileName())) {
            found.tracks << item.filePath();
        } else {
            ++found.skipped;
            found.listAmongOthers = found.listAmongOthers || isListName(item.fileName());
        }
    }
    return found;
}

bool DropImport::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (localPaths(drag->mimeData()).isEmpty())
            return QObject::eventFilter(watched, event);
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto *dropped = static_cast<QDropEvent *>(event);
        const QStringList paths = localPaths(dropped->mimeData());
        if (paths.isEmpty())
            return QObject::eventFilter(watched, event);
        dropped->setDropAction(Qt::CopyAction);
        dropped->accept();
        drop(paths);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

void DropImport::drop(const QStringList &paths)
{
    if (paths.size() == 1 && isListName(paths.first()) && !QFileInfo(paths.first()).isDir()) {
        m_window->player().openList(paths.first());
        return;
    }
    // Finished walks are let go here; the running ones are waited for on destruction.
    std::erase_if(m_walks, [](const auto &walk) { return walk->isFinished(); });
    auto walk = std::unique_ptr<QThread>(QThread::create([this, paths] {
        const Found found = tracksIn(paths, m_cancel);
        if (!m_cancel)
            QMetaObject::invokeMethod(
                this, [this, found] { append(found); },
                Qt::QueuedConnection);
    }));
    walk->start();
    m_walks.push_back(std::move(walk));
}

void DropImport::append(const Found &found)
{
    m_window->player().appendTracks(found.tracks, [this, found] {
        if (found.skipped > 0) {
            QString text = QStringLiteral("已跳过 %1 个不是MP3的文件").arg(found.skipped);
            if (found.listAmongOthers)
                text += QStringLiteral("（播放列表请单独拖入）");
            m_window->reportProblem(text);
        } else if (found.tracks.isEmpty()) {
            m_window->reportProblem(QStringLiteral("拖入的文件夹中没有MP3文件"));
        }
        emit dropAdded(static_cast<int>(found.tracks.size()));
    });
}

} // namespace velmora

#include "moc_dropimport.cpp"

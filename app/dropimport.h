#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

class QThread;
class QUrl;

namespace velmora {

class Form1;

// Files and folders dropped onto the playlist from a file manager. MP3 files are
// appended as 添加 appends them; folders are walked for MP3 files (".mp3" in any
// letter case) on a thread of their own, so that a huge folder does not freeze the
// window; a playlist dropped alone opens as 打开列表 opens it. Installed as an event
// filter on the list's viewport.
class DropImport : public QObject
{
    Q_OBJECT
public:
    explicit DropImport(Form1 *window);
    ~DropImport() override; // stops walks still running

signals:
    // The entries of a drop are in the list (count may be 0).
    void dropAdded(int count);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The tracks a drop of `paths` adds, in the order they are appended: the dropped
    // items and each folder's contents sorted by name as people read them (numbers by
    // value, 第2首 before 第10首), folders walked where they stand. Blocking.
    struct Found
    {
        QStringList tracks;
        int skipped = 0; // dropped files that are no MP3 (or are gone)
        bool listAmongOthers = false;
    };
    static Found tracksIn(const QStringList &paths, const std::atomic_bool &cancel);

    void drop(const QStringList &paths);
    void append(const Found &found);

    Form1 *m_window;
    std::atomic_bool m_cancel{false};
    std::vector<std::unique_ptr<QThread>> m_walks;
};

} // namespace velmora

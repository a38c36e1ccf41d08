#include "playlistedit.h"

#include "entry.h"

#include <QListWidget>
#include <QSignalBlocker>

#include <memory>

namespace velmora {

QString fileEntryForPath(const QString &path)
{
    return fileFormEntry(TrackBaseName(fixedText(path)), path);
}

int firstSelectedRow(QListWidget *list)
{
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->isSelected())
            return row;
    }
    return -1;
}

void removeEntryAt(QListWidget *list, int row)
{
    const QSignalBlocker quiet(list);
    std::unique_ptr<QListWidgetItem> removed(list->takeItem(row));
    list->clearSelection();
    list->setCurrentItem(nullptr);
}

} // namespace velmora

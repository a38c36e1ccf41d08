#pragma once

#include <QString>

class QListWidget;

namespace velmora {

// The file-form entry for a chosen file: base name, ".mp3", ten spaces, (path).
QString fileEntryForPath(const QString &path);

// Position of the first selected entry, -1 when none is. The count is read afresh
// at every step.
int firstSelectedRow(QListWidget *list);

// Removes the entry at row and leaves no entry selected. The removal itself is not a
// selection by the user, so the list's selection handling does not run for it.
void removeEntryAt(QListWidget *list, int row);

} // namespace velmora

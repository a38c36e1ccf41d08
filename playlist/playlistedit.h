#pragma once

#include <QString>

namespace velmora {

// The file-form entry for a chosen file: base name, ".mp3", ten spaces, (path).
QString fileEntryForPath(const QString &path);

} // namespace velmora

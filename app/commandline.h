#pragma once

#include <QStringList>

class QCoreApplication;

namespace velmora {

// The files named on the command line (`velmora FILE…`), as absolute paths so that a
// running Velmora, in another folder, can be handed them. Handles --help and --version.
QStringList filesFromCommandLine(const QCoreApplication &app);
// The same for a list of arguments that holds only file names and file:// URLs.
QStringList absoluteFiles(const QStringList &arguments, const QString &workingFolder);

} // namespace velmora

#pragma once

#include <QStringList>

class QCoreApplication;

namespace velmora {

class Form1;

// The files named on the command line (`velmora FILE…`), as absolute paths so that a
// running Velmora, in another folder, can be handed them. Handles --help and --version.
QStringList filesFromCommandLine(const QCoreApplication &app);
// The same for a list of arguments that holds only file names and file:// URLs.
QStringList absoluteFiles(const QStringList &arguments, const QString &workingFolder);

// Acts on files handed in from outside (the command line, a second launch) as the
// toolbar's 打开 would: each list (.m3u, .m3u8) replaces the playlist and starts it,
// in the order given; then the MP3 files go to the top of the list in the order given
// and the first of them plays. Letter case of the extensions does not matter. A file
// that is missing, unreadable or of another kind is reported in the status bar and
// skipped; the others still load.
void openFromOutside(Form1 &window, const QStringList &files);

} // namespace velmora

#pragma once

class QCoreApplication;

namespace velmora {

// Makes Qt's own texts (the file dialogs' labels, buttons and column headers, the
// context menus of text boxes) Simplified Chinese like the rest of the program,
// whatever the system's locale. Missing translation files leave Qt's English.
void installChineseTranslations(QCoreApplication &app);

} // namespace velmora

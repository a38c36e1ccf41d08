#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velmora {

void installChineseTranslations(QCoreApplication &app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    // Dates and sizes in the file dialogs follow the default locale.
    QLocale::setDefault(chinese);
    auto *translator = new QTranslator(&app);
    // "qt" is the catalogue that pulls in qtbase and the other modules' translations.
    if (translator->load(chinese, QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace velmora

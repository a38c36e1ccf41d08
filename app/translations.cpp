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
    // qtbase holds every text of the widgets and dialogs used here; "qt" would map the
    // other modules' catalogues as well.
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace velmora

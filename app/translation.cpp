#include "app/translation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace app {

bool installToolkitTranslation(QCoreApplication &application)
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    auto *translator = new QTranslator(&application);
    // qtbase_ru holds the texts of the widgets and dialogs; the program speaks Russian
    // whatever the desktop's language.
    if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
            QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        qWarning("ferrun: the toolkit's Russian translation (qt6-translations-l10n) is not "
                 "installed; dialogs show English texts");
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace app

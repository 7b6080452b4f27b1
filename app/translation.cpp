#include "app/translation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace app {

namespace {

// The toolkit's Russian translation leaves the standard button "OK" in Latin letters; a
// Russian desktop writes it in Cyrillic, "ОК". Asked before the toolkit's translation.
class ButtonTextTranslator : public QTranslator
{
public:
    using QTranslator::QTranslator;
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
        int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "QPlatformTheme") == 0 && qstrcmp(sourceText, "OK") == 0)
            return QStringLiteral("ОК");
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

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
    QCoreApplication::installTranslator(new ButtonTextTranslator(&application));
    return true;
}

} // namespace app

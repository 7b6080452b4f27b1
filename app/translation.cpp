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

// qtbase_ru holds the texts of the widgets and dialogs; the program speaks Russian whatever
// the desktop's language.
bool loadToolkitRussian(QTranslator &translator)
{
    return translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

const char MissingToolkitRussian[] = "ferrun: the toolkit's Russian translation "
                                     "(qt6-translations-l10n) is not installed; dialogs show "
                                     "English texts";

} // namespace

UiTranslation::UiTranslation(UiLanguage language)
    : m_previous(uiLanguage())
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    setUiLanguage(language);
    if (language == UiLanguage::English) {
        auto program = std::make_unique<QTranslator>();
        // Built into the program's resources from translations/ferrun_en.ts.
        m_complete = program->load(QStringLiteral(":/i18n/ferrun_en.qm"));
        if (m_complete)
            m_translators.push_back(std::move(program));
        else
            qWarning("ferrun: the program's English translation is missing");
    } else {
        auto toolkit = std::make_unique<QTranslator>();
        m_complete = loadToolkitRussian(*toolkit);
        if (m_complete) {
            m_translators.push_back(std::move(toolkit));
            // Installed last, so asked first.
            m_translators.push_back(std::make_unique<ButtonTextTranslator>());
        } else {
            qWarning("%s", MissingToolkitRussian);
        }
    }
    for (const auto &translator : m_translators)
        QCoreApplication::installTranslator(translator.get());
}

UiTranslation::~UiTranslation()
{
    for (const auto &translator : m_translators)
        QCoreApplication::removeTranslator(translator.get());
    setUiLanguage(m_previous);
}

} // namespace app

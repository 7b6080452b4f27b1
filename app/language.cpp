#include "app/language.h"

#include "files/inifile.h"
#include "files/settings.h"

namespace app {

namespace {
UiLanguage current = UiLanguage::Russian;
}

UiLanguage uiLanguage()
{
    return current;
}

void setUiLanguage(UiLanguage language)
{
    current = language;
}

QLocale uiLocale()
{
    return uiLanguage() == UiLanguage::English ? QLocale(QLocale::English, QLocale::UnitedKingdom)
                                               : QLocale(QLocale::Russian, QLocale::Russia);
}

QString languageCode(UiLanguage language)
{
    return language == UiLanguage::English ? QStringLiteral("en") : QStringLiteral("ru");
}

std::optional<UiLanguage> languageFromCode(const QString &code)
{
    const QString c = code.trimmed().toLower();
    if (c == QLatin1String("ru"))
        return UiLanguage::Russian;
    if (c == QLatin1String("en"))
        return UiLanguage::English;
    return std::nullopt;
}

QString nativeLanguageName(UiLanguage language)
{
    return language == UiLanguage::English ? QStringLiteral("English") : QStringLiteral("Русский");
}

std::optional<UiLanguage> storedLanguage(const QString &settingsPath)
{
    return languageFromCode(files::Settings::read(files::IniFile(settingsPath)).language);
}

UiLanguage startupLanguage(std::optional<UiLanguage> commandLine, std::optional<UiLanguage> stored)
{
    return commandLine.value_or(stored.value_or(UiLanguage::Russian));
}

} // namespace app

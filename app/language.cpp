#include "app/language.h"

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

} // namespace app

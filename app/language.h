#pragma once

#include <QString>
#include <optional>

namespace app {

// The language the window speaks: Russian unless the user chose English (`ferrun --lang en`
// or the language menu). Chosen once at start-up, before the window is made.
enum class UiLanguage { Russian, English };

UiLanguage uiLanguage();
void setUiLanguage(UiLanguage language);

// "ru" or "en".
QString languageCode(UiLanguage language);
// The language of a code ("ru", "en", case-insensitive); nothing for any other.
std::optional<UiLanguage> languageFromCode(const QString &code);

} // namespace app

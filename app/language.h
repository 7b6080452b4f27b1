#pragma once

#include <QLocale>
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
// The language's name in that language ("Русский", "English"), as a language menu lists it
// whatever language the window speaks.
QString nativeLanguageName(UiLanguage language);

// The locale of the window's language, for dates and times (month names, their order):
// Russian, or English as written in Britain (day before month).
QLocale uiLocale();

// The language chosen in the window's menu and kept in the settings file at `settingsPath`;
// nothing when none was chosen or the stored value is not a language code.
std::optional<UiLanguage> storedLanguage(const QString &settingsPath);
// The language of a run: the command line's choice, else the stored one, else Russian.
UiLanguage startupLanguage(std::optional<UiLanguage> commandLine, std::optional<UiLanguage> stored);

} // namespace app

// The file menu's language entries: the language in use is ticked; a choice is kept in the
// settings file and takes effect at the next start (its entry says so), as the window's texts
// are translated when its controls are made.

#include "app/form1.h"
#include "app/form1ui.h"
#include "app/language.h"
#include "files/inifile.h"
#include "files/settings.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace app {

namespace {

constexpr UiLanguage Languages[] = { UiLanguage::Russian, UiLanguage::English };

} // namespace

void TForm1::createLanguageMenu()
{
    // Named in both languages: found also by one who cannot read the window's.
    ui->pmLanguage = ui->pmFile->addMenu(tr("Язык / Language"));
    ui->pmLanguage->setObjectName(QStringLiteral("pmLanguage"));
    auto *group = new QActionGroup(ui->pmLanguage);
    for (UiLanguage language : Languages) {
        QAction *action = ui->pmLanguage->addAction(nativeLanguageName(language));
        action->setObjectName(QStringLiteral("actLanguage_") + languageCode(language));
        action->setCheckable(true);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, language] { chooseLanguage(language); });
    }
    updateLanguageMenu();
}

void TForm1::updateLanguageMenu()
{
    // The language the next start takes without --lang, when it is not the one in use.
    const UiLanguage next = languageFromCode(m_languageCode).value_or(UiLanguage::Russian);
    for (UiLanguage language : Languages)
        if (auto *action = ui->pmLanguage->findChild<QAction *>(
                QStringLiteral("actLanguage_") + languageCode(language))) {
            action->setChecked(language == uiLanguage());
            action->setText(next == language && language != uiLanguage()
                    ? nativeLanguageName(language) + tr(" — при следующем запуске")
                    : nativeLanguageName(language));
        }
}

void TForm1::chooseLanguage(UiLanguage language)
{
    const QString code = languageCode(language);
    if (code == m_languageCode)
        return;
    m_languageCode = code;
    updateLanguageMenu();
    // Kept at once, not only when the window closes: a run that ends otherwise keeps it too.
    files::IniFile file(m_settingsPath);
    if (!file.writeString(
            files::SettingsKeys::languageSection, files::SettingsKeys::language, code)) {
        reportSettingsNotWritten();
        return;
    }
    if (language != uiLanguage())
        showMessage(tr("Язык окна сменится при следующем запуске программы."));
}

} // namespace app

#pragma once

#include "app/language.h"

#include <memory>
#include <vector>

class QTranslator;

namespace app {

// The texts of one language, installed for as long as the object lives, and that language
// made the window's (app::uiLanguage()); the previous language comes back when it goes.
// Russian: the program's texts are written in Russian, and the toolkit's dialogs get the
// toolkit's Russian translation (Debian's qt6-translations-l10n). English: the program's
// English translation, built into the program from translations/ferrun_en.ts, and the
// toolkit's own English texts. Either way the dialogs are the toolkit's own, not the
// desktop's. Made before the window: texts are translated when the window makes its controls.
class UiTranslation
{
public:
    explicit UiTranslation(UiLanguage language);
    ~UiTranslation();
    UiTranslation(const UiTranslation &) = delete;
    UiTranslation &operator=(const UiTranslation &) = delete;

    // False when a translation the language needs could not be loaded (the toolkit's
    // Russian one not installed); its texts then show in the language they are written in.
    bool complete() const { return m_complete; }

private:
    UiLanguage m_previous;
    bool m_complete = true;
    std::vector<std::unique_ptr<QTranslator>> m_translators;
};

} // namespace app

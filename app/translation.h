#pragma once

class QCoreApplication;

namespace app {

// Makes the toolkit's own texts Russian: the buttons and labels of the file, colour and
// message dialogs come from the toolkit's Russian translation (Debian's
// qt6-translations-l10n), and dialogs are the toolkit's own rather than the desktop's, whose
// language the program does not control. Returns false when the translation is not
// installed; the dialogs then show the toolkit's English texts.
bool installToolkitTranslation(QCoreApplication &application);

} // namespace app

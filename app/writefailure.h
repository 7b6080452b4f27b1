#pragma once

#include "files/datafile.h"

#include <QString>

namespace app {

// The window's one wording of a failed write (a save, a cycle save, a CSV or PDF export, a
// print into a file): what failed, the file, and the system's reason for `systemError` (an
// errno value; 0 when the system gave none). "Не удаётся создать файл <name>: <reason>",
// "Ошибка записи в файл <name>: <reason>"; in the window's language, translated.
QString writeFailureText(files::SaveFailure failure, const QString &fileName, int systemError);

// The system's reason for `systemError` in the window's language where the system provides it:
// the C library's message under a locale of that language when one is installed, else the
// toolkit's translation of the commonest reasons, else the C library's English message.
QString systemErrorText(int systemError);

} // namespace app

#pragma once

#include <QString>

namespace files {

// Text read from a file made safe to print on a terminal: control characters (C0, DEL and
// C1) become "\t", "\n", "\r" or "\xNN", so that a file cannot move the cursor, change
// colours or send escape sequences. With `escapeBackslash` a backslash becomes "\\" too,
// which keeps the escaped text unambiguous.
QString escapeControls(const QString &text, bool escapeBackslash);

} // namespace files

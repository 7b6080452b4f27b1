#pragma once

#include <QString>
#include <QStringList>

namespace tscheck {

// The faults of a Qt Linguist translation file's text (the .ts XML), one line each: a
// message whose translation is unfinished, obsolete or empty, or that drops or adds a
// placeholder (%1 ... %99) of its source text; and XML that does not parse. Empty when the
// file is complete.
QStringList faults(const QByteArray &tsText);

// The string literals of a C++ source text that hold Cyrillic letters and are not the text of
// a translation call (tr, QCoreApplication::translate, QT_TRANSLATE_NOOP, QT_TR_NOOP), each
// as written between its quotes; adjacent literals count as one. Comments are skipped.
QStringList untranslatedCyrillic(const QString &source);

} // namespace tscheck

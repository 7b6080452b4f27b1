// The window's surroundings in a test: its messages collected in a list instead of boxes, and
// no device tree to find a board in (a board, when wanted, is named with --device).
#pragma once

#include "app/form1.h"

#include <QStringList>
#include <QTemporaryDir>

namespace apptest {

inline app::FormEnvironment environmentIn(const QTemporaryDir &dir, QStringList &messages)
{
    app::FormEnvironment environment;
    environment.showMessage = [&messages](const QString &text) { messages << text; };
    environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
    environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
    return environment;
}

} // namespace apptest

// The window's surroundings in a test: its messages collected in a list instead of boxes, no
// device tree to find a board in (a board, when wanted, is named with --device), and the
// recovery store in the test's own folder ("recovery"), where a test looks at what was kept.
#pragma once

#include "acquisition/instrument.h"
#include "acquisition/instrumentlink.h"
#include "acquisition/terminationsignals.h"
#include "app/closeontermination.h"
#include "app/form1.h"
#include "tests/app/controls.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace apptest {

inline app::FormEnvironment environmentIn(const QTemporaryDir &dir, QStringList &messages)
{
    app::FormEnvironment environment;
    environment.showMessage = [&messages](const QString &text) { messages << text; };
    environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
    environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
    environment.recoveryFolder = dir.filePath(QStringLiteral("recovery"));
    return environment;
}

// What the link does once it has found the board: the measurement commands are enabled. For
// tests of what the commands send without a board (the port stays closed; the session still
// reports each command it tries to send).
inline void enableMeasuring(app::TForm1 &form)
{
    emit form.instrument().link().measurementButtonsEnabled(true);
}

// Raises `signal` with the termination handling the program sets up: nobody can answer a
// question, so the window closes without asking. True once it has closed.
inline bool closeBySignal(app::TForm1 &form, int signal)
{
    acquisition::TerminationSignals termination;
    app::CloseOnTermination closer(&termination);
    QObject::connect(&closer, &app::CloseOnTermination::terminationRequested, &form,
        &app::TForm1::expectUnattendedClose);
    if (!termination.isActive() || !closer.setWindow(&form))
        return false;
    ::raise(signal);
    return QTest::qWaitFor([&] { return !form.isVisible(); }, 5000);
}

} // namespace apptest

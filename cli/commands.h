#pragma once

#include <QStringList>

// Sub-commands of ferrun-cli. Each gets the arguments after its own name and returns the
// process exit code: 0 success, 2 bad arguments (one line on standard error), others as
// documented by the command.
namespace cli {

int runDividers(const QStringList &args);
int runPorts(const QStringList &args);
int runMeasure(const QStringList &args);
int runInfo(const QStringList &args);
int runExport(const QStringList &args);
int runCatalog(const QStringList &args);
int runCycle(const QStringList &args);

// Writes one line to standard error and returns 2.
int usageError(const QString &message);

} // namespace cli

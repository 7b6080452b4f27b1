#pragma once

#include <QStringList>

// Sub-commands of ferrun-cli. Each gets the arguments after its own name and returns the
// process exit code (cli/exitstatus.h), as its --help lists them.
namespace cli {

int runDividers(const QStringList &args);
int runPorts(const QStringList &args);
int runMeasure(const QStringList &args);
int runInfo(const QStringList &args);
int runExport(const QStringList &args);
int runStats(const QStringList &args);
int runCatalog(const QStringList &args);
int runCycle(const QStringList &args);
int runRecovered(const QStringList &args);
// Runs before any application object exists and makes its own (a QGuiApplication on the
// offscreen platform, from a module loaded only for this command). Gets main's arguments,
// "plot" at argv[1].
int runPlot(int argc, char **argv);

} // namespace cli

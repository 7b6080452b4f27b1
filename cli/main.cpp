#include "cli/commands.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char usage[] = "usage: ferrun-cli <command> [options]\n"
                     "commands:\n"
                     "  dividers [--freq HZ | --time MS] [--samples N]\n"
                     "  ports\n"
                     "  measure -o FILE [options]\n"
                     "  info FILE\n"
                     "  cycle -o FILE [--count N] [--one-file] [options]\n";

} // namespace

int cli::usageError(const QString &message)
{
    std::fprintf(stderr, "ferrun-cli: %s\n", qPrintable(message));
    return 2;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == "--help" || args.first() == "-h") {
        std::fputs(usage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    const QString command = args.takeFirst();
    if (command == "dividers")
        return cli::runDividers(args);
    if (command == "ports")
        return cli::runPorts(args);
    if (command == "measure")
        return cli::runMeasure(args);
    if (command == "info")
        return cli::runInfo(args);
    if (command == "cycle")
        return cli::runCycle(args);
    return cli::usageError(QString("unknown command '%1'").arg(command));
}

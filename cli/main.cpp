#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/output.h"

#include <QCoreApplication>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

// One line per command: its name and what it does. `ferrun-cli <command> --help` tells the
// rest (options, defaults, exit statuses).
const char usage[]
    = "usage: ferrun-cli <command> [options]\n"
      "       ferrun-cli <command> --help\n"
      "\n"
      "commands:\n"
      "  dividers   the controller's dividers for a frequency or a time\n"
      "  ports      the serial devices and the instrument among them\n"
      "  measure    records on the board (or the simulator) and saves a file\n"
      "  info       the header and comment of a data file\n"
      "  export     the chart points of a data file as CSV\n"
      "  stats      statistics of the chart points of a data file between two x values\n"
      "  catalog    the comments of the data files of a folder, or a search in them\n"
      "  cycle      repeated averaged measurements, saved per cycle or into one file\n"
      "  plot       the chart of a data file as an SVG or PNG picture\n"
      "  recovered  the recordings kept because they could not be saved\n"
      "\n"
      "options:\n"
      "  -h, --help     show this help and exit\n"
      "  -v, --version  show the version and exit\n"
      "\n"
      "A FILE argument of \"-\" is standard input, -o - standard output. Every message goes\n"
      "to standard error as one line \"ferrun-cli COMMAND: ...\".\n"
      "\n"
      "exit status:\n"
      "  0  done\n"
      "  1  the output could not be written (also --help and --version)\n"
      "  2  bad arguments (a line on standard error says which)\n"
      "  other  as the command's --help says\n";

} // namespace

int main(int argc, char **argv)
{
    cli::holdClosedStandardStreams();
    // Before the application object: plot brings its own, with the display libraries.
    if (argc >= 2 && std::strcmp(argv[1], "plot") == 0)
        return cli::runPlot(argc, argv);
    QCoreApplication app(argc, argv);
    // The application object took the user's locale; the system's error texts in the
    // messages stay English, as every other word of ferrun-cli.
    std::setlocale(LC_MESSAGES, "C");
    QCoreApplication::setApplicationName(QStringLiteral("ferrun-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FERRUN_VERSION));
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs(usage, stderr);
        return cli::ExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == "--help" || command == "-h")
        return cli::printText(QString::fromUtf8(usage));
    if (command == "--version" || command == "-v")
        return cli::printText(QStringLiteral("ferrun-cli %1\n").arg(FERRUN_VERSION));
    if (command == "dividers")
        return cli::runDividers(args);
    if (command == "ports")
        return cli::runPorts(args);
    if (command == "measure")
        return cli::runMeasure(args);
    if (command == "info")
        return cli::runInfo(args);
    if (command == "export")
        return cli::runExport(args);
    if (command == "stats")
        return cli::runStats(args);
    if (command == "catalog")
        return cli::runCatalog(args);
    if (command == "cycle")
        return cli::runCycle(args);
    if (command == "recovered")
        return cli::runRecovered(args);
    cli::message(QString("unknown command '%1' (ferrun-cli --help lists the commands)")
                     .arg(cli::escaped(command)));
    return cli::ExitUsage;
}

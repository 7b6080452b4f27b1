// ferrun-test-cyclechild FOLDER: runs a cycle run whose store is FOLDER and stores cycles in a
// loop until it is killed, printing the number of each cycle once append() has returned (the
// cycle is then on disk). Cycle N is cyclechild::cycle(N) recorded with cyclechild::header(N).

#include "tests/files/cyclechild.h"

#include "files/cyclestore.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2)
        return 2;
    files::CycleStore cycles(files::RecoveryStore(args.at(1)), files::RecoveryKeeper::Cycle);
    cycles.beginRun();
    for (int number = 0;; ++number) {
        QString error;
        if (!cycles.append(cyclechild::header(number), cyclechild::cycle(number), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%d\n", number);
        std::fflush(stdout);
    }
}

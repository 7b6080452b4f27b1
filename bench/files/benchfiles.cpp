// ferrun-bench-files: figures of the data file subsystem on real files in a temporary folder
// (TMPDIR chooses where).
//
// 1. Next in a folder of 10,000 data files (each step lists and sorts the folder afresh).
// 2. The comment catalogue of 1000 data files of 480 KB each, with the files in the page
//    cache (one untimed build first).
// 3. Loading a full recording (480000 bytes of data) with the whole-file check.
// 4. `ferrun-cli catalog` (the program beside this one) of 10,000 files, and of a folder with
//    a comment of 200 MB, listed and searched: wall time and the child's maximum resident
//    set size, from wait4().
// 5. The window's catalogue of that folder (1 MiB of the long comment kept) and its search
//    for a word at the end of the comment, read from the file beyond the shown part.
//
// Each figure is the median of several runs, with the fastest and slowest. Prints figures;
// asserts nothing.

#include "files/catalogue.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/folderbrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

void report(const char *what, int runs, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s median %8.3f ms  (min %.3f, max %.3f, %d runs)\n", what, ms[ms.size() / 2],
        ms.front(), ms.back(), runs);
    std::fflush(stdout);
}

// With --run-child PROGRAM ARGS...: runs the program with its standard output to /dev/null
// and prints its wall time in ms, its maximum resident set size in kB and its exit status.
// The kernel counts the memory of the process that starts a program as the program's own
// until the exec, so the figures are taken here, in a small process started afresh, and not
// in the bench after it has built its folders.
int runChild(char **argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    timespec start {};
    timespec end {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0)
        return 1;
    int status = 0;
    struct rusage usage
    {
    };
    ::wait4(pid, &status, 0, &usage);
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    const double ms = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
    std::printf("%.3f %ld %d\n", ms, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}

// Runs `ferrun-cli` (beside this program) with `args` `runs` times through --run-child; prints
// the median wall time and maximum resident set size.
void reportProgram(const char *what, int runs, const QStringList &args)
{
    const QString self = QCoreApplication::applicationFilePath();
    const QString program = QCoreApplication::applicationDirPath() + "/ferrun-cli";
    std::vector<double> ms;
    std::vector<double> mb;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.start(self, QStringList { "--run-child", program } + args);
        child.waitForFinished(-1);
        const QList<QByteArray> figures = child.readAllStandardOutput().simplified().split(' ');
        if (figures.size() != 3) {
            std::fprintf(stderr, "%s: cannot run %s\n", what, qPrintable(program));
            return;
        }
        if (figures.at(2) != "0")
            std::fprintf(stderr, "%s: exit status %s\n", what, figures.at(2).constData());
        ms.push_back(figures.at(0).toDouble());
        mb.push_back(figures.at(1).toDouble() / 1024.0);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(mb.begin(), mb.end());
    std::printf("%-58s median %8.3f ms  (min %.3f, max %.3f, %d runs), max RSS median %.1f MB "
                "(max %.1f)\n",
        what, ms[ms.size() / 2], ms.front(), ms.back(), runs, mb[mb.size() / 2], mb.back());
    std::fflush(stdout);
}

files::DataFileHeader header()
{
    files::DataFileHeader h;
    h.ChartChannelBits = files::ThermocoupleBits;
    h.ChannelIntervalUs = 621.5413411458334;
    h.ValueScale = files::ValueScale250;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    return h;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--run-child") == 0)
        return runChild(argv + 2);
    QCoreApplication app(argc, argv);

    {
        QTemporaryDir dir;
        const QByteArray small = files::encodeDataFile(header(), QByteArray(100, 'd'), "c");
        for (int i = 0; i < 10000; ++i) {
            QFile f(dir.filePath(QStringLiteral("Run%1.kdx").arg(i, 5, 10, QLatin1Char('0'))));
            if (!f.open(QIODevice::WriteOnly) || f.write(small) != small.size()) {
                std::fprintf(stderr, "cannot write the folder\n");
                return 1;
            }
        }
        const QString current = dir.filePath("Run05000.kdx");
        files::BrowseStep step;
        report(
            "Next in a folder of 10,000 files", 21, [&] { step = files::nextDataFile(current); });
        if (step.fileName != dir.filePath("Run05001.kdx"))
            std::fprintf(stderr, "unexpected neighbour %s\n", qPrintable(step.fileName));
        report("Previous in a folder of 10,000 files", 21,
            [&] { step = files::previousDataFile(current); });
        reportProgram("ferrun-cli catalog of 10,000 files", 7, { "catalog", dir.path() });
        reportProgram("ferrun-cli catalog --find of 10,000 files", 7,
            { "catalog", dir.path(), "--find", "C" });
    }

    {
        // A comment of 200 MB: lines of 100 bytes, one line of 20 MB, a word at the end.
        QTemporaryDir dir;
        QFile f(dir.filePath("long.kdx"));
        bool written = f.open(QIODevice::WriteOnly)
            && f.write(files::encodeDataFile(header(), QByteArray(480000, 'd'), {})) > 0;
        const QByteArray line = QByteArray(98, 'x') + "\r\n";
        QByteArray block;
        for (int i = 0; i < 10000; ++i)
            block += line;
        for (int i = 0; i < 180 && written; ++i)
            written = f.write(block) == block.size();
        const QByteArray y(1000000, 'y');
        for (int i = 0; i < 20 && written; ++i)
            written = f.write(y) == y.size();
        written = written && f.write("\r\nfinal word") > 0;
        f.close();
        const QByteArray small = files::encodeDataFile(header(), QByteArray(100, 'd'), "short");
        for (const char *name : { "a.kdx", "z.kdx" }) {
            QFile s(dir.filePath(name));
            written = written && s.open(QIODevice::WriteOnly) && s.write(small) == small.size();
        }
        if (!written) {
            std::fprintf(stderr, "cannot write the folder\n");
            return 1;
        }
        reportProgram("ferrun-cli catalog, a comment of 200 MB", 3, { "catalog", dir.path() });
        reportProgram("ferrun-cli catalog --find, a comment of 200 MB", 3,
            { "catalog", dir.path(), "--find", "WORD" });

        files::Catalogue catalogue;
        report("Window catalogue of that folder (1 MiB kept)", 5,
            [&] { catalogue = files::buildCatalogue(dir.path(), files::DataFileSuffix); });
        const QStringList lines = catalogue.lines();
        files::CatalogueFind found;
        report("Window search beyond the shown part (word at the end)", 3, [&] {
            qsizetype searchLine = 0;
            found = files::findInCatalogue(catalogue, lines, "WORD", false, &searchLine);
        });
        if (!found.beyondShown || found.commentLine != 1800002)
            std::fprintf(stderr, "unexpected find on line %lld\n",
                static_cast<long long>(found.commentLine));
    }

    {
        QTemporaryDir dir;
        QByteArray data(480000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 + i / 500);
        const QString comment = QStringLiteral(
            "Печь 2, термопары T1..T7\r\nтемпература до 800 градусов\r\nзапись %1");
        for (int i = 0; i < 1000; ++i) {
            const QByteArray bytes = files::encodeDataFile(header(), data, comment.arg(i));
            QFile f(dir.filePath(QStringLiteral("r%1.kdx").arg(i, 4, 10, QLatin1Char('0'))));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
                std::fprintf(stderr, "cannot write the folder\n");
                return 1;
            }
        }
        files::Catalogue catalogue = files::buildCatalogue(dir.path(), files::DataFileSuffix);
        report("Catalogue of 1000 files of 480 KB (warm cache)", 11,
            [&] { catalogue = files::buildCatalogue(dir.path(), files::DataFileSuffix); });
        if (catalogue.lines().size() != 4000)
            std::fprintf(stderr, "unexpected catalogue of %lld lines\n",
                static_cast<long long>(catalogue.lines().size()));
        const QStringList lines = catalogue.lines();
        qsizetype searchLine = 0;
        report("Search of that catalogue (a word in its last line)", 11, [&] {
            searchLine = 0;
            files::findInCatalogue(lines, QStringLiteral("ЗАПИСЬ 999"), false, &searchLine);
        });

        files::DataFile loaded;
        const QString one = dir.filePath("r0500.kdx");
        report("Load of a full recording (480000 bytes, checked)", 51,
            [&] { files::readDataFile(one, &loaded); });
        if (loaded.data != data)
            std::fprintf(stderr, "the recording read back differs\n");
    }
    return 0;
}

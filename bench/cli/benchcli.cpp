// ferrun-bench-cli [--cli PATH] [--runs N] [--only NAME]: peak memory (max RSS) and wall time
// of ferrun-cli export and plot, run as separate processes on data files made in a temporary
// folder (TMPDIR chooses where):
//   full     a full recording: 480000 bytes of one channel
//   64mib    a recording of 64 MiB of one channel
//   comment  the full recording followed by a comment of 1 GiB (a sparse file: the comment
//            takes no disk, but a program that reads it gets 1 GiB of zero bytes)
// Commands: export to standard output (sent to /dev/null), export --photodiode (two passes
// over the data), plot to an SVG and to a PNG file in the folder, and plot to a PNG with the
// file laid over itself three times more (moved along X).
// Each line: the command, the file, the largest max RSS of the runs in MB, the median wall
// time in seconds. --cli runs another build's ferrun-cli (default: this build's), so that two
// builds can be compared; --only runs the files whose name is given. Asserts nothing.

#include "files/datafile.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// Frames of one channel: a slow wave with the photodiode bit in runs.
QByteArray recording(qint64 bytes)
{
    QByteArray data(bytes, '\0');
    for (qint64 w = 0; w < bytes / 2; ++w) {
        const int code = 2048 + int(1500 * std::sin(double(w % 480000) * 0.0037));
        const int word = code | ((w / 5000) % 2 ? 0x8000 : 0);
        data[2 * w] = char(word & 0xFF);
        data[2 * w + 1] = char(word >> 8);
    }
    return data;
}

bool writeDataFile(const QString &path, const QByteArray &data, qint64 sparseComment)
{
    files::DataFileHeader header;
    header.ChartChannelBits = 0x01;
    header.ChannelIntervalUs = 3055 / 14.7456;
    header.ValueScale = files::ValueScale250;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = files::encodeDataFile(header, data, QString());
    return file.write(bytes) == bytes.size() && file.resize(bytes.size() + sparseComment);
}

struct Run
{
    bool ok = false;
    double seconds = 0;
    double maxRssMb = 0;
};

// The launcher: runs the command with standard output to /dev/null and prints its peak
// memory in KiB, its time in seconds and its exit status. A process started straight from
// the bench would count the bench's own memory (the copy it starts as, until its exec) in
// its peak; the launcher is a small process of its own.
int launch(char **command)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    timespec start {}, end {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    int status = -1;
    struct rusage usage
    {
    };
    if (posix_spawn(&pid, command[0], &actions, nullptr, command, environ) != 0
        || wait4(pid, &status, 0, &usage) != pid)
        return 1;
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds = double(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("%ld %.6f %d\n", usage.ru_maxrss, seconds,
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

Run run(const QStringList &command)
{
    QProcess launcher;
    launcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    launcher.start(QCoreApplication::applicationFilePath(), QStringList { "--launch" } + command);
    Run result;
    if (!launcher.waitForFinished(-1))
        return result;
    const QList<QByteArray> fields = launcher.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 3)
        return result;
    result.maxRssMb = fields[0].toDouble() / 1024;
    result.seconds = fields[1].toDouble();
    result.ok = fields[2].toInt() == 0;
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--launch") == 0)
        return launch(argv + 2);
    QCoreApplication app(argc, argv);
    QString cli = QStringLiteral(FERRUN_CLI_DEFAULT);
    int runs = 3;
    QStringList only;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--cli")
            cli = args[i + 1];
        else if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--only")
            only << args[i + 1];
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QByteArray full = recording(480000);
    struct Input
    {
        const char *name;
        QByteArray data;
        qint64 comment;
    };
    const std::vector<Input> inputs { { "full", full, 0 },
        { "64mib", recording(qint64(64) << 20), 0 }, { "comment", full, qint64(1) << 30 } };
    std::printf("ferrun-cli: %s\n", qPrintable(cli));
    for (const Input &input : inputs) {
        if (!only.isEmpty() && !only.contains(QLatin1String(input.name)))
            continue;
        const QString file = dir.filePath(QString("%1.kdx").arg(input.name));
        if (!writeDataFile(file, input.data, input.comment)) {
            std::printf("%s: cannot write the data file\n", input.name);
            continue;
        }
        const std::vector<std::pair<const char *, QStringList>> commands {
            { "export", { cli, "export", file } },
            { "export --photodiode", { cli, "export", file, "--photodiode" } },
            { "plot svg", { cli, "plot", file, "-o", dir.filePath("out.svg") } },
            { "plot png", { cli, "plot", file, "-o", dir.filePath("out.png") } },
            { "plot png +3 overlays",
                { cli, "plot", file, file, file, file, "--shift", "100", "-o",
                    dir.filePath("out.png") } },
        };
        for (const auto &[what, command] : commands) {
            std::vector<double> seconds;
            double rss = 0;
            bool ok = true;
            for (int i = 0; i < runs; ++i) {
                const Run r = run(command);
                ok = ok && r.ok;
                seconds.push_back(r.seconds);
                rss = std::max(rss, r.maxRssMb);
            }
            std::sort(seconds.begin(), seconds.end());
            std::printf("%-22s %-8s max_rss_mb=%8.1f median_s=%7.2f%s\n", what, input.name, rss,
                seconds[seconds.size() / 2], ok ? "" : "  (failed)");
            std::fflush(stdout);
        }
        QFile::remove(file);
    }
    return 0;
}

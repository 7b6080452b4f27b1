#pragma once

// Running the project's programs from the cli tests: ferrun-cli with its output collected,
// the ferrun-board program on a pseudo-terminal, and data files written for them to read.

#include "files/datafile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace clitest {

// A program of the build, by name.
inline QString program(const QString &name)
{
    return QDir(qEnvironmentVariable("FERRUN_BIN_DIR")).filePath(name);
}

struct CliRun
{
    int exitCode = -1; // -1: ended by a signal, or timed out
    QString out;
    QByteArray outBytes; // standard output as written
    QString err;
    bool timedOut = false;
};

// Waits for a started process and collects its exit status and output; kills it after
// `timeoutMs`.
inline CliRun finished(QProcess &process, int timeoutMs = 60000)
{
    CliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = "timed out";
        run.timedOut = true;
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.outBytes = process.readAllStandardOutput();
    run.out = QString::fromUtf8(run.outBytes);
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline CliRun runCli(const QStringList &args, const QProcessEnvironment &env, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program("ferrun-cli"), args);
    return finished(process, timeoutMs);
}

inline CliRun runCli(const QStringList &args, int timeoutMs = 60000)
{
    QProcess process;
    process.start(program("ferrun-cli"), args);
    return finished(process, timeoutMs);
}

// ferrun-cli with its standard output going to `path` (/dev/full, a FIFO, a file).
inline CliRun runCliWritingTo(const QString &path, const QStringList &args, int timeoutMs = 60000)
{
    QProcess process;
    process.setStandardOutputFile(path);
    process.start(program("ferrun-cli"), args);
    return finished(process, timeoutMs);
}

// Starts ferrun-cli measure on `device` with the photodiode launch and further `args`.
inline void startPhotodiodeMeasure(
    QProcess &cli, const QString &device, const QString &output, const QStringList &args)
{
    cli.start(program("ferrun-cli"),
        QStringList { "measure", "--device", device, "-o", output, "--launch", "photodiode" }
            + args);
}

// Reads a running process's standard error until it holds `text` or `timeoutMs` passed;
// returns what was read.
inline QByteArray readErrorUntil(QProcess &process, const QByteArray &text, int timeoutMs = 20000)
{
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains(text) && clock.elapsed() < timeoutMs) {
        process.waitForReadyRead(100);
        err += process.readAllStandardError();
    }
    return err;
}

// The board program, its device path read from its first line; terminated at the end.
struct Board
{
    explicit Board(const QStringList &arguments)
    {
        process.start(program("ferrun-board"), arguments + QStringList { "--quiet" });
        if (!process.waitForStarted(10000))
            return;
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10000))
                return;
        device = QString::fromUtf8(process.readLine()).trimmed();
    }
    ~Board()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished();
        }
    }
    QProcess process;
    QString device;
};

// The cycles stored so far by the runs whose journals are in the recovery store under the data
// folder `dataHome` (XDG_DATA_HOME of the run): the data bytes of its "*-cycles.kdx" entries
// over 3500.
inline int cyclesInStore(const QString &dataHome)
{
    const QDir store(dataHome + QStringLiteral("/Ferrun/recovery"));
    qint64 bytes = 0;
    for (const QString &name : store.entryList({ "*-cycles.kdx" }, QDir::Files)) {
        files::DataFileSummary summary;
        if (files::readDataFileSummary(store.filePath(name), &summary, 0)
            == files::DataFileStatus::Ok)
            bytes += summary.header.DataLength;
    }
    return int(bytes / 3500);
}

// Waits until a cycle run has `cycles` cycles in its journal (false when it ended first, or
// after 60 s).
inline bool waitForCycles(QProcess &process, const QString &dataHome, int cycles)
{
    QElapsedTimer clock;
    clock.start();
    while (cyclesInStore(dataHome) < cycles) {
        if (process.state() == QProcess::NotRunning || clock.elapsed() > 60000)
            return false;
        process.waitForFinished(20);
    }
    return true;
}

// The environment of a run whose recovery store is under `dataHome`.
inline QProcessEnvironment withDataHome(const QString &dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dataHome);
    return env;
}

// A header with the axis titles a chart build writes; the rest at its defaults.
inline files::DataFileHeader titledHeader()
{
    files::DataFileHeader header;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    return header;
}

// A file's bytes; empty when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a data file in place (no temporary file) and returns its path.
inline QString writeDataFile(const QString &path, const files::DataFileHeader &header,
    const QByteArray &data, const QString &comment)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(files::encodeDataFile(header, data, comment));
    return path;
}

} // namespace clitest

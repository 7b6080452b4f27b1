#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun dividers(const QStringList &args)
{
    QProcess process;
    process.setProgram(qEnvironmentVariable("FERRUN_BIN_DIR") + "/ferrun-cli");
    process.setArguments(QStringList { "dividers" } + args);
    process.start();
    CliRun run;
    if (!process.waitForFinished(30000)) {
        ADD_FAILURE() << "ferrun-cli did not finish: " << process.errorString().toStdString();
        process.kill();
        process.waitForFinished();
        return run;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString lines(const QStringList &keyValues)
{
    return keyValues.join('\n') + '\n';
}

} // namespace

TEST(DividersCommand, PrintsThePanelAfterTypingAndLeaving)
{
    const CliRun first = dividers({});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_TRUE(first.err.isEmpty());
    EXPECT_EQ(first.out,
        lines({ "warning=", "Time4allSRAM=100000", "d1=202", "d2=10", "SamplePeriodCycles=6145",
            "F=2399.609", "T=100016.276", "seF=2400", "seTime=100000" }));

    EXPECT_EQ(dividers({ "--freq", "75" }).out,
        lines({ "warning=", "Time4allSRAM=3200000", "d1=256", "d2=255", "SamplePeriodCycles=196660",
            "F=74.980", "T=3200846.354", "seF=75", "seTime=3200000" }));

    // The warning is the one shown right after typing; leaving pulls the field back.
    EXPECT_EQ(dividers({ "--freq", "300000" }).out,
        lines({ "warning=Fвыборки, Гц>241731", "Time4allSRAM=800", "d1=1", "d2=1",
            "SamplePeriodCycles=61", "F=241731.148", "T=992.839", "seF=241731", "seTime=992" }));

    // Samples are applied first, then the time is typed.
    EXPECT_EQ(dividers({ "--time", "100", "--samples", "30000" }).out,
        lines({ "warning=Tизмерения, мс<124", "Time4allSRAM=993", "d1=1", "d2=1",
            "SamplePeriodCycles=61", "F=241731.148", "T=124.105", "seF=241731", "seTime=124" }));
    EXPECT_EQ(dividers({ "--samples", "60000", "--time", "10000" }).out,
        lines({ "warning=", "Time4allSRAM=40000", "d1=88", "d2=9", "SamplePeriodCycles=2458",
            "F=5999.024", "T=10001.628", "seF=6000", "seTime=10000" }));
}

TEST(DividersCommand, BadArgumentsGiveOneLineAndExitCode2)
{
    const QList<QStringList> bad = {
        { "--freq" },
        { "--freq", "abc" },
        { "--freq", "2400.5" },
        { "--time", "99999999999" },
        { "--freq", "2400", "--time", "1000" },
        { "--freq", "2400", "--freq", "2400" },
        { "--samples", "45000" },
        { "--samples", "270000" },
        { "--samples", "0" },
        { "--hz", "2400" },
        { "2400" },
    };
    for (const QStringList &args : bad) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = dividers(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_EQ(run.err.count('\n'), 1);
        EXPECT_TRUE(run.err.endsWith('\n'));
    }
}

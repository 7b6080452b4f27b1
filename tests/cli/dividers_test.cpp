#include "tests/cli/clirun.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <tuple>

namespace {

using clitest::CliRun;

CliRun dividers(const QStringList &args)
{
    const CliRun run = clitest::runCli(QStringList { "dividers" } + args, 30000);
    if (run.timedOut)
        ADD_FAILURE() << "ferrun-cli did not finish";
    else
        EXPECT_NE(run.exitCode, -1) << "ferrun-cli did not exit normally";
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
            "F=2399.609438567941", "T=100016.27604166667", "seF=2400", "seTime=100000" }));

    EXPECT_EQ(dividers({ "--freq", "75" }).out,
        lines({ "warning=", "Time4allSRAM=3200000", "d1=256", "d2=255", "SamplePeriodCycles=196660",
            "F=74.98016881928201", "T=3200846.3541666665", "seF=75", "seTime=3200000" }));

    // The panel's limits themselves are taken; "--opt=value" works as "--opt value".
    EXPECT_EQ(dividers({ "--freq=241731" }).out,
        lines({ "warning=", "Time4allSRAM=993", "d1=1", "d2=1", "SamplePeriodCycles=61",
            "F=241731.1475409836", "T=992.8385416666666", "seF=241692", "seTime=993" }));
    EXPECT_EQ(dividers({ "--samples=30000", "--time=124" }).out,
        lines({ "warning=", "Time4allSRAM=993", "d1=1", "d2=1", "SamplePeriodCycles=61",
            "F=241731.1475409836", "T=124.10481770833333", "seF=241731", "seTime=124" }));
    EXPECT_EQ(dividers({ "--samples", "60000", "--time", "10000" }).out,
        lines({ "warning=", "Time4allSRAM=40000", "d1=88", "d2=9", "SamplePeriodCycles=2458",
            "F=5999.023596419854", "T=10001.627604166666", "seF=6000", "seTime=10000" }));
}

TEST(DividersCommand, BadArgumentsGiveOneLineAndExitCode2)
{
    const QList<QStringList> bad = {
        { "--freq" },
        { "--freq", "abc" },
        { "--freq", "2400.5" },
        { "--time", "99999999999" },
        { "--freq", "-5" },
        { "--freq", "2400", "--time", "1000" },
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

// A value outside the panel's range: the limit its warning names, in English, and the values
// it pulls the fields back to when the field is left; not refused (measure refuses it).
TEST(DividersCommand, OutOfRangeValuesShowThePanelsWarning)
{
    const CliRun high = dividers({ "--freq", "300000" });
    EXPECT_EQ(high.exitCode, 0) << qPrintable(high.err);
    EXPECT_TRUE(high.out.startsWith(
        QStringLiteral("warning=above the board's highest frequency, 241731 Hz\n")))
        << qPrintable(high.out);
    EXPECT_TRUE(high.out.contains("\nd1=1\nd2=1\n")) << qPrintable(high.out);
    EXPECT_TRUE(high.out.contains("\nseF=241731\n")) << qPrintable(high.out);
    const CliRun shortTime = dividers({ "--time", "100", "--samples", "30000" });
    EXPECT_EQ(shortTime.exitCode, 0);
    EXPECT_TRUE(shortTime.out.startsWith(
        QStringLiteral("warning=below the shortest time for 30000 samples, 124 ms\n")))
        << qPrintable(shortTime.out);
    EXPECT_TRUE(shortTime.out.endsWith("seTime=124\n")) << qPrintable(shortTime.out);
}

TEST(DividersCommand, HelpAndDoubleDash)
{
    const CliRun help = dividers({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("usage: ferrun-cli dividers ")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("--freq HZ")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("(default: 240000)")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("\nexit status:\n  0  ")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("  2  bad arguments")) << qPrintable(help.out);

    // After "--" nothing is an option, and the command takes no other words.
    const CliRun dashed = dividers({ "--", "--freq=2400" });
    EXPECT_EQ(dashed.exitCode, 2);
    EXPECT_TRUE(dashed.err.contains("unexpected argument '--freq=2400'")) << qPrintable(dashed.err);
}

// The program's own usage, before any command.
TEST(CliUsage, ListsTheCommandsAndRefusesUnknownOnes)
{
    const auto run = [](const QStringList &args) {
        QProcess process;
        process.start(qEnvironmentVariable("FERRUN_BIN_DIR") + "/ferrun-cli", args);
        EXPECT_TRUE(process.waitForFinished(30000));
        return std::tuple { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()) };
    };
    const auto [helpCode, help, helpErr] = run({ "--help" });
    EXPECT_EQ(helpCode, 0);
    EXPECT_TRUE(help.startsWith("usage: ferrun-cli <command> [options]\n")) << qPrintable(help);
    for (const char *command : { "dividers", "ports", "measure", "info" })
        EXPECT_TRUE(help.contains(QString("\n  %1 ").arg(command))) << command;
    EXPECT_TRUE(help.contains("exit status:"));

    const auto [bareCode, bareOut, bareErr] = run({});
    EXPECT_EQ(bareCode, 2);
    EXPECT_TRUE(bareOut.isEmpty());
    EXPECT_EQ(bareErr, help);

    const auto [unknownCode, unknownOut, unknownErr] = run({ "mesure" });
    EXPECT_EQ(unknownCode, 2);
    EXPECT_EQ(unknownErr.count('\n'), 1);
    EXPECT_TRUE(unknownErr.contains("'mesure'")) << qPrintable(unknownErr);

    const auto [versionCode, version, versionErr] = run({ "--version" });
    EXPECT_EQ(versionCode, 0);
    EXPECT_TRUE(version.startsWith("ferrun-cli ")) << qPrintable(version);
}

#include "tests/acquisition/discoveryfakesysfs.h"
#include "tests/cli/clirun.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::FakeSysfs;

namespace {

using clitest::CliRun;

CliRun runPorts(const QStringList &args)
{
    return clitest::runCli(QStringList { "ports" } + args);
}

class PortsCommandTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    FakeSysfs sysfs { dir.path() + "/sys" };
    QStringList roots { "--sysfs-root", dir.path() + "/sys", "--dev-root", "/fake/dev" };
};

TEST_F(PortsCommandTest, MarksTheInstrumentAndItsUnusedTwin)
{
    sysfs.addVirtualTty("tty1");
    sysfs.addPlatformPort("ttyS0");
    sysfs.addInstrument("1-1", "ttyUSB0");
    sysfs.addInstrument("1-2", "ttyUSB1");
    sysfs.addInstrument("1-3", "ttyUSB2", "x\"1\t"); // odd serial texts come out escaped

    const CliRun run = runPorts(roots);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out,
        "  /fake/dev/ttyS0    -       -\n"
        "  /fake/dev/ttyUSB0  cp210x  usb 10c4:ea5f serial \"0001\" interface 0"
        "  instrument identity, not used (/fake/dev/ttyUSB1 is)\n"
        "* /fake/dev/ttyUSB1  cp210x  usb 10c4:ea5f serial \"0001\" interface 0"
        "  instrument\n"
        "  /fake/dev/ttyUSB2  cp210x  usb 10c4:ea5f serial \"x\\\"1\\x09\" interface 0\n");
}

TEST_F(PortsCommandTest, SaysSoWhenNothingIsFound)
{
    CliRun run = runPorts(roots);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
        "no serial devices found\n"
        "instrument not found (usb 10c4:ea5f serial \"0001\" interface 0)\n");

    sysfs.addInstrument("1-1", "ttyUSB0", "0001", 1);
    run = runPorts(roots);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(
        run.out.endsWith("instrument not found (usb 10c4:ea5f serial \"0001\" interface 0)\n"))
        << qPrintable(run.out);
    EXPECT_FALSE(run.out.startsWith("*")) << qPrintable(run.out);
}

TEST_F(PortsCommandTest, RejectsUnknownOrIncompleteArguments)
{
    CliRun run = runPorts({ "--verbose" });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.toStdString(),
        "ferrun-cli ports: unknown option --verbose (ferrun-cli ports --help lists the "
        "options)\n");

    run = runPorts({ "--sysfs-root" });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.toStdString(), "ferrun-cli ports: --sysfs-root needs a value\n");
}

TEST_F(PortsCommandTest, TakesEqualsFormAndShowsHelp)
{
    sysfs.addInstrument("1-1", "ttyUSB0");
    const CliRun run = runPorts({ "--sysfs-root=" + dir.path() + "/sys", "--dev-root=/fake/dev" });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.out.startsWith("* /fake/dev/ttyUSB0")) << qPrintable(run.out);

    const CliRun help = runPorts({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("usage: ferrun-cli ports")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("--sysfs-root DIR")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("(default: /sys)")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("exit status:")) << qPrintable(help.out);

    const CliRun stray = runPorts({ "--", "--help" });
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_TRUE(stray.out.isEmpty());
}

} // namespace

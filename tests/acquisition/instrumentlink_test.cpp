#include "acquisition/instrumentlink.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"
#include "tests/acquisition/discoveryfakesysfs.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <termios.h>

using namespace acquisition;
using namespace std::chrono_literals;
using testsupport::FakeSysfs;

namespace {

const QString NotFound = QString::fromUtf8("АЦП не обнаружено");
const QString NoLink = QString::fromUtf8("USB: нет связи");

class InstrumentLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir().mkpath(devRoot);
        std::string error;
        ASSERT_TRUE(board.start(&error)) << error;
        link.setOptions({ dir.path() + "/sys", devRoot, {} });
        QObject::connect(&link, &InstrumentLink::informationMessage,
            [this](const QString &text) { messages << text; });
        QObject::connect(
            &link, &InstrumentLink::statusText, [this](const QString &text) { statuses << text; });
        QObject::connect(&link, &InstrumentLink::measurementButtonsEnabled,
            [this](bool enabled) { buttons << enabled; });
    }

    // The bridge appears in sysfs and its device node leads to the simulator's terminal.
    void plugIn(const QString &name = "ttyUSB0")
    {
        sysfs.addInstrument("1-2", name);
        FakeSysfs::link(devRoot + "/" + name, QString::fromStdString(board.devicePath()));
    }

    bool waitForProbes(int count)
    {
        return board.waitFor(
            [count](const sim::BoardCounters &c) { return c.probes >= count; }, 10s);
    }

    termios lineSettings()
    {
        termios settings {};
        EXPECT_EQ(::tcgetattr(port.Handle(), &settings), 0);
        return settings;
    }

    void expectConnected()
    {
        ASSERT_TRUE(port.IsOpen());
        ASSERT_FALSE(buttons.isEmpty());
        EXPECT_TRUE(buttons.last());
        EXPECT_TRUE(link.lastError().isEmpty()) << qPrintable(link.lastError());
        const termios settings = lineSettings();
        EXPECT_EQ(::cfgetospeed(&settings), speed_t(B921600));
        EXPECT_EQ(::cfgetispeed(&settings), speed_t(B921600));
        // Only the rate changed: the raw 8-bit framing written by Open stays. A pseudo-terminal
        // keeps no parity bits, so odd parity, RTS on and DTR off show in the port's record.
        EXPECT_EQ(settings.c_cflag & (CSIZE | CSTOPB | CRTSCTS | CREAD | CLOCAL),
            tcflag_t(CS8 | CREAD | CLOCAL));
        EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), tcflag_t(0));
        const serial::TLineSettings record = port.LineSettings();
        EXPECT_EQ(record.Parity, 1);
        EXPECT_EQ(
            record.Flags & (serial::lfRtsMask | serial::lfDtrMask), quint32(serial::lfRtsEnable));
        EXPECT_EQ(port.MonitorEvents(), serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
        // The component itself holds the rate it set.
        EXPECT_EQ(port.Baudrate(), serial::brUser);
        EXPECT_EQ(port.UserBaudrate(), 921600);
    }

    void expectDisconnected()
    {
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.Handle(), -1);
        ASSERT_FALSE(buttons.isEmpty());
        EXPECT_FALSE(buttons.last());
        EXPECT_TRUE(link.connectedDevice().isEmpty());
    }

    QTemporaryDir dir;
    FakeSysfs sysfs { dir.path() + "/sys" };
    QString devRoot = dir.path() + "/dev";
    sim::BoardSimulator board;
    serial::TSerialPort port;
    InstrumentLink link { port };
    QStringList messages;
    QStringList statuses;
    QList<bool> buttons;
};

TEST_F(InstrumentLinkTest, FindsOpensRaisesTheRateAndProbesAgainOnEveryPress)
{
    plugIn("ttyUSB12");
    link.ConnectInstrument();
    expectConnected();
    EXPECT_EQ(buttons, QList<bool>({ false, true }));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(link.connectedDevice(), devRoot + "/ttyUSB12");
    EXPECT_EQ(port.DeviceName(), devRoot + "/ttyUSB12");
    EXPECT_EQ(port.PortNum(), 12);
    ASSERT_TRUE(waitForProbes(1));

    // btUSB again: closed, reopened at 9600 and raised again, one more probe.
    link.ConnectInstrument();
    expectConnected();
    EXPECT_EQ(buttons, QList<bool>({ false, true, false, true }));
    ASSERT_TRUE(waitForProbes(2));
    EXPECT_EQ(board.received(), std::vector<std::uint8_t>({ 0x29, 0x29 }));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(InstrumentLinkTest, WithoutTheBoardTellsOnceAndConnectsAfterPlugIn)
{
    sysfs.addPlatformPort("ttyS0");
    link.ConnectInstrument();
    expectDisconnected();
    EXPECT_EQ(messages, QStringList({ NotFound }));
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(buttons, QList<bool>({ false }));
    EXPECT_FALSE(link.lastError().isEmpty());

    plugIn();
    link.ConnectInstrument();
    expectConnected();
    EXPECT_EQ(messages.size(), 1);
    ASSERT_TRUE(waitForProbes(1));
}

TEST_F(InstrumentLinkTest, PortInUseOrVanishedLeavesThePortClosed)
{
    plugIn();
    {
        serial::TSerialPort other; // another program holds the port
        other.setDeviceName(devRoot + "/ttyUSB0");
        other.Open();
        link.ConnectInstrument();
        expectDisconnected();
        EXPECT_EQ(messages, QStringList({ NotFound }));
        EXPECT_EQ(statuses, QStringList({ NoLink }));
    }
    link.ConnectInstrument();
    expectConnected();
    ASSERT_TRUE(waitForProbes(1));

    // Unplugged: sysfs still lists the port for a moment, but its node is gone.
    ASSERT_TRUE(QFile::remove(devRoot + "/ttyUSB0"));
    link.ConnectInstrument();
    expectDisconnected();
    EXPECT_EQ(messages, QStringList({ NotFound, NotFound }));
    EXPECT_EQ(statuses, QStringList({ NoLink, NoLink }));
    EXPECT_EQ(buttons, QList<bool>({ false, false, true, false }));
    EXPECT_EQ(board.counters().probes, 1);
}

TEST_F(InstrumentLinkTest, DeviceOverrideSkipsTheLookup)
{
    sysfs.addInstrument("1-2", "ttyUSB0"); // a matching entry with no node is not used
    // A '%' in the path is taken literally, not as the port number's place.
    const QString named = dir.path() + "/board%d";
    FakeSysfs::link(named, QString::fromStdString(board.devicePath()));
    link.setOptions({ dir.path() + "/sys", devRoot, named });
    link.ConnectInstrument();
    expectConnected();
    EXPECT_EQ(link.connectedDevice(), named);
    EXPECT_EQ(port.ResolvedDeviceName(), named);
    ASSERT_TRUE(waitForProbes(1));

    // A named device that is not a terminal, or does not exist, is a failed open.
    QFile plain(dir.path() + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    for (const QString &device : { dir.path() + "/plain", dir.path() + "/missing" }) {
        messages.clear();
        statuses.clear();
        link.setOptions({ dir.path() + "/sys", devRoot, device });
        link.ConnectInstrument();
        expectDisconnected();
        EXPECT_EQ(messages, QStringList({ NotFound })) << qPrintable(device);
        EXPECT_EQ(statuses, QStringList({ NoLink })) << qPrintable(device);
        EXPECT_TRUE(link.lastError().contains(device)) << qPrintable(link.lastError());
    }
}

} // namespace

#include "acquisition/discovery.h"
#include "tests/acquisition/discoveryfakesysfs.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace acquisition;
using testsupport::FakeSysfs;

namespace {

class DiscoveryTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    FakeSysfs sysfs { dir.path() + "/sys" };
    DiscoveryRoots roots { dir.path() + "/sys", "/fake/dev" };

    // One line per device: node, driver, identity ("-" without one).
    QStringList listing()
    {
        QStringList lines;
        for (const SerialDeviceInfo &d : listSerialDevices(roots))
            lines << QString("%1 %2 %3")
                         .arg(d.devicePath, d.driver,
                             d.hasUsbIdentity ? QString("%1:%2 '%3' %4")
                                                    .arg(d.vendorId, 0, 16)
                                                    .arg(d.productId, 0, 16)
                                                    .arg(d.serial)
                                                    .arg(d.interfaceNumber)
                                              : QString("-"));
        return lines;
    }
    QString found() { return findInstrumentPort(roots).value_or(SerialDeviceInfo {}).name; }
};

TEST_F(DiscoveryTest, ListsPortsOfEveryKindInNaturalOrder)
{
    sysfs.addVirtualTty("tty0"); // no device link: not a serial device
    sysfs.addPlatformPort("ttyS10");
    sysfs.addPlatformPort("ttyS2");
    sysfs.addInstrument("1-2", "ttyUSB0");
    sysfs.addAcmPort(
        sysfs.addInterface(sysfs.addUsbDevice("1-3.4", 0x1546, 0x01a8, ""), 0), "ttyACM0");
    EXPECT_EQ(listing(),
        QStringList({ "/fake/dev/ttyACM0 cdc_acm 1546:1a8 '' 0", "/fake/dev/ttyS2  -",
            "/fake/dev/ttyS10  -", "/fake/dev/ttyUSB0 cp210x 10c4:ea5f '0001' 0" }));
    EXPECT_EQ(found(), "ttyUSB0");
}

TEST_F(DiscoveryTest, NoMatchWhenAnyPartOfTheIdentityDiffers)
{
    EXPECT_EQ(found(), ""); // empty tree
    EXPECT_FALSE(findInstrumentPort({ dir.path() + "/missing", "/dev" }));

    sysfs.addUsbPort("1-1", 0x10C4, 0xEA60, "0001", 0, "ttyUSB0");
    sysfs.addUsbPort("1-2", 0x10C5, 0xEA5F, "0001", 0, "ttyUSB1");
    sysfs.addInstrument("1-3", "ttyUSB2", "0002");
    sysfs.addInstrument("1-4", "ttyUSB3", "0001 "); // a trailing space belongs to the serial
    sysfs.addUsbPort("1-5", 0x10C4, 0xEA5F, "", 0, "ttyUSB4");
    sysfs.addInstrument("1-6", "ttyUSB5", "0001", 1); // the bridge's second interface
    EXPECT_EQ(listing().size(), 6);
    EXPECT_EQ(found(), "");

    // Letter case counts.
    sysfs.addInstrument("1-7", "ttyUSB6", "ab01");
    EXPECT_FALSE(findUsbSerialPort(0x10C4, 0xEA5F, "AB01", 0, roots));
    EXPECT_EQ(findUsbSerialPort(0x10C4, 0xEA5F, "ab01", 0, roots)->name, "ttyUSB6");
}

TEST_F(DiscoveryTest, TwoPortBridgeUsesInterfaceZero)
{
    const QString bridge = sysfs.addInstrument("1-2", "ttyUSB1", "0001", 1);
    sysfs.addUsbSerialPort(sysfs.addInterface(bridge, 0), "ttyUSB0");
    EXPECT_EQ(found(), "ttyUSB0");
}

TEST_F(DiscoveryTest, OfTwoMatchesTheLastInNaturalNameOrderWins)
{
    sysfs.addInstrument("1-2", "ttyUSB10");
    sysfs.addInstrument("1-3", "ttyUSB2");
    sysfs.addAcmPort(
        sysfs.addInterface(sysfs.addUsbDevice("1-4", 0x10C4, 0xEA5F, "0001"), 0), "ttyACM0");
    EXPECT_EQ(found(), "ttyUSB10"); // in plain text order ttyUSB2 would come last
    EXPECT_TRUE(naturalNameLess("ttyUSB1", "ttyUSB01"));
    EXPECT_TRUE(naturalNameLess("ttyUSB99999999999999999998", "ttyUSB99999999999999999999"));
}

TEST_F(DiscoveryTest, VanishedOrDamagedEntriesAreSkippedOrLoseTheirIdentity)
{
    // Unplugged between listing and reading: the device link dangles.
    QDir(sysfs.addInstrument("1-1", "ttyUSB0")).removeRecursively();
    // Attributes half gone or not numbers.
    QFile::remove(sysfs.addInstrument("1-2", "ttyUSB1") + "/idProduct");
    FakeSysfs::write(sysfs.addInstrument("1-3", "ttyUSB2") + "/idVendor", "10c4x");
    FakeSysfs::write(sysfs.addInstrument("1-4", "ttyUSB3") + "/idVendor", "110c4");
    FakeSysfs::write(sysfs.addInstrument("1-5", "ttyUSB4") + "/1-5:1.0/bInterfaceNumber", "");
    // A port hanging directly under a USB device, with no interface in between.
    sysfs.addUsbSerialPort(sysfs.addUsbDevice("1-6", 0x10C4, 0xEA5F, "0001"), "ttyUSB5");
    // A device link leading out of the tree, next to USB attributes that must not be read.
    const QString outside = dir.path() + "/outside";
    QDir().mkpath(outside + "/1-7:1.0/port/tty/ttyX0");
    FakeSysfs::write(outside + "/1-7:1.0/bInterfaceNumber", "00");
    FakeSysfs::write(outside + "/idVendor", "10c4");
    FakeSysfs::write(outside + "/idProduct", "ea5f");
    FakeSysfs::write(outside + "/serial", "0001");
    FakeSysfs::link(outside + "/1-7:1.0/port/tty/ttyX0/device", outside + "/1-7:1.0/port");
    FakeSysfs::link(sysfs.root() + "/class/tty/ttyX0", outside + "/1-7:1.0/port/tty/ttyX0");

    EXPECT_EQ(listing(),
        QStringList({ "/fake/dev/ttyUSB1 cp210x -", "/fake/dev/ttyUSB2 cp210x -",
            "/fake/dev/ttyUSB3 cp210x -", "/fake/dev/ttyUSB4 cp210x -",
            "/fake/dev/ttyUSB5 cp210x -", "/fake/dev/ttyX0  -" }));
    EXPECT_EQ(found(), "");
}

} // namespace

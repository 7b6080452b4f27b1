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

    QStringList names()
    {
        QStringList result;
        for (const SerialDeviceInfo &device : listSerialDevices(roots))
            result << device.name;
        return result;
    }
};

TEST_F(DiscoveryTest, ListsPortsOfEveryKindWithTheirUsbIdentity)
{
    sysfs.addVirtualTty("tty0");
    sysfs.addVirtualTty("console");
    sysfs.addPlatformPort("ttyS10");
    sysfs.addPlatformPort("ttyS2");
    sysfs.addInstrument("1-2", "ttyUSB0");
    const QString modem = sysfs.addUsbDevice("1-3.4", 0x1546, 0x01a8, "");
    sysfs.addAcmPort(sysfs.addInterface(modem, 0), "ttyACM0");

    const QList<SerialDeviceInfo> devices = listSerialDevices(roots);
    // Virtual terminals have no device link; names sort by the value of their numbers.
    ASSERT_EQ(names(), QStringList({ "ttyACM0", "ttyS2", "ttyS10", "ttyUSB0" }));

    const SerialDeviceInfo &acm = devices[0];
    EXPECT_TRUE(acm.hasUsbIdentity);
    EXPECT_EQ(acm.vendorId, 0x1546);
    EXPECT_EQ(acm.productId, 0x01a8);
    EXPECT_EQ(acm.serial, QString()); // no serial attribute
    EXPECT_EQ(acm.interfaceNumber, 0);
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.devicePath, "/fake/dev/ttyACM0");

    EXPECT_FALSE(devices[1].hasUsbIdentity);
    EXPECT_EQ(devices[1].interfaceNumber, -1);

    const SerialDeviceInfo &usb = devices[3];
    EXPECT_TRUE(usb.hasUsbIdentity);
    EXPECT_EQ(usb.vendorId, 0x10C4);
    EXPECT_EQ(usb.productId, 0xEA5F);
    EXPECT_EQ(usb.serial, "0001");
    EXPECT_EQ(usb.interfaceNumber, 0);
    EXPECT_EQ(usb.driver, "cp210x");
    EXPECT_EQ(usb.devicePath, "/fake/dev/ttyUSB0");

    const std::optional<SerialDeviceInfo> found = findInstrumentPort(roots);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "ttyUSB0");
}

TEST_F(DiscoveryTest, NoMatchWhenAnyPartOfTheIdentityDiffers)
{
    EXPECT_FALSE(findInstrumentPort(roots)); // empty tree
    EXPECT_FALSE(findInstrumentPort({ dir.path() + "/missing", "/dev" }));

    sysfs.addPlatformPort("ttyS0");
    sysfs.addUsbSerialPort(
        sysfs.addInterface(sysfs.addUsbDevice("1-1", 0x10C4, 0xEA60, "0001"), 0), "ttyUSB0");
    sysfs.addUsbSerialPort(
        sysfs.addInterface(sysfs.addUsbDevice("1-2", 0x10C5, 0xEA5F, "0001"), 0), "ttyUSB1");
    sysfs.addInstrument("1-3", "ttyUSB2", "0002");
    sysfs.addInstrument("1-4", "ttyUSB3", "0001 "); // trailing space is part of the serial
    sysfs.addUsbSerialPort(
        sysfs.addInterface(sysfs.addUsbDevice("1-5", 0x10C4, 0xEA5F, ""), 0), "ttyUSB4");
    EXPECT_EQ(listSerialDevices(roots).size(), 6);
    EXPECT_FALSE(findInstrumentPort(roots));
}

TEST_F(DiscoveryTest, OnlyInterfaceZeroCarriesTheInstrument)
{
    const QString bridge = sysfs.addInstrument("1-2", "ttyUSB0", "0001", 1);
    EXPECT_FALSE(findInstrumentPort(roots));

    // A two-port bridge: interface 0 is taken even though interface 1 sorts later.
    sysfs.addUsbSerialPort(sysfs.addInterface(bridge, 0), "ttyUSB1");
    std::optional<SerialDeviceInfo> found = findInstrumentPort(roots);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "ttyUSB1");
}

TEST_F(DiscoveryTest, OfTwoMatchesTheLastInNaturalNameOrderWins)
{
    sysfs.addInstrument("1-2", "ttyUSB10");
    sysfs.addInstrument("1-3", "ttyUSB2");
    const std::optional<SerialDeviceInfo> found = findInstrumentPort(roots);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "ttyUSB10"); // by plain text order ttyUSB2 would come last

    // A cdc-acm instrument sorts before both and does not replace them.
    sysfs.addAcmPort(
        sysfs.addInterface(sysfs.addUsbDevice("1-4", 0x10C4, 0xEA5F, "0001"), 0), "ttyACM0");
    EXPECT_EQ(findInstrumentPort(roots)->name, "ttyUSB10");
}

TEST_F(DiscoveryTest, SerialTextIsComparedWithItsLetterCase)
{
    sysfs.addInstrument("1-2", "ttyUSB0", "ab01");
    EXPECT_FALSE(findUsbSerialPort(0x10C4, 0xEA5F, "AB01", 0, roots));
    EXPECT_FALSE(findUsbSerialPort(0x10C4, 0xEA5F, "Ab01", 0, roots));
    EXPECT_TRUE(findUsbSerialPort(0x10C4, 0xEA5F, "ab01", 0, roots));
}

TEST_F(DiscoveryTest, VanishedOrDamagedEntriesAreSkippedOrLoseTheirIdentity)
{
    // Unplugged between listing and reading: the device link dangles.
    const QString gone = sysfs.addInstrument("1-1", "ttyUSB0");
    ASSERT_TRUE(QDir(gone).removeRecursively());
    // Attributes half gone or not numbers.
    const QString noProduct = sysfs.addInstrument("1-2", "ttyUSB1");
    QFile::remove(noProduct + "/idProduct");
    const QString badVendor = sysfs.addInstrument("1-3", "ttyUSB2");
    FakeSysfs::write(badVendor + "/idVendor", "10c4x");
    const QString wideVendor = sysfs.addInstrument("1-4", "ttyUSB3");
    FakeSysfs::write(wideVendor + "/idVendor", "110c4");
    const QString badInterface = sysfs.addInstrument("1-5", "ttyUSB4");
    FakeSysfs::write(badInterface + "/1-5:1.0/bInterfaceNumber", "");
    // A port hanging directly under a USB device, with no interface in between.
    const QString odd = sysfs.addUsbDevice("1-6", 0x10C4, 0xEA5F, "0001");
    sysfs.addUsbSerialPort(odd, "ttyUSB5");
    // A device link leading out of the tree, next to USB attributes that must not be read.
    QDir().mkpath(dir.path() + "/outside/1-7:1.0/port/tty/ttyX0");
    FakeSysfs::write(dir.path() + "/outside/1-7:1.0/bInterfaceNumber", "00");
    FakeSysfs::write(dir.path() + "/outside/idVendor", "10c4");
    FakeSysfs::write(dir.path() + "/outside/idProduct", "ea5f");
    FakeSysfs::write(dir.path() + "/outside/serial", "0001");
    FakeSysfs::link(dir.path() + "/outside/1-7:1.0/port/tty/ttyX0/device",
        dir.path() + "/outside/1-7:1.0/port");
    FakeSysfs::link(
        sysfs.root() + "/class/tty/ttyX0", dir.path() + "/outside/1-7:1.0/port/tty/ttyX0");

    const QList<SerialDeviceInfo> devices = listSerialDevices(roots);
    ASSERT_EQ(
        names(), QStringList({ "ttyUSB1", "ttyUSB2", "ttyUSB3", "ttyUSB4", "ttyUSB5", "ttyX0" }));
    for (const SerialDeviceInfo &device : devices)
        EXPECT_FALSE(device.hasUsbIdentity) << qPrintable(device.name);
    EXPECT_FALSE(findInstrumentPort(roots));
}

TEST(NaturalNameOrder, NumbersCompareByValue)
{
    EXPECT_TRUE(naturalNameLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(naturalNameLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(naturalNameLess("ttyACM9", "ttyS0"));
    EXPECT_TRUE(naturalNameLess("ttyUSB", "ttyUSB0"));
    EXPECT_TRUE(naturalNameLess("ttyUSB1", "ttyUSB01"));
    EXPECT_TRUE(naturalNameLess("ttyUSB99999999999999999998", "ttyUSB99999999999999999999"));
    EXPECT_FALSE(naturalNameLess("ttyS1", "ttyS1"));
}

} // namespace

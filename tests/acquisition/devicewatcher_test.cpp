#include "acquisition/devicewatcher.h"
#include "tests/acquisition/discoveryfakesysfs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using acquisition::DeviceWatcher;
using testsupport::FakeSysfs;

namespace {

// Runs the event loop until `done` holds or `ms` have passed.
template <typename Predicate> bool waitUntil(Predicate done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Lets pending events be handled for a while (for "nothing happens" checks).
void settle(int ms = 100)
{
    waitUntil([] { return false; }, ms);
}

class DeviceWatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(devRoot()));
        roots.sysfsRoot = sysfs.root();
        roots.devRoot = devRoot();
    }

    QString devRoot() const { return dir.path() + "/dev"; }
    QString node(const QString &name) const { return devRoot() + "/" + name; }

    // As the kernel does it: the sysfs entries first, then the device node.
    void plugInstrument(const QString &usbPort, const QString &name)
    {
        sysfs.addInstrument(usbPort, name);
        makeNode(name);
    }

    void makeNode(
        const QString &name, QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner)
    {
        QFile file(node(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        file.setPermissions(mode);
    }

    // The node goes, then the sysfs entries.
    void unplug(const QString &usbPort, const QString &name)
    {
        QFile::remove(node(name));
        QFile::remove(sysfs.root() + "/class/tty/" + name);
        QDir(sysfs.root() + "/devices/pci0000:00/0000:00:14.0/usb1/" + usbPort).removeRecursively();
    }

    void watch(DeviceWatcher &watcher)
    {
        QObject::connect(&watcher, &DeviceWatcher::instrumentAppeared,
            [this](const QString &path) { events << "+" + path; });
        QObject::connect(&watcher, &DeviceWatcher::instrumentDisappeared,
            [this](const QString &path) { events << "-" + path; });
    }

    QTemporaryDir dir;
    FakeSysfs sysfs { dir.path() + "/sys" };
    acquisition::DiscoveryRoots roots;
    QStringList events;
};

} // namespace

TEST_F(DeviceWatcherTest, InstrumentComesGoesAndComesBack)
{
    DeviceWatcher watcher(roots);
    watch(watcher);
    ASSERT_TRUE(watcher.start());
    EXPECT_TRUE(watcher.isWatching());
    EXPECT_FALSE(watcher.instrument());

    plugInstrument("1-1", "ttyUSB0");
    ASSERT_TRUE(waitUntil([&] { return !events.isEmpty(); }));
    settle();
    EXPECT_EQ(events, QStringList { "+" + node("ttyUSB0") });
    ASSERT_TRUE(watcher.instrument());
    EXPECT_EQ(watcher.instrument()->devicePath, node("ttyUSB0"));

    unplug("1-1", "ttyUSB0");
    ASSERT_TRUE(waitUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events.at(1), "-" + node("ttyUSB0"));
    EXPECT_FALSE(watcher.instrument());

    // Plugged into another USB port it may come back under another name.
    plugInstrument("1-4", "ttyUSB1");
    ASSERT_TRUE(waitUntil([&] { return events.size() == 3; }));
    settle();
    EXPECT_EQ(events.at(2), "+" + node("ttyUSB1"));
    EXPECT_EQ(events.size(), 3);
}

TEST_F(DeviceWatcherTest, ForeignDevicesAndHalfPresentInstrumentsChangeNothing)
{
    DeviceWatcher watcher(roots);
    watch(watcher);
    ASSERT_TRUE(watcher.start());

    // Another maker's bridge, the instrument's chip on another interface, another serial.
    sysfs.addUsbPort("1-2", 0x0403, 0x6001, "A1", 0, "ttyUSB3");
    makeNode("ttyUSB3");
    sysfs.addInstrument("1-3", "ttyUSB4", "0001", 1);
    makeNode("ttyUSB4");
    sysfs.addInstrument("1-5", "ttyUSB5", "0002");
    makeNode("ttyUSB5");
    // The instrument in sysfs whose node has not been made yet, and a node without sysfs.
    sysfs.addInstrument("1-6", "ttyUSB6");
    makeNode("ttyUSB7");
    settle(200);
    EXPECT_TRUE(events.isEmpty()) << events.join(' ').toStdString();
    EXPECT_FALSE(watcher.instrument());

    // Its node made: now it is there.
    makeNode("ttyUSB6");
    ASSERT_TRUE(waitUntil([&] { return !events.isEmpty(); }));
    EXPECT_EQ(events, QStringList { "+" + node("ttyUSB6") });

    // More devices coming and going leave the instrument alone.
    QFile::remove(node("ttyUSB3"));
    makeNode("ttyS9");
    settle(200);
    EXPECT_EQ(events.size(), 1);
}

TEST_F(DeviceWatcherTest, NodeCountsOnceTheProgramMayOpenIt)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any node";
    DeviceWatcher watcher(roots);
    watch(watcher);
    ASSERT_TRUE(watcher.start());
    // The kernel's node before udev has given it to the user's group.
    sysfs.addInstrument("1-1", "ttyUSB0");
    makeNode("ttyUSB0", {});
    settle(200);
    EXPECT_TRUE(events.isEmpty());
    QFile::setPermissions(node("ttyUSB0"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(waitUntil([&] { return !events.isEmpty(); }));
    EXPECT_EQ(events, QStringList { "+" + node("ttyUSB0") });
}

TEST_F(DeviceWatcherTest, InstrumentPresentAtStartIsTheBaseline)
{
    plugInstrument("1-1", "ttyUSB0");
    DeviceWatcher watcher(roots);
    watch(watcher);
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(watcher.instrument());
    settle();
    EXPECT_TRUE(events.isEmpty());
    unplug("1-1", "ttyUSB0");
    ASSERT_TRUE(waitUntil([&] { return !events.isEmpty(); }));
    EXPECT_EQ(events, QStringList { "-" + node("ttyUSB0") });
}

TEST_F(DeviceWatcherTest, MissingDeviceFolderIsPolledUntilItExists)
{
    ASSERT_TRUE(QDir(devRoot()).removeRecursively());
    DeviceWatcher watcher(roots);
    watch(watcher);
    EXPECT_FALSE(watcher.start());
    EXPECT_TRUE(watcher.isPolling());
    ASSERT_TRUE(QDir().mkpath(devRoot()));
    plugInstrument("1-1", "ttyUSB0");
    ASSERT_TRUE(waitUntil([&] { return !events.isEmpty(); }, 3 * DeviceWatcher::PollIntervalMs));
    EXPECT_EQ(events, QStringList { "+" + node("ttyUSB0") });

    // A watched folder that goes away is looked for again.
    DeviceWatcher watching(roots);
    ASSERT_TRUE(watching.start());
    ASSERT_TRUE(QDir(devRoot()).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return watching.isPolling(); }));
    EXPECT_FALSE(watching.instrument());
}

TEST_F(DeviceWatcherTest, WaitForInstrument)
{
    // Already there: at once.
    plugInstrument("1-1", "ttyUSB0");
    auto found = acquisition::waitForInstrument(roots, 0);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->devicePath, node("ttyUSB0"));
    unplug("1-1", "ttyUSB0");

    // Not there within the time.
    EXPECT_FALSE(acquisition::waitForInstrument(roots, 100));

    // Plugged in while waiting without a limit.
    QTimer::singleShot(50, [this] { plugInstrument("1-2", "ttyUSB2"); });
    found = acquisition::waitForInstrument(roots);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->devicePath, node("ttyUSB2"));
    unplug("1-2", "ttyUSB2");

    // The application told to quit (Ctrl+C in the command line) ends the wait.
    QTimer::singleShot(50, [] { QCoreApplication::exit(130); });
    EXPECT_FALSE(acquisition::waitForInstrument(roots));
}

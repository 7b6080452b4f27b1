#pragma once

#include "acquisition/discovery.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class QSocketNotifier;

namespace acquisition {

// Notices the instrument's serial device appearing and going away.
//
// The kernel (devtmpfs) creates and removes device nodes in the device folder, and udev then
// sets their owner and mode; inotify reports each of these as a change of the folder. On
// every batch of changes the watcher looks the instrument up again through sysfs
// (findInstrumentPort) and counts it as there when its device node exists and the program
// may read and write it, so that a node udev has not yet opened to the user counts once it
// has. The sysfs folder class/tty is watched too (the kernel's own sysfs reports nothing to
// inotify, a test's tree does). Both roots are parameters, so tests add and remove fake
// devices in temporary trees.
//
// inotify rather than a udev monitor: it needs no udev daemon and no library, and a test
// can produce the very events the program reacts to by making files, which a monitor of
// kernel uevents cannot be fed without privileges.
//
// Where the device folder cannot be watched (it does not exist, or inotify is unavailable),
// the watcher looks again every PollIntervalMs.
//
//     acquisition::DeviceWatcher watcher;               // /sys and /dev
//     connect(&watcher, &DeviceWatcher::instrumentAppeared, ..., [](const QString &path) {});
//     watcher.start();
//
// All calls and signals on the thread that created the watcher.
class DeviceWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 1000;

    explicit DeviceWatcher(const DiscoveryRoots &roots = {}, QObject *parent = nullptr);
    ~DeviceWatcher() override;

    // Starts watching. An instrument that is there already counts as present, without a
    // signal. Returns false when the folders cannot be watched and the watcher polls.
    bool start();
    bool isWatching() const { return m_notifier != nullptr; }
    bool isPolling() const { return m_poll.isActive(); }

    // The instrument as last seen; empty while it is not there.
    const std::optional<SerialDeviceInfo> &instrument() const { return m_instrument; }
    const DiscoveryRoots &roots() const { return m_roots; }

    // Looks again now; emits what changed.
    void rescan();

signals:
    // The instrument's device node is there and usable (devicePath: <dev>/<name>).
    void instrumentAppeared(const QString &devicePath);
    // It has gone (or become unusable). When the instrument moves to another node in one
    // batch of changes, the old one is reported gone before the new one appears.
    void instrumentDisappeared(const QString &devicePath);

private:
    void readEvents();
    std::optional<SerialDeviceInfo> lookUp() const;
    void stopWatching();

    DiscoveryRoots m_roots;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_poll;
    bool m_started = false;
    std::optional<SerialDeviceInfo> m_instrument;
};

// Waits until the instrument is there and returns it: at once when it is there already;
// empty when `timeoutMs` (negative: no limit) has passed first, or when the application is
// told to quit (QCoreApplication::exit leaves the wait's event loop too). Runs an event loop
// meanwhile, so timers and signal notifiers of the caller keep working.
std::optional<SerialDeviceInfo> waitForInstrument(
    const DiscoveryRoots &roots = {}, int timeoutMs = -1);

} // namespace acquisition

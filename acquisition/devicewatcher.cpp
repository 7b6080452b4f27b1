#include "acquisition/devicewatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace acquisition {

namespace {

// What changes a folder's list of devices, or whether a node may be opened.
constexpr quint32 FolderEvents = IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO
    | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

DeviceWatcher::DeviceWatcher(const DiscoveryRoots &roots, QObject *parent)
    : QObject(parent)
    , m_roots(roots)
{
    m_poll.setInterval(PollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &DeviceWatcher::rescan);
}

DeviceWatcher::~DeviceWatcher()
{
    stopWatching();
}

void DeviceWatcher::stopWatching()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool DeviceWatcher::start()
{
    stopWatching();
    m_poll.stop();
    // The first start takes what is there as the baseline; a later one reports changes.
    if (m_started)
        rescan();
    else
        m_instrument = lookUp();
    m_started = true;

    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0
        && ::inotify_add_watch(m_fd, QFile::encodeName(m_roots.devRoot).constData(), FolderEvents)
            >= 0) {
        // Helps where sysfs reports changes (a test's tree); the device folder decides.
        const QString ttyClass = m_roots.sysfsRoot + QStringLiteral("/class/tty");
        ::inotify_add_watch(m_fd, QFile::encodeName(ttyClass).constData(), FolderEvents);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &DeviceWatcher::readEvents);
        return true;
    }
    stopWatching();
    m_poll.start();
    return false;
}

void DeviceWatcher::readEvents()
{
    // The events only say that something changed; one look-up serves the whole batch.
    alignas(inotify_event) char buffer[4096];
    bool folderGone = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))
                folderGone = true;
            at += ssize_t(sizeof(inotify_event)) + ssize_t(event->len);
        }
    }
    rescan();
    // A watched folder that went away (a test's tree) cannot report anything more: watch
    // again, or poll until it is back. Not from within the notifier's own signal, since
    // starting anew replaces the notifier.
    if (folderGone)
        QMetaObject::invokeMethod(
            this, [this] { start(); }, Qt::QueuedConnection);
}

std::optional<SerialDeviceInfo> DeviceWatcher::lookUp() const
{
    std::optional<SerialDeviceInfo> found = findInstrumentPort(m_roots);
    if (found && ::access(QFile::encodeName(found->devicePath).constData(), R_OK | W_OK) != 0)
        found.reset(); // no node yet, or one the program may not open yet
    return found;
}

void DeviceWatcher::rescan()
{
    const std::optional<SerialDeviceInfo> now = lookUp();
    const std::optional<SerialDeviceInfo> before = m_instrument;
    m_instrument = now;
    const bool same = before && now && before->devicePath == now->devicePath;
    if (before && !same)
        emit instrumentDisappeared(before->devicePath);
    if (now && !same)
        emit instrumentAppeared(now->devicePath);
}

std::optional<SerialDeviceInfo> waitForInstrument(const DiscoveryRoots &roots, int timeoutMs)
{
    DeviceWatcher watcher(roots);
    watcher.start();
    if (watcher.instrument())
        return watcher.instrument();
    QEventLoop loop;
    QObject::connect(&watcher, &DeviceWatcher::instrumentAppeared, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0)
        limit.start(timeoutMs);
    loop.exec();
    return watcher.instrument();
}

} // namespace acquisition

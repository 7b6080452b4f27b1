#pragma once

#include "acquisition/devicewatcher.h"

#include <QObject>
#include <functional>

namespace acquisition {
class Instrument;
}

namespace app {

// Connects the window to the instrument when it is plugged in. When the board's device
// appears while no instrument is connected (the port is closed), the window connects as
// btUSB does (probe byte, measurement buttons enabled, the usual status texts), without a
// message box: a failed attempt leaves only the status text, and the next change of the
// device folder tries again. A connected port, and so any measurement under way, is never
// touched. When the port closes while the instrument is there (the board was replugged
// before the port noticed it had gone), the window connects again.
//
// When the board goes away, the window's own handling reports it (the port's line error).
// Only for the board found by discovery: with --device or --simulator nothing is watched.
class HotPlug : public QObject
{
    Q_OBJECT

public:
    // `connectQuietly`: btUSB's connect without its information box (nobody asked for this
    // one); `shutDown`: true once the window measures nothing more.
    HotPlug(acquisition::Instrument &instrument, std::function<void()> connectQuietly,
        std::function<bool()> shutDown, const acquisition::DiscoveryRoots &roots,
        QObject *parent = nullptr);

    acquisition::DeviceWatcher &watcher() { return m_watcher; }

signals:
    // After every connect this class has made, successful or not.
    void connectAttempted(bool connected);

private:
    void connectIfIdle();

    acquisition::Instrument &m_instrument;
    std::function<void()> m_connectQuietly;
    std::function<bool()> m_shutDown;
    acquisition::DeviceWatcher m_watcher;
    bool m_connecting = false;
};

} // namespace app

#include "app/hotplug.h"

#include "acquisition/instrument.h"
#include "acquisition/instrumentlink.h"
#include "serial/serialport.h"

#include <utility>

namespace app {

HotPlug::HotPlug(acquisition::Instrument &instrument, std::function<void()> connectQuietly,
    std::function<bool()> shutDown, const acquisition::DiscoveryRoots &roots, QObject *parent)
    : QObject(parent)
    , m_instrument(instrument)
    , m_connectQuietly(std::move(connectQuietly))
    , m_shutDown(std::move(shutDown))
    , m_watcher(roots)
{
    connect(
        &m_watcher, &acquisition::DeviceWatcher::instrumentAppeared, this, &HotPlug::connectIfIdle);
    // A port that closes while the instrument is there: from the window thread's next turn,
    // since the port may be closing inside a connect.
    serial::TSerialPort &port = m_instrument.port();
    // Not for the closes of its own attempts, which would retry a failing device for ever.
    port.OnClose = [previous = std::move(port.OnClose), this](serial::TCustomSerialPort *sender) {
        if (previous)
            previous(sender);
        if (!m_connecting)
            QMetaObject::invokeMethod(this, &HotPlug::connectIfIdle, Qt::QueuedConnection);
    };
    m_watcher.start();
}

void HotPlug::connectIfIdle()
{
    // A shut-down window measures nothing more; a connected one keeps its port.
    if (m_shutDown() || m_instrument.port().IsOpen() || !m_watcher.instrument())
        return;
    m_connecting = true;
    m_connectQuietly();
    m_connecting = false;
    emit connectAttempted(m_instrument.isConnected());
}

} // namespace app

#include "app/hotplug.h"

#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "app/form1.h"
#include "serial/serialport.h"

#include <functional>
#include <utility>

namespace app {

namespace {

const QString NoLinkStatus = QStringLiteral("USB: нет связи");

} // namespace

HotPlug::HotPlug(TForm1 &form, const acquisition::DiscoveryRoots &roots)
    : QObject(&form)
    , m_form(form)
    , m_watcher(roots)
{
    connect(
        &m_watcher, &acquisition::DeviceWatcher::instrumentAppeared, this, &HotPlug::connectIfIdle);
    // A port that closes while the instrument is there: from the window thread's next turn,
    // since the port may be closing inside a connect.
    serial::TSerialPort &port = *m_form.SerialPort1;
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
    if (!m_form.AcquisitionBuffer() || m_form.SerialPort1->IsOpen() || !m_watcher.instrument())
        return;
    // btUSB's connect, with its information box left out: nobody asked for this one. The
    // guard puts the window's own way of showing messages back, whatever happens.
    struct Quiet
    {
        TForm1 &form;
        bool &connecting;
        std::function<void(const QString &)> saved
            = std::exchange(form.showMessage, [](const QString &) {});
        Quiet(TForm1 &f, bool &c)
            : form(f)
            , connecting(c)
        {
            connecting = true;
        }
        ~Quiet()
        {
            form.showMessage = std::move(saved);
            connecting = false;
        }
    };
    {
        const Quiet quiet(m_form, m_connecting);
        m_form.ConnectInstrument();
    }
    const bool connected = !m_form.instrumentLink->connectedDevice().isEmpty();
    // "USB: нет связи" of the lost board is no longer true.
    if (connected && m_form.session->statusText(0) == NoLinkStatus)
        m_form.session->setStatusText(0, QString());
    emit connectAttempted(connected);
}

} // namespace app

#include "acquisition/instrumentlink.h"

#include "serial/serialport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <termios.h>

namespace acquisition {

QString InstrumentLink::notFoundMessage()
{
    return QCoreApplication::translate("acquisition::InstrumentLink", "АЦП не обнаружено");
}

QString InstrumentLink::noLinkStatus()
{
    return QCoreApplication::translate("acquisition::InstrumentLink", "USB: нет связи");
}

namespace {

// Port number shown for a device: the number its name ends in (ttyUSB3 -> 3), else 0.
int portNumberOf(const QString &devicePath)
{
    const QString name = QFileInfo(devicePath).fileName();
    qsizetype start = name.size();
    while (start > 0 && name[start - 1].isDigit())
        --start;
    bool ok = false;
    const int number = name.mid(start).toInt(&ok);
    return ok ? number : 0;
}

} // namespace

InstrumentLink::InstrumentLink(serial::TSerialPort &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    if (!m_port.IsOpen())
        applyFormSettings(m_port);
}

void InstrumentLink::applyFormSettings(serial::TSerialPort &port)
{
    port.setBaudrate(serial::br9600);
    port.setParity(serial::paOdd);
    port.FlowControl().setOutCtsFlow(false);
    port.FlowControl().setOutDsrFlow(false);
    port.FlowControl().setControlDtr(serial::dtrDisabled);
    port.FlowControl().setControlRts(serial::rtsEnabled);
    port.FlowControl().setXonXoffOut(false);
    port.FlowControl().setXonXoffIn(false);
    port.FlowControl().setDsrSensitivity(false);
    port.FlowControl().setTxContinueOnXoff(false);
    port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
}

QString InstrumentLink::findDevice() const
{
    if (!m_options.deviceOverride.isEmpty())
        return m_options.deviceOverride;
    const std::optional<SerialDeviceInfo> found
        = findInstrumentPort({ m_options.sysfsRoot, m_options.devRoot });
    return found ? found->devicePath : QString();
}

void InstrumentLink::ConnectInstrument()
{
    m_connectedDevice.clear();
    m_lastError.clear();
    try {
        m_port.Close();
    } catch (const std::exception &) {
        // A failing close leaves nothing to undo; the open below reports the port's state.
    }

    const QString device = findDevice();
    if (device.isEmpty()) {
        m_lastError = QStringLiteral("no serial device of USB %1:%2 serial \"%3\" interface %4")
                          .arg(BridgeVendorId, 4, 16, QLatin1Char('0'))
                          .arg(BridgeProductId, 4, 16, QLatin1Char('0'))
                          .arg(QLatin1String(BridgeSerial))
                          .arg(BridgeInterface);
        emit informationMessage(notFoundMessage());
    }
    emit measurementButtonsEnabled(false);
    if (device.isEmpty())
        return;

    try {
        m_port.setParity(serial::paOdd);
        m_port.setDatabits(serial::db8);
        m_port.setStopbits(serial::sb1);
        m_port.setPortNum(portNumberOf(device));
        // The name is a pattern for the port number: a literal path keeps its '%' signs.
        m_port.setDeviceName(QString(device).replace(QLatin1Char('%'), QStringLiteral("%%")));
        m_port.setBaudrate(serial::br9600);
        m_port.Open();
        // The rate and the probe must reach the board, or the buttons would lead nowhere.
        const QString rateError = raiseLineRate();
        if (!rateError.isEmpty())
            throw serial::ESerialPortError(rateError);
        if (!m_port.WriteString(QByteArray(1, LinkProbe)))
            throw serial::ESerialPortError(QStringLiteral("Unable to queue the link probe"));
    } catch (const std::exception &error) {
        m_lastError = QString::fromUtf8(error.what());
        try {
            m_port.Close();
        } catch (const std::exception &) {
        }
        emit informationMessage(notFoundMessage());
        emit statusText(noLinkStatus());
        return;
    }
    m_connectedDevice = device;
    emit measurementButtonsEnabled(true);
}

// The component applies the rate at once on the open port (its other line settings stay).
// The rate is read back: a driver may keep another one without failing the call.
QString InstrumentLink::raiseLineRate()
{
    try {
        m_port.setUserBaudrate(LinkBaudrate);
    } catch (const serial::ESerialPortError &error) {
        return QStringLiteral("Unable to set the line rate of %1 bit/s (%2)")
            .arg(LinkBaudrate)
            .arg(QString::fromUtf8(error.what()));
    }
    termios applied {};
    if (::tcgetattr(m_port.Handle(), &applied) != 0)
        return QStringLiteral("Unable to set the line rate of %1 bit/s (tcgetattr: %2)")
            .arg(LinkBaudrate)
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (::cfgetospeed(&applied) != B921600 || ::cfgetispeed(&applied) != B921600)
        return QStringLiteral("Unable to set the line rate of %1 bit/s (the device kept another)")
            .arg(LinkBaudrate);
    return {};
}

} // namespace acquisition

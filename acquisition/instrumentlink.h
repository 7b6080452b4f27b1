#pragma once

#include "acquisition/discovery.h"

#include <QObject>
#include <QString>

namespace serial {
class TSerialPort;
}

namespace acquisition {

// Finds the instrument, opens the window's serial port on it at the controller's line
// settings, raises the rate to 921600 bit/s (the component's custom rate) and sends the link
// probe. The window shows what
// the signals carry; the connect runs at start-up and on every press of btUSB.
//
// Usage:
//     acquisition::InstrumentLink link(serialPort1);   // gives the port the form's settings
//     link.setOptions({.deviceOverride = "/dev/pts/3"}); // --device or a simulator's pty
//     connect(&link, &InstrumentLink::informationMessage, ...);  // information box, OK button
//     connect(&link, &InstrumentLink::statusText, ...);          // first status-bar panel
//     connect(&link, &InstrumentLink::measurementButtonsEnabled, ...);
//     link.ConnectInstrument();
//
// All calls on the thread that owns the port.
class InstrumentLink : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString sysfsRoot = QStringLiteral("/sys");
        QString devRoot = QStringLiteral("/dev");
        // When set, this device is opened and the lookup is skipped (a board behind another
        // bridge, or the simulator's pseudo-terminal).
        QString deviceOverride;
    };

    // The one-byte probe sent right after the rate is raised; the board does not answer it.
    static constexpr char LinkProbe = 0x29;
    static constexpr int LinkBaudrate = 921600;

    // Applies the settings the window's port is created with (rate 9600, odd parity, RTS on,
    // DTR off, no handshake, events RxChar, TxEmpty, RxFlag) when the port is closed.
    explicit InstrumentLink(serial::TSerialPort &port, QObject *parent = nullptr);

    void setOptions(const Options &options) { m_options = options; }
    const Options &options() const { return m_options; }

    // Leaves the port open on the instrument with the measurement buttons enabled, or closed
    // with them disabled and the user told. Interrupts any exchange in progress.
    void ConnectInstrument();

    // The device opened by the last ConnectInstrument; empty when it failed.
    QString connectedDevice() const { return m_connectedDevice; }
    // Why the last ConnectInstrument failed, in English, for front ends without a window
    // (the window shows only the messages above); empty after a success.
    QString lastError() const { return m_lastError; }

    static void applyFormSettings(serial::TSerialPort &port);

    // "АЦП не обнаружено" (the box) and "USB: нет связи" (the first status panel), in the
    // window's language.
    static QString notFoundMessage();
    static QString noLinkStatus();

signals:
    // A modal information box with one OK button.
    void informationMessage(const QString &text);
    // The text of the status bar's first panel.
    void statusText(const QString &text);
    // btStart, btStartPlus, btCycle, bt500, bt500plus.
    void measurementButtonsEnabled(bool enabled);

private:
    QString findDevice() const;
    // Empty on success, else what failed.
    QString raiseLineRate();

    serial::TSerialPort &m_port;
    Options m_options;
    QString m_connectedDevice;
    QString m_lastError;
};

} // namespace acquisition

#pragma once

#include "acquisition/discovery.h"
#include "sim/boardsimulator.h"

#include <QObject>
#include <QString>
#include <memory>

namespace serial {
class TSerialPort;
}

namespace acquisition {

class InstrumentLink;
class MeasurementSession;
class SerialSessionPort;


// The built-in board of the window and the commands: signals from a seed of the moment,
// recording in real time, the photodiode firing half a second after a launch on the signal.
sim::BoardOptions builtInBoardOptions();

// The measurement chain for one instrument: the built-in board simulator when asked for, the
// serial port, the link that finds and opens the board, the session's port and the session,
// built and torn down in that order (the session lets go of the port before the port closes,
// and the port closes before the built-in board stops). The window, the commands that measure
// and the tests each build one:
//
//     acquisition::Instrument instrument({ .device = path });  // or .simulator
//     if (!instrument.connectInstrument()) ... instrument.lastError()
//     instrument.session().startMeasurement(request);
//
// When the device goes away (unplugged, the other side of a pseudo-terminal hung up), at any
// moment, the session hears of it first (an exchange in progress fails with Disconnected);
// then, once the port's handler has returned, the port is closed and disconnected() is
// emitted. All on the thread that created it.
class Instrument : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // This device is opened as it is and discovery is skipped (a board behind another
        // bridge, a pseudo-terminal).
        QString device;
        // The built-in board simulator on a pseudo-terminal of its own, with `board` as its
        // options (faults and timing for tests and benchmarks).
        bool simulator = false;
        sim::BoardOptions board = builtInBoardOptions();
        // The built-in board keeps every byte it sent and received (tests look at them).
        bool simulatorKeepsHistory = false;
        // Where discovery looks for the board.
        DiscoveryRoots roots;
    };

    explicit Instrument(Options options, QObject *parent = nullptr);
    ~Instrument() override;

    const Options &options() const { return m_options; }
    // Why the built-in board did not start (it is then missing and the connect fails).
    QString simulatorError() const { return m_simulatorError; }

    // Opens the port on the instrument (finds it first unless a device is given), raises the
    // line rate, sends the link probe and gives the session the port afresh (anything half
    // received belongs to the closed link). The link's signals tell the window what to show;
    // false with lastError() (English) when no instrument could be opened.
    bool connectInstrument();
    bool isConnected() const;
    // The device opened by the last connect; empty when it failed.
    QString device() const;
    QString lastError() const;

    MeasurementSession &session() { return *m_session; }
    const MeasurementSession &session() const { return *m_session; }
    InstrumentLink &link() { return *m_link; }
    serial::TSerialPort &port() { return *m_port; }
    const serial::TSerialPort &port() const { return *m_port; }
    // The built-in board; none unless asked for (or when it did not start).
    sim::BoardSimulator *simulator() const { return m_simulator.get(); }

signals:
    // The device went away; the port has been closed. Nothing measures until the next
    // connectInstrument().
    void disconnected();

private:
    void deviceGone();

    Options m_options;
    QString m_simulatorError;
    // Declared in the order they are built; destroyed in reverse.
    std::unique_ptr<sim::BoardSimulator> m_simulator;
    std::unique_ptr<serial::TSerialPort> m_port;
    std::unique_ptr<InstrumentLink> m_link;
    std::unique_ptr<SerialSessionPort> m_sessionPort;
    std::unique_ptr<MeasurementSession> m_session;
};

} // namespace acquisition

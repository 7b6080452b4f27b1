#include "acquisition/instrument.h"

#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/sessionserialport.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QDateTime>

namespace acquisition {

sim::BoardOptions builtInBoardOptions()
{
    sim::BoardOptions board;
    board.seed = quint64(QDateTime::currentMSecsSinceEpoch());
    board.triggerAfterSeconds = 0.5;
    return board;
}

Instrument::Instrument(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    InstrumentLink::Options linkOptions;
    linkOptions.sysfsRoot = m_options.roots.sysfsRoot;
    linkOptions.devRoot = m_options.roots.devRoot;
    linkOptions.deviceOverride = m_options.device;
    if (m_options.simulator) {
        m_simulator = std::make_unique<sim::BoardSimulator>(m_options.board);
        // A long-running board that nobody inspects keeps no history: memory would grow with
        // every transfer.
        m_simulator->setKeepHistory(m_options.simulatorKeepsHistory);
        std::string error;
        if (m_simulator->start(&error)) {
            linkOptions.deviceOverride = QString::fromStdString(m_simulator->devicePath());
        } else {
            m_simulator.reset();
            m_simulatorError = QString::fromStdString(error);
            // Nothing to open: the connect fails rather than look for a board.
            linkOptions.deviceOverride = QStringLiteral("/nonexistent/ferrun-simulator");
        }
    }

    m_port = std::make_unique<serial::TSerialPort>();
    m_port->setObjectName(QStringLiteral("SerialPort1"));
    m_link = std::make_unique<InstrumentLink>(*m_port);
    m_link->setOptions(linkOptions);
    m_sessionPort = std::make_unique<SerialSessionPort>(m_port.get());
    m_session = std::make_unique<MeasurementSession>();
    m_session->setPort(m_sessionPort.get());
    // The port reports a device that went away once, as a line error, after the session has
    // heard of it; the port is closed once the port's handler has returned.
    m_sessionPort->onLineError = [this](int errors) {
        if (errors & serial::IoError)
            QMetaObject::invokeMethod(this, &Instrument::deviceGone, Qt::QueuedConnection);
    };
}

Instrument::~Instrument()
{
    m_sessionPort->onLineError = nullptr;
    m_session->setPort(nullptr);
}

bool Instrument::connectInstrument()
{
    m_link->ConnectInstrument();
    m_session->setPort(m_sessionPort.get());
    return isConnected();
}

bool Instrument::isConnected() const
{
    return m_port->IsOpen() && !m_link->connectedDevice().isEmpty();
}

QString Instrument::device() const
{
    return m_link->connectedDevice();
}

QString Instrument::lastError() const
{
    if (!m_simulatorError.isEmpty())
        return QStringLiteral("the simulator did not start: %1").arg(m_simulatorError);
    return m_link->lastError();
}

void Instrument::deviceGone()
{
    if (!m_port->IsOpen())
        return;
    m_port->Close();
    emit disconnected();
}

} // namespace acquisition

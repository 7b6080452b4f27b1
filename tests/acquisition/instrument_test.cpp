// The measurement chain as one object: on the built-in board simulator, on a device that is not
// there, and with a board that goes away while nothing is being measured.
#include "acquisition/instrument.h"
#include "acquisition/instrumentlink.h"
#include "serial/serialport.h"
#include "tests/acquisition/sessiontestsupport.h"

using namespace acquisition;
using namespace sessiontest;

// One line builds and connects the chain; a measurement on it completes with a recording
// whose header describes it.
TEST(Instrument, MeasuresOnTheBuiltInBoard)
{
    Instrument::Options where;
    where.simulator = true;
    where.simulatorKeepsHistory = true;
    where.board.speed = 100;
    Instrument instrument(where);
    ASSERT_TRUE(instrument.connectInstrument()) << qPrintable(instrument.lastError());
    ASSERT_TRUE(instrument.simulator());
    EXPECT_EQ(instrument.device(), QString::fromStdString(instrument.simulator()->devicePath()));
    EXPECT_EQ(instrument.port().UserBaudrate(), InstrumentLink::LinkBaudrate);

    files::Recording recording;
    QObject::connect(&instrument.session(), &MeasurementSession::exchangeEnded,
        [&](const ExchangeOutcome &o) { recording = o.recording; });
    MeasurementRequest r = request(1, false, 0x05);
    r.rangeIndex = 1;
    instrument.session().startMeasurement(r);
    ASSERT_TRUE(waitUntil([&] { return !recording.data.isEmpty(); }));
    const QByteArray sent = toBytes(instrument.simulator()->sent());
    EXPECT_TRUE(recording.data == storedFromBlocks(sent, 1, 120));
    EXPECT_EQ(recording.origin, files::RecordingOrigin::Measurement);
    EXPECT_FALSE(recording.faulty);
    EXPECT_TRUE(recording.needsSaving());
    EXPECT_EQ(recording.header.ChartChannelBits, 0x05);
    EXPECT_EQ(recording.header.ValueScale, files::ValueScale500);
    EXPECT_EQ(recording.header.ChannelIntervalUs, instrument.session().ChannelIntervalUs());
    EXPECT_EQ(recording.header.XTitle, QStringLiteral("Время, мкс"));

    Instrument::Options nowhere;
    nowhere.device = QStringLiteral("/nonexistent/ttyUSB9");
    Instrument missing(nowhere);
    EXPECT_FALSE(missing.connectInstrument());
    EXPECT_FALSE(missing.lastError().isEmpty());
    EXPECT_FALSE(missing.isConnected());
}

// The board goes away between two measurements: the instrument says so and closes its port,
// and the next start fails at once as disconnected instead of waiting for a reply.
TEST(Instrument, BoardGoneBetweenMeasurements)
{
    Instrument::Options where;
    where.simulator = true;
    where.board.speed = 100;
    Instrument instrument(where);
    ASSERT_TRUE(instrument.connectInstrument()) << qPrintable(instrument.lastError());
    MeasurementSession &session = instrument.session();
    Outcomes outcomes(session);
    SignalLog<> gone(&instrument, &Instrument::disconnected);
    session.startMeasurement(request(1));
    ASSERT_TRUE(waitUntil([&] { return outcomes.all.size() == 1; }));
    EXPECT_TRUE(outcomes.last().completed());

    instrument.simulator()->stop();
    ASSERT_TRUE(waitUntil([&] { return gone.count == 1; }));
    EXPECT_FALSE(instrument.port().IsOpen());
    EXPECT_TRUE(session.deviceLost());
    session.startMeasurement(request(1));
    ASSERT_TRUE(waitUntil([&] { return outcomes.all.size() == 2; }, 5000));
    EXPECT_EQ(outcomes.last().failure, SessionFailure::Disconnected);
    EXPECT_EQ(session.state(), SessionState::Idle);
}

#include "pty.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

using namespace serial;

namespace {

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const ESerialPortError &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

speed_t deviceRate(const TCustomSerialPort &port)
{
    termios tio;
    if (tcgetattr(port.Handle(), &tio) < 0)
        return 0;
    return cfgetospeed(&tio);
}

// What the instrument link does to raise the line rate behind the component's back.
void setRateThroughHandle(const TCustomSerialPort &port, speed_t rate)
{
    termios tio;
    ASSERT_EQ(tcgetattr(port.Handle(), &tio), 0);
    cfsetispeed(&tio, rate);
    cfsetospeed(&tio, rate);
    ASSERT_EQ(tcsetattr(port.Handle(), TCSANOW, &tio), 0);
}

const QString portOpenMessage = QStringLiteral("Can't perform this operation while port is open");
const QString dcbInvalidMessage = QStringLiteral("Error writing dcb (22), Invalid argument");

} // namespace

TEST(SerialPort, BuildsTheLineSettingsRecord)
{
    PtyPair pty;
    TSerialPort port;
    EXPECT_EQ(port.LineSettings().BaudRate, 1200u);
    EXPECT_EQ(port.MonitorEvents(), TSerialEvents(ceError | ceRxChar | ceTxEmpty));
    configureForPty(port, pty); // the main window's settings
    TLineSettings s = port.LineSettings();
    EXPECT_EQ(s.BaudRate, 9600u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, 1);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_EQ(s.Flags, 0x1001u);
    EXPECT_EQ(s.XonLim, 1024);
    EXPECT_EQ(s.XoffLim, 1024);
    EXPECT_EQ(s.XonChar, 0x11);
    EXPECT_EQ(s.XoffChar, 0x13);
    EXPECT_EQ(s.ErrorChar | s.EofChar | s.EvtChar, 0);

    port.Buffers().setReadSize(1000);
    EXPECT_EQ(port.LineSettings().XonLim, 250);
    port.Buffers().setReadSize(100000);
    EXPECT_EQ(port.LineSettings().XoffLim, 1024);

    port.FlowControl().setControlDtr(dtrHandshake);
    port.FlowControl().setControlRts(rtsToggle);
    port.FlowControl().setXonXoffIn(true);
    port.setParityCheck(true);
    port.setOptions(coNullStrip);
    EXPECT_EQ(port.LineSettings().Flags, 0x0001u | 0x0002u | 0x0020u | 0x0200u | 0x0800u | 0x3000u);

    port.setUserBaudrate(921600);
    EXPECT_EQ(port.Baudrate(), brUser);
    EXPECT_EQ(port.LineSettings().BaudRate, 921600u);
    port.setBaudrate(br256000);
    EXPECT_EQ(port.UserBaudrate(), 0);
    EXPECT_EQ(port.LineSettings().BaudRate, 256000u);
}

TEST(SerialPort, ResolvesTheDeviceNamePattern)
{
    TSerialPort port;
    port.setPortNum(3);
    EXPECT_EQ(port.ResolvedDeviceName(), QStringLiteral("COM3"));
    port.setDeviceName(QStringLiteral("COM7"));
    EXPECT_EQ(port.ResolvedDeviceName(), QStringLiteral("COM7"));
    port.setDeviceName(QStringLiteral("/dev/ttyUSB%d"));
    EXPECT_EQ(port.ResolvedDeviceName(), QStringLiteral("/dev/ttyUSB3"));
    port.setDeviceName(QStringLiteral("100%% port %.2d"));
    EXPECT_EQ(port.ResolvedDeviceName(), QStringLiteral("100% port 03"));
    // A pattern that does not take one integer is refused, not handed to a printf.
    port.setDeviceName(QStringLiteral("COM%s"));
    EXPECT_THROW(port.ResolvedDeviceName(), ESerialPortError);
    port.setDeviceName(QStringLiteral("COM%d%d"));
    EXPECT_THROW(port.Open(), ESerialPortError);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_THROW(port.setPortNum(-1), ESerialPortError);
    EXPECT_EQ(port.PortNum(), 3);
}

TEST(SerialPort, ClosedPortDoesNothingAndRaisesNothing)
{
    TSerialPort port;
    int closes = 0;
    port.OnClose = [&](TCustomSerialPort *) { ++closes; };
    char buffer[8] = {};
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.ReadBytes(buffer, 8), 0);
    EXPECT_EQ(port.WriteBytes("abc", 3), 0);
    EXPECT_FALSE(port.WriteString("abc"));
    EXPECT_TRUE(port.WriteString(QByteArray()));
    EXPECT_NO_THROW(port.PurgeAll());
    EXPECT_EQ(port.ReadStatus().InQue, 0u);
    EXPECT_FALSE(port.CheckLineErrors());
    port.Close();
    EXPECT_EQ(closes, 0);
}

TEST(SerialPort, OpenFailuresNameTheDeviceAndTheSystemError)
{
    TSerialPort port;
    port.setDeviceName(QStringLiteral("/dev/no-such-ferrun-port"));
    EXPECT_EQ(errorOf([&] { port.Open(); }),
        QStringLiteral("Unable to open specified device /dev/no-such-ferrun-port (2), No such file "
                       "or directory"));
    EXPECT_FALSE(port.IsOpen());

    QTemporaryDir dir;
    const QString plainFile = dir.filePath(QStringLiteral("not-a-port"));
    QFile file(plainFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    port.setDeviceName(plainFile);
    EXPECT_EQ(errorOf([&] { port.Open(); }),
        QStringLiteral("Unable to open specified device %1 (25), Inappropriate ioctl for device")
            .arg(plainFile));
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));
}

TEST(SerialPort, DeviceIsHeldExclusively)
{
    PtyPair pty;
    TSerialPort first;
    TSerialPort second;
    configureForPty(first, pty);
    configureForPty(second, pty);
    first.Open();
    EXPECT_EQ(errorOf([&] { second.Open(); }),
        QStringLiteral("Unable to open specified device %1 (16), Device or resource busy")
            .arg(pty.slaveName()));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_NO_THROW(second.Open());
    EXPECT_TRUE(second.IsOpen());
}

TEST(SerialPort, OpenAndCloseFireTheirEventsOnce)
{
    PtyPair pty;
    QStringList reported;
    setExceptionReporter([&](const std::exception &e) { reported << QString::fromUtf8(e.what()); });
    {
        TSerialPort port;
        configureForPty(port, pty);
        int opens = 0;
        int closes = 0;
        port.OnOpen = [&](TCustomSerialPort *sender) {
            ++opens;
            EXPECT_TRUE(sender->IsOpen());
            throw std::runtime_error("open handler failed");
        };
        port.OnClose = [&](TCustomSerialPort *sender) {
            ++closes;
            EXPECT_FALSE(sender->IsOpen());
        };
        EXPECT_NO_THROW(port.Open()); // the handler's exception is reported, not raised
        EXPECT_TRUE(port.IsOpen());
        EXPECT_EQ(reported, QStringList { QStringLiteral("open handler failed") });

        const int handle = port.Handle();
        EXPECT_EQ(errorOf([&] { port.Open(); }), portOpenMessage);
        EXPECT_EQ(port.Handle(), handle);
        EXPECT_EQ(opens, 1);

        port.Close();
        port.Close();
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(port.Handle(), -1);
        port.Open();
        // Destroyed while open: closes without OnClose.
        port.OnClose = [&](TCustomSerialPort *) { ADD_FAILURE() << "OnClose while destroyed"; };
    }
    setExceptionReporter(nullptr);
}

TEST(SerialPort, PropertiesThatNeedAClosedPortAreRefusedWhileOpen)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.Open();
    const QString device = port.DeviceName();
    EXPECT_EQ(errorOf([&] { port.setPortNum(5); }), portOpenMessage);
    EXPECT_EQ(errorOf([&] { port.setDeviceName(QStringLiteral("COM9")); }), portOpenMessage);
    EXPECT_EQ(errorOf([&] { port.setMonitorEvents(0); }), portOpenMessage);
    EXPECT_EQ(errorOf([&] { port.setDirectWrite(true); }), portOpenMessage);
    EXPECT_EQ(errorOf([&] { port.setUpdateDCB(false); }), portOpenMessage);
    TSerialBuffers bigger;
    bigger.setReadSize(8192);
    EXPECT_EQ(errorOf([&] { port.setBuffers(bigger); }), portOpenMessage);
    EXPECT_EQ(port.PortNum(), 0);
    EXPECT_EQ(port.DeviceName(), device);
    EXPECT_EQ(port.MonitorEvents(), TSerialEvents(ceRxChar | ceTxEmpty | ceRxFlag));
    EXPECT_FALSE(port.DirectWrite());
    EXPECT_TRUE(port.UpdateDCB());
    EXPECT_EQ(port.Buffers().ReadSize(), 4096);

    // Directly on the group: stored, then refused.
    EXPECT_EQ(errorOf([&] { port.Buffers().setWriteSize(100); }), portOpenMessage);
    EXPECT_EQ(port.Buffers().WriteSize(), 100);
    // Time-outs are plain values.
    EXPECT_NO_THROW(port.Buffers().setWriteTimeout(50));
    EXPECT_TRUE(port.IsOpen());
    // Open settings still work.
    EXPECT_NO_THROW(port.setEventPriority(tpLower));
    EXPECT_NO_THROW(port.setWritePriority(tpNormal));
    EXPECT_TRUE(port.WriteString("ok"));
    EXPECT_EQ(pty.read(2), QByteArray("ok"));
}

TEST(SerialPort, LineSettingsAreRewrittenAtOnceAndReplaceARateSetThroughHandle)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.Open();
    EXPECT_EQ(deviceRate(port), speed_t(B9600));
    termios tio;
    ASSERT_EQ(tcgetattr(port.Handle(), &tio), 0);
    // A pseudo-terminal keeps eight bits without parity whatever it is given.
    EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB), tcflag_t(CS8));
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), tcflag_t(0));

    // The instrument link's raised rate holds while nothing else is written ...
    setRateThroughHandle(port, B921600);
    port.setBaudrate(br9600); // unchanged value: nothing written
    port.FlowControl().setControlRts(rtsEnabled); // unchanged value: nothing written
    EXPECT_EQ(deviceRate(port), speed_t(B921600));
    // ... and event characters notify even when unchanged, rewriting the line settings.
    port.EventChars().setXonChar(0x11);
    EXPECT_EQ(deviceRate(port), speed_t(B9600));

    port.setBaudrate(br115200);
    EXPECT_EQ(deviceRate(port), speed_t(B115200));
    port.setUserBaudrate(921600);
    EXPECT_EQ(deviceRate(port), speed_t(B921600));
    EXPECT_NO_THROW(port.setBaudrate(br56000)); // no termios constant: set as a custom rate
    EXPECT_NO_THROW(port.setUserBaudrate(250000));

    port.setDatabits(db7);
    port.setStopbits(sb2);
    port.setParity(paEven);
    port.setParityCheck(true);
    ASSERT_EQ(tcgetattr(port.Handle(), &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_iflag & INPCK);

    port.FlowControl().setXonXoffOut(true);
    port.EventChars().setXoffChar(0x7E);
    ASSERT_EQ(tcgetattr(port.Handle(), &tio), 0);
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x7E);
}

TEST(SerialPort, SettingsLinuxCannotGiveAreRefusedAndTheOldOnesStay)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.Open();
    EXPECT_EQ(errorOf([&] { port.setParity(paMark); }), dcbInvalidMessage);
    EXPECT_EQ(errorOf([&] { port.setParity(paSpace); }), dcbInvalidMessage);
    EXPECT_EQ(port.Parity(), paOdd);
    EXPECT_EQ(errorOf([&] { port.setStopbits(sb15); }), dcbInvalidMessage);
    EXPECT_EQ(port.Stopbits(), sb1);
    EXPECT_EQ(errorOf([&] { port.setDatabits(db4); }), dcbInvalidMessage);
    EXPECT_EQ(port.Databits(), db8);
    EXPECT_EQ(errorOf([&] { port.FlowControl().setControlDtr(dtrHandshake); }), dcbInvalidMessage);
    EXPECT_EQ(port.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(errorOf([&] { port.FlowControl().setControlRts(rtsHandshake); }), dcbInvalidMessage);
    EXPECT_EQ(port.FlowControl().ControlRts(), rtsEnabled);
    EXPECT_EQ(errorOf([&] { port.setUserBaudrate(-5); }), dcbInvalidMessage);
    EXPECT_EQ(port.Baudrate(), br9600);
    EXPECT_EQ(port.UserBaudrate(), 0);
    TSerialFlowControl dsrFlow;
    dsrFlow.setOutDsrFlow(true);
    EXPECT_EQ(errorOf([&] { port.setFlowControl(dsrFlow); }), dcbInvalidMessage);
    EXPECT_FALSE(port.FlowControl().OutDsrFlow());
    EXPECT_EQ(deviceRate(port), speed_t(B9600));
    EXPECT_TRUE(port.WriteString("still fine"));
    EXPECT_EQ(pty.read(10), QByteArray("still fine"));
    port.Close();

    // Stored while closed; the next Open refuses it and leaves the port closed.
    port.setParity(paMark);
    EXPECT_EQ(port.Parity(), paMark);
    EXPECT_EQ(errorOf([&] { port.Open(); }), dcbInvalidMessage);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Handle(), -1);
    port.setParity(paNone);
    EXPECT_NO_THROW(port.Open());
}

TEST(SerialPort, PropertyGroupsNotifyTheirOwner)
{
    int changes = 0;
    TSerialBuffers buffers;
    buffers.OnChange = [&] { ++changes; };
    buffers.setReadSize(4096); // unchanged
    buffers.setReadTimeout(5); // plain store
    EXPECT_EQ(changes, 0);
    buffers.setReadSize(100);
    EXPECT_EQ(changes, 1);
    TSerialBuffers other;
    other.setWriteSize(10);
    buffers.BeginUpdate();
    buffers.Assign(other); // nested update: one notification at the outer end
    EXPECT_EQ(changes, 1);
    buffers.EndUpdate();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(buffers.ReadSize(), 4096);
    EXPECT_EQ(buffers.WriteSize(), 10);
    EXPECT_THROW(buffers.setWriteSize(-1), ESerialPortError);
    EXPECT_EQ(buffers.WriteSize(), 10);

    TSerialEventChars chars;
    chars.OnChange = [&] { ++changes; };
    chars.setChar(3, 0); // unchanged, still notifies
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(chars.ErrorChar(), 0);
    chars.setChar(4, '!');
    EXPECT_EQ(chars.EventChar(), '!');

    // A copy carries the values, not the notification.
    TSerialEventChars copy(chars);
    copy.setXonChar(1);
    EXPECT_EQ(changes, 4);
}

// With UpdateDCB false the line-settings record is not written, but the port is raw all the
// same: no echo, no CR/LF conversion in either direction, no byte held back until a line end.
TEST(SerialPort, WithoutUpdateDcbAnOpenedPortIsRawAndKeepsItsRate)
{
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    {
        // The terminal's line-editing mode, as a fresh serial device comes up, at 4800 bit/s.
        const int slave = ::open(QFile::encodeName(pty.slaveName()).constData(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        termios tio;
        ASSERT_EQ(tcgetattr(slave, &tio), 0);
        tio.c_iflag |= ICRNL | IXON;
        tio.c_oflag |= OPOST | ONLCR;
        tio.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        cfsetispeed(&tio, B4800);
        cfsetospeed(&tio, B4800);
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &tio), 0);
        ::close(slave);
    }
    TSerialPort port;
    configureForPty(port, pty);
    port.setUpdateDCB(false);
    QByteArray received;
    port.OnRxChar = [&](TCustomSerialPort *sender, int count) {
        QByteArray chunk(count, '\0');
        chunk.resize(sender->ReadBytes(chunk.data(), count));
        received += chunk;
    };
    port.Open();
    EXPECT_EQ(deviceRate(port), speed_t(B4800)); // the record was not written

    pty.write(QByteArray("ab", 2)); // no line end
    EXPECT_TRUE(waitFor([&] { return received == "ab"; }, 5000)) << received.toHex().constData();
    pty.write(QByteArray("\r\x11\x13", 3));
    EXPECT_TRUE(waitFor([&] { return received == QByteArray("ab\r\x11\x13", 5); }, 5000))
        << received.toHex().constData();
    EXPECT_TRUE(pty.readAvailable(50).isEmpty()) << "echoed";

    ASSERT_TRUE(port.WriteString(QByteArray("x\n", 2)));
    EXPECT_EQ(pty.read(2, 5000), QByteArray("x\n", 2));
    EXPECT_TRUE(pty.readAvailable(50).isEmpty());
    port.Close();
}

#include "pty.h"

#include <gtest/gtest.h>

using namespace serial;

TEST(SerialThreads, BytesGoOutAndComeBackThroughOnRxChar)
{
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    TSerialPort port;
    configureForPty(port, pty);
    QByteArray received;
    port.OnRxChar = [&](TCustomSerialPort *sender, int count) {
        QByteArray chunk(count, '\0');
        chunk.resize(sender->ReadBytes(chunk.data(), count));
        received += chunk;
    };
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.WriteString("\x29"));
    EXPECT_EQ(pty.read(1), QByteArray("\x29"));
    pty.write(QByteArray(501, 'a'));
    EXPECT_TRUE(waitFor([&] { return received.size() == 501; }));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

// The line settings as the tty holds them: read from the master side of the terminal,
// which a Windows program cannot do.
#include "PortFixture.h"
#include "platform/SerialDevice.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

// Termios requests on the master act on the slave's settings.
static termios2 SlaveTermios(const Pty& pty)
{
    termios2 t{};
    ioctl(pty.fd, TCGETS2, &t);
    return t;
}

TEST_F(PortTest, LineSettingsReachTheDevice)
{
    port.SetBaudrate(115200);
    port.SetActive(true);
    termios2 t = SlaveTermios(pty);
    EXPECT_EQ(t.c_cflag & (CBAUD | CSIZE | PARENB | CSTOPB | CRTSCTS), unsigned(B115200 | CS8));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u); // raw: bytes pass unchanged

    port.SetBaudrate(250000); // at once while open, also a rate without its own code
    t = SlaveTermios(pty);
    EXPECT_EQ(std::pair(t.c_cflag & CBAUD, t.c_ospeed), std::pair(unsigned(BOTHER), 250000u));
    // The same value again must not touch the device: a change made behind its back survives.
    t.c_cflag = (t.c_cflag & ~CBAUD) | B4800;
    ASSERT_EQ(ioctl(pty.fd, TCSETS2, &t), 0);
    port.SetBaudrate(250000);
    EXPECT_EQ(SlaveTermios(pty).c_cflag & CBAUD, unsigned(B4800));

    port.FlowCtrl()->SetXonXoff(true);
    EXPECT_EQ(SlaveTermios(pty).c_iflag & (IXON | IXOFF), unsigned(IXON | IXOFF));
    // A pseudo-terminal keeps 8 bits whatever it is told: read the state the device holds.
    kestrin::SerialLineState state;
    port.SetByteSize(7); // only at the next open
    ASSERT_TRUE(port.CommThread()->Device()->GetState(state));
    EXPECT_EQ(state.byteSize, 8);
    port.SetActive(false);
    port.SetActive(true);
    ASSERT_TRUE(port.CommThread()->Device()->GetState(state));
    EXPECT_EQ(std::pair(state.byteSize, state.flags), std::pair(uint8_t(7), 0x1311u));
}

// Settings, opening and writing.
#include "PortFixture.h"
#include "platform/SerialDevice.h"

#include <asm/termbits.h>
#include <cerrno>
#include <future>
#include <sys/ioctl.h>
#include <tuple>

// Termios requests on the master act on the slave's settings.
static termios2 SlaveTermios(const Pty& pty)
{
    termios2 t{};
    ioctl(pty.fd, TCGETS2, &t);
    return t;
}

// The message and system error of the EVornComPort that f raises.
template <class F> static std::string ErrorOf(F f)
{
    try {
        f();
    } catch (const EVornComPort& e) {
        return e.what() + (" " + std::to_string(e.SystemError()));
    }
    return "(no error)";
}

TEST(ComPort, DefaultsVersionFlagsAndLimits)
{
    auto* owner = new TComponent;
    TVornComPort& port = *new TVornComPort(owner); // freed with its owner
    EXPECT_EQ(std::tuple(port.Baudrate(), port.ByteSize(), port.StopBits(), port.Parity(), port.Port()),
              std::tuple(9600, uint8_t(8), sbOne, ptNone, 0));
    EXPECT_EQ(std::tuple(port.RxBuffer(), port.TxBuffer(), port.XoffLimit(), port.XonLimit()),
              std::tuple(8192u, 8192u, 4096u, 6144u));
    EXPECT_EQ(std::tuple(port.LineEnd(), port.LineMode(), port.Active()), std::tuple("\r\n", false, false));
    TFlowCtrl& flow = *port.FlowCtrl();
    EXPECT_EQ(std::tuple(flow.Flags(), flow.RxDtrControl(), flow.RxRtsControl()),
              std::tuple(0x1011u, dtrEnable, rtsEnable));

    port.SetVersion("2.00");
    EXPECT_EQ(port.Version(), "1.08");
    port.SetRxBuffer(16384);
    EXPECT_EQ(std::pair(port.XoffLimit(), port.XonLimit()), std::pair(12288u, 8192u));

    flow.SetXonXoff(true);
    EXPECT_EQ(flow.Flags(), 0x1311u);
    flow.SetXonXoff(false);
    flow.SetRxRtsControl(rtsToggle);
    EXPECT_EQ(flow.Flags(), 0x3011u);
    flow.SetRxDtrControl(dtrHandshake);
    flow.SetTxCtsFlow(true);
    EXPECT_EQ(flow.Flags(), 0x3025u);
    delete owner; // the sanitizer build reports a port left behind or freed twice
}

TEST_F(PortTest, FailedOpensLeaveThePortClosedAndReusable)
{
    TVornComPort holder;
    holder.SetPort(kNumber);
    holder.SetActive(true);
    const struct { const char* path; std::string error; } cases[] = {
        {nullptr, "Cannot open port '40' " + std::to_string(ENOENT)}, // not in the port table
        {"/dev/ttyKestrinMissing0", "Cannot open port '/dev/ttyKestrinMissing0' " + std::to_string(ENOENT)},
        {"/dev/null", "Cannot open port '/dev/null' " + std::to_string(ENOTTY)},
        {pty.slavePath.c_str(), "Cannot open port '" + pty.slavePath + "' " + std::to_string(EBUSY)}, // held
    };
    for (const auto& c : cases) {
        c.path ? kestrin::SetPortPath(kNumber, c.path) : kestrin::RemovePort(kNumber);
        EXPECT_EQ(ErrorOf([&] { port.SetActive(true); }), c.error);
        EXPECT_FALSE(port.Active());
    }
    EXPECT_EQ(ErrorOf([&] { port.WriteString("ABC"); }), "Port not open 0");
    holder.SetActive(false);
    port.SetActive(true);
    port.SetActive(true); // a second switch on does not open again
    EXPECT_EQ(port.WriteString("ok"), 2);
    EXPECT_EQ(pty.Receive(1000), "ok"); // nothing of the refused writes went out
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

// The simulated analyser's way: a factory makes the device, which lives while the port is open.
TEST_F(PortTest, AVirtualPortLivesFromOpenToClose)
{
    auto device = std::make_shared<int>();
    std::weak_ptr<int> watch = device;
    kestrin::SetVirtualPort(kNumber, [&](std::string& path) -> std::shared_ptr<void> {
        path = pty.slavePath;
        return std::exchange(device, nullptr); // a second open finds no device
    });
    port.SetActive(true);
    EXPECT_FALSE(watch.expired());
    port.SetActive(false);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(ErrorOf([&] { port.SetActive(true); }), "Cannot open port '" + pty.slavePath + "' " + std::to_string(ENODEV));
}

TEST_F(PortTest, AWriteLargerThanTheTtyBufferIsNotCutShort)
{
    port.SetActive(true);
    const std::string block = Pattern(300000);
    auto received = std::async(std::launch::async, [&] { return pty.Receive(3000, 1000); });
    EXPECT_EQ(port.Write(block.data(), int32_t(block.size())), int32_t(block.size()));
    EXPECT_TRUE(received.get() == block) << "bytes lost or changed";
}

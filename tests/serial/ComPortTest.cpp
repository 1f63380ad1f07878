#include "platform/PtyHelpers.h"
#include "platform/PortTable.h"
#include "platform/SerialDevice.h"
#include "serial/uVornComport.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <cerrno>
#include <thread>
#include <sys/ioctl.h>

using testing_pty::Pty;

namespace {

termios2 SlaveTermios(const Pty& pty)
{
    // Termios requests on the master act on the slave's settings.
    termios2 t{};
    ioctl(pty.master, TCGETS2, &t);
    return t;
}

std::string OpenError(TVornComPort& port)
{
    try {
        port.SetActive(true);
    } catch (const EVornComPort& e) {
        return e.what();
    }
    return "(opened)";
}

} // namespace

TEST(ComPort, DefaultsVersionAndDerivedSettings)
{
    TVornComPort port;
    EXPECT_EQ(port.Baudrate(), 9600);
    EXPECT_EQ(port.ByteSize(), 8);
    EXPECT_EQ(port.StopBits(), sbOne);
    EXPECT_EQ(port.Parity(), ptNone);
    EXPECT_EQ(port.RxBuffer(), 8192u);
    EXPECT_EQ(port.TxBuffer(), 8192u);
    EXPECT_EQ(port.XoffLimit(), 4096u);
    EXPECT_EQ(port.XonLimit(), 6144u);
    EXPECT_EQ(port.LineEnd(), "\r\n");
    EXPECT_FALSE(port.LineMode());
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.Port(), 0);
    EXPECT_EQ(port.CommThread(), nullptr);
    EXPECT_EQ(port.FlowCtrl()->Flags(), 4113u);
    EXPECT_EQ(port.FlowCtrl()->RxDtrControl(), dtrEnable);
    EXPECT_EQ(port.FlowCtrl()->RxRtsControl(), rtsEnable);
    EXPECT_EQ(port.FlowCtrl()->OwnerPort(), &port);

    port.SetVersion("2.00");
    EXPECT_EQ(port.Version(), "1.08");

    port.SetRxBuffer(16384);
    EXPECT_EQ(port.XoffLimit(), 12288u);
    EXPECT_EQ(port.XonLimit(), 8192u);

    TFlowCtrl* flow = port.FlowCtrl();
    flow->SetXonXoff(true);
    EXPECT_EQ(flow->Flags(), 0x1311u);
    flow->SetXonXoff(false);
    flow->SetRxRtsControl(rtsToggle);
    EXPECT_EQ(flow->Flags(), 0x3011u);
    flow->SetRxDtrControl(dtrHandshake);
    flow->SetTxCtsFlow(true);
    EXPECT_EQ(flow->Flags(), 0x3025u);
    flow->SetRxDtrControl(TDtrControl(7)); // outside the enumeration: the field stays clear
    EXPECT_EQ(flow->Flags(), 0x3005u);
}

TEST(ComPort, AnOwnerFreesItsPort)
{
    auto* owner = new TComponent;
    auto* port = new TVornComPort(owner);
    EXPECT_EQ(port->Owner(), owner);
    delete owner; // frees the port too; the sanitizer build would report a leak or double free
}

TEST(ComPort, MissingDeviceFailsCleanlyAndThePortStaysUsable)
{
    Pty pty;
    TVornComPort port;
    kestrin::RemovePort(41);
    port.SetPort(41);
    EXPECT_EQ(OpenError(port), "Cannot open port '41'");
    EXPECT_FALSE(port.Active());

    kestrin::SetPortPath(41, "/dev/ttyKestrinMissing0");
    try {
        port.SetActive(true);
        ADD_FAILURE() << "opened a missing device";
    } catch (const EVornComPort& e) {
        EXPECT_STREQ(e.what(), "Cannot open port '/dev/ttyKestrinMissing0'");
        EXPECT_EQ(e.SystemError(), ENOENT);
    }
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.CommThread(), nullptr);
    kestrin::SetPortPath(41, "/dev/null"); // exists, but is no serial device
    EXPECT_EQ(OpenError(port), "Cannot open port '/dev/null'");

    kestrin::SetPortPath(41, pty.slavePath);
    port.SetActive(true);
    EXPECT_TRUE(port.Active());
    port.SetActive(true); // a second switch on does not open again
    EXPECT_EQ(port.WriteString("ok"), 2);
    EXPECT_EQ(pty.Receive(1000), "ok");
    port.SetActive(false);
    port.SetActive(false);
    EXPECT_FALSE(port.Active());
    kestrin::RemovePort(41);
}

TEST(ComPort, AHeldPortCannotBeOpenedTwice)
{
    Pty pty;
    kestrin::SetPortPath(42, pty.slavePath);
    TVornComPort first, second;
    first.SetPort(42);
    second.SetPort(42);
    first.SetActive(true);
    try {
        second.SetActive(true);
        ADD_FAILURE() << "a held port opened twice";
    } catch (const EVornComPort& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open port '" + pty.slavePath + "'");
        EXPECT_EQ(e.SystemError(), EBUSY);
    }
    EXPECT_FALSE(second.Active());
    first.SetActive(false);
    second.SetActive(true);
    EXPECT_TRUE(second.Active());
    kestrin::RemovePort(42);
}

TEST(ComPort, WriteOnAClosedPortSendsNothing)
{
    Pty pty;
    kestrin::SetPortPath(43, pty.slavePath);
    TVornComPort port;
    port.SetPort(43);
    try {
        port.WriteString("ABC");
        ADD_FAILURE() << "wrote on a closed port";
    } catch (const EVornComPort& e) {
        EXPECT_STREQ(e.what(), "Port not open");
        EXPECT_EQ(e.SystemError(), 0);
    }
    EXPECT_THROW(port.Write("x", 1), EVornComPort);
    port.SetActive(true);
    EXPECT_EQ(pty.Receive(100), ""); // nothing of the refused writes went out later
    kestrin::RemovePort(43);
}

TEST(ComPort, LineSettingsReachTheDevice)
{
    Pty pty;
    kestrin::SetPortPath(44, pty.slavePath);
    TVornComPort port;
    port.SetPort(44);
    port.SetBaudrate(115200);
    port.SetActive(true);
    termios2 t = SlaveTermios(pty);
    EXPECT_EQ(t.c_cflag & CBAUD, unsigned(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, unsigned(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u); // raw: bytes pass unchanged

    port.SetBaudrate(57600); // at once while open
    EXPECT_EQ(SlaveTermios(pty).c_cflag & CBAUD, unsigned(B57600));
    port.SetBaudrate(250000); // a rate without its own code
    t = SlaveTermios(pty);
    EXPECT_EQ(t.c_cflag & CBAUD, unsigned(BOTHER));
    EXPECT_EQ(t.c_ospeed, 250000u);

    // The same value again must not touch the device: a change made behind the
    // port's back survives it.
    port.SetBaudrate(57600);
    t = SlaveTermios(pty);
    t.c_cflag = (t.c_cflag & ~CBAUD) | B4800;
    t.c_ispeed = t.c_ospeed = 4800;
    ASSERT_EQ(ioctl(pty.master, TCSETS2, &t), 0);
    port.SetBaudrate(57600);
    EXPECT_EQ(SlaveTermios(pty).c_cflag & CBAUD, unsigned(B4800));

    // A pseudo-terminal keeps 8 bits without parity whatever it is told, so byte size
    // and parity are checked in the state handed to the device.
    kestrin::SerialLineState state;
    port.SetParity(ptOdd);
    port.SetStopBits(sbTwo);
    EXPECT_EQ(SlaveTermios(pty).c_cflag & CSTOPB, unsigned(CSTOPB));
    ASSERT_TRUE(port.CommThread()->Device()->GetState(state));
    EXPECT_EQ(state.parity, ptOdd);
    EXPECT_EQ(state.stopBits, sbTwo);
    port.FlowCtrl()->SetXonXoff(true);
    EXPECT_EQ(SlaveTermios(pty).c_iflag & (IXON | IXOFF), unsigned(IXON | IXOFF));

    port.SetByteSize(7); // only at the next open
    ASSERT_TRUE(port.CommThread()->Device()->GetState(state));
    EXPECT_EQ(state.byteSize, 8);
    port.SetActive(false);
    port.SetActive(true);
    ASSERT_TRUE(port.CommThread()->Device()->GetState(state));
    EXPECT_EQ(state.byteSize, 7);
    EXPECT_EQ(state.parity, ptOdd);
    EXPECT_EQ(state.flags, 0x1311u);
    EXPECT_EQ(state.xoffLimit, 4096);
    EXPECT_EQ(state.xonLimit, 6144);
    kestrin::RemovePort(44);
}

TEST(ComPort, VirtualPortIsMadeByItsFactoryAndReleasedAfterClose)
{
    auto pty = std::make_shared<Pty>();
    std::weak_ptr<Pty> watch = pty;
    int made = 0;
    kestrin::SetVirtualPort(45, [&](std::string& path) -> std::shared_ptr<void> {
        ++made;
        path = pty->slavePath;
        return std::exchange(pty, nullptr);
    });
    {
        TVornComPort port;
        port.SetPort(45);
        port.SetActive(true);
        EXPECT_EQ(made, 1);
        EXPECT_FALSE(watch.expired()); // kept while open
        ASSERT_EQ(port.WriteString("hi"), 2);
        EXPECT_EQ(watch.lock()->Receive(1000), "hi");
        port.SetActive(false);
        EXPECT_TRUE(watch.expired());
    }
    kestrin::SetVirtualPort(45, [](std::string&) -> std::shared_ptr<void> {
        throw std::runtime_error("simulator failed");
    });
    TVornComPort port;
    port.SetPort(45);
    EXPECT_EQ(OpenError(port), "Cannot open port '45'");
    EXPECT_FALSE(port.Active());
    kestrin::RemovePort(45);
}

TEST(ComPort, AWriteLargerThanTheTtyBufferIsNotCutShort)
{
    Pty pty;
    kestrin::SetPortPath(46, pty.slavePath);
    TVornComPort port;
    port.SetPort(46);
    port.SetActive(true);
    std::string block(300000, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = char(i % 253);
    std::string received;
    std::thread other([&] {
        while (received.size() < block.size()) {
            const std::string got = pty.Receive(3000);
            if (got.empty())
                break;
            received += got;
        }
    });
    EXPECT_EQ(port.Write(block.data(), int32_t(block.size())), int32_t(block.size()));
    other.join();
    EXPECT_TRUE(received == block) << received.size() << " of " << block.size() << " bytes";
    kestrin::RemovePort(46);
}

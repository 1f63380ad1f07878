// Settings, opening and writing.
#include "PortFixture.h"
#include "platform/SerialDevice.h"
#include "support/Process.h"

#include <cerrno>
#include <future>
#include <tuple>

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
#ifdef _WIN32
        // Not in the port table: the device COM40, which this machine does not have, named
        // by its full device path.
        {nullptr, "Cannot open port '\\\\.\\COM40' " + std::to_string(ENOENT)},
        {"\\\\.\\NUL", "Cannot open port '\\\\.\\NUL' " + std::to_string(ENOTTY)},
#else
        {nullptr, "Cannot open port '40' " + std::to_string(ENOENT)}, // not in the port table
        {"/dev/ttyKestrinMissing0", "Cannot open port '/dev/ttyKestrinMissing0' " + std::to_string(ENOENT)},
        {"/dev/null", "Cannot open port '/dev/null' " + std::to_string(ENOTTY)},
#endif
        {pty.slavePath.c_str(), "Cannot open port '" + pty.slavePath + "' " + std::to_string(EBUSY)}, // held
    };
    for (const auto& c : cases) {
        if (UnderWine() && c.path == pty.slavePath.c_str())
            continue; // Wine lets a second opener have a COM port

        c.path ? kestrin::SetPortPath(kNumber, c.path) : kestrin::RemovePort(kNumber);
        EXPECT_EQ(ErrorOf([&] { port.SetActive(true); }), c.error);
        EXPECT_FALSE(port.Active());
    }
    EXPECT_EQ(ErrorOf([&] { port.WriteString("ABC"); }), "Port not open 0");
    kestrin::SetPortPath(kNumber, pty.slavePath);
    holder.SetActive(false);
    port.SetActive(true);
    port.SetActive(true); // a second switch on does not open again
    EXPECT_EQ(port.WriteString("ok"), 2);
    EXPECT_EQ(pty.ReceiveAtLeast(2), "ok"); // nothing of the refused writes went out
}

// The simulated analyser's way: a factory makes the device, which lives while the port is open.
TEST_F(PortTest, AVirtualPortLivesFromOpenToClose)
{
    auto device = std::make_shared<int>();
    std::weak_ptr<int> watch = device;
    kestrin::SetVirtualPort(kNumber, [&](const kestrin::VirtualDeviceOptions&, std::string& path) -> std::shared_ptr<void> {
        path = pty.slavePath;
        return std::exchange(device, nullptr); // a second open finds no device
    });
    port.SetActive(true);
    EXPECT_FALSE(watch.expired());
    port.SetActive(false);
    EXPECT_TRUE(watch.expired());
    // Named by the full device path ("\\.\COM5" on Windows).
    EXPECT_EQ(ErrorOf([&] { port.SetActive(true); }), "Cannot open port '" + pty.slavePath + "' " + std::to_string(ENODEV));
}

TEST_F(PortTest, AWriteLargerThanTheTtyBufferIsNotCutShort)
{
    port.SetActive(true);
    const std::string block = Pattern(300000);
    auto received = std::async(std::launch::async, [&] { return pty.ReceiveAtLeast(block.size(), 60000); });
    EXPECT_EQ(port.Write(block.data(), int32_t(block.size())), int32_t(block.size()));
    EXPECT_TRUE(received.get() == block) << "bytes lost or changed";
}

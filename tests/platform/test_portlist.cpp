// The serial port list: order, selection, and the Linux provider over a fake root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/PortList.h"
#include "platform/PortTable.h"

namespace fs = std::filesystem;
using kestrin::BuildPortList;
using kestrin::PortEntry;
using kestrin::PortListResult;

namespace {

class FakeProvider : public kestrin::PortProvider {
public:
    explicit FakeProvider(std::vector<PortEntry> entries) : entries_(std::move(entries)) {}
    std::vector<PortEntry> Enumerate() override { return entries_; }

private:
    std::vector<PortEntry> entries_;
};

std::vector<std::string> Texts(const PortListResult& r)
{
    std::vector<std::string> t;
    for (const PortEntry& e : r.items)
        t.push_back(e.text);
    return t;
}

PortListResult ListFrom(std::vector<PortEntry> entries)
{
    FakeProvider provider(std::move(entries));
    return BuildPortList(provider.Enumerate());
}

} // namespace

TEST(PortList, SortsByPlainTextAndSelectsFirstWithoutPreferredPort)
{
    const PortListResult r = ListFrom({{"COM2", 2, false}, {"COM10", 10, false}});
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"COM10", "COM2"}));
    ASSERT_EQ(r.selected, 0);
    // Every item keeps its own number through the sort.
    EXPECT_EQ(r.items[0].number, 10);
    EXPECT_EQ(r.items[1].number, 2);

    const PortListResult dev = ListFrom({{"/dev/ttyUSB2", 1, false}, {"/dev/ttyUSB10", 2, false}});
    EXPECT_EQ(Texts(dev), (std::vector<std::string>{"/dev/ttyUSB10", "/dev/ttyUSB2"}));
}

TEST(PortList, PreferredPortIsSelected)
{
    // Only COM5 is preferred: it wins although it sorts second.
    const PortListResult second = ListFrom({{"COM5", 5, true}, {"COM1", 1, false}});
    EXPECT_EQ(Texts(second), (std::vector<std::string>{"COM1", "COM5"}));
    ASSERT_EQ(second.selected, 1);
    EXPECT_EQ(second.items[1].number, 5);

    // Two preferred ports: the one enumerated last wins, wherever it sorts.
    const PortListResult two = ListFrom({{"COM7", 7, true}, {"COM3", 3, false}, {"COM4", 4, true}});
    ASSERT_EQ(two.selected, 1);
    EXPECT_EQ(two.items[1].text, "COM4");
    const PortListResult swapped = ListFrom({{"COM4", 4, true}, {"COM7", 7, true}});
    EXPECT_EQ(swapped.items[swapped.selected].text, "COM7");
}

TEST(PortList, NoPortsGivesEmptyListWithoutSelection)
{
    const PortListResult r = ListFrom({});
    EXPECT_TRUE(r.items.empty());
    EXPECT_EQ(r.selected, -1);
}

// A fake root with sysfs and /dev entries, removed at the end.
class LinuxProviderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kestrin-portlist-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl;
        fs::create_directories(root / "sys/class/tty");
        fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
        fs::create_directories(root / "sys/bus/usb/drivers/cdc_acm");
        fs::create_directories(root / "dev/pts");
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root, ec);
        kestrin::ClearPortTable();
    }

    void Touch(const fs::path& p) { std::ofstream(p).put('\n'); }

    // A tty with a device directory, a /dev node and optionally a driver link.
    void AddTty(const std::string& name, const std::string& driverDir)
    {
        const fs::path dev = root / "sys/class/tty" / name / "device";
        fs::create_directories(dev);
        if (!driverDir.empty())
            fs::create_directory_symlink(root / driverDir, dev / "driver");
        Touch(root / "dev" / name);
    }

    fs::path root;
};

TEST_F(LinuxProviderTest, ListsSerialDevicesAndPseudoTerminalLinks)
{
    AddTty("ttyUSB0", "sys/bus/usb-serial/drivers/ftdi_sio");
    AddTty("ttyACM0", "sys/bus/usb/drivers/cdc_acm");
    AddTty("rfcomm0", "");
    AddTty("ttyS0", "");  // legacy port without a UART
    AddTty("ttyS4", "");  // real UART
    // Not serial ports of interest, or odd: skipped.
    AddTty("tty1", "");
    AddTty("ttyUSBx", "");
    fs::create_directories(root / "sys/class/tty/ttyUSB3");          // no device link
    fs::create_directories(root / "sys/class/tty/ttyUSB4/device");   // no /dev node
    fs::create_directory_symlink(root / "nowhere", root / "sys/class/tty/ttyUSB5");  // dangling
    // A virtual analyser on a pseudo-terminal, a dangling link and a link elsewhere.
    Touch(root / "dev/pts/3");
    fs::create_symlink("/dev/pts/3", root / "dev/ttyUSB9");
    fs::create_symlink("pts/7", root / "dev/ttyACM5");
    fs::create_symlink("/dev/null", root / "dev/ttyUSB8");

    kestrin::LinuxPortProvider provider(root.string(), 1);
    provider.hasRealUart = [&](const std::string& path) { return path == (root / "dev/ttyS4").string(); };
    const std::vector<PortEntry> entries = provider.Enumerate();

    std::vector<std::string> texts;
    for (const PortEntry& e : entries)
        texts.push_back(e.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyS4",
                                               "/dev/ttyUSB0", "/dev/ttyUSB9"}));

    // Numbers are distinct and lead to the device through the port table.
    for (const PortEntry& e : entries) {
        const auto found = kestrin::FindPort(e.number);
        ASSERT_TRUE(found.has_value()) << e.text;
        EXPECT_EQ(found->path, (root / e.text.substr(1)).string());
        EXPECT_EQ(e.preferred, e.text == "/dev/ttyUSB0") << e.text;
    }

    const PortListResult list = BuildPortList(entries);
    ASSERT_GE(list.selected, 0);
    EXPECT_EQ(list.items[list.selected].text, "/dev/ttyUSB0");
}

TEST_F(LinuxProviderTest, MissingTreesGiveNoPorts)
{
    kestrin::LinuxPortProvider provider((root / "absent").string(), 1);
    EXPECT_TRUE(provider.Enumerate().empty());
}

// The serial port list: order, selection, and the Linux provider over a fake root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/PortList_linux.h"
#include "platform/PortTable.h"

namespace fs = std::filesystem;
using kestrin::PortEntry;
using Texts = std::vector<std::string>;

TEST(PortList, SortsByPlainTextAndSelectsThePreferredPort)
{
    // Trailing items (the simulated analyser) follow every device and are selected only
    // when there is no device port.
    const std::vector<PortEntry> sim = {{"SIM9", 9, false}};
    const struct { std::vector<PortEntry> entries, trailing; Texts texts; int selected; } cases[] = {
        {{{"COM2", 2, false}, {"COM10", 10, false}}, {}, {"COM10", "COM2"}, 0},
        {{{"/dev/ttyUSB2", 2, false}, {"/dev/ttyUSB10", 10, false}}, sim, {"/dev/ttyUSB10", "/dev/ttyUSB2", "SIM9"}, 0},
        {{{"COM5", 5, true}, {"COM1", 1, false}}, {}, {"COM1", "COM5"}, 1}, // preferred, although second
        // Two preferred ports: the one enumerated last wins, wherever it sorts.
        {{{"COM7", 7, true}, {"COM3", 3, false}, {"COM4", 4, true}}, {}, {"COM3", "COM4", "COM7"}, 1},
        {{{"COM4", 4, true}, {"COM7", 7, true}}, sim, {"COM4", "COM7", "SIM9"}, 1},
        {{}, {}, {}, -1},
        {{}, sim, {"SIM9"}, 0},
    };
    for (const auto& c : cases) {
        const kestrin::PortListResult r = kestrin::BuildPortList(c.entries, c.trailing);
        Texts texts;
        for (const PortEntry& e : r.items) {
            texts.push_back(e.text);
            EXPECT_TRUE(e.text.ends_with(std::to_string(e.number))) << e.text << " lost its number";
        }
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(r.selected, c.selected);
    }
}

TEST(PortList, TheLinuxProviderListsSerialDevicesAndSkipsOddEntries)
{
    char tmpl[] = "/tmp/kestrin-portlist-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl;
    EXPECT_TRUE(kestrin::LinuxPortProvider(root.string(), 1).Enumerate().empty()); // no trees, no ports

    const auto touch = [](const fs::path& p) { std::ofstream(p).put('\n'); };
    // A tty with a device directory, a /dev node and optionally a driver link.
    const auto addTty = [&](const std::string& name, const std::string& driver) {
        const fs::path dev = root / "sys/class/tty" / name / "device";
        fs::create_directories(dev);
        if (!driver.empty()) {
            fs::create_directories(root / "sys/bus" / driver);
            fs::create_directory_symlink(root / "sys/bus" / driver, dev / "driver");
        }
        touch(root / "dev" / name);
    };
    fs::create_directories(root / "dev/pts");
    addTty("ttyUSB0", "usb-serial/drivers/ftdi_sio");
    addTty("ttyACM0", "usb/drivers/cdc_acm");
    addTty("rfcomm0", "");
    addTty("ttyS0", ""); // legacy port without a UART
    addTty("ttyS4", ""); // real UART
    // Not serial ports of interest, or odd: skipped.
    addTty("tty1", "");
    addTty("ttyUSBx", "");
    fs::create_directories(root / "sys/class/tty/ttyUSB3");        // no device link
    fs::create_directories(root / "sys/class/tty/ttyUSB4/device"); // no /dev node
    fs::create_directory_symlink(root / "nowhere", root / "sys/class/tty/ttyUSB5"); // dangling
    // A virtual analyser on a pseudo-terminal, a dangling link and a link elsewhere.
    touch(root / "dev/pts/3");
    fs::create_symlink("/dev/pts/3", root / "dev/ttyUSB9");
    fs::create_symlink("pts/7", root / "dev/ttyACM5");
    fs::create_symlink("/dev/null", root / "dev/ttyUSB8");

    kestrin::LinuxPortProvider provider(root.string(), 1);
    provider.hasRealUart = [&](const std::string& path) { return path == (root / "dev/ttyS4").string(); };
    const std::vector<PortEntry> entries = provider.Enumerate();
    Texts texts;
    for (const PortEntry& e : entries) {
        texts.push_back(e.text);
        // The number leads to the device through the port table.
        const auto found = kestrin::FindPort(e.number);
        EXPECT_EQ(found ? found->path : "", (root / e.text.substr(1)).string());
        EXPECT_EQ(e.preferred, e.text == "/dev/ttyUSB0") << e.text;
    }
    EXPECT_EQ(texts, (Texts{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyS4", "/dev/ttyUSB0", "/dev/ttyUSB9"}));
    fs::remove_all(root);
    kestrin::ClearPortTable();
}

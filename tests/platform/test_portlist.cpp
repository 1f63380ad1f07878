// The serial port list: order, selection, tooltips, and the Linux provider over a fake root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
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

TEST(PortList, TheChosenPortStaysWhileListedAndUsbSerialPortsComeBeforeOthers)
{
    PortEntry uart{"ttyS0", 1}, usb{"ttyUSB0", 2}, acm{"ttyACM0", 3}, ftdi{"ttyUSB1", 4};
    usb.usbSerial = acm.usbSerial = ftdi.usbSerial = true;
    ftdi.preferred = true;
    const std::vector<PortEntry> sim = {{"SIM9", 9}};
    const struct { std::vector<PortEntry> entries; std::string keep; std::string selected; } cases[] = {
        {{uart, usb}, "", "ttyUSB0"},
        {{usb, uart, acm}, "", "ttyACM0"}, // the last enumerated USB serial port
        {{acm, ftdi, usb}, "", "ttyUSB1"}, // the FTDI port, though another USB port follows it
        {{uart, usb}, "ttyS0", "ttyS0"},   // chosen before, still there
        {{uart, usb}, "SIM9", "SIM9"},
        {{uart, usb}, "ttyUSB7", "ttyUSB0"}, // chosen before, gone: the rule chooses
        {{uart}, "ttyUSB7", "ttyS0"},
    };
    for (const auto& c : cases) {
        const kestrin::PortListResult r = kestrin::BuildPortList(c.entries, sim, c.keep);
        ASSERT_GE(r.selected, 0);
        EXPECT_EQ(r.items[size_t(r.selected)].text, c.selected) << "keep " << c.keep;
    }
}

namespace {

// A made-up root with the sysfs and /dev entries of serial ports; removed at the end,
// with the port table the providers filled.
class FakeRoot {
public:
    FakeRoot()
    {
        char tmpl[] = "/tmp/kestrin-portlist-XXXXXX";
        if (::mkdtemp(tmpl) != nullptr)
            path = tmpl;
        fs::create_directories(path / "dev/pts");
    }
    ~FakeRoot()
    {
        fs::remove_all(path);
        for (int number : numbers_)
            kestrin::RemovePort(number);
    }
    static void Touch(const fs::path& p, const std::string& text = "\n") { std::ofstream(p) << text; }

    // A tty with a plain device folder, a /dev node and a driver link when a driver is given.
    void AddTty(const std::string& name, const std::string& driver = {})
    {
        const fs::path device = path / "sys/class/tty" / name / "device";
        fs::create_directories(device);
        LinkDriver(device, "platform", driver);
        Touch(path / "dev" / name);
    }
    // A USB serial adapter as the kernel shows it: the tty's device link leads to the port
    // below the USB device's interface (to the interface itself for ttyACM), the USB device
    // holds its strings, a missing one given as empty.
    void AddUsb(const std::string& name, const std::string& driver, const std::string& manufacturer = {},
                const std::string& product = {}, const std::string& serial = {})
    {
        const std::string hub = "1-" + std::to_string(++usbDevices_);
        const fs::path usbDevice = path / "sys/devices/pci0000:00/0000:00:14.0/usb1" / hub;
        const bool acm = name.rfind("ttyACM", 0) == 0;
        const fs::path device = usbDevice / (hub + ":1.0") / (acm ? "" : name);
        fs::create_directories(device);
        Touch(usbDevice / "idVendor", "0403\n");
        for (const auto& [file, text] : {std::pair{"manufacturer", manufacturer}, {"product", product}, {"serial", serial}})
            if (!text.empty())
                Touch(usbDevice / file, text + "\n");
        LinkDriver(device, acm ? "usb" : "usb-serial", driver);
        const fs::path classEntry = path / "sys/class/tty" / name;
        fs::create_directories(classEntry);
        fs::create_directory_symlink(fs::relative(device, classEntry), classEntry / "device");
        Touch(path / "dev" / name);
    }
    // A link in /dev to a pseudo-terminal, as a test bench presents a virtual analyser.
    void AddPtyLink(const std::string& name, int pts)
    {
        Touch(path / "dev/pts" / std::to_string(pts));
        fs::create_symlink("/dev/pts/" + std::to_string(pts), path / "dev" / name);
    }

    std::vector<PortEntry> Enumerate()
    {
        kestrin::LinuxPortProvider provider(path.string(), 1);
        provider.hasRealUart = [this](const std::string& node) { return !realUarts.contains(node) || realUarts.at(node); };
        std::vector<PortEntry> entries = provider.Enumerate();
        for (const PortEntry& e : entries)
            numbers_.insert(e.number);
        return entries;
    }
    std::string Dev(const std::string& name) const { return (path / "dev" / name).string(); }

    fs::path path;
    std::map<std::string, bool> realUarts; // by /dev path; a ttyS not named here has a real UART

private:
    std::set<int> numbers_; // the port table's entries the enumerations made
    void LinkDriver(const fs::path& device, const std::string& bus, const std::string& driver)
    {
        if (driver.empty())
            return;
        const fs::path dir = path / "sys/bus" / bus / "drivers" / driver;
        fs::create_directories(dir);
        fs::create_directory_symlink(fs::relative(dir, device), device / "driver");
    }
    int usbDevices_ = 0;
};

} // namespace

TEST(PortList, TheLinuxProviderListsSerialDevicesByKernelNameAndSkipsOddEntries)
{
    FakeRoot root;
    ASSERT_FALSE(root.path.empty());
    EXPECT_TRUE(root.Enumerate().empty()); // no trees, no ports

    root.AddUsb("ttyUSB0", "ftdi_sio", "FTDI", "FT232R USB UART", "A50285BI");
    root.AddUsb("ttyUSB1", "ch341-uart", "", "USB Serial"); // a CH340 tells only its product
    root.AddUsb("ttyACM0", "cdc_acm", "Arduino (www.arduino.cc)", "Uno", "7503130323435171F0B1");
    root.AddTty("rfcomm0");
    root.AddTty("ttyS0", "serial8250"); // legacy port without a UART
    root.realUarts[root.Dev("ttyS0")] = false;
    root.AddTty("ttyS4", "serial8250"); // real UART
    // Not serial ports of interest, or odd: skipped.
    root.AddTty("tty1");
    root.AddTty("ttyUSBx");
    fs::create_directories(root.path / "sys/class/tty/ttyUSB3");        // no device link
    fs::create_directories(root.path / "sys/class/tty/ttyUSB4/device"); // no /dev node
    fs::create_directory_symlink(root.path / "nowhere", root.path / "sys/class/tty/ttyUSB5"); // dangling
    // A virtual analyser on a pseudo-terminal, a dangling link and a link elsewhere.
    root.AddPtyLink("ttyUSB9", 3);
    // A device whose node is such a link (relative, so it resolves inside the root) is listed once.
    root.AddUsb("ttyUSB7", "ch341-uart");
    fs::remove(root.path / "dev/ttyUSB7");
    FakeRoot::Touch(root.path / "dev/pts/4");
    fs::create_symlink("pts/4", root.path / "dev/ttyUSB7");
    fs::create_symlink("pts/7", root.path / "dev/ttyACM5");
    fs::create_symlink("/dev/null", root.path / "dev/ttyUSB8");

    const std::vector<PortEntry> entries = root.Enumerate();
    Texts texts;
    for (const PortEntry& e : entries) {
        texts.push_back(e.text);
        // The number leads to the device's full path through the port table.
        const auto found = kestrin::FindPort(e.number);
        EXPECT_EQ(found ? found->path : "", root.Dev(e.text));
        EXPECT_EQ(e.path, root.Dev(e.text));
        EXPECT_EQ(e.preferred, e.text == "ttyUSB0") << e.text;
        EXPECT_EQ(e.usbSerial, e.text.starts_with("ttyUSB") || e.text.starts_with("ttyACM")) << e.text;
    }
    EXPECT_EQ(texts, (Texts{"rfcomm0", "ttyACM0", "ttyS4", "ttyUSB0", "ttyUSB1", "ttyUSB7", "ttyUSB9"}));

    // Each tooltip tells what sysfs knows of the port, and no more.
    std::map<std::string, std::string> tips;
    for (const PortEntry& e : entries)
        tips[e.text] = kestrin::PortToolTip(e);
    EXPECT_EQ(tips["ttyUSB0"], root.Dev("ttyUSB0") +
                                   "\nDriver: ftdi_sio\nManufacturer: FTDI\nProduct: FT232R USB UART\nSerial number: A50285BI");
    EXPECT_EQ(tips["ttyUSB1"], root.Dev("ttyUSB1") + "\nDriver: ch341-uart\nProduct: USB Serial");
    EXPECT_EQ(tips["ttyACM0"], root.Dev("ttyACM0") + "\nDriver: cdc_acm\nManufacturer: Arduino (www.arduino.cc)"
                                                     "\nProduct: Uno\nSerial number: 7503130323435171F0B1");
    EXPECT_EQ(tips["ttyS4"], root.Dev("ttyS4") + "\nDriver: serial8250");
    EXPECT_EQ(tips["rfcomm0"], root.Dev("rfcomm0"));
    EXPECT_EQ(tips["ttyUSB9"], root.Dev("ttyUSB9") + "\nLink to /dev/pts/3");
    EXPECT_EQ(kestrin::PortToolTip(PortEntry{kestrin::SimulatorPortText, kestrin::SimulatorPortNumber}), "");
}

TEST(PortList, AnFtdiPortThenAnotherUsbSerialPortThenTheFirstInTextOrderIsChosen)
{
    const struct {
        std::vector<std::pair<std::string, std::string>> ports; // kernel name, driver
        std::string chosen;
    } cases[] = {
        {{{"ttyS0", "serial8250"}}, "ttyS0"},
        {{{"ttyS0", "serial8250"}, {"ttyUSB0", "ch341-uart"}}, "ttyUSB0"}, // not the empty on-board port
        {{{"ttyS0", "serial8250"}, {"ttyS1", "serial8250"}, {"ttyACM0", "cdc_acm"}}, "ttyACM0"},
        {{{"ttyS0", "serial8250"}, {"ttyUSB0", "ch341-uart"}, {"ttyUSB1", "ftdi_sio"}}, "ttyUSB1"},
        {{{"ttyS0", "serial8250"}, {"ttyUSB0", "ftdi_sio"}, {"ttyUSB1", "ch341-uart"}}, "ttyUSB0"},
        // Of two of a kind the last enumerated, which is not the last in the list.
        {{{"ttyUSB2", "ch341-uart"}, {"ttyUSB10", "ch341-uart"}, {"ttyS0", "serial8250"}}, "ttyUSB2"},
        {{{"ttyUSB2", "ftdi_sio"}, {"ttyUSB10", "ftdi_sio"}, {"ttyUSB3", "ch341-uart"}}, "ttyUSB2"},
        {{}, kestrin::SimulatorPortText},
    };
    for (const auto& c : cases) {
        FakeRoot root;
        for (const auto& [name, driver] : c.ports)
            driver == "serial8250" ? root.AddTty(name, driver) : root.AddUsb(name, driver);
        const kestrin::PortListResult list =
            kestrin::BuildPortList(root.Enumerate(), {{kestrin::SimulatorPortText, kestrin::SimulatorPortNumber}});
        ASSERT_GE(list.selected, 0);
        EXPECT_EQ(list.items[size_t(list.selected)].text, c.chosen) << "with " << c.ports.size() << " ports";
    }
}

#include "platform/PortList_linux.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/PortTable.h"

namespace fs = std::filesystem;

namespace kestrin {

namespace {

bool HasPrefixAndNumber(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool DefaultHasRealUart(const std::string& devicePath)
{
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

// The first line of a small sysfs attribute file, without trailing blanks; empty when
// the file is missing or unreadable.
std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// What sysfs tells about a tty's device: its driver and, for a USB device, the strings
// it reports about itself. The USB device is the nearest folder above the tty's device
// (its interface, or the usb-serial port below that) with an idVendor file.
void DescribeDevice(PortEntry& port, const fs::path& device, const fs::path& sysRoot)
{
    std::error_code ec;
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec)
        port.driver = driver.filename().string();
    const fs::path top = fs::weakly_canonical(sysRoot, ec);
    fs::path dir = fs::canonical(device, ec);
    if (ec || top.empty())
        return;
    for (int depth = 0; depth < 8 && dir != top && dir.has_relative_path(); ++depth, dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec))
            continue;
        port.manufacturer = ReadAttribute(dir / "manufacturer");
        port.product = ReadAttribute(dir / "product");
        port.serialNumber = ReadAttribute(dir / "serial");
        return;
    }
}

// Sorted directory listing; an unreadable directory gives nothing.
std::vector<std::string> ListNames(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec)
        return names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::unique_ptr<PortProvider> MakeSystemPortProvider()
{
    return std::make_unique<LinuxPortProvider>();
}

LinuxPortProvider::LinuxPortProvider(std::string root, int firstNumber)
    : hasRealUart(DefaultHasRealUart), root_(root.empty() ? std::string(1, '/') : std::move(root)),
      firstNumber_(firstNumber)
{
}

std::vector<PortEntry> LinuxPortProvider::Enumerate()
{
    std::vector<PortEntry> ports;
    const fs::path root(root_);
    int number = firstNumber_;
    std::error_code ec;

    std::set<std::string> listed;
    // A port by its kernel name; a ttyUSB or ttyACM name is a USB serial port.
    auto add = [&](const std::string& name, PortEntry e) {
        e.text = name;
        e.number = number++;
        e.usbSerial = HasPrefixAndNumber(name, "ttyUSB") || HasPrefixAndNumber(name, "ttyACM");
        e.path = (root / "dev" / name).string();
        SetPortPath(e.number, e.path);
        listed.insert(name);
        ports.push_back(std::move(e));
    };

    const fs::path classDir = root / "sys" / "class" / "tty";
    for (const std::string& name : ListNames(classDir)) {
        const bool uartKind = HasPrefixAndNumber(name, "ttyS");
        if (!uartKind && !HasPrefixAndNumber(name, "ttyUSB") && !HasPrefixAndNumber(name, "ttyACM")
            && !HasPrefixAndNumber(name, "ttyAMA") && !HasPrefixAndNumber(name, "rfcomm"))
            continue;
        const fs::path device = classDir / name / "device";
        if (!fs::exists(device, ec))
            continue;
        const fs::path node = root / "dev" / name;
        if (!fs::exists(node, ec))
            continue;
        if (uartKind && !(hasRealUart && hasRealUart(node.string())))
            continue;
        PortEntry port;
        DescribeDevice(port, device, root / "sys");
        port.preferred = port.driver == "ftdi_sio";
        add(name, std::move(port));
    }

    // Pseudo-terminals presented under a serial device name, e.g. by socat.
    const fs::path devDir = root / "dev";
    for (const std::string& name : ListNames(devDir)) {
        if ((!HasPrefixAndNumber(name, "ttyUSB") && !HasPrefixAndNumber(name, "ttyACM")) || listed.count(name) != 0)
            continue;
        const fs::path link = devDir / name;
        if (!fs::is_symlink(fs::symlink_status(link, ec)))
            continue;
        const fs::path target = fs::read_symlink(link, ec);
        if (ec)
            continue;
        // An absolute target is read inside the root; a relative one from /dev.
        const fs::path absolute = target.is_absolute() ? fs::path("/") / target.relative_path()
                                                       : (fs::path("/dev") / target).lexically_normal();
        const std::string text = absolute.string();
        if (text.rfind("/dev/pts/", 0) != 0 || !HasPrefixAndNumber(absolute.filename().string(), ""))
            continue;
        if (!fs::exists(root / absolute.relative_path(), ec))
            continue;
        PortEntry port;
        port.linkTarget = text;
        add(name, std::move(port));
    }
    return ports;
}

} // namespace kestrin

#include "platform/PortList_linux.h"

#include <algorithm>
#include <filesystem>
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

    auto add = [&](const std::string& name, bool preferred) {
        PortEntry e;
        e.text = "/dev/" + name;
        e.number = number++;
        e.preferred = preferred;
        SetPortPath(e.number, (root / "dev" / name).string());
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
        bool preferred = false;
        const fs::path driver = fs::read_symlink(device / "driver", ec);
        if (!ec)
            preferred = driver.filename() == "ftdi_sio";
        add(name, preferred);
    }

    // Pseudo-terminals presented under a serial device name, e.g. by socat.
    const fs::path devDir = root / "dev";
    for (const std::string& name : ListNames(devDir)) {
        if (!HasPrefixAndNumber(name, "ttyUSB") && !HasPrefixAndNumber(name, "ttyACM"))
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
        add(name, false);
    }
    return ports;
}

} // namespace kestrin

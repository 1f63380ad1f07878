#include "PortTable.h"

#include <map>
#include <mutex>

namespace kestrin {
namespace {
std::mutex tableMutex;
std::map<int, PortTableEntry>& Table()
{
    static std::map<int, PortTableEntry> table;
    return table;
}
} // namespace

void SetPortPath(int number, std::string path)
{
    std::lock_guard lock(tableMutex);
    Table()[number] = PortTableEntry{std::move(path), {}};
}

void SetVirtualPort(int number, VirtualPortFactory factory)
{
    std::lock_guard lock(tableMutex);
    Table()[number] = PortTableEntry{{}, std::move(factory)};
}

void RemovePort(int number)
{
    std::lock_guard lock(tableMutex);
    Table().erase(number);
}

std::optional<PortTableEntry> FindPort(int number)
{
    std::lock_guard lock(tableMutex);
    auto it = Table().find(number);
    if (it == Table().end())
        return std::nullopt;
    return it->second;
}

} // namespace kestrin

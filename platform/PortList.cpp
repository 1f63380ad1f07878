#include "platform/PortList.h"

#include <algorithm>

namespace kestrin {

PortListResult BuildPortList(std::vector<PortEntry> entries, const std::vector<PortEntry>& trailing,
                             const std::string& keep)
{
    // The last enumerated port of each preferred kind.
    const PortEntry* preferred = nullptr;
    const PortEntry* usbSerial = nullptr;
    for (const PortEntry& e : entries) {
        if (e.preferred)
            preferred = &e;
        else if (e.usbSerial)
            usbSerial = &e;
    }
    const PortEntry* choice = preferred != nullptr ? preferred : usbSerial;
    const std::string choiceText = choice != nullptr ? choice->text : std::string();

    PortListResult result;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PortEntry& a, const PortEntry& b) {
                         return (a.sortKey.empty() ? a.text : a.sortKey) < (b.sortKey.empty() ? b.text : b.sortKey);
                     });
    result.items = std::move(entries);
    result.items.insert(result.items.end(), trailing.begin(), trailing.end());
    if (result.items.empty())
        return result;
    const auto indexOf = [&](const std::string& text) {
        for (size_t i = 0; i < result.items.size(); ++i)
            if (result.items[i].text == text)
                return static_cast<int>(i);
        return -1;
    };
    result.selected = keep.empty() ? -1 : indexOf(keep);
    if (result.selected < 0 && !choiceText.empty())
        result.selected = indexOf(choiceText);
    if (result.selected < 0)
        result.selected = 0;
    return result;
}

std::string PortToolTip(const PortEntry& port)
{
    std::string tip;
    const auto line = [&tip](const char* label, const std::string& value) {
        if (value.empty())
            return;
        if (!tip.empty())
            tip += '\n';
        tip += label;
        tip += value;
    };
    line("", port.path);
    line("Driver: ", port.driver);
    line("Manufacturer: ", port.manufacturer);
    line("Product: ", port.product);
    line("Serial number: ", port.serialNumber);
    line("Link to ", port.linkTarget);
    return tip;
}

} // namespace kestrin

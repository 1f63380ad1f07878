#include "platform/PortList.h"

#include <algorithm>

namespace kestrin {

PortListResult BuildPortList(std::vector<PortEntry> entries, const std::vector<PortEntry>& trailing)
{
    PortListResult result;
    std::string preferredText;
    bool havePreferred = false;
    for (const PortEntry& e : entries) {
        if (e.preferred) {
            preferredText = e.text;
            havePreferred = true;
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.text < b.text; });
    result.items = std::move(entries);
    result.items.insert(result.items.end(), trailing.begin(), trailing.end());
    if (result.items.empty())
        return result;
    result.selected = 0;
    if (havePreferred) {
        for (size_t i = 0; i < result.items.size(); ++i) {
            if (result.items[i].text == preferredText) {
                result.selected = static_cast<int>(i);
                break;
            }
        }
    }
    return result;
}

} // namespace kestrin

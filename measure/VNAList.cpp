#include "measure/VNAList.h"

#include <stdexcept>
#include <string>

TVNAList::~TVNAList()
{
    ClearEntries();
}

TVNAEntry* TVNAList::NewEntry()
{
    auto* entry = new TVNAEntry();
    AddEntry(entry);
    return entry;
}

int32_t TVNAList::AddEntry(TVNAEntry* entry)
{
    items_.push_back(entry);
    return static_cast<int32_t>(items_.size() - 1);
}

void TVNAList::ClearEntries()
{
    while (!items_.empty()) {
        delete items_.back();
        items_.pop_back();
    }
}

TVNAEntry* TVNAList::GetEntry(int32_t index) const
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)];
}

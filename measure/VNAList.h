#pragma once
// One computed sample of the shown sweep, and the list that owns them (element i is sample i).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "measure/Extended.h"

class TVNAEntry {
public:
    int32_t RawRL = 0;     // raw return-loss count, 0..1023
    int32_t RawPhase = 0;  // raw phase count, 0..1023
    Extended FreqMHz = 0;
    Extended Rho = 0;      // |reflection coefficient|
    Extended PhaseDeg = 0; // never negative
    Extended SWR = 0;
    Extended RLdB = 0;     // calibration offset included
    Extended Xs = 0;       // |series reactance|, ohm
    Extended Rs = 0;       // |series resistance|, ohm
    Extended Z = 0;        // |impedance|, ohm
    Extended LuH = 0;
    Extended CpF = 0;
    Extended Q = 0;
};

// Owns its entries: clearing or destroying the list frees them, from the last index down.
class TVNAList {
public:
    TVNAList() = default;
    ~TVNAList();
    TVNAList(const TVNAList&) = delete;
    TVNAList& operator=(const TVNAList&) = delete;

    // Creates an all-zero entry, appends it and returns it; the list owns it.
    TVNAEntry* NewEntry();
    // Appends an entry (taking ownership) and returns its index.
    int32_t AddEntry(TVNAEntry* entry);
    void ClearEntries();
    // Throws std::out_of_range for an index outside 0..Count()-1.
    TVNAEntry* GetEntry(int32_t index) const;
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // Capacity is kept across ClearEntries, so a rebuild of the same size allocates no slots.
    void Reserve(int32_t count) { items_.reserve(static_cast<size_t>(count)); }

private:
    std::vector<TVNAEntry*> items_;
};

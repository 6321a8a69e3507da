#pragma once
// Follows the chip's tables change by change, through the chip's entry observer, so that the
// player can say what a step changed at the cost of what it changed, however full the chip is.

#include "chip/Chip.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace Scenario {

// An entry in readable form without its hit bits: what the table holds, not what used it.
std::string contentStr(const VyrP4::TableEngine& table, VyrP4::EntryView entry);

class ChipJournal {
public:
    // Observes `chip` (not owned) until destroyed.
    explicit ChipJournal(VyrP4::Chip& chip);
    ~ChipJournal();
    ChipJournal(const ChipJournal&) = delete;
    ChipJournal& operator=(const ChipJournal&) = delete;

    // The entries removed ("  - table  entry") and added ("  + table  entry") since the last
    // call, by table name, then entry; what came and went in between shows nothing. Empty when
    // nothing changed. Beyond `most` lines of one table and sign, one line counts the rest.
    std::string takeChanges(std::size_t most = SIZE_MAX);
    bool changed() const { return !pending_.empty(); }

    // Totals since the journal began.
    std::size_t written() const { return written_; } // entries added or replaced
    std::size_t removed() const { return removed_; }
    std::size_t refused() const { return refused_; } // writes the chip refused

private:
    void note(const VyrP4::TableEngine& table, const VyrP4::EntryView& entry, int delta);

    VyrP4::Chip& chip_;
    // Per table, per entry text: how many more there are than at the last takeChanges().
    std::map<std::string, std::map<std::string, int>> pending_;
    std::size_t written_ = 0;
    std::size_t removed_ = 0;
    std::size_t refused_ = 0;
};

} // namespace Scenario

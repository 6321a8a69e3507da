#include "tools/scenario/ChipJournal.h"

namespace Scenario {

ChipJournal::ChipJournal(VyrP4::Chip& chip) : chip_(chip) {
    chip_.entryObserverIs([this](const VyrP4::TableEngine& table, VyrP4::EntryChange change,
                                 const VyrP4::EntryView* before, const VyrP4::EntryView* after) {
        switch (change) {
        case VyrP4::EntryChange::added:
        case VyrP4::EntryChange::replaced:
            ++written_;
            break;
        case VyrP4::EntryChange::removed:
            ++removed_;
            break;
        case VyrP4::EntryChange::refused:
            ++refused_;
            break;
        case VyrP4::EntryChange::hit:
            // Hit bits come and go with traffic and scans; the journal tells contents.
            return;
        }
        if (before) {
            note(table, *before, -1);
        }
        if (after) {
            note(table, *after, +1);
        }
    });
}

std::string contentStr(const VyrP4::TableEngine& table, VyrP4::EntryView entry) {
    entry.hit = false;
    entry.hitPipes = 0;
    return table.entryStr(entry);
}

ChipJournal::~ChipJournal() {
    chip_.entryObserverIs(nullptr);
}

void ChipJournal::note(const VyrP4::TableEngine& table, const VyrP4::EntryView& entry, int delta) {
    auto& entries = pending_[table.name()];
    auto [it, added] = entries.try_emplace(contentStr(table, entry), 0);
    if ((it->second += delta) == 0) {
        entries.erase(it);
        if (entries.empty()) {
            pending_.erase(table.name());
        }
    }
}

std::string ChipJournal::takeChanges(std::size_t most) {
    std::string out;
    for (const auto& [table, entries] : pending_) {
        for (const char* sign : {"-", "+"}) {
            std::size_t lines = 0;
            for (const auto& [entry, delta] : entries) {
                const int n = *sign == '-' ? -delta : delta;
                for (int i = 0; i < n; ++i, ++lines) {
                    if (lines < most) {
                        out += std::string("  ") + sign + " " + table + "  " + entry + "\n";
                    }
                }
            }
            if (lines > most) {
                out += std::string("  ") + sign + " " + table + "  (" +
                       std::to_string(lines - most) + " more entries; --dump lists them)\n";
            }
        }
    }
    pending_.clear();
    return out;
}

} // namespace Scenario

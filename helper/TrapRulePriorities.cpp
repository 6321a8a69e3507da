#include "helper/TrapRulePriorities.h"

#include "host/Assert.h"

#include <algorithm>
#include <cstdlib>

namespace VyrNat {

std::string PrevAndNextHwPrio::str() const {
    return "Value('VyrNat::PrevAndNextHwPrio', ** {'prevHwPrio': " + std::to_string(prevHwPrio) +
           ", 'nextHwPrio': " + std::to_string(nextHwPrio) + "})";
}

std::string TrapRulePrioAndName::str() const {
    return "Value('VyrNat::TrapRulePrioAndName', ** {'prio': " + std::to_string(prio) +
           ", 'name': " + name + "})";
}

bool TrapRulePriorities::checkHwPriorityResourcesFull() const {
    return fixed_.size() + mapped_.size() == hwPriorityNumResources_;
}

PrevAndNextHwPrio TrapRulePriorities::getPrevAndNextHwPrio(uint32_t priority) const {
    PrevAndNextHwPrio out{hwPriorityFixedRangeEnd, -1};
    for (const auto& [prio, block] : mapped_) {
        if (prio < priority) {
            out.prevHwPrio = int32_t(block);
        } else if (prio > priority) {
            out.nextHwPrio = int32_t(block);
            break;
        }
    }
    return out;
}

bool TrapRulePriorities::respreadNeeded(uint32_t priority) const {
    if (priority <= priorityFixedRangeEnd || mapped_.count(priority) ||
        checkHwPriorityResourcesFull()) {
        return false;
    }
    const PrevAndNextHwPrio n = getPrevAndNextHwPrio(priority);
    return std::abs(n.nextHwPrio - n.prevHwPrio) < 2;
}

std::optional<uint32_t> TrapRulePriorities::blockOf(uint32_t priority) {
    auto& blocks = priority <= priorityFixedRangeEnd ? fixed_ : mapped_;
    if (auto it = blocks.find(priority); it != blocks.end()) {
        return it->second;
    }
    if (checkHwPriorityResourcesFull()) {
        return std::nullopt;
    }
    uint32_t block;
    if (priority <= priorityFixedRangeEnd) {
        block = numAclPrioritySupported_ - 1 - priority;
    } else {
        const PrevAndNextHwPrio n = getPrevAndNextHwPrio(priority);
        block = uint32_t((n.prevHwPrio + n.nextHwPrio) / 2); // toward zero
    }
    blocks[priority] = block;
    return block;
}

std::vector<TrapRulePriorities::Move> TrapRulePriorities::respread() {
    std::vector<Move> moves;
    const auto step = uint32_t(hwPriorityFixedRangeEnd) / uint32_t(mapped_.size() + 1);
    uint32_t block = uint32_t(hwPriorityFixedRangeEnd) - 1;
    for (auto& [prio, b] : mapped_) {
        if (prio <= priorityFixedRangeEnd) {
            continue;
        }
        block -= step;
        moves.push_back({prio, b, block});
        b = block;
    }
    return moves;
}

std::vector<TrapRulePriorities::Move> TrapRulePriorities::safeOrder(std::vector<Move> moves) {
    // Blocks fall as priorities rise. A rule going up passes only blocks that rules above it
    // have left already when those go up first; one going down, those that rules below it left.
    std::stable_partition(moves.begin(), moves.end(), [](const Move& m) { return m.to > m.from; });
    auto firstDown =
        std::find_if(moves.begin(), moves.end(), [](const Move& m) { return m.to <= m.from; });
    std::sort(moves.begin(), firstDown,
              [](const Move& a, const Move& b) { return a.prio < b.prio; });
    std::sort(firstDown, moves.end(), [](const Move& a, const Move& b) { return a.prio > b.prio; });
    return moves;
}

void TrapRulePriorities::userIs(uint32_t priority, const std::string& acl) {
    users_[priority].insert({priority, acl});
}

void TrapRulePriorities::userDel(uint32_t priority, const std::string& acl) {
    auto it = users_.find(priority);
    if (it == users_.end()) {
        return;
    }
    it->second.erase({priority, acl});
    if (it->second.empty()) {
        users_.erase(it);
        fixed_.erase(priority);
        mapped_.erase(priority);
    }
}

} // namespace VyrNat

#pragma once
// Hardware priorities of CPU trap rules. A rule's ACL priority (smaller wins) gets a block of
// hardware priorities (higher wins), and the rule's sequence number a slot in it: priorities up
// to 1023 have fixed blocks at the top; greater ones take a block halfway between their
// neighbours below 15360, and when two neighbours leave no room between them every such block
// is spread out again. Only so many blocks may be in use at once.

#include "host/Trace.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace VyrNat {

struct PrevAndNextHwPrio {
    int32_t prevHwPrio = 0;
    int32_t nextHwPrio = 0;
    bool operator==(const PrevAndNextHwPrio&) const = default;
    std::string str() const;
};

struct TrapRulePrioAndName {
    uint32_t prio = 0;
    std::string name;
    explicit operator bool() const { return !name.empty(); }
    auto operator<=>(const TrapRulePrioAndName&) const = default;
    std::string str() const;
};

class TrapRulePriorities {
public:
    static constexpr uint32_t priorityFixedRangeEnd = 1023;
    static constexpr int32_t hwPriorityFixedRangeEnd = 15360;

    uint32_t numAclPrioritySupported() const { return numAclPrioritySupported_; }
    void numAclPrioritySupportedIs(uint32_t n) { numAclPrioritySupported_ = n; }
    uint32_t hwPriorityNumResources() const { return hwPriorityNumResources_; }
    void hwPriorityNumResourcesIs(uint32_t n) { hwPriorityNumResources_ = n; }

    // Rule priority -> block, for the priorities in use.
    const std::map<uint32_t, uint32_t>& prioToHwPriorityFixed() const { return fixed_; }
    const std::map<uint32_t, uint32_t>& prioToHwPriorityMapped() const { return mapped_; }
    // The ACLs using each priority.
    const std::map<uint32_t, std::set<TrapRulePrioAndName>>& prioToTrapRulePrioAndName() const {
        return users_;
    }

    bool checkHwPriorityResourcesFull() const;
    PrevAndNextHwPrio getPrevAndNextHwPrio(uint32_t priority) const;
    // The block of `priority`, taken when it has none; nullopt when no block is free. A mapped
    // priority without room between its neighbours needs a respread first: `respreadNeeded`.
    std::optional<uint32_t> blockOf(uint32_t priority);
    bool respreadNeeded(uint32_t priority) const;
    // New blocks for every mapped priority, evenly spread below the fixed ones in the same
    // order; returns (priority, old block, new block) of each, in ascending priority. Recorded.
    struct Move {
        uint32_t prio;
        uint32_t from;
        uint32_t to;
    };
    std::vector<Move> respread();
    // The order in which moves keep every rule's entries between those of its neighbours: the
    // rules going up, highest first, then the rules going down, lowest first.
    static std::vector<Move> safeOrder(std::vector<Move> moves);

    // An ACL uses / stops using a priority; the last user frees its block.
    void userIs(uint32_t priority, const std::string& acl);
    void userDel(uint32_t priority, const std::string& acl);

private:
    uint32_t numAclPrioritySupported_ = 16383;
    uint32_t hwPriorityNumResources_ = 1024;
    std::map<uint32_t, uint32_t> fixed_;
    std::map<uint32_t, uint32_t> mapped_;
    std::map<uint32_t, std::set<TrapRulePrioAndName>> users_;
};

} // namespace VyrNat

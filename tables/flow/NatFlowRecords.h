#pragma once
// The NAT flow manager's records: the flows by their policy rule, and every hardware entry by
// what the chip matches, with the flow that owns it.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace VyrNat {

// One flow: a match rule of a policy, in a NAT profile.
struct HwNatFlowKey {
    uint16_t profile = 0;
    std::string policy;
    std::string match;

    auto operator<=>(const HwNatFlowKey&) const = default;
    // "Value('VyrNat::HwNatFlowKey', ** {'profile': %u, 'policy': '%s', 'match': '%s'})"
    std::string str() const;
};

// One hardware entry, as the ternary table compares it: every value is held under its mask
// (prefixes by their masked address), so that two spellings of one match are one key.
struct HwNatFlowMatchSpecKey {
    uint8_t uc = 0;
    uint8_t mc = 0;
    uint8_t ucMcMask = 0;
    uint16_t profile = 0;
    Ip::Prefix sip;
    Ip::Prefix dip;
    uint16_t srcPort = 0;
    uint16_t srcPortMask = 0;
    uint16_t dstPort = 0;
    uint16_t dstPortMask = 0;
    uint8_t protocol = 0; // 0: any protocol

    bool operator==(const HwNatFlowMatchSpecKey&) const = default;
    std::string str() const;
};

struct HwNatFlowMatchSpecKeyHash {
    std::size_t operator()(const HwNatFlowMatchSpecKey& k) const noexcept;
};

// The hardware entries one flow wrote, with the match spec of each.
class HwNatFlowEntry {
public:
    using Entries = std::unordered_map<HwNatFlowMatchSpecKey, VyrP4::NatFlowMatchSpec,
                                       HwNatFlowMatchSpecKeyHash>;

    const Entries& entry() const { return entry_; }
    void entryIs(const HwNatFlowMatchSpecKey& key, const VyrP4::NatFlowMatchSpec& ms) {
        entry_.insert_or_assign(key, ms);
    }
    void entryDel(const HwNatFlowMatchSpecKey& key) { entry_.erase(key); }
    void entryDelAll() { entry_.clear(); }
    void entryReserve(std::size_t n) { entry_.reserve(entry_.size() + n); }

private:
    Entries entry_;
};

} // namespace VyrNat

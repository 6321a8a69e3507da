#include "tables/flow/NatFlowRecords.h"

#include "host/Format.h"

namespace VyrNat {

std::string HwNatFlowKey::str() const {
    return Host::format("Value('VyrNat::HwNatFlowKey', ** {'profile': %u, 'policy': '%s', "
                        "'match': '%s'})",
                        profile, policy, match);
}

std::string HwNatFlowMatchSpecKey::str() const {
    return Host::format("Value('VyrNat::HwNatFlowMatchSpecKey', ** {'uc': %u, 'mc': %u, "
                        "'ucMcMask': %u, 'profile': %u, 'sip': %s, 'dip': %s, 'srcPort': %u, "
                        "'srcPortMask': %u, 'dstPort': %u, 'dstPortMask': %u, 'protocol': %u})",
                        uc, mc, ucMcMask, profile, sip.toString(), dip.toString(), srcPort,
                        srcPortMask, dstPort, dstPortMask, protocol);
}

std::size_t HwNatFlowMatchSpecKeyHash::operator()(const HwNatFlowMatchSpecKey& k) const noexcept {
    // Every field packed into three words, each mixed by an odd multiplier of its own.
    const uint64_t addrs = uint64_t(k.sip.addr.value) << 32 | k.dip.addr.value;
    const uint64_t rest = uint64_t(k.profile) << 40 | uint64_t(k.protocol) << 32 |
                          uint64_t(k.sip.len) << 24 | uint64_t(k.dip.len) << 16 |
                          uint64_t(k.uc) << 2 | uint64_t(k.mc) << 1 | k.ucMcMask;
    const uint64_t ports = uint64_t(k.srcPort) << 48 | uint64_t(k.srcPortMask) << 32 |
                           uint64_t(k.dstPort) << 16 | k.dstPortMask;
    uint64_t h = addrs * 0x9e3779b97f4a7c15ull ^ rest * 0xbf58476d1ce4e5b9ull ^
                 ports * 0x94d049bb133111ebull;
    return std::size_t(h ^ (h >> 31));
}

} // namespace VyrNat

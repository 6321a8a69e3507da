// The "natCpuTrapAcl" entries of the dynamic NAT rules and of the overload reverse traps, their
// helper entries, and their moves to other blocks of hardware priorities.

#include "tables/dynamic/NatCpuTrapAcl.h"

#include "common/TableWrite.h"
#include "host/Assert.h"
#include "host/Format.h"
#include "host/Trace.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <ios>

namespace VyrNat {

namespace {

constexpr uint32_t kProfileMask = 0xfff;
constexpr uint8_t kTcp = 6;
constexpr uint8_t kUdp = 17;

// The match of a trap entry on `profile` in the first or the second profile field.
VyrP4::NatCpuTrapAclMatchSpec trapMatch(uint16_t profile, bool secondProfile) {
    VyrP4::NatCpuTrapAclMatchSpec ms;
    ms.ingMdIngNatProfileIdIs(secondProfile ? 0 : profile, secondProfile ? 0 : kProfileMask);
    ms.ingMdEgrNatProfileIdIs(secondProfile ? profile : 0, secondProfile ? kProfileMask : 0);
    return ms;
}

// OnMiss for a deny rule; otherwise a trap which, in a software data plane, says which profile
// field the entry matches.
VyrP4::NatCpuTrapAclTable::Action trapAction(bool deny, bool natDpdk, bool secondProfile) {
    if (deny) {
        return VyrP4::OnMissActionSpec();
    }
    VyrP4::SetNatCpuTrapActionSpec a;
    if (natDpdk) {
        a.trapDirEgrIs(secondProfile);
        a.trapDirIngIs(!secondProfile);
    }
    return a;
}

} // namespace

std::string HwNatCpuTrapAclKey::str() const {
    return Host::format("Value('VyrNat::HwNatCpuTrapAclKey', ** {'acl': %s, 'group': %u, "
                        "'profile': %u})",
                        acl, group, profile);
}

std::strong_ordering HwNatCpuTrapAclKey::operator<=>(const HwNatCpuTrapAclKey& o) const {
    if (auto c = acl <=> o.acl; c != 0) {
        return c;
    }
    if (auto c = profile <=> o.profile; c != 0) {
        return c;
    }
    return group <=> o.group;
}

void HwNatCpuTrapAcl::trapAclEntriesDel(const VyrP4::NatCpuTrapAclMatchSpec& ms) {
    std::erase_if(entries_, [&](const HwNatCpuTrapAclEntry& e) { return e.matchSpec == ms; });
}

const VyrP4::NatCpuTrapAclMatchSpec* HwNatCpuTrapAclOverload::entry(const IntfId& intf) const {
    auto it = entries_.find(intf);
    return it == entries_.end() ? nullptr : &it->second;
}

const HwNatCpuTrapAcl* VyrNatTableMgrDynamic::hwNatCpuTrapAcl(const HwNatCpuTrapAclKey& key) const {
    auto it = hwNatCpuTrapAcl_.find(key);
    return it == hwNatCpuTrapAcl_.end() ? nullptr : &it->second;
}

bool VyrNatTableMgrDynamic::createNatCpuTrapAcl(
    const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo, uint8_t protocol,
    IpAddrWithFullMask src, IpAddrWithFullMask dst, uint16_t sport, uint16_t sportMask,
    uint16_t dport, uint16_t dportMask, int32_t priority, bool deny, bool reverse) {
    VTRACE(dynamicTrace, 5,
           "createNatCpuTrapAcl"
               << " acl: " << key.acl << ", group: " << key.group
               << ", profile: " << trapInfo.profileId << ", proto: " << unsigned(protocol)
               << ", src: " << src.toString() << ", dst: " << dst.toString() << ", sport: " << sport
               << "/0x" << std::hex << sportMask << std::dec << ", dport: " << dport << "/0x"
               << std::hex << dportMask << std::dec << ", priorityHw: " << priority
               << ", deny: " << deny << ", reverse: " << reverse);
    VYR_ASSERT(natCpuTrapAclTable());
    const uint16_t profile = uint16_t(trapInfo.profileId);
    // A forward rule of a destination translation, or a reverse rule of a source translation,
    // matches the second profile field.
    const bool secondProfile = trapInfo.ingress() != reverse;
    VyrP4::NatCpuTrapAclMatchSpec ms = trapMatch(profile, secondProfile);
    ms.outerIpv4HdrProtocolIs(protocol, protocol ? 0xff : 0);
    ms.outerIpv4HdrSipIs(src.addr.value, src.mask);
    ms.outerIpv4HdrDipIs(dst.addr.value, dst.mask);
    ms.l4PortHdrSrcPortIs(sport, sportMask);
    ms.l4PortHdrDstPortIs(dport, dportMask);
    ms.ingMdNatRvsTrapIs(0, 0);
    ms.priorityIs(priority);
    // Added, never written over: an entry with this match belongs to a rule already, which
    // would lose it with this one's delete.
    if (WriteRefusal refused = tableWriteRefused(
            [&] { natCpuTrapAcl_->entryAdd(ms, trapAction(deny, natDpdk_, secondProfile)); })) {
        VTRACE(dynamicTrace, 1, "createNatCpuTrapAcl: " << refused.reason());
        refusalIs(refused);
        return false;
    }
    HwNatCpuTrapAclEntry trapAclEntry{
        ms,        src,       dst,
        sport,     sportMask, dport,
        dportMask, protocol,  dynFullConeSupported_ && trapInfo.fullCone && !deny,
        reverse,   deny};
    if (!trapHelperEntryIs(trapAclEntry, profile, priority)) {
        // Without its helper entry the rule's connections would not match what it traps: the
        // rule is not programmed, and its trap entry goes again.
        natCpuTrapAcl_->entryDel(ms);
        return false;
    }
    HwNatCpuTrapAcl& aclEntries = hwNatCpuTrapAcl_[{key.acl, key.group, profile}];
    aclEntries.trapAclEntriesIs(std::move(trapAclEntry));
    return true;
}

void VyrNatTableMgrDynamic::deleteNatCpuTrapAcl(const HwNatCpuTrapAclKey& key) {
    VTRACE(dynamicTrace, 5, "deleteNatCpuTrapAcl " << key.str());
    auto it = hwNatCpuTrapAcl_.find(key);
    if (it == hwNatCpuTrapAcl_.end()) {
        VTRACE(dynamicTrace, 1, "deleteNatCpuTrapAcl: No acl entries");
        return;
    }
    VYR_ASSERT(natCpuTrapAclTable());
    for (const HwNatCpuTrapAclEntry& e : it->second.trapAclEntries()) {
        VYR_CHECK(natCpuTrapAcl_->entry(e.matchSpec), "matchSpec");
        natCpuTrapAcl_->entryDel(e.matchSpec);
        trapHelperEntryDel(e, key.profile);
    }
    it->second.trapAclEntriesDelAll();
    hwNatCpuTrapAcl_.erase(it);
}

bool VyrNatTableMgrDynamic::snatAclTrapped(const HwNatCpuTrapAclEntry& e) const {
    return !e.reverse && dynamicSnatAclHelper_ && dynamicSnatAclHelper_->dynamicSnatAclTable();
}

bool VyrNatTableMgrDynamic::fullConeTrapped(const HwNatCpuTrapAclEntry& e) const {
    return e.reverse && e.fullCone && dynamicFullConeHelper_ &&
           dynamicFullConeHelper_->dynamicFullConeTable();
}

bool VyrNatTableMgrDynamic::trapHelperEntryIs(const HwNatCpuTrapAclEntry& e, uint16_t profile,
                                              int32_t priority) {
    if (snatAclTrapped(e) && !dynamicSnatAclHelper_->createDynamicSnatAclEntry(
                                 profile, e.src, e.dst, e.protocol, e.sport, e.sportMask, e.dport,
                                 e.dportMask, priority, e.deny, e.fullCone)) {
        refusalIs(dynamicSnatAclHelper_->refusal());
        return false;
    }
    if (fullConeTrapped(e) &&
        !dynamicFullConeHelper_->createDynamicFullConeEntry(profile, e.dport, e.dportMask, e.dst,
                                                            e.protocol ? e.protocol : kUdp)) {
        refusalIs(dynamicFullConeHelper_->refusal());
        return false;
    }
    return true;
}

void VyrNatTableMgrDynamic::trapHelperEntryDel(const HwNatCpuTrapAclEntry& e, uint16_t profile) {
    if (snatAclTrapped(e)) {
        dynamicSnatAclHelper_->deleteDynamicSnatAclEntry(profile, e.src, e.dst, e.protocol, e.sport,
                                                         e.sportMask, e.dport, e.dportMask);
    }
    if (fullConeTrapped(e)) {
        dynamicFullConeHelper_->deleteDynamicFullConeEntry(profile, e.dst, e.dport, e.dportMask,
                                                           e.protocol ? e.protocol : kUdp);
    }
}

bool VyrNatTableMgrDynamic::createNatCpuTrapAclOverload(uint32_t overloadId, const IntfId& intf,
                                                        IpAddr addr, int32_t priority) {
    VTRACE(dynamicTrace, 5,
           "createNatCpuTrapAclOverload"
               << " id: " << overloadId << ", intf: " << intf << ", addr: " << addr.toString()
               << ", priorityHw: " << priority);
    VYR_ASSERT(natCpuTrapAclTable());
    VyrP4::NatCpuTrapAclMatchSpec ms = trapMatch(uint16_t(overloadId), true);
    ms.ingMdNatRvsTrapIs(1, 1);
    ms.l4PortHdrDstPortIs(0, 0);
    ms.l4PortHdrSrcPortIs(0, 0);
    ms.outerIpv4HdrDipIs(addr.value, 0xffffffff);
    ms.outerIpv4HdrProtocolIs(kTcp, 0xff);
    ms.outerIpv4HdrSipIs(0, 0);
    ms.priorityIs(priority);
    std::optional<VyrP4::NatCpuTrapAclMatchSpec> old;
    if (auto it = hwNatCpuTrapAclOverload_.find(overloadId); it != hwNatCpuTrapAclOverload_.end()) {
        if (const auto* had = it->second.entry(intf)) {
            old = *had;
        }
    }
    if (old == ms) {
        return true;
    }
    if (WriteRefusal refused = tableWriteRefused(
            [&] { natCpuTrapAcl_->entryAdd(ms, trapAction(false, natDpdk_, true)); })) {
        VTRACE(dynamicTrace, 1, "createNatCpuTrapAclOverload: " << refused.reason());
        refusalIs(refused);
        return false;
    }
    // An interface whose address changed still traps its old address: that entry goes once the
    // new one is in, rather than being forgotten in the chip.
    if (old) {
        natCpuTrapAcl_->entryDel(*old);
    }
    HwNatCpuTrapAclOverload& overloadEntry = hwNatCpuTrapAclOverload_[overloadId];
    overloadEntry.entryIs(intf, ms);
    return true;
}

void VyrNatTableMgrDynamic::deleteNatCpuTrapAclOverload(uint32_t overloadId, const IntfId& intf) {
    VTRACE(dynamicTrace, 5, "deleteNatCpuTrapAclOverload id: " << overloadId << ", intf: " << intf);
    auto it = hwNatCpuTrapAclOverload_.find(overloadId);
    const auto* ms = it == hwNatCpuTrapAclOverload_.end() ? nullptr : it->second.entry(intf);
    if (!ms) {
        VTRACE(dynamicTrace, 1, "deleteNatCpuTrapAclOverload: Overload entry not found");
        return;
    }
    VYR_ASSERT(natCpuTrapAclTable());
    natCpuTrapAcl_->entryDel(*ms);
    it->second.entryDel(intf);
    if (it->second.entry().empty()) {
        hwNatCpuTrapAclOverload_.erase(it);
    }
}

std::optional<VyrP4::NatCpuTrapAclMatchSpec>
VyrNatTableMgrDynamic::natCpuTrapAclUpdatePriority(const VyrP4::NatCpuTrapAclMatchSpec& ms,
                                                   int32_t priority) {
    VYR_ASSERT(natCpuTrapAclTable());
    const auto entryOld = natCpuTrapAcl_->entry(ms);
    VYR_CHECK(entryOld, "entryOld.match()");
    if (ms.priority() == priority) {
        return ms;
    }
    VyrP4::NatCpuTrapAclMatchSpec moved = ms;
    moved.priorityIs(priority);
    // The new entry first, so that matching traffic always finds one of them.
    VTRACE(dynamicTrace, 5,
           "natCpuTrapAclUpdatePriority: Add new entry with priorityHw " << priority);
    if (WriteRefusal refused =
            tableWriteRefused([&] { natCpuTrapAcl_->entryAdd(moved, entryOld->action()); })) {
        VTRACE(dynamicTrace, 1,
               "natCpuTrapAclUpdatePriority: " << refused.reason() << ", keeping priorityHw "
                                               << ms.priority());
        return std::nullopt;
    }
    VTRACE(dynamicTrace, 5,
           "natCpuTrapAclUpdatePriority: Delete old entry with priorityHw " << ms.priority());
    natCpuTrapAcl_->entryDel(ms);
    return moved;
}

bool VyrNatTableMgrDynamic::natCpuTrapAclToHwPriorityRedistribute(uint32_t slotsPerBlock) {
    VTRACE(dynamicTrace, 5, "natCpuTrapAclToHwPriorityRedistribute slots: " << slotsPerBlock);
    VYR_ASSERT(slotsPerBlock > 0);
    bool allMoved = true;
    // The queues hold blocks, and the entries of one rule sit at different slots of their block
    // (the rule's sequence numbers; a trap-all rule takes the last slot). Each entry keeps its
    // slot in the new block, so that the rule's entries keep their order among themselves.
    auto move = [&](VyrP4::NatCpuTrapAclMatchSpec& ms, uint32_t block) {
        const uint64_t slot = uint32_t(ms.priority()) % slotsPerBlock;
        const uint64_t priority = uint64_t(block) * slotsPerBlock + slot;
        VYR_ASSERT(priority <= uint64_t(INT32_MAX));
        if (auto updated = natCpuTrapAclUpdatePriority(ms, int32_t(priority))) {
            ms = *updated;
        } else {
            allMoved = false;
        }
    };
    for (const auto& [key, block] : natCpuTrapAclToHwPriorityToUpdate_) {
        if (auto it = hwNatCpuTrapAcl_.find(key); it != hwNatCpuTrapAcl_.end()) {
            for (HwNatCpuTrapAclEntry& e : it->second.trapAclEntries()) {
                const int32_t before = e.matchSpec.priority();
                move(e.matchSpec, block);
                // The rule's SNAT ACL entry orders the SNAT matches the same way; left where it
                // was, it would keep an order that the ACLs no longer have.
                if (snatAclTrapped(e) && e.matchSpec.priority() != before &&
                    !dynamicSnatAclHelper_->dynamicSnatAclPriorityUpdate(
                        {key.profile, e.src, e.dst, e.protocol, e.sport, e.sportMask, e.dport,
                         e.dportMask},
                        before, e.matchSpec.priority())) {
                    allMoved = false;
                }
            }
        }
    }
    natCpuTrapAclToHwPriorityToUpdate_.clear();
    for (const auto& [id, block] : natCpuTrapAclOverloadToHwPriorityToUpdate_) {
        if (auto it = hwNatCpuTrapAclOverload_.find(id); it != hwNatCpuTrapAclOverload_.end()) {
            const auto entries = it->second.entry();
            for (auto [intf, ms] : entries) {
                move(ms, block);
                it->second.entryIs(intf, ms);
            }
        }
    }
    natCpuTrapAclOverloadToHwPriorityToUpdate_.clear();
    return allMoved;
}

} // namespace VyrNat

// CPU trap rules: each rule gets a hardware priority from its ACL priority and sequence number
// and is written by the manager of its kind, the dynamic manager for dynamic NAT (group 0) and
// the twice manager for twice NAT. Interface-overload NAT also traps traffic to the address of
// each of the profile's interfaces.

#include "helper/VyrNatHelper.h"

#include "host/PlatformState.h"
#include "host/Trace.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/flow/PortMask.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

#include <cstdio>

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatHelper");

const Ip::IpAddrWithFullMask kAnyAddr{};

} // namespace

int32_t NatHelper::getHwPriority(const std::string& aclName, uint32_t priority, uint32_t seqNum,
                                 uint16_t group) {
    if (trapPrio_.respreadNeeded(priority)) {
        redistributeTrapRulesHwPriority(group);
    }
    const auto block = trapPrio_.blockOf(priority);
    if (!block) {
        VTRACE(th, 1, " checkHwPriorityResourcesFull " << aclName << " priority " << priority);
        return -1;
    }
    const auto hw = int32_t(*block * trapPrio_.hwPriorityNumResources() + seqNum);
    VTRACE(th, 5,
           aclName << " priority " << priority << " priorityHwBlockOffset " << *block
                   << " priorityHw " << hw);
    return hw;
}

bool NatHelper::trapRule(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                         uint32_t seqNum, const TrapMatch& match, bool deny, bool reverse) {
    const int32_t hwPriority = getHwPriority(key.acl, trapInfo.prio, seqNum, key.group);
    VTRACE(th, 2,
           "addTrapRule " << key.str() << " profile " << trapInfo.profileId << " prio "
                          << trapInfo.prio << " seq " << seqNum << " priorityHw: " << hwPriority);
    if (hwPriority < 0) {
        return refused("no CPU trap priority left for ACL priority " +
                       std::to_string(trapInfo.prio));
    }
    trapPrio_.userIs(trapInfo.prio, key.acl);
    hwNatCpuTrapAclKeyToPrio_[trapAclKey(key, trapInfo.profileId)] = trapInfo.prio;

    // A port range becomes the aligned blocks that cover it, one entry per pair of blocks.
    const auto srcPorts = portRangeToMasks(match.srcPortStart, match.srcPortEnd);
    const auto dstPorts = portRangeToMasks(match.dstPortStart, match.dstPortEnd);
    for (const PortMask& sp : srcPorts) {
        for (const PortMask& dp : dstPorts) {
            bool ok;
            if (key.group == 0) {
                auto* dyn = tableMgr_->tableMgrDynamic();
                ok = dyn && managed(*dyn, [&] {
                         return dyn->createNatCpuTrapAcl(key, trapInfo, match.protocol, match.src,
                                                         match.dst, sp.port, sp.mask, dp.port,
                                                         dp.mask, hwPriority, deny, reverse);
                     });
            } else {
                auto* twice = tableMgr_->tableMgrTwice();
                ok = twice && managed(*twice, [&] {
                         return twice->createNatCpuTrapAcl(key, trapInfo, match.protocol, match.src,
                                                           match.dst, sp.port, sp.mask, dp.port,
                                                           dp.mask, hwPriority, deny, reverse);
                     });
            }
            if (!ok) {
                return false;
            }
        }
    }
    if (key.group == 0 && trapInfo.poolId == 0) {
        addOverloadRvsTrap(trapInfo.profileId, key.acl, hwPriority, trapInfo.prio);
    }
    return true;
}

bool NatHelper::trapRuleRecorded(const Ip::Nat::DynamicKey& key,
                                 const Ip::Nat::NatTrapInfo& trapInfo, uint32_t seqNum,
                                 const TrapMatch& match, bool deny, bool reverse) {
    const bool ok = trapRule(key, trapInfo, seqNum, match, deny, reverse);
    if (!ok) {
        // The rule's other matches may be in hardware; it stays listed until it is deleted.
        trapRuleUnprogrammedIs(trapInfo.profileId, key, true);
    }
    return ok;
}

void NatHelper::trapRuleUnprogrammedIs(uint32_t profileId, const Ip::Nat::DynamicKey& key,
                                       bool unprogrammed) {
    auto* dyn = tableMgr_->tableMgrDynamic();
    Oma::NatSmStatus* status = dyn ? dyn->omaNatSmStatus().get() : nullptr;
    if (!status || (!unprogrammed && status->trapRuleUnprogrammed.empty())) {
        return;
    }
    const Oma::TrapRuleId id{Oma::NatSm::profileIntf(profileId), key.acl, key.group};
    if (unprogrammed) {
        status->trapRuleUnprogrammed.set(id, true);
    } else {
        status->trapRuleUnprogrammed.erase(id);
    }
}

bool NatHelper::addTrapRule(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                            uint32_t seqNum, Ip::IpAddrWithFullMask src, Ip::IpAddrWithFullMask dst,
                            bool deny, bool reverse) {
    return trapRuleRecorded(key, trapInfo, seqNum, {0, src, dst, 0, 0, 0, 0}, deny, reverse);
}

bool NatHelper::addProtocolTrapRule(const Ip::Nat::DynamicKey& key,
                                    const Ip::Nat::NatTrapInfo& trapInfo, uint32_t seqNum,
                                    uint8_t protocol, Ip::IpAddrWithFullMask src,
                                    Ip::IpAddrWithFullMask dst, uint16_t srcPortStart,
                                    uint16_t srcPortEnd, uint16_t dstPortStart, uint16_t dstPortEnd,
                                    bool deny, bool reverse) {
    return trapRuleRecorded(
        key, trapInfo, seqNum,
        {protocol, src, dst, srcPortStart, srcPortEnd, dstPortStart, dstPortEnd}, deny, reverse);
}

bool NatHelper::addTrapAllRule(const Ip::Nat::DynamicKey& key,
                               const Ip::Nat::NatTrapInfo& trapInfo) {
    return trapRuleRecorded(key, trapInfo, trapPrio_.hwPriorityNumResources() - 1,
                            {0, kAnyAddr, kAnyAddr, 0, 0, 0, 0}, false, false);
}

void NatHelper::delTrapRule(uint32_t profileId, const Ip::Nat::DynamicKey& key, Ip::VrfId vrfId) {
    VTRACE(th, 2, "delTrapRule " << key.str() << " profile " << profileId << " vrf " << vrfId);
    trapRuleUnprogrammedIs(profileId, key, false);
    const HwNatCpuTrapAclKey aclKey = trapAclKey(key, profileId);
    auto it = hwNatCpuTrapAclKeyToPrio_.find(aclKey);
    if (it == hwNatCpuTrapAclKeyToPrio_.end()) {
        return;
    }
    if (key.group == 0) {
        if (auto* dyn = tableMgr_->tableMgrDynamic()) {
            dyn->deleteNatCpuTrapAcl(aclKey);
        }
        delOverloadRvsTrap(profileId, key.acl);
    } else if (auto* twice = tableMgr_->tableMgrTwice()) {
        twice->deleteNatCpuTrapAcl({key.acl, key.group, uint16_t(profileId)});
    }
    const uint32_t prio = it->second;
    hwNatCpuTrapAclKeyToPrio_.erase(it);
    // Another profile's rule of the same ACL and priority keeps the priority's block. Keys are
    // ordered by ACL first.
    for (auto k = hwNatCpuTrapAclKeyToPrio_.lower_bound({key.acl, 0, 0});
         k != hwNatCpuTrapAclKeyToPrio_.end() && k->first.acl == key.acl; ++k) {
        if (k->second == prio) {
            return;
        }
    }
    VTRACE(th, 5, " deleting prioToTrapRulePrio[] for priority: " << prio);
    trapPrio_.userDel(prio, key.acl);
}

void NatHelper::redistributeTrapRulesHwPriority(uint16_t group) {
    ++redistributeTrapRulesHwPriorityCount_;
    (void)group; // every group's rules move: the blocks are shared
    auto* dyn = tableMgr_->tableMgrDynamic();
    auto* twice = tableMgr_->tableMgrTwice();
    const uint32_t slots = trapPrio_.hwPriorityNumResources();
    std::map<uint32_t, std::vector<const HwNatCpuTrapAclKey*>> keysOf;
    for (const auto& [key, prio] : hwNatCpuTrapAclKeyToPrio_) {
        keysOf[prio].push_back(&key);
    }
    // Rules move one ACL priority at a time, in an order that keeps every rule between its
    // neighbours while both its old and its new entries are in the chip.
    for (const auto& m : TrapRulePriorities::safeOrder(trapPrio_.respread())) {
        VTRACE(th, 5,
               "priority " << m.prio << " curr hwPriorityBlock " << m.from
                           << " new hwPriorityBlock " << m.to);
        for (const HwNatCpuTrapAclKey* k : keysOf[m.prio]) {
            const HwNatCpuTrapAclKey& key = *k;
            if (key.group == 0 && dyn) {
                dyn->natCpuTrapAclToHwPriorityToUpdateIs(key, m.to);
            } else if (key.group != 0 && twice) {
                twice->cpuTrapAclToUpdateIs(key.acl, m.to);
            }
        }
        for (const auto& [profileId, e] : overloadRvsEntries_) {
            if (dyn && e.prio == m.prio) {
                dyn->natCpuTrapAclOverloadToHwPriorityToUpdateIs(profileId, m.to);
            }
        }
        if (dyn) {
            dyn->natCpuTrapAclToHwPriorityRedistribute(slots);
        }
        if (twice) {
            twice->natCpuTrapAclRedistribute(slots);
        }
    }
    for (auto& [profileId, e] : overloadRvsEntries_) {
        if (const auto* block = findBlock(e.prio)) {
            e.hwPriority = int32_t(*block * slots + uint32_t(e.hwPriority) % slots);
        }
    }
}

const uint32_t* NatHelper::findBlock(uint32_t prio) const {
    for (const auto* blocks :
         {&trapPrio_.prioToHwPriorityFixed(), &trapPrio_.prioToHwPriorityMapped()}) {
        if (auto it = blocks->find(prio); it != blocks->end()) {
            return &it->second;
        }
    }
    return nullptr;
}

// --- Overload reverse traps ---

void NatHelper::addOverloadRvsTrap(uint32_t profileId, const std::string& aclName,
                                   int32_t hwPriority, uint32_t prio) {
    if (auto it = overloadRvsEntries_.find(profileId); it != overloadRvsEntries_.end()) {
        it->second.acls.insert(aclName);
        return;
    }
    auto& e = overloadRvsEntries_[profileId];
    e.acls.insert(aclName);
    e.hwPriority = hwPriority;
    e.prio = prio;
    char intf[32];
    std::snprintf(intf, sizeof intf, "NatProfile%u", profileId);
    const auto* status = natStatus_ ? natStatus_->intfStatus.find(intf) : nullptr;
    if (!status || !*status) {
        VTRACE(th, 1, "No NAT interface status for " << intf);
        return;
    }
    for (const auto& [member, valid] : (*status)->validIntf) {
        updateOverloadRvsTrapIntf(profileId, member, true);
    }
}

void NatHelper::delOverloadRvsTrap(uint32_t profileId, const std::string& aclName) {
    auto it = overloadRvsEntries_.find(profileId);
    if (it == overloadRvsEntries_.end()) {
        return;
    }
    auto& e = it->second;
    e.acls.erase(aclName);
    auto* dyn = tableMgr_->tableMgrDynamic();
    if (!e.acls.empty()) {
        // The reverse traps hold the priority of the overload ACL that made them. When that
        // ACL goes, its block may go to another priority or be passed over by a respread, so
        // the traps move, new entries first, to the best priority still in overload mode.
        std::optional<uint32_t> best;
        for (const auto& acl : e.acls) {
            auto p = hwNatCpuTrapAclKeyToPrio_.find({acl, 0, uint16_t(profileId)});
            if (p != hwNatCpuTrapAclKeyToPrio_.end() && (!best || p->second < *best)) {
                best = p->second;
            }
        }
        const uint32_t* block = best ? findBlock(*best) : nullptr;
        if (block && *best != e.prio && dyn) {
            const uint32_t slots = trapPrio_.hwPriorityNumResources();
            dyn->natCpuTrapAclOverloadToHwPriorityToUpdateIs(profileId, *block);
            dyn->natCpuTrapAclToHwPriorityRedistribute(slots);
            e.prio = *best;
            e.hwPriority = int32_t(*block * slots + uint32_t(e.hwPriority) % slots);
        }
        return;
    }
    for (const auto& [intf, addr] : it->second.dstIp) {
        if (dyn) {
            dyn->deleteNatCpuTrapAclOverload(profileId, intf);
        }
    }
    overloadRvsEntries_.erase(it);
}

void NatHelper::updateOverloadRvsTrapIntf(uint32_t profileId, const std::string& intfId, bool add) {
    auto it = overloadRvsEntries_.find(profileId);
    if (it == overloadRvsEntries_.end()) {
        VTRACE(th, 5, "Overload entries not found");
        return;
    }
    auto& e = it->second;
    if (e.acls.empty()) {
        VTRACE(th, 5, "No acls configured in overload mode in the profile");
        return;
    }
    auto* dyn = tableMgr_->tableMgrDynamic();
    if (!dyn) {
        return;
    }
    // An address that changes replaces the trap of the old one.
    if (e.dstIp.count(intfId)) {
        VTRACE(th, 5, "Del overload entry " << intfId);
        e.dstIp.erase(intfId);
        dyn->deleteNatCpuTrapAclOverload(profileId, intfId);
    }
    if (!add) {
        return;
    }
    const auto* ip = ipStatus_ ? ipStatus_->intfStatus.find(intfId) : nullptr;
    const Ip::IpAddr addr = ip && *ip ? (*ip)->addr() : Ip::IpAddr();
    if (addr.value == 0) {
        return;
    }
    VTRACE(th, 5, "Add overload entry " << intfId << " " << addr.toString());
    if (dyn->createNatCpuTrapAclOverload(profileId, intfId, addr, e.hwPriority)) {
        e.dstIp[intfId] = addr;
    }
}

void NatHelper::commitTrapRules() {
    VTRACE(th, 5, "commitTrapRules");
}

} // namespace VyrNat

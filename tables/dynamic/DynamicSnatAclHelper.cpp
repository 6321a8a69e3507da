#include "tables/dynamic/DynamicSnatAclHelper.h"

#include "common/TableWrite.h"
#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "host/Format.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <ios>

namespace VyrNat {

namespace {

constexpr uint8_t kUdp = 17;

std::string portText(uint16_t port, uint16_t mask) {
    return Host::format("%u/0x%x", port, mask);
}

} // namespace

std::string DynamicSnatAclEntryKey::str() const {
    return Host::format("Value('VyrNat::DynamicSnatAclEntryKey', ** {'profile': %u, 'srcIp': %s, "
                        "'dstIp': %s, 'protocol': %u, 'sport': %u, 'sportMask': %u, 'dport': %u, "
                        "'dportMask': %u})",
                        profile, srcIp.toString(), dstIp.toString(), protocol, sport, sportMask,
                        dport, dportMask);
}

bool VyrDynamicSnatAclHelper::createDynamicSnatAclEntry(uint16_t profile, IpAddrWithFullMask srcIp,
                                                        IpAddrWithFullMask dstIp, uint8_t protocol,
                                                        uint16_t sport, uint16_t sportMask,
                                                        uint16_t dport, uint16_t dportMask,
                                                        int32_t priority, bool deny,
                                                        bool fullCone) {
    VTRACE(dynamicTrace, 5,
           "createDynamicSnatAclEntry"
               << ", egrProfileId: " << profile << " srcIp: " << srcIp.toString()
               << " dstIp:" << dstIp.toString() << " proto:" << unsigned(protocol)
               << " sport:" << sport << "/0x" << std::hex << sportMask << std::dec
               << " dport:" << dport << "/0x" << std::hex << dportMask << std::dec
               << " priority:" << priority << " deny:" << deny << " fullCone:" << fullCone);
    if (fullCone && protocol != kUdp) {
        VTRACE(dynamicTrace, 1, "Invalid ACL for fullcone");
        Log::raise(natUnsupportedFullConeSnatAcl(), protocol, srcIp.toString(), dstIp.toString(),
                   protocol, portText(sport, sportMask), portText(dport, dportMask));
        refusal_ = "full cone takes UDP rules only";
        return false;
    }
    const DynamicSnatAclEntryKey key{profile, srcIp,     dstIp, protocol,
                                     sport,   sportMask, dport, dportMask};
    if (auto it = dynamicSnatAcl_.find(key); it != dynamicSnatAcl_.end()) {
        it->second.refCountInc();
        VTRACE(dynamicTrace, 5, "Found existing SNAT ACL entry: " << key.str());
        VTRACE(dynamicTrace, 5, "RefCount is now : " << it->second.refCount);
        return true;
    }
    const auto ms = programDynamicSnatAcl(profile, srcIp, dstIp, protocol, sport, sportMask, dport,
                                          dportMask, priority, deny, fullCone);
    if (!ms) {
        return false;
    }
    const auto [snatAclEntry, added] =
        dynamicSnatAcl_.emplace(key, DynamicSnatAclEntry{key, 1, *ms});
    VYR_CHECK(added, "snatAclEntry");
    return true;
}

void VyrDynamicSnatAclHelper::deleteDynamicSnatAclEntry(uint16_t profile, IpAddrWithFullMask srcIp,
                                                        IpAddrWithFullMask dstIp, uint8_t protocol,
                                                        uint16_t sport, uint16_t sportMask,
                                                        uint16_t dport, uint16_t dportMask) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicSnatAclEntry"
               << ", egrProfileId: " << profile << " srcIp: " << srcIp.toString()
               << " dstIp:" << dstIp.toString() << " proto:" << unsigned(protocol)
               << " sport:" << sport << "/0x" << std::hex << sportMask << std::dec
               << " dport:" << dport << "/0x" << std::hex << dportMask << std::dec);
    auto it =
        dynamicSnatAcl_.find({profile, srcIp, dstIp, protocol, sport, sportMask, dport, dportMask});
    if (it == dynamicSnatAcl_.end()) {
        VTRACE(dynamicTrace, 1, "DynamicSnatAcl entry not found");
        return;
    }
    DynamicSnatAclEntry& snatAclEntry = it->second;
    snatAclEntry.refCountDec();
    VTRACE(dynamicTrace, 5, "DynamicSnatAcl entry refCount: " << snatAclEntry.refCount);
    if (snatAclEntry.refCount == 0) {
        VTRACE(dynamicTrace, 5, "Deleting dynamicSnatAcl entry");
        deleteDynamicSnatAcl(snatAclEntry.matchSpec);
        dynamicSnatAcl_.erase(it);
    }
}

std::optional<VyrP4::DynamicSnatAclMatchSpec> VyrDynamicSnatAclHelper::programDynamicSnatAcl(
    uint16_t profile, IpAddrWithFullMask srcIp, IpAddrWithFullMask dstIp, uint8_t protocol,
    uint16_t sport, uint16_t sportMask, uint16_t dport, uint16_t dportMask, int32_t priority,
    bool /*deny*/, bool fullCone) {
    VYR_CHECK(table_, "dynamicSnatAclTable not initialized");
    VyrP4::DynamicSnatAclMatchSpec ms;
    ms.ingMdEgrNatProfileIdIs(profile, 0xff);
    ms.outerIpv4HdrProtocolIs(protocol, 0xff);
    ms.outerIpv4HdrDipIs(dstIp.addr.value, dstIp.mask);
    ms.outerIpv4HdrSipIs(srcIp.addr.value, srcIp.mask);
    ms.l4PortHdrSrcPortIs(sport, sportMask);
    ms.l4PortHdrDstPortIs(dport, dportMask);
    ms.priorityIs(priority);
    const WriteRefusal refused = tableWriteRefused([&] {
        if (fullCone) {
            table_->entryIs(ms, VyrP4::ClearDipActionSpec());
        } else {
            table_->entryIs(ms, VyrP4::SetDipActionSpec());
        }
    });
    if (refused) {
        VTRACE(dynamicTrace, 1,
               "programDynamicSnatAcl: " << refused.text() << " in dynamicSnatAcl");
        refusal_ = refused.reason();
        return std::nullopt;
    }
    return ms;
}

bool VyrDynamicSnatAclHelper::dynamicSnatAclPriorityUpdate(const DynamicSnatAclEntryKey& key,
                                                           int32_t oldPriority, int32_t priority) {
    auto it = dynamicSnatAcl_.find(key);
    if (it == dynamicSnatAcl_.end() || it->second.matchSpec.priority() != oldPriority) {
        return true;
    }
    VyrP4::DynamicSnatAclMatchSpec& ms = it->second.matchSpec;
    const auto entryOld = table_->entry(ms);
    VYR_CHECK(entryOld, "entryOld.match()");
    VyrP4::DynamicSnatAclMatchSpec moved = ms;
    moved.priorityIs(priority);
    if (WriteRefusal refused =
            tableWriteRefused([&] { table_->entryAdd(moved, entryOld->action()); })) {
        VTRACE(dynamicTrace, 1, "dynamicSnatAclPriorityUpdate: " << refused.reason());
        return false;
    }
    table_->entryDel(ms);
    ms = moved;
    return true;
}

void VyrDynamicSnatAclHelper::deleteDynamicSnatAcl(const VyrP4::DynamicSnatAclMatchSpec& ms) {
    VYR_CHECK(table_, "dynamicSnatAclTable not initialized");
    table_->entryDel(ms);
}

const DynamicSnatAclEntry*
VyrDynamicSnatAclHelper::dynamicSnatAcl(const DynamicSnatAclEntryKey& key) const {
    auto it = dynamicSnatAcl_.find(key);
    return it == dynamicSnatAcl_.end() ? nullptr : &it->second;
}

Ert::Ptr<VyrDynamicSnatAclHelper> vyrDynamicSnatAclHelperFactory() {
    return Ert::make<VyrDynamicSnatAclHelper>();
}

} // namespace VyrNat

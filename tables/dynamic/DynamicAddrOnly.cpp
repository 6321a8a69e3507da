// Address-only dynamic connections: one SNAT entry per connection, and one DNAT entry per public
// address and profile that every connection to it shares by reference count.

#include "common/TableWrite.h"
#include "common/TranslationActions.h"
#include "host/Assert.h"
#include "host/Ringlog.h"
#include "host/Trace.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

namespace VyrNat {

bool VyrNatTableMgrDynamic::createDynamicAddrOnlySnat(const ConnTuple& flow, IpAndPort src,
                                                      IpAndPort dst, IpAndPort newSrc,
                                                      uint16_t profile) {
    VTRACE(dynamicTrace, 5,
           "createDynamicAddrOnlySnat"
               << " flow: " << flow.toString() << ", src: " << src.toString() << ", dst: "
               << dst.toString() << ", newSrc: " << newSrc.toString() << ", profile: " << profile);
    VYR_ASSERT(dynamicAddrOnlySnatTable());
    const FlowAndProfileType key{flow, profile};
    VYR_CHECK(!dynamicAddrOnlySnatKeyToMatchSpec_.count(key),
              "dynamicAddrOnlySnatKeyToMatchSpec has the connection already");
    VyrP4::DynamicAddrOnlySnatMatchSpec ms;
    ms.ingMdNatProfileIdIs(profile);
    ms.outerIpv4HdrSipIs(src.ip.value);
    const auto action = addrTranslation<VyrP4::SetTranslatedSipActionSpec>(src.ip, newSrc.ip);
    if (forceHwError_) {
        return false;
    }
    // Added, never written over: an entry of the same address and profile is another
    // connection's, which would lose it with this one's delete.
    if (WriteRefusal refused = tableWriteRefused([&] { addrOnlySnat_->entryAdd(ms, action); })) {
        VTRACE(dynamicTrace, 1, "createDynamicAddrOnlySnat: " << refused.reason());
        if (refused.outOfResource()) {
            RINGLOG(0, "createDynamicAddrOnlySnat out of resource");
        }
        refusalIs(refused);
        return false;
    }
    dynamicAddrOnlySnatKeyToMatchSpec_.emplace(key, ms);
    return true;
}

bool VyrNatTableMgrDynamic::deleteDynamicAddrOnlySnat(const ConnTuple& flow, uint16_t profile) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicAddrOnlySnat"
               << " flow: " << flow.toString() << ", profile: " << profile);
    VYR_ASSERT(dynamicAddrOnlySnatTable());
    auto it = dynamicAddrOnlySnatKeyToMatchSpec_.find({flow, profile});
    VYR_CHECK(it != dynamicAddrOnlySnatKeyToMatchSpec_.end(),
              "dynamicAddrOnlySnatKeyToMatchSpec match spec");
    addrOnlySnat_->entryDel(it->second);
    dynamicAddrOnlySnatKeyToMatchSpec_.erase(it);
    return true;
}

bool VyrNatTableMgrDynamic::createDynamicAddrOnlyDnat(const ConnTuple& flow, IpAndPort src,
                                                      IpAndPort dstOld, IpAndPort dstNew,
                                                      uint32_t nextHop, bool ecmp, bool update,
                                                      uint16_t profile) {
    return createDynamicAddrOnlyDnatTable(
        flow, ecmp ? DynamicTableAction::setDipEcmp : DynamicTableAction::setDipNextHop, src,
        dstOld, dstNew, nextHop, ecmp, update, profile);
}

bool VyrNatTableMgrDynamic::createDynamicAddrOnlyDnatTable(const ConnTuple& flow,
                                                           DynamicTableAction action, IpAndPort src,
                                                           IpAndPort dst, IpAndPort newDst,
                                                           uint32_t nextHop, bool ecmp, bool update,
                                                           uint16_t profile) {
    VYR_ASSERT(dynamicAddrOnlyDnatTable());
    const IpAndProfileType key{dst.ip, profile};
    auto share = dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.find(key);
    const bool keyExists = share != dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.end();
    const uint32_t refCountOld = keyExists ? share->second.refCount : 0;
    VTRACE(dynamicTrace, 5,
           "createDynamicAddrOnlyDnatTable"
               << " flow: " << flow.toString() << ", src: " << src.toString() << ", dst: "
               << dst.toString() << ", newDst: " << newDst.toString() << ", nextHop: " << nextHop
               << ", ecmp: " << ecmp << ", update: " << update << ", profile: " << profile
               << " keyExists  " << keyExists << " refCountOld " << refCountOld);
    const FlowAndProfileType flowKey{flow, profile};
    if (!update) {
        // A user counted twice would keep the shared entry after its last delete.
        VYR_CHECK(!dynamicAddrOnlyDnatFlowProfileToNewDip_.count(flowKey),
                  "dynamicAddrOnlyDnatFlowProfileToNewDip has the connection already");
    }
    VyrP4::DynamicAddrOnlyDnatMatchSpec ms;
    if (keyExists || update) {
        VYR_CHECK(keyExists, "dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount match spec");
        VTRACE(dynamicTrace, 5,
               "createDynamicAddrOnlyDnatTable"
                   << ": using existing match spec");
        ms = share->second.matchSpec;
    } else {
        VTRACE(dynamicTrace, 5,
               "createDynamicAddrOnlyDnatTable"
                   << ": using new match spec");
        ms.ingMdNatProfileIdIs(profile);
        ms.outerIpv4HdrDipIs(dst.ip.value);
    }
    if (action != DynamicTableAction::setDipNextHop && action != DynamicTableAction::setDipEcmp) {
        VTRACE(dynamicTrace, 0,
               "createDynamicAddrOnlyDnatTable"
                   << " unexpected action " << unsigned(action));
        VYR_FAIL("createDynamicAddrOnlyDnatTable unexpected action");
    }
    VYR_CHECK(newDst.port == 0, "newDst.port() == 0");
    VYR_CHECK(nextHop != 0, "nextHop != 0");
    const auto entryAction = dipTranslation<VyrP4::DynamicAddrOnlyDnatTable::Action>(
        dst.ip, newDst.ip, NextHop{nextHop, action == DynamicTableAction::setDipEcmp});
    if (forceHwError_) {
        return false;
    }
    // The shared entry takes the latest user's translation.
    if (WriteRefusal refused = tableWriteRefused([&] {
            if (keyExists) {
                addrOnlyDnat_->entryIs(ms, entryAction);
            } else {
                addrOnlyDnat_->entryAdd(ms, entryAction);
            }
        })) {
        VTRACE(dynamicTrace, 1, "createDynamicAddrOnlyDnatTable: " << refused.reason());
        if (refused.outOfResource()) {
            RINGLOG(0, "createDynamicAddrOnlyDnatTable out of resource");
        }
        refusalIs(refused);
        return false;
    }
    const uint32_t refCountNew = update ? refCountOld : refCountOld + 1;
    VTRACE(dynamicTrace, 5,
           "createDynamicAddrOnlyDnatTable"
               << " refCountNew " << refCountNew
               << " Adding to dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount[]");
    dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.insert_or_assign(
        key, AddrOnlyDnatShare{ms, refCountNew});
    if (!update) {
        VTRACE(dynamicTrace, 5,
               "createDynamicAddrOnlyDnatTable"
                   << ": adding to dynamicAddrOnlyDnatFlowProfileToNewDip[] : "
                   << newDst.ip.toString());
        dynamicAddrOnlyDnatFlowProfileToNewDip_.emplace(flowKey, newDst.ip);
    }
    return true;
}

bool VyrNatTableMgrDynamic::deleteDynamicAddrOnlyDnat(const ConnTuple& flow, IpAddr dstOld,
                                                      uint16_t profile) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicAddrOnlyDnat"
               << " flow: " << flow.toString() << ", dstOld: " << dstOld.toString()
               << ", profile: " << profile);
    VYR_ASSERT(dynamicAddrOnlyDnatTable());
    // Only a user gives its reference back: another connection's delete would take the entry
    // from under the users that remain.
    auto user = dynamicAddrOnlyDnatFlowProfileToNewDip_.find({flow, profile});
    if (user == dynamicAddrOnlyDnatFlowProfileToNewDip_.end()) {
        VTRACE(dynamicTrace, 1,
               "deleteDynamicAddrOnlyDnat"
                   << ": flow not programmed in hw");
        return false;
    }
    auto share = dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.find({dstOld, profile});
    VYR_CHECK(share != dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.end(),
              "dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount match spec");
    if (share->second.refCount > 1) {
        --share->second.refCount;
    } else {
        VTRACE(dynamicTrace, 5,
               "deleteDynamicAddrOnlyDnat"
                   << ": deleting entry from table");
        addrOnlyDnat_->entryDel(share->second.matchSpec);
        dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.erase(share);
    }
    dynamicAddrOnlyDnatFlowProfileToNewDip_.erase(user);
    return true;
}

} // namespace VyrNat

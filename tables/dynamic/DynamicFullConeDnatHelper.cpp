#include "tables/dynamic/DynamicFullConeDnatHelper.h"

#include "common/TableWrite.h"
#include "common/TranslationActions.h"
#include "host/Assert.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

namespace VyrNat {

namespace {

IpAddrWithFullMask hostPrefix(IpAddr addr) {
    return {addr, ~uint32_t(0)};
}

} // namespace

bool VyrDynamicFullConeDnatHelper::createDynamicFullConeDnatEntry(uint16_t profile, IpAndPort dst,
                                                                  uint8_t protocol,
                                                                  IpAndPort newDst, bool update) {
    VTRACE(dynamicTrace, 5,
           "createDynamicFullConeDnatEntry"
               << " profile: " << profile << " dst: " << dst.toString() << ", proto:"
               << unsigned(protocol) << " newDst: " << newDst.toString() << " update:" << update);
    VYR_CHECK(fullConeDnat_, "dynamicFullConeDnatTable()");
    // An update rewrites the entry its connection already counts in; anything else takes a
    // reference on the address's range id and on the entry.
    const auto existing = dynamicFullConeDnatKey(profile, dst, protocol);
    auto it = existing ? dynamicFullConeDnat_.find(*existing) : dynamicFullConeDnat_.end();
    const bool rewrite = update && it != dynamicFullConeDnat_.end();
    uint16_t rangeId = rewrite ? existing->rangeId : 0;
    if (!rewrite) {
        rangeId = createDynamicFullConeCompressEntry(hostPrefix(dst.ip));
        if (rangeId == 0) {
            VTRACE(dynamicTrace, 1,
                   "VyrDynamicFullConeDnatHelper: Could not compress DIP " << dst.ip.toString());
            return false;
        }
    }
    const DynamicFullConeDnatEntryKey key{profile, rangeId, protocol, dst.port};
    VyrP4::DynamicFullConeDnatMatchSpec ms;
    if (it != dynamicFullConeDnat_.end()) {
        ms = it->second.matchSpec;
    } else {
        ms.ingMdNatProfileIdIs(profile);
        ms.ingMdFullConeDipRangeIdIs(rangeId);
        ms.outerIpv4HdrProtocolIs(protocol);
        ms.l4PortHdrDstPortIs(dst.port);
    }
    const auto action = addrPortTranslation<VyrP4::SetTranslatedDipPortActionSpec>(dst, newDst);
    if (const WriteRefusal refused =
            tableWriteRefused([&] { fullConeDnat_->entryIs(ms, action); })) {
        VTRACE(dynamicTrace, 1,
               "dynamicFullConeDnat table full.  Unable to insert DIP:" << dst.ip.toString());
        refusal_ = refused.reason();
        if (!rewrite) {
            deleteDynamicFullConeCompressEntry(hostPrefix(dst.ip));
        }
        return false;
    }
    if (rewrite) {
        return true;
    }
    if (it != dynamicFullConeDnat_.end()) {
        ++it->second.refCount;
        return true;
    }
    const auto [fcEntry, added] =
        dynamicFullConeDnat_.emplace(key, DynamicFullConeDnatEntry{key, 1, ms});
    VYR_CHECK(added, "fcEntry");
    return true;
}

void VyrDynamicFullConeDnatHelper::deleteDynamicFullConeDnatEntry(uint16_t profile, IpAndPort dst,
                                                                  uint8_t protocol) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicFullConeDnatEntry"
               << " profile:" << profile << " dst:" << dst.toString()
               << " protocol:" << unsigned(protocol));
    const auto key = dynamicFullConeDnatKey(profile, dst, protocol);
    if (!key) {
        VTRACE(dynamicTrace, 1,
               "dynamicFullConeCompress entry not found for " << dst.ip.toString());
        return;
    }
    auto it = dynamicFullConeDnat_.find(*key);
    if (it == dynamicFullConeDnat_.end()) {
        VTRACE(dynamicTrace, 1, "dynamicFullConeDnat entry not found for " << dst.toString());
        return;
    }
    if (--it->second.refCount == 0) {
        VTRACE(dynamicTrace, 5, "Deleting dynamicFullConeDnat entry");
        deleteFullConeTable(it->second.matchSpec);
        dynamicFullConeDnat_.erase(it);
    }
    deleteDynamicFullConeCompressEntry(hostPrefix(dst.ip));
}

std::optional<DynamicFullConeDnatEntryKey>
VyrDynamicFullConeDnatHelper::dynamicFullConeDnatKey(uint16_t profile, IpAndPort dst,
                                                     uint8_t protocol) const {
    const auto* compress = dynamicFullConeCompress(hostPrefix(dst.ip));
    if (!compress) {
        return std::nullopt;
    }
    return DynamicFullConeDnatEntryKey{profile, compress->rangeId, protocol, dst.port};
}

const DynamicFullConeDnatEntry*
VyrDynamicFullConeDnatHelper::dynamicFullConeDnat(const DynamicFullConeDnatEntryKey& key) const {
    auto it = dynamicFullConeDnat_.find(key);
    return it == dynamicFullConeDnat_.end() ? nullptr : &it->second;
}

std::optional<VyrP4::DynamicFullConeCompressDipMatchSpec>
VyrDynamicFullConeDnatHelper::programCompressTable(IpAddrWithFullMask addr, uint16_t rangeId) {
    return writeCompressEntry(compressDip_.get(), addr, rangeId);
}

void VyrDynamicFullConeDnatHelper::deleteCompressTable(
    const VyrP4::DynamicFullConeCompressDipMatchSpec& ms) {
    VYR_CHECK(compressDip_, "dynamicFullConeCompressDipTable()");
    compressDip_->entryDel(ms);
}

void VyrDynamicFullConeDnatHelper::deleteFullConeTable(
    const VyrP4::DynamicFullConeDnatMatchSpec& ms) {
    VYR_CHECK(fullConeDnat_, "dynamicFullConeDnatTable()");
    fullConeDnat_->entryDel(ms);
}

Ert::Ptr<VyrDynamicFullConeDnatHelper> vyrDynamicFullConeDnatHelperFactory() {
    return Ert::make<VyrDynamicFullConeDnatHelper>();
}

} // namespace VyrNat

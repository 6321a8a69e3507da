#pragma once
// The static manager's operations, written once for both sides (SnatSide, DnatSide).

#include "tables/static/StaticNatDirection.h"

namespace VyrNat {

template <class Side> struct StaticNatOps {
    using M = VyrNatTableMgrStatic;

    // Static ACL ids.
    static uint16_t createAcl(M& m, const HwStaticNatAclKey& key, bool addrOnly, bool egress);
    static void deleteAcl(M& m, const HwStaticNatAclKey& key, bool addrOnly);

    // Ingress entries.
    static bool update(M& m, uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldAddr,
                       IpAndPort newAddr, NextHop nh, bool update, bool dynamicNat, bool egress);
    static bool createAddrOnly(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                               IpAddr oldAddr, IpAddr newAddr, NextHop nh, bool update);
    static bool createAddrPort(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                               IpAndPort oldAddr, IpAndPort newAddr, NextHop nh, bool update);
    static void deleteEntry(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                            IpAndPort oldAddr, IpAndPort newAddr);
    static void deleteFragment(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                               IpAddr oldAddr, IpAddr newAddr);
    static void removeFragments(M& m, const HwStaticNatAclKey& key);

    // Egress entries.
    static bool createEgress(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                             IpAndPort oldAddr, IpAndPort newAddr);
    static void deleteEgress(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                             IpAndPort oldAddr, IpAndPort newAddr);
    static void deleteEgressFragment(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                     IpAndPort oldAddr, IpAndPort newAddr);
    static void removeEgressFragments(M& m, const HwStaticNatAclKey& key);

    // Record lookups; null when absent.
    static typename Side::Profile* profile(M& m, uint16_t profileId);
    static typename Side::Entry* entry(M& m, uint16_t profileId, const HwStaticNatAclKey& key);
    static typename Side::EgressRecord* egressRecord(M& m, uint16_t profileId,
                                                     const HwStaticNatAclKey& key);
    // Records created on first use.
    static typename Side::Entry& entryIs(M& m, uint16_t profileId, const HwStaticNatAclKey& key);
    static typename Side::EgressRecord& egressRecordIs(M& m, uint16_t profileId,
                                                       const HwStaticNatAclKey& key);
    // The record a deletion works on; null, and traced, when the profile or the key has none.
    template <class Record> static Record* recordToDelete(M& m, uint16_t profileId, Record* rec) {
        if (!profile(m, profileId)) {
            VTRACE(staticTrace, 2, Side::kUpper << " not found");
            return nullptr;
        }
        if (!rec) {
            VTRACE(staticTrace, 2, Side::kUpper << " entry not found");
        }
        return rec;
    }
    // Drops the records of `key` in the profile that hold nothing, then the profile if empty.
    static void prune(M& m, uint16_t profileId, const HwStaticNatAclKey& key);
};

// The key of the fragment companions of a key's address-and-port translations.
inline HwStaticNatAclKey fragmentKey(HwStaticNatAclKey key) {
    key.fragment = true;
    return key;
}

} // namespace VyrNat

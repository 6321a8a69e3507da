// Static ACL ids and the record bookkeeping shared by the static manager's operations.

#include "common/TableWrite.h"
#include "tables/static/StaticNatOps.h"

namespace VyrNat {

template <class Side>
uint16_t StaticNatOps<Side>::createAcl(M& m, const HwStaticNatAclKey& key, bool addrOnly,
                                       bool egress) {
    auto& table = Side::aclTable(m);
    VYR_CHECK(table, Side::kAclTableCheck);
    auto& acls = Side::aclEntries(m);
    if (key.fragment) {
        HwStaticNatAclKey nonFragment = key;
        nonFragment.fragment = false;
        auto it = acls.find(nonFragment);
        if (it != acls.end() && it->second.addrOnly != 0) {
            // An address-only rule of the prefix translates its fragments already.
            VTRACE(staticTrace, 2,
                   "Found an addrOnly " << Side::kLower
                                        << " acl entry. Can't program fragment "
                                           "entry");
            return 0;
        }
    } else if (addrOnly && acls.count(fragmentKey(key))) {
        VTRACE(staticTrace, 2,
               "Found a fragment " << Side::kLower << " acl entry. Removing all fragments");
        removeFragments(m, fragmentKey(key));
        removeEgressFragments(m, fragmentKey(key));
    }
    if (auto it = acls.find(key); it != acls.end()) {
        auto& acl = it->second;
        if (acl.refCount == UINT16_MAX) {
            // The count cannot take another user; sharing the id would corrupt it.
            VTRACE(staticTrace, 1, "AclId " << acl.aclId << " has no room for another user");
            return 0;
        }
        acl.refCountInc(1);
        if (addrOnly) {
            acl.addrOnlyInc(1);
        }
        VTRACE(staticTrace, 3,
               "AclId " << acl.aclId << " refCount: " << acl.refCount
                        << ", addrOnly refCount: " << acl.addrOnly << (egress ? ", egress" : ""));
        return acl.aclId;
    }
    IdBitmap& ids = Side::aclIds(m);
    const auto id = static_cast<uint16_t>(ids.allocate());
    if (id == 0) {
        VTRACE(staticTrace, 1, Side::kUpper << " acl table full");
        return 0;
    }
    auto spec = Side::aclMatch(key);
    if (const char* refused =
            tableWriteRefused([&] { table->entryIs(spec, Side::aclAction(id)); })) {
        VTRACE(staticTrace, 1, Side::kUpper << " acl table error: " << refused);
        // The id goes back: kept, it would never be handed out again and the table would
        // shrink for the life of the process.
        ids.clear(id);
        return 0;
    }
    typename Side::AclEntry acl;
    acl.aclKey = key;
    acl.aclId = id;
    acl.refCount = 1;
    acl.addrOnly = addrOnly ? 1 : 0;
    acl.matchSpec = spec;
    acls.emplace(key, acl);
    VTRACE(staticTrace, 3, "Created aclId " << id << (egress ? " for egress" : ""));
    return id;
}

template <class Side>
void StaticNatOps<Side>::deleteAcl(M& m, const HwStaticNatAclKey& key, bool addrOnly) {
    auto& table = Side::aclTable(m);
    VYR_CHECK(table, Side::kAclTableCheck);
    auto& acls = Side::aclEntries(m);
    auto it = acls.find(key);
    VYR_CHECK(it != acls.end(), "aclEntry");
    auto& acl = it->second;
    VYR_CHECK(acl.refCount > 0, "rc > 0");
    if (acl.refCount > 1) {
        acl.refCountDec(1);
        if (addrOnly) {
            VYR_CHECK(acl.addrOnly > 0, "aclEntry->addrOnly() > 0");
            acl.addrOnlyDec(1);
        }
        VTRACE(staticTrace, 3,
               "AclId " << acl.aclId << " refCount: " << acl.refCount
                        << ", addrOnly refCount: " << acl.addrOnly);
        return;
    }
    table->entryDel(acl.matchSpec);
    Side::aclIds(m).clear(acl.aclId);
    VTRACE(staticTrace, 3, "Released aclId " << acl.aclId);
    acls.erase(it);
}

template <class Side>
typename Side::Profile* StaticNatOps<Side>::profile(M& m, uint16_t profileId) {
    auto& profiles = Side::profiles(m);
    auto it = profiles.find(profileId);
    return it == profiles.end() ? nullptr : &it->second;
}

template <class Side>
typename Side::Entry* StaticNatOps<Side>::entry(M& m, uint16_t profileId,
                                                const HwStaticNatAclKey& key) {
    auto* p = profile(m, profileId);
    if (!p) {
        return nullptr;
    }
    auto it = Side::entries(*p).find(key);
    return it == Side::entries(*p).end() ? nullptr : &it->second;
}

template <class Side>
typename Side::EgressRecord* StaticNatOps<Side>::egressRecord(M& m, uint16_t profileId,
                                                              const HwStaticNatAclKey& key) {
    auto* p = profile(m, profileId);
    if (!p) {
        return nullptr;
    }
    auto it = Side::egressEntries(*p).find(key);
    return it == Side::egressEntries(*p).end() ? nullptr : &it->second;
}

template <class Side>
typename Side::Entry& StaticNatOps<Side>::entryIs(M& m, uint16_t profileId,
                                                  const HwStaticNatAclKey& key) {
    auto& p = Side::profiles(m)[profileId];
    p.profileId = profileId;
    auto& e = Side::entries(p)[key];
    e.aclKey = key;
    return e;
}

template <class Side>
typename Side::EgressRecord& StaticNatOps<Side>::egressRecordIs(M& m, uint16_t profileId,
                                                                const HwStaticNatAclKey& key) {
    auto& p = Side::profiles(m)[profileId];
    p.profileId = profileId;
    auto& e = Side::egressEntries(p)[key];
    e.aclKey = key;
    return e;
}

template <class Side>
void StaticNatOps<Side>::prune(M& m, uint16_t profileId, const HwStaticNatAclKey& key) {
    auto& profiles = Side::profiles(m);
    auto it = profiles.find(profileId);
    if (it == profiles.end()) {
        return;
    }
    auto& ingress = Side::entries(it->second);
    if (auto e = ingress.find(key); e != ingress.end() && e->second.empty()) {
        ingress.erase(e);
    }
    auto& egress = Side::egressEntries(it->second);
    if (auto e = egress.find(key); e != egress.end() && e->second.empty()) {
        egress.erase(e);
    }
    if (it->second.empty()) {
        profiles.erase(it);
    }
}

bool unprogrammedUserDel(std::map<IpAddr, uint16_t>& counts, IpAddr newAddr, const char* what) {
    auto it = counts.find(newAddr);
    if (it == counts.end()) {
        VTRACE(staticTrace, 2, "New " << what << " not found in unprogrammed fragment entry");
        return false;
    }
    if (it->second > 1) {
        --it->second;
        VTRACE(staticTrace, 3, "Frag entry ref count is still " << it->second);
        return true;
    }
    counts.erase(it);
    if (!counts.empty()) {
        VTRACE(staticTrace, 3, "Frag entry still shared by " << counts.size() << " addresses");
    } else {
        VTRACE(staticTrace, 3, "Removing the frag entry from the unprogrammed list");
    }
    return true;
}

template struct StaticNatOps<SnatSide>;
template struct StaticNatOps<DnatSide>;

uint16_t VyrNatTableMgrStatic::createStaticSnatAclTable(const HwStaticNatAclKey& key, bool addrOnly,
                                                        bool egress) {
    return StaticNatOps<SnatSide>::createAcl(*this, key, addrOnly, egress);
}

uint16_t VyrNatTableMgrStatic::createStaticDnatAclTable(const HwStaticNatAclKey& key, bool addrOnly,
                                                        bool egress) {
    return StaticNatOps<DnatSide>::createAcl(*this, key, addrOnly, egress);
}

void VyrNatTableMgrStatic::deleteStaticSnatAclTable(const HwStaticNatAclKey& key, bool addrOnly) {
    StaticNatOps<SnatSide>::deleteAcl(*this, key, addrOnly);
}

void VyrNatTableMgrStatic::deleteStaticDnatAclTable(const HwStaticNatAclKey& key, bool addrOnly) {
    StaticNatOps<DnatSide>::deleteAcl(*this, key, addrOnly);
}

} // namespace VyrNat

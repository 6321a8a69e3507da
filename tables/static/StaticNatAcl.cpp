// Static ACL ids and the record bookkeeping shared by the static manager's operations.

#include "common/TableWrite.h"
#include "tables/static/StaticNatOps.h"

namespace VyrNat {

template <class Side>
uint16_t StaticNatOps<Side>::createAcl(M& m, const HwStaticNatAclKey& key, bool addrOnly,
                                       bool egress) {
    auto& table = Side::aclTable(m);
    VYR_CHECK(table, Side::kAclTableCheck);
    auto& acls = Side::acls(m);
    if (key.fragment) {
        HwStaticNatAclKey nonFragment = key;
        nonFragment.fragment = false;
        const auto* rule = acls.find(nonFragment);
        if (rule && rule->addrOnly != 0) {
            // An address-only rule of the prefix translates its fragments already.
            VTRACE(staticTrace, 2,
                   "Found an addrOnly " << Side::kLower
                                        << " acl entry. Can't program fragment "
                                           "entry");
            return 0;
        }
    } else if (addrOnly && acls.find(fragmentKey(key))) {
        VTRACE(staticTrace, 2,
               "Found a fragment " << Side::kLower << " acl entry. Removing all fragments");
        removeFragments(m, fragmentKey(key));
        removeEgressFragments(m, fragmentKey(key));
    }
    using Outcome = typename std::remove_reference_t<decltype(acls)>::Outcome;
    const auto got = acls.acquire(key, [&](uint16_t id) {
        const auto spec = Side::aclMatch(key);
        table->entryIs(spec, Side::aclAction(id));
        return spec;
    });
    switch (got.outcome) {
    case Outcome::idsFull:
        VTRACE(staticTrace, 1, Side::kUpper << " acl table full");
        m.refusalIs(std::string("no ACL id left in ") + table->name());
        return 0;
    case Outcome::countFull:
        // The count cannot take another user; sharing the id would corrupt it.
        VTRACE(staticTrace, 1, "AclId of " << key.str() << " has no room for another user");
        m.refusalIs("too many translations under one ACL entry");
        return 0;
    case Outcome::refused:
        VTRACE(staticTrace, 1, Side::kUpper << " acl table error: " << got.refusal.name());
        m.refusalIs(got.refusal);
        return 0;
    case Outcome::created:
        got.record->addrOnly = addrOnly ? 1 : 0;
        VTRACE(staticTrace, 3,
               "Created aclId " << got.record->aclId << (egress ? " for egress" : ""));
        return got.record->aclId;
    case Outcome::shared:
        if (addrOnly) {
            got.record->addrOnlyInc(1);
        }
        VTRACE(staticTrace, 3,
               "AclId " << got.record->aclId << " refCount: " << got.record->refCount
                        << ", addrOnly refCount: " << got.record->addrOnly
                        << (egress ? ", egress" : ""));
        return got.record->aclId;
    }
    return 0;
}

template <class Side>
void StaticNatOps<Side>::deleteAcl(M& m, const HwStaticNatAclKey& key, bool addrOnly) {
    auto& table = Side::aclTable(m);
    VYR_CHECK(table, Side::kAclTableCheck);
    const bool held = Side::acls(m).release(key, [&](auto& acl, bool last) {
        VYR_CHECK(acl.refCount > 0, "rc > 0");
        if (last) {
            table->entryDel(acl.matchSpec);
            VTRACE(staticTrace, 3, "Released aclId " << acl.aclId);
            return;
        }
        if (addrOnly) {
            VYR_CHECK(acl.addrOnly > 0, "aclEntry->addrOnly() > 0");
            acl.addrOnlyDec(1);
        }
        VTRACE(staticTrace, 3,
               "AclId " << acl.aclId << " refCount: " << acl.refCount - 1
                        << ", addrOnly refCount: " << acl.addrOnly);
    });
    VYR_CHECK(held, "aclEntry");
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

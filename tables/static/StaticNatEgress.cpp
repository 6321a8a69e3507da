// Egress unicast static translations and the egress NAT profile tables. Egress entries share
// the ACL ids of ingress entries and follow the same fragment scheme.

#include "common/TableWrite.h"
#include "common/VyrNatLogMessages.h"
#include "host/Ringlog.h"
#include "tables/static/StaticNatOps.h"

namespace VyrNat {

template <class Side>
bool StaticNatOps<Side>::createEgress(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                      IpAndPort oldAddr, IpAndPort newAddr) {
    auto& table = Side::egressTable(m);
    VYR_CHECK(table, Side::kEgressTableCheck);
    if (auto* rec = egressRecord(m, profileId, key)) {
        if (!key.fragment && rec->entry.count(oldAddr)) {
            VTRACE(staticTrace, 1, "Found a duplicate egress " << Side::kLower << " entry");
            Log::raise(natDuplicateEntry(), oldAddr.toString());
            m.refusalIs(kDuplicate);
            return false;
        }
        if (key.fragment) {
            VYR_CHECK(oldAddr.port == 0, Side::kDnat ? "oldDip.port() == 0" : "oldSip.port() == 0");
            const ShareJoin joined = SharedEntries<EgressFragments<Side>>::join(
                *rec, oldAddr.ip, newAddr.ip,
                [&](const auto& frag) {
                    table->entryDel(frag.matchSpec);
                    deleteAcl(m, key, false);
                },
                [](EgressUnprogFrag&) {});
            if (joined == ShareJoin::parkedNow) {
                ++Side::egressFragmentUnprogrammed(m);
            }
            if (joined != ShareJoin::absent) {
                return joined == ShareJoin::shared;
            }
        }
    }

    bool written = false;
    const uint32_t size = m.egressTableSize_;
    const uint32_t reserve = m.vyrNatConfig_ ? m.vyrNatConfig_->egressNonFragmentReserve() : 0;
    const bool addrOnly = !key.fragment && oldAddr.port == 0;
    if (key.fragment && !fragmentRoom(size, reserve, Side::egressFragmentEntries(m))) {
        VTRACE(staticTrace, 1,
               "Reached max number of fragment entries in " << Side::kEgressTableName << " table");
    } else if (const uint16_t aclId = createAcl(m, key, addrOnly, true); aclId != 0) {
        const auto spec = Side::egressMatch(profileId, aclId, oldAddr);
        if (WriteRefusal refused = tableWriteRefused(
                [&] { table->entryIs(spec, Side::egressAction(oldAddr, newAddr)); })) {
            VTRACE(staticTrace, 0, Side::kEgressOp << ": ERROR " << refused.name());
            m.refusalIs(refused);
            RINGLOG(0, "%s: ERROR %s", Side::kEgressOp, refused.name());
            deleteAcl(m, key, addrOnly);
        } else {
            egressRecordIs(m, profileId, key).entry[oldAddr] = {spec, newAddr, 1};
            written = true;
        }
    }
    if (!key.fragment) {
        return written;
    }
    ++Side::egressFragmentEntries(m);
    if (written) {
        return true;
    }
    EgressUnprogFrag frag{oldAddr.ip, {{newAddr.ip, 1}}};
    egressRecordIs(m, profileId, key).unprogrammedFrag[oldAddr.ip] = frag;
    ++Side::egressFragmentUnprogrammed(m);
    return false;
}

template <class Side>
void StaticNatOps<Side>::deleteEgress(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                      IpAndPort oldAddr, IpAndPort newAddr) {
    auto* rec = recordToDelete(m, profileId, egressRecord(m, profileId, key));
    if (!rec) {
        return;
    }
    auto it = rec->entry.find(oldAddr);
    if (it == rec->entry.end()) {
        VTRACE(staticTrace, 1, "Egress entry not found: " << oldAddr.toString());
    } else if (it->second.newAddr != newAddr) {
        VTRACE(staticTrace, 1,
               "New " << Side::kAddrWord << " mismatch in AddrPort table, entry not deleted");
    } else {
        VTRACE(staticTrace, 3, "Deleting egress entry for " << oldAddr.toString());
        Side::egressTable(m)->entryDel(it->second.matchSpec);
        rec->entry.erase(it);
        deleteAcl(m, key, oldAddr.port == 0);
        // As for ingress entries: only a translation that held its entry holds a fragment user.
        if (oldAddr.port != 0) {
            deleteEgressFragment(m, profileId, fragmentKey(key), {oldAddr.ip, 0}, {newAddr.ip, 0});
        }
    }
    prune(m, profileId, key);
}

template <class Side>
void StaticNatOps<Side>::deleteEgressFragment(M& m, uint16_t profileId,
                                              const HwStaticNatAclKey& key, IpAndPort oldAddr,
                                              IpAndPort newAddr) {
    auto* rec = recordToDelete(m, profileId, egressRecord(m, profileId, key));
    if (!rec) {
        return;
    }
    const ShareLeave left = SharedEntries<EgressFragments<Side>>::leave(
        *rec, oldAddr.ip, newAddr.ip, [&](const auto& frag) {
            Side::egressTable(m)->entryDel(frag.matchSpec);
            deleteAcl(m, key, false);
        });
    if (left == ShareLeave::lastEntry || left == ShareLeave::lastParked) {
        --Side::egressFragmentEntries(m);
    }
    if (left == ShareLeave::lastParked) {
        --Side::egressFragmentUnprogrammed(m);
    }
    prune(m, profileId, key);
}

template <class Side>
void StaticNatOps<Side>::removeEgressFragments(M& m, const HwStaticNatAclKey& key) {
    uint32_t removed = 0;
    for (auto& [profileId, p] : Side::profiles(m)) {
        auto it = Side::egressEntries(p).find(key);
        if (it == Side::egressEntries(p).end()) {
            continue;
        }
        removed += SharedEntries<EgressFragments<Side>>::parkAll(it->second, [&](const auto& frag) {
            Side::egressTable(m)->entryDel(frag.matchSpec);
            deleteAcl(m, key, false);
        });
    }
    Side::egressFragmentUnprogrammed(m) += removed;
    VTRACE(staticTrace, 2, "Removed " << removed << " " << Side::kLower << " fragment entries");
}

template struct StaticNatOps<SnatSide>;
template struct StaticNatOps<DnatSide>;

bool VyrNatTableMgrStatic::createEgressSnatEntry(uint16_t profileId, const HwStaticNatAclKey& key,
                                                 IpAndPort oldSrc, IpAndPort newSrc) {
    return StaticNatOps<SnatSide>::createEgress(*this, profileId, key, oldSrc, newSrc);
}

bool VyrNatTableMgrStatic::createEgressDnatEntry(uint16_t profileId, const HwStaticNatAclKey& key,
                                                 IpAndPort oldDst, IpAndPort newDst) {
    return StaticNatOps<DnatSide>::createEgress(*this, profileId, key, oldDst, newDst);
}

void VyrNatTableMgrStatic::deleteEgressSnatEntry(uint16_t profileId, const HwStaticNatAclKey& key,
                                                 IpAndPort oldSrc, IpAndPort newSrc) {
    StaticNatOps<SnatSide>::deleteEgress(*this, profileId, key, oldSrc, newSrc);
}

void VyrNatTableMgrStatic::deleteEgressDnatEntry(uint16_t profileId, const HwStaticNatAclKey& key,
                                                 IpAndPort oldDst, IpAndPort newDst) {
    StaticNatOps<DnatSide>::deleteEgress(*this, profileId, key, oldDst, newDst);
}

void VyrNatTableMgrStatic::deleteEgressSnatFragment(uint16_t profileId,
                                                    const HwStaticNatAclKey& key, IpAndPort oldSrc,
                                                    IpAndPort newSrc) {
    StaticNatOps<SnatSide>::deleteEgressFragment(*this, profileId, key, oldSrc, newSrc);
}

void VyrNatTableMgrStatic::deleteEgressDnatFragment(uint16_t profileId,
                                                    const HwStaticNatAclKey& key, IpAndPort oldDst,
                                                    IpAndPort newDst) {
    StaticNatOps<DnatSide>::deleteEgressFragment(*this, profileId, key, oldDst, newDst);
}

void VyrNatTableMgrStatic::removeEgressSnatFragmentEntries(const HwStaticNatAclKey& key) {
    StaticNatOps<SnatSide>::removeEgressFragments(*this, key);
}

void VyrNatTableMgrStatic::removeEgressDnatFragmentEntries(const HwStaticNatAclKey& key) {
    StaticNatOps<DnatSide>::removeEgressFragments(*this, key);
}

namespace {

// Binds the VLAN in one profile table; the VLAN is recorded once its entry is written.
template <class Table, class Action>
bool bindVlan(Table& table, std::map<uint16_t, typename Table::MatchSpec>& entries, uint16_t vlan,
              const Action& action) {
    typename Table::MatchSpec ms;
    ms.ingMdVlanIdIs(vlan);
    if (WriteRefusal refused = tableWriteRefused([&] { table.entryIs(ms, action); })) {
        VTRACE(staticTrace, 0,
               "updateEgressNatProfileTable: " << refused.text() << ", " << table.name()
                                               << ", vlan: " << vlan);
        RINGLOG(0, "updateEgressNatProfileTable: ERROR %s vlan %u", refused.name(), vlan);
        return false;
    }
    entries.insert_or_assign(vlan, ms);
    return true;
}

} // namespace

bool VyrNatTableMgrStatic::updateEgressNatProfileTable(uint16_t vlan, uint16_t profile) {
    // A chip whose program has neither profile table has nothing to bind: not a fault.
    VYR_ASSERT(profile < tableMgr()->profileCapabilities().natProfileTableSize());
    if (egressNatProfileTable_) {
        VyrP4::SetEgrNatProfileActionSpec action;
        action.egrNatProfileIdIs(profile);
        if (!bindVlan(*egressNatProfileTable_, hwEgressNatProfileEntries_, vlan, action)) {
            return false;
        }
    }
    if (dynamicEgressNatProfileTable_) {
        VyrP4::SetDynEgrNatProfileActionSpec action;
        action.dynEgrNatProfileIdIs(profile);
        return bindVlan(*dynamicEgressNatProfileTable_, hwDynamicEgressNatProfileEntries_, vlan,
                        action);
    }
    return true;
}

void VyrNatTableMgrStatic::deleteEgressNatProfileTable(uint16_t vlan) {
    if (egressNatProfileTable_) {
        if (auto it = hwEgressNatProfileEntries_.find(vlan);
            it != hwEgressNatProfileEntries_.end()) {
            egressNatProfileTable_->entryDel(it->second);
            hwEgressNatProfileEntries_.erase(it);
        } else {
            VTRACE(staticTrace, 2, "Vlan not found in the egressNatProfile table");
        }
    }
    if (dynamicEgressNatProfileTable_) {
        if (auto it = hwDynamicEgressNatProfileEntries_.find(vlan);
            it != hwDynamicEgressNatProfileEntries_.end()) {
            dynamicEgressNatProfileTable_->entryDel(it->second);
            hwDynamicEgressNatProfileEntries_.erase(it);
        } else {
            VTRACE(staticTrace, 2, "Vlan not found in the dynamicEgressNatProfile table");
        }
    }
}

} // namespace VyrNat

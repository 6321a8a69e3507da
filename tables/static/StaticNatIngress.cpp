// Ingress static translations: address-only and address-and-port entries with their shared
// fragment companions.

#include "common/TableWrite.h"
#include "common/VyrNatLogMessages.h"
#include "host/Ringlog.h"
#include "tables/static/StaticNatOps.h"

namespace VyrNat {

template <class Side>
bool StaticNatOps<Side>::update(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                IpAndPort oldAddr, IpAndPort newAddr, NextHop nh, bool update,
                                bool dynamicNat, bool egress) {
    if (dynamicNat) {
        // The fragment entry of a dynamic connection.
        VYR_CHECK(oldAddr.port == 0, Side::kDnat ? "oldDst.port() == 0" : "oldSrc.port() == 0");
        return createAddrOnly(m, profileId, key, oldAddr.ip, newAddr.ip, nh, update);
    }
    if (egress) {
        const bool programmed = createEgress(m, profileId, key, oldAddr, newAddr);
        if (programmed && oldAddr.port != 0) {
            createEgress(m, profileId, fragmentKey(key), {oldAddr.ip, 0}, {newAddr.ip, 0});
        }
        return programmed;
    }
    if (oldAddr.port == 0) {
        return createAddrOnly(m, profileId, key, oldAddr.ip, newAddr.ip, nh, update);
    }
    const bool programmed = createAddrPort(m, profileId, key, oldAddr, newAddr, nh, update);
    if (programmed) {
        createAddrOnly(m, profileId, fragmentKey(key), oldAddr.ip, newAddr.ip, nh, update);
    }
    return programmed;
}

template <class Side>
bool StaticNatOps<Side>::createAddrOnly(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                        IpAddr oldAddr, IpAddr newAddr, NextHop nh, bool update) {
    auto& table = Side::addrOnlyTable(m);
    VYR_CHECK(table, Side::kAddrOnlyTableCheck);
    auto* e = entry(m, profileId, key);
    if (e && Side::kDnat && update) {
        if (auto ms = e->addrOnlyMS.find(oldAddr); ms != e->addrOnlyMS.end()) {
            auto& programmed = ms->second;
            VYR_CHECK(Side::newAddr(programmed) == newAddr, "msEntry->newDip() == newDip");
            VTRACE(staticTrace, 3, "Entry update, ms found");
            if (WriteRefusal refused = tableWriteRefused([&] {
                    table->entryIs(programmed.matchSpec,
                                   Side::addrOnlyAction(oldAddr, newAddr, nh));
                })) {
                VTRACE(staticTrace, 1, "Entry update: " << refused.text());
                m.refusalIs(refused);
                return false;
            }
            Side::nextHopIs(programmed, nh);
            return true;
        }
        if (auto uf = e->unprogrammedFrag.find(oldAddr); uf != e->unprogrammedFrag.end()) {
            Side::unprogNextHopIs(uf->second, newAddr, nh.word());
            VTRACE(
                staticTrace, 3,
                "Unprogrammed fragment entry updated. Dips: " << Side::newAddrs(uf->second).size());
            return false;
        }
    }
    if (e && !key.fragment && e->addrOnlyMS.count(oldAddr)) {
        VTRACE(staticTrace, 1, "AddrOnly table duplicate entry found");
        Log::raise(natDuplicateEntry(), oldAddr.toString());
        m.refusalIs(kDuplicate);
        return false;
    }
    if (e && key.fragment) {
        const ShareJoin joined = SharedEntries<IngressFragments<Side>>::join(
            *e, oldAddr, newAddr,
            [&](const typename Side::AddrOnlyEntry& frag) {
                table->entryDel(frag.matchSpec);
                deleteAcl(m, key, false);
            },
            [&](typename Side::UnprogFrag& parked) {
                Side::unprogNextHopIs(parked, newAddr, nh.word());
            });
        if (joined == ShareJoin::parkedNow) {
            ++Side::fragmentUnprogrammed(m);
        }
        if (joined != ShareJoin::absent) {
            return joined == ShareJoin::shared;
        }
    }
    if constexpr (Side::kDnat) {
        VYR_CHECK(!update, "!update");
    }

    bool written = false;
    if (key.fragment && !fragmentRoom(Side::addrOnlyTableSize(m), Side::addrOnlyReserve(m),
                                      Side::fragmentEntries(m))) {
        VTRACE(staticTrace, 1,
               "Reached max number of fragment entries in " << Side::kAddrOnlyTableName
                                                            << " table");
    } else if (const uint16_t aclId = createAcl(m, key, !key.fragment, false); aclId != 0) {
        const auto spec = Side::addrOnlyMatch(profileId, aclId, oldAddr);
        if (WriteRefusal refused = tableWriteRefused(
                [&] { table->entryIs(spec, Side::addrOnlyAction(oldAddr, newAddr, nh)); })) {
            VTRACE(staticTrace, 1, refused.text());
            m.refusalIs(refused);
            deleteAcl(m, key, !key.fragment);
        } else {
            typename Side::AddrOnlyEntry rec;
            rec.matchSpec = spec;
            Side::newAddr(rec) = newAddr;
            rec.refCount = 1;
            Side::nextHopIs(rec, nh);
            entryIs(m, profileId, key).addrOnlyMS[oldAddr] = rec;
            written = true;
        }
    }
    if (!key.fragment) {
        return written;
    }
    ++Side::fragmentEntries(m);
    if (written) {
        return true;
    }
    typename Side::UnprogFrag frag;
    frag.addr = oldAddr;
    Side::newAddrs(frag)[newAddr] = 1;
    Side::unprogNextHopIs(frag, newAddr, nh.word());
    entryIs(m, profileId, key).unprogrammedFrag[oldAddr] = frag;
    ++Side::fragmentUnprogrammed(m);
    return false;
}

template <class Side>
bool StaticNatOps<Side>::createAddrPort(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                        IpAndPort oldAddr, IpAndPort newAddr, NextHop nh,
                                        bool update) {
    auto& table = Side::addrPortTable(m);
    VYR_CHECK(table, Side::kAddrPortTableCheck);
    if (auto* e = entry(m, profileId, key)) {
        if (auto ms = e->addrPortMS.find(oldAddr); ms != e->addrPortMS.end()) {
            if (Side::kDnat && update) {
                if (Side::newAddrPort(ms->second) != newAddr) {
                    VTRACE(staticTrace, 1, "AddrPort table duplicate entry found on update");
                    m.refusalIs(kDuplicate);
                    return false;
                }
                VTRACE(staticTrace, 3, "Entry update, ms found");
                if (WriteRefusal refused = tableWriteRefused([&] {
                        table->entryIs(ms->second.matchSpec,
                                       Side::addrPortAction(oldAddr, newAddr, nh));
                    })) {
                    VTRACE(staticTrace, 1, "Entry update: " << refused.text());
                    m.refusalIs(refused);
                    return false;
                }
                Side::nextHopIs(ms->second, nh);
                return true;
            }
            VTRACE(staticTrace, 1, "AddrPort table duplicate entry found");
            Log::raise(natDuplicateEntry(), oldAddr.toString());
            m.refusalIs(kDuplicate);
            return false;
        }
    }
    const uint16_t aclId = createAcl(m, key, false, false);
    if (aclId == 0) {
        return false;
    }
    const auto spec = Side::addrPortMatch(profileId, aclId, oldAddr);
    if (WriteRefusal refused = tableWriteRefused(
            [&] { table->entryIs(spec, Side::addrPortAction(oldAddr, newAddr, nh)); })) {
        VTRACE(staticTrace, 0, Side::kAddrPortOp << ": ERROR " << refused.name());
        m.refusalIs(refused);
        RINGLOG(0, "%s: ERROR %s", Side::kAddrPortOp, refused.name());
        deleteAcl(m, key, false);
        return false;
    }
    typename Side::AddrPortEntry rec;
    rec.matchSpec = spec;
    Side::newAddrPort(rec) = newAddr;
    Side::nextHopIs(rec, nh);
    entryIs(m, profileId, key).addrPortMS[oldAddr] = rec;
    return true;
}

template <class Side>
void StaticNatOps<Side>::deleteEntry(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                     IpAndPort oldAddr, IpAndPort newAddr) {
    auto* e = recordToDelete(m, profileId, entry(m, profileId, key));
    if (!e) {
        return;
    }
    if (oldAddr.port != 0) {
        auto ms = e->addrPortMS.find(oldAddr);
        if (ms == e->addrPortMS.end()) {
            VTRACE(staticTrace, 1, "AddrPort entry not found: " << oldAddr.toString());
        } else if (Side::newAddrPort(ms->second) != newAddr) {
            VTRACE(staticTrace, 1,
                   "New " << Side::kAddrWord << " mismatch in AddrPort table, entry not deleted");
        } else {
            VTRACE(staticTrace, 3, "Deleting addrPort entry for " << oldAddr.toString());
            Side::addrPortTable(m)->entryDel(ms->second.matchSpec);
            e->addrPortMS.erase(ms);
            deleteAcl(m, key, false);
            // Only a translation that held its entry holds a fragment user: releasing one for a
            // mismatched or unknown translation would take another translation's fragment.
            deleteFragment(m, profileId, fragmentKey(key), oldAddr.ip, newAddr.ip);
        }
    } else if (auto ms = e->addrOnlyMS.find(oldAddr.ip);
               ms != e->addrOnlyMS.end() && Side::newAddr(ms->second) == newAddr.ip) {
        VTRACE(staticTrace, 3, "Deleting addrOnly entry for " << oldAddr.ip.toString());
        Side::addrOnlyTable(m)->entryDel(ms->second.matchSpec);
        e->addrOnlyMS.erase(ms);
        deleteAcl(m, key, true);
    } else {
        VTRACE(staticTrace, 1,
               "New " << Side::kAddrWord << " mismatch in AddrOnly table, entry not deleted");
    }
    prune(m, profileId, key);
}

template <class Side>
void StaticNatOps<Side>::deleteFragment(M& m, uint16_t profileId, const HwStaticNatAclKey& key,
                                        IpAddr oldAddr, IpAddr newAddr) {
    auto* e = recordToDelete(m, profileId, entry(m, profileId, key));
    if (!e) {
        return;
    }
    const ShareLeave left = SharedEntries<IngressFragments<Side>>::leave(
        *e, oldAddr, newAddr, [&](const typename Side::AddrOnlyEntry& frag) {
            Side::addrOnlyTable(m)->entryDel(frag.matchSpec);
            deleteAcl(m, key, false);
        });
    if (left == ShareLeave::lastEntry || left == ShareLeave::lastParked) {
        --Side::fragmentEntries(m);
    }
    if (left == ShareLeave::lastParked) {
        --Side::fragmentUnprogrammed(m);
    }
    prune(m, profileId, key);
}

template <class Side> void StaticNatOps<Side>::removeFragments(M& m, const HwStaticNatAclKey& key) {
    uint32_t removed = 0;
    for (auto& [profileId, p] : Side::profiles(m)) {
        auto it = Side::entries(p).find(key);
        if (it == Side::entries(p).end()) {
            continue;
        }
        removed += SharedEntries<IngressFragments<Side>>::parkAll(
            it->second, [&](const typename Side::AddrOnlyEntry& frag) {
                Side::addrOnlyTable(m)->entryDel(frag.matchSpec);
                deleteAcl(m, key, false);
            });
    }
    Side::fragmentUnprogrammed(m) += removed;
    VTRACE(staticTrace, 2, "Removed " << removed << " " << Side::kLower << " fragment entries");
}

template struct StaticNatOps<SnatSide>;
template struct StaticNatOps<DnatSide>;

bool VyrNatTableMgrStatic::updateStaticSnat(uint16_t profileId, const HwStaticNatAclKey& key,
                                            IpAndPort oldSrc, IpAndPort newSrc, bool dynamicNat,
                                            bool egress) {
    return StaticNatOps<SnatSide>::update(*this, profileId, key, oldSrc, newSrc, {}, false,
                                          dynamicNat, egress);
}

bool VyrNatTableMgrStatic::updateStaticDnat(uint16_t profileId, const HwStaticNatAclKey& key,
                                            IpAndPort oldDst, IpAndPort newDst, uint32_t nextHop,
                                            bool ecmp, bool update, bool dynamicNat, bool egress) {
    return StaticNatOps<DnatSide>::update(*this, profileId, key, oldDst, newDst, {nextHop, ecmp},
                                          update, dynamicNat, egress);
}

bool VyrNatTableMgrStatic::createStaticSnatAddrOnlyTable(uint16_t profileId,
                                                         const HwStaticNatAclKey& key,
                                                         IpAddr oldSip, IpAddr newSip) {
    return StaticNatOps<SnatSide>::createAddrOnly(*this, profileId, key, oldSip, newSip, {}, false);
}

bool VyrNatTableMgrStatic::createStaticDnatAddrOnlyTable(uint16_t profileId,
                                                         const HwStaticNatAclKey& key,
                                                         IpAddr oldDip, IpAddr newDip,
                                                         uint32_t nextHop, bool ecmp, bool update) {
    return StaticNatOps<DnatSide>::createAddrOnly(*this, profileId, key, oldDip, newDip,
                                                  {nextHop, ecmp}, update);
}

bool VyrNatTableMgrStatic::createStaticSnatAddrPortTable(uint16_t profileId,
                                                         const HwStaticNatAclKey& key,
                                                         IpAndPort oldSrc, IpAndPort newSrc) {
    return StaticNatOps<SnatSide>::createAddrPort(*this, profileId, key, oldSrc, newSrc, {}, false);
}

bool VyrNatTableMgrStatic::createStaticDnatAddrPortTable(uint16_t profileId,
                                                         const HwStaticNatAclKey& key,
                                                         IpAndPort oldDst, IpAndPort newDst,
                                                         uint32_t nextHop, bool ecmp, bool update) {
    return StaticNatOps<DnatSide>::createAddrPort(*this, profileId, key, oldDst, newDst,
                                                  {nextHop, ecmp}, update);
}

void VyrNatTableMgrStatic::deleteStaticSnatEntry(uint16_t profileId, const HwStaticNatAclKey& key,
                                                 IpAndPort oldSrc, IpAndPort newSrc) {
    StaticNatOps<SnatSide>::deleteEntry(*this, profileId, key, oldSrc, newSrc);
}

void VyrNatTableMgrStatic::deleteStaticDnatEntry(uint16_t profileId, const HwStaticNatAclKey& key,
                                                 IpAndPort oldDst, IpAndPort newDst) {
    StaticNatOps<DnatSide>::deleteEntry(*this, profileId, key, oldDst, newDst);
}

void VyrNatTableMgrStatic::deleteStaticSnatFragment(uint16_t profileId,
                                                    const HwStaticNatAclKey& key, IpAddr oldSip,
                                                    IpAddr newSip) {
    StaticNatOps<SnatSide>::deleteFragment(*this, profileId, key, oldSip, newSip);
}

void VyrNatTableMgrStatic::deleteStaticDnatFragment(uint16_t profileId,
                                                    const HwStaticNatAclKey& key, IpAddr oldDip,
                                                    IpAddr newDip) {
    StaticNatOps<DnatSide>::deleteFragment(*this, profileId, key, oldDip, newDip);
}

void VyrNatTableMgrStatic::removeSnatFragmentEntries(const HwStaticNatAclKey& key) {
    StaticNatOps<SnatSide>::removeFragments(*this, key);
}

void VyrNatTableMgrStatic::removeDnatFragmentEntries(const HwStaticNatAclKey& key) {
    StaticNatOps<DnatSide>::removeFragments(*this, key);
}

} // namespace VyrNat

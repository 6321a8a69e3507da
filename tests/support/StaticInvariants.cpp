#include "tests/support/StaticInvariants.h"

#include "common/VyrNatUtils.h"
#include "tests/support/ChipCheck.h"

#include <map>

namespace TestSupport {

using namespace VyrNat;

namespace {

// Users of each ACL key: every entry written under its ACL id, and the non-fragment
// address-only ones among them.
struct AclUsers {
    uint32_t users = 0;
    uint32_t addrOnly = 0;
};

uint16_t addrOnlyDelta(IpAddr o, IpAddr n) {
    return calculateChecksumDeltaAddrOnly(o.value, n.value);
}
uint16_t addrPortDelta(IpAndPort o, IpAndPort n) {
    return calculateChecksumDeltaAddrPort(o.ip.value, n.ip.value, o.port, n.port);
}

VyrP4::SetTranslatedSipActionSpec sipAction(IpAddr o, IpAddr n) {
    VyrP4::SetTranslatedSipActionSpec a;
    a.checksumDeltaIs(addrOnlyDelta(o, n));
    a.translatedSipIs(n.value);
    return a;
}

template <class Action> Action dipAction(IpAddr o, IpAddr n, uint32_t nextHop) {
    if (nextHop & kNextHopEcmpBit) {
        VyrP4::SetTranslatedDipNextHopEcmpActionSpec a;
        a.checksumDeltaIs(addrOnlyDelta(o, n));
        a.translatedDipIs(n.value);
        a.ecmpIdIs(nextHop & ~kNextHopEcmpBit);
        return a;
    }
    VyrP4::SetTranslatedDipNextHopActionSpec a;
    a.checksumDeltaIs(addrOnlyDelta(o, n));
    a.translatedDipIs(n.value);
    a.nextHopIdIs(nextHop);
    return a;
}

struct Checker {
    VyrNatTableMgrStatic& mgr;
    std::string out;

    std::vector<VyrP4::AddrOnlySnatTable::Entry> addrOnlySnat;
    std::vector<VyrP4::AddrPortSnatTable::Entry> addrPortSnat;
    std::vector<VyrP4::AddrOnlyDnatTable::Entry> addrOnlyDnat;
    std::vector<VyrP4::AddrPortDnatTable::Entry> addrPortDnat;
    std::vector<VyrP4::EgrUcSnatTable::Entry> egressSnat;
    std::vector<VyrP4::EgrUcDnatTable::Entry> egressDnat;
    std::map<HwStaticNatAclKey, AclUsers> snatUsers;
    std::map<HwStaticNatAclKey, AclUsers> dnatUsers;

    void fail(const std::string& what) { out += what + "\n"; }

    template <class Profiles, class Ingress, class Egress>
    void walk(const Profiles& profiles, std::map<HwStaticNatAclKey, AclUsers>& users,
              uint32_t& frags, uint32_t& unprog, uint32_t& egressFrags, uint32_t& egressUnprog,
              Ingress ingress, Egress egress, const char* side) {
        for (const auto& [profileId, p] : profiles) {
            if (p.empty()) {
                fail(std::string(side) + " profile " + std::to_string(profileId) + " is empty");
            }
            for (const auto& [key, e] : ingress(p)) {
                if (e.empty()) {
                    fail(std::string(side) + " empty record " + key.str());
                }
                auto& u = users[key];
                u.users += uint32_t(e.addrPortMS.size() + e.addrOnlyMS.size());
                if (!key.fragment) {
                    u.addrOnly += uint32_t(e.addrOnlyMS.size());
                } else {
                    frags += uint32_t(e.addrOnlyMS.size() + e.unprogrammedFrag.size());
                    unprog += uint32_t(e.unprogrammedFrag.size());
                }
                if (!key.fragment && !e.unprogrammedFrag.empty()) {
                    fail(std::string(side) + " unprogrammed fragment under a non-fragment key");
                }
                for (const auto& [addr, f] : e.unprogrammedFrag) {
                    if (f.addr != addr || countsOf(f).empty()) {
                        fail(std::string(side) + " bad unprogrammed fragment " + addr.toString());
                    }
                    if (e.addrOnlyMS.count(addr)) {
                        fail(std::string(side) + " fragment both programmed and not " +
                             addr.toString());
                    }
                }
            }
            for (const auto& [key, r] : egress(p)) {
                if (r.empty()) {
                    fail(std::string(side) + " empty egress record " + key.str());
                }
                auto& u = users[key];
                u.users += uint32_t(r.entry.size());
                for (const auto& [old, e] : r.entry) {
                    if (!key.fragment && old.port == 0) {
                        ++u.addrOnly;
                    }
                }
                if (key.fragment) {
                    egressFrags += uint32_t(r.entry.size() + r.unprogrammedFrag.size());
                    egressUnprog += uint32_t(r.unprogrammedFrag.size());
                }
            }
        }
    }
    static const std::map<IpAddr, uint16_t>& countsOf(const SnatAddrOnlyUnprogFrag& f) {
        return f.newSip;
    }
    static const std::map<IpAddr, uint16_t>& countsOf(const DnatAddrOnlyUnprogFrag& f) {
        return f.newDip;
    }

    template <class Acls>
    void checkAcls(const Acls& acls, const IdBitmap& ids,
                   const std::map<HwStaticNatAclKey, AclUsers>& users, const char* side) {
        std::map<uint16_t, int> owners;
        for (const auto& [key, acl] : acls) {
            ++owners[acl.aclId];
            if (acl.aclId == 0 || !ids.test(acl.aclId)) {
                fail(std::string(side) + " ACL record without its id bit " + key.str());
            }
            auto it = users.find(key);
            const AclUsers u = it == users.end() ? AclUsers{} : it->second;
            if (acl.refCount != u.users || acl.addrOnly != u.addrOnly) {
                fail(std::string(side) + " ACL " + key.str() + " refCount " +
                     std::to_string(acl.refCount) + "/" + std::to_string(acl.addrOnly) +
                     " but users " + std::to_string(u.users) + "/" + std::to_string(u.addrOnly));
            }
        }
        for (const auto& [key, u] : users) {
            if (u.users > 0 && !acls.count(key)) {
                fail(std::string(side) + " entries under " + key.str() + " without an ACL record");
            }
        }
        if (!ids.test(0)) {
            fail(std::string(side) + " ACL id 0 is clear");
        }
        for (uint32_t id = 1; id < ids.size(); ++id) {
            if (ids.test(id) && owners[uint16_t(id)] != 1) {
                fail(std::string(side) + " ACL id " + std::to_string(id) + " has " +
                     std::to_string(owners[uint16_t(id)]) + " records");
            }
        }
    }

    void run() {
        uint32_t sf = 0, su = 0, esf = 0, esu = 0, df = 0, du = 0, edf = 0, edu = 0;
        walk(
            mgr.hwStaticSnatEntries(), snatUsers, sf, su, esf, esu,
            [](const HwStaticSnat& p) -> auto& { return p.staticSnatEntries; },
            [](const HwStaticSnat& p) -> auto& { return p.egressSnatEntries; }, "snat");
        walk(
            mgr.hwStaticDnatEntries(), dnatUsers, df, du, edf, edu,
            [](const HwStaticDnat& p) -> auto& { return p.staticDnatEntries; },
            [](const HwStaticDnat& p) -> auto& { return p.egressDnatEntries; }, "dnat");
        auto counter = [&](const char* name, uint32_t have, uint32_t want) {
            if (have != want) {
                fail(std::string(name) + " is " + std::to_string(have) + ", records say " +
                     std::to_string(want));
            }
        };
        counter("addrOnlySnatFragmentEntries", mgr.addrOnlySnatFragmentEntries(), sf);
        counter("addrOnlySnatFragmentUnprogrammedEntries",
                mgr.addrOnlySnatFragmentUnprogrammedEntries(), su);
        counter("addrOnlyDnatFragmentEntries", mgr.addrOnlyDnatFragmentEntries(), df);
        counter("addrOnlyDnatFragmentUnprogrammedEntries",
                mgr.addrOnlyDnatFragmentUnprogrammedEntries(), du);
        counter("egressSnatFragmentEntries", mgr.egressSnatFragmentEntries(), esf);
        counter("egressSnatFragmentUnprogrammedEntries",
                mgr.egressSnatFragmentUnprogrammedEntries(), esu);
        counter("egressDnatFragmentEntries", mgr.egressDnatFragmentEntries(), edf);
        counter("egressDnatFragmentUnprogrammedEntries",
                mgr.egressDnatFragmentUnprogrammedEntries(), edu);
        checkAcls(mgr.hwStaticSnatAclEntries(), mgr.snatAclIds(), snatUsers, "snat");
        checkAcls(mgr.hwStaticDnatAclEntries(), mgr.dnatAclIds(), dnatUsers, "dnat");
        checkTables();
    }

    void checkTables() {
        std::vector<VyrP4::StaticSnatAclTable::Entry> snatAcl;
        for (const auto& [key, acl] : mgr.hwStaticSnatAclEntries()) {
            VyrP4::SetSnatAclIdActionSpec a;
            a.snatAclIdIs(acl.aclId);
            snatAcl.emplace_back(acl.matchSpec, a);
        }
        std::vector<VyrP4::StaticDnatAclTable::Entry> dnatAcl;
        for (const auto& [key, acl] : mgr.hwStaticDnatAclEntries()) {
            VyrP4::SetDnatAclIdActionSpec a;
            a.dnatAclIdIs(acl.aclId);
            dnatAcl.emplace_back(acl.matchSpec, a);
        }
        for (const auto& [profileId, p] : mgr.hwStaticSnatEntries()) {
            for (const auto& [key, e] : p.staticSnatEntries) {
                for (const auto& [old, ms] : e.addrOnlyMS) {
                    addrOnlySnat.emplace_back(ms.matchSpec, sipAction(old, ms.newSip));
                }
                for (const auto& [old, ms] : e.addrPortMS) {
                    VyrP4::AddrPortSnatTable::Action a = sipAction(old.ip, ms.newSrc.ip);
                    if (ms.newSrc.port != 0) {
                        VyrP4::SetTranslatedSipPortActionSpec sp;
                        sp.checksumDeltaIs(addrPortDelta(old, ms.newSrc));
                        sp.translatedSipIs(ms.newSrc.ip.value);
                        sp.translatedSportIs(ms.newSrc.port);
                        a = sp;
                    }
                    addrPortSnat.emplace_back(ms.matchSpec, a);
                }
            }
            for (const auto& [key, r] : p.egressSnatEntries) {
                for (const auto& [old, e] : r.entry) {
                    VyrP4::EgrUcSnatTable::Action a;
                    if (e.newAddr.port == 0) {
                        VyrP4::EgrNatSipActionSpec s;
                        s.checksumDeltaIs(addrOnlyDelta(old.ip, e.newAddr.ip));
                        s.translatedSipIs(e.newAddr.ip.value);
                        a = s;
                    } else {
                        VyrP4::EgrNatSipPortActionSpec s;
                        s.checksumDeltaIs(addrPortDelta(old, e.newAddr));
                        s.translatedSipIs(e.newAddr.ip.value);
                        s.translatedSportIs(e.newAddr.port);
                        a = s;
                    }
                    egressSnat.emplace_back(e.matchSpec, a);
                }
            }
        }
        for (const auto& [profileId, p] : mgr.hwStaticDnatEntries()) {
            for (const auto& [key, e] : p.staticDnatEntries) {
                for (const auto& [old, ms] : e.addrOnlyMS) {
                    addrOnlyDnat.emplace_back(
                        ms.matchSpec,
                        dipAction<VyrP4::AddrOnlyDnatTable::Action>(old, ms.newDip, ms.nextHop));
                }
                for (const auto& [old, ms] : e.addrPortMS) {
                    VyrP4::AddrPortDnatTable::Action a =
                        dipAction<VyrP4::AddrPortDnatTable::Action>(old.ip, ms.newDst.ip,
                                                                    ms.nextHop);
                    if (ms.newDst.port != 0) {
                        const uint16_t delta = addrPortDelta(old, ms.newDst);
                        if (ms.nextHop & kNextHopEcmpBit) {
                            VyrP4::SetTranslatedDipPortNextHopEcmpActionSpec s;
                            s.checksumDeltaIs(delta);
                            s.translatedDipIs(ms.newDst.ip.value);
                            s.ecmpIdIs(ms.nextHop & ~kNextHopEcmpBit);
                            s.translatedDportIs(ms.newDst.port);
                            a = s;
                        } else {
                            VyrP4::SetTranslatedDipPortNextHopActionSpec s;
                            s.checksumDeltaIs(delta);
                            s.translatedDipIs(ms.newDst.ip.value);
                            s.nextHopIdIs(ms.nextHop);
                            s.translatedDportIs(ms.newDst.port);
                            a = s;
                        }
                    }
                    addrPortDnat.emplace_back(ms.matchSpec, a);
                }
            }
            for (const auto& [key, r] : p.egressDnatEntries) {
                for (const auto& [old, e] : r.entry) {
                    VyrP4::EgrUcDnatTable::Action a;
                    if (e.newAddr.port == 0) {
                        VyrP4::EgrNatDipActionSpec s;
                        s.checksumDeltaIs(addrOnlyDelta(old.ip, e.newAddr.ip));
                        s.translatedDipIs(e.newAddr.ip.value);
                        a = s;
                    } else {
                        VyrP4::EgrNatDipPortActionSpec s;
                        s.checksumDeltaIs(addrPortDelta(old, e.newAddr));
                        s.translatedDipIs(e.newAddr.ip.value);
                        s.translatedDportIs(e.newAddr.port);
                        a = s;
                    }
                    egressDnat.emplace_back(e.matchSpec, a);
                }
            }
        }
        out += tableDiff(*mgr.staticSnatAclTable(), snatAcl);
        out += tableDiff(*mgr.staticDnatAclTable(), dnatAcl);
        out += tableDiff(*mgr.addrOnlySnatTable(), addrOnlySnat);
        out += tableDiff(*mgr.addrPortSnatTable(), addrPortSnat);
        out += tableDiff(*mgr.addrOnlyDnatTable(), addrOnlyDnat);
        out += tableDiff(*mgr.addrPortDnatTable(), addrPortDnat);
        if (mgr.egressSnatTable()) {
            out += tableDiff(*mgr.egressSnatTable(), egressSnat);
            out += tableDiff(*mgr.egressDnatTable(), egressDnat);
        } else if (!egressSnat.empty() || !egressDnat.empty()) {
            fail("egress records without egress tables");
        }
        checkProfileTables();
    }

    void checkProfileTables() {
        if (auto t = mgr.egressNatProfileTable()) {
            if (t->entryCount() != mgr.hwEgressNatProfileEntries().size()) {
                fail("egressNatProfile holds " + std::to_string(t->entryCount()) +
                     " entries, records " + std::to_string(mgr.hwEgressNatProfileEntries().size()));
            }
            for (const auto& [vlan, spec] : mgr.hwEgressNatProfileEntries()) {
                if (!t->entry(spec)) {
                    fail("egressNatProfile lacks vlan " + std::to_string(vlan));
                }
            }
        }
        if (auto t = mgr.dynamicEgressNatProfileTable()) {
            if (t->entryCount() != mgr.hwDynamicEgressNatProfileEntries().size()) {
                fail("dynamicEgressNatProfile holds " + std::to_string(t->entryCount()) +
                     " entries, records " +
                     std::to_string(mgr.hwDynamicEgressNatProfileEntries().size()));
            }
        }
    }
};

} // namespace

std::string staticInvariants(VyrNatTableMgrStatic& mgr) {
    Checker c{mgr, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    c.run();
    return c.out;
}

std::string staticEmpty(VyrNatTableMgrStatic& mgr) {
    std::string out;
    auto check = [&](bool empty, const char* what) {
        if (!empty) {
            out += std::string(what) + " is not empty\n";
        }
    };
    check(mgr.hwStaticSnatAclEntries().empty(), "hwStaticSnatAclEntries");
    check(mgr.hwStaticDnatAclEntries().empty(), "hwStaticDnatAclEntries");
    check(mgr.hwStaticSnatEntries().empty(), "hwStaticSnatEntries");
    check(mgr.hwStaticDnatEntries().empty(), "hwStaticDnatEntries");
    check(mgr.hwEgressNatProfileEntries().empty(), "hwEgressNatProfileEntries");
    check(mgr.hwDynamicEgressNatProfileEntries().empty(), "hwDynamicEgressNatProfileEntries");
    check(mgr.snatAclIds().countSet() == 1, "snatAclIds beyond bit 0");
    check(mgr.dnatAclIds().countSet() == 1, "dnatAclIds beyond bit 0");
    check(mgr.addrOnlySnatFragmentEntries() == 0 && mgr.addrOnlyDnatFragmentEntries() == 0 &&
              mgr.egressSnatFragmentEntries() == 0 && mgr.egressDnatFragmentEntries() == 0 &&
              mgr.addrOnlySnatFragmentUnprogrammedEntries() == 0 &&
              mgr.addrOnlyDnatFragmentUnprogrammedEntries() == 0 &&
              mgr.egressSnatFragmentUnprogrammedEntries() == 0 &&
              mgr.egressDnatFragmentUnprogrammedEntries() == 0,
          "the fragment counters");
    for (auto t : {mgr.staticSnatAclTable()->entryCount(), mgr.staticDnatAclTable()->entryCount(),
                   mgr.addrOnlySnatTable()->entryCount(), mgr.addrPortSnatTable()->entryCount(),
                   mgr.addrOnlyDnatTable()->entryCount(), mgr.addrPortDnatTable()->entryCount()}) {
        check(t == 0, "an ingress static table");
    }
    if (mgr.egressSnatTable()) {
        check(mgr.egressSnatTable()->entryCount() == 0, "egrUcSnat");
        check(mgr.egressDnatTable()->entryCount() == 0, "egrUcDnat");
    }
    return out;
}

} // namespace TestSupport

#include "tests/support/Invariants.h"

#include "tables/egress/EgressStaticSides.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/static/StaticNatDirection.h"
#include "tables/static/StaticNatOps.h"
#include "tables/vrf/VyrNatTableMgrVrf.h"
#include "tests/support/ChipCheck.h"

#include <map>
#include <set>

namespace TestSupport {

using namespace VyrNat;

namespace {

std::string line(const std::string& what) {
    return what + "\n";
}

// --- Static manager ---

// The table class held by a table slot.
template <class Slot> using TableOf = typename std::remove_cvref_t<Slot>::element_type;

// The users of each ACL key: every entry written under its ACL id, and the non-fragment
// address-only ones among them.
struct AclUsers {
    uint32_t users = 0;
    uint32_t addrOnly = 0;
};

template <class Side> struct StaticCheck {
    using M = VyrNatTableMgrStatic;
    const M& mgr;
    const std::map<HwStaticNatAclKey, typename Side::AclEntry>& acls;
    const std::map<uint16_t, typename Side::Profile>& profiles;
    std::string out;
    bool dynamicFragments = false; // connections may hold fragment entries too

    void run(const IdBitmap& ids, uint32_t fragments, uint32_t unprogrammed,
             uint32_t egressFragments, uint32_t egressUnprogrammed) {
        std::map<HwStaticNatAclKey, AclUsers> users;
        std::vector<typename TableOf<decltype(Side::addrOnlyTable(mgr))>::Entry> addrOnly;
        std::vector<typename TableOf<decltype(Side::addrPortTable(mgr))>::Entry> addrPort;
        std::vector<typename TableOf<decltype(Side::egressTable(mgr))>::Entry> egress;
        uint32_t frags = 0, unprog = 0, egressFrags = 0, egressUnprog = 0;
        auto aclIdOf = [&](const HwStaticNatAclKey& key) -> uint16_t {
            auto it = acls.find(key);
            return it == acls.end() ? 0 : it->second.aclId;
        };
        for (const auto& [profileId, p] : profiles) {
            const std::string where =
                std::string(Side::kLower) + " profile " + std::to_string(profileId) + ": ";
            if (p.empty()) {
                out += line(where + "empty record kept");
            }
            for (const auto& [key, e] : Side::entries(p)) {
                if (e.empty()) {
                    out += line(where + "empty record kept for " + key.str());
                }
                auto& u = users[key];
                u.users += uint32_t(e.addrPortMS.size() + e.addrOnlyMS.size());
                if (key.fragment) {
                    frags += uint32_t(e.addrOnlyMS.size() + e.unprogrammedFrag.size());
                    unprog += uint32_t(e.unprogrammedFrag.size());
                } else {
                    u.addrOnly += uint32_t(e.addrOnlyMS.size());
                    if (!e.unprogrammedFrag.empty()) {
                        out += line(where + "unprogrammed fragment under " + key.str());
                    }
                }
                const uint16_t aclId = aclIdOf(key);
                for (const auto& [old, ms] : e.addrOnlyMS) {
                    if (e.unprogrammedFrag.count(old)) {
                        out += line(where + "fragment both programmed and not: " + old.toString());
                    }
                    addrOnly.emplace_back(
                        Side::addrOnlyMatch(profileId, aclId, old),
                        Side::addrOnlyAction(old, Side::newAddr(ms),
                                             NextHop::ofWord(Side::recordedNextHop(ms))));
                }
                for (const auto& [old, ms] : e.addrPortMS) {
                    NextHop nh;
                    if constexpr (Side::kDnat) {
                        nh = NextHop::ofWord(ms.nextHop);
                    }
                    addrPort.emplace_back(Side::addrPortMatch(profileId, aclId, old),
                                          Side::addrPortAction(old, Side::newAddrPort(ms), nh));
                }
                for (const auto& [old, f] : e.unprogrammedFrag) {
                    if (f.addr != old || Side::newAddrs(f).empty()) {
                        out += line(where + "bad unprogrammed fragment " + old.toString());
                    }
                }
            }
            for (const auto& [key, r] : Side::egressEntries(p)) {
                if (r.empty()) {
                    out += line(where + "empty egress record kept for " + key.str());
                }
                auto& u = users[key];
                u.users += uint32_t(r.entry.size());
                for (const auto& [old, e] : r.entry) {
                    u.addrOnly += !key.fragment && old.port == 0;
                    egress.emplace_back(Side::egressMatch(profileId, aclIdOf(key), old),
                                        Side::egressAction(old, e.newAddr));
                }
                if (key.fragment) {
                    egressFrags += uint32_t(r.entry.size() + r.unprogrammedFrag.size());
                    egressUnprog += uint32_t(r.unprogrammedFrag.size());
                }
            }
        }
        checkFragmentUsers();
        auto counter = [&](const char* name, uint32_t have, uint32_t want) {
            if (have != want) {
                out += line(std::string(Side::kLower) + " " + name + " is " + std::to_string(have) +
                            ", records say " + std::to_string(want));
            }
        };
        counter("fragment entries", fragments, frags);
        counter("unprogrammed fragment entries", unprogrammed, unprog);
        counter("egress fragment entries", egressFragments, egressFrags);
        counter("egress unprogrammed fragment entries", egressUnprogrammed, egressUnprog);
        checkAcls(ids, users);
        out += tableDiff(*Side::addrOnlyTable(mgr), addrOnly);
        out += tableDiff(*Side::addrPortTable(mgr), addrPort);
        if (Side::egressTable(mgr)) {
            out += tableDiff(*Side::egressTable(mgr), egress);
        } else if (!egress.empty()) {
            out += line("egress records without egress tables");
        }
    }

    // Every address-and-port translation is one user of the fragment entry of its address,
    // programmed or parked, under the fragment key.
    void checkFragmentUsers() {
        for (const auto& [profileId, p] : profiles) {
            std::map<std::pair<HwStaticNatAclKey, IpAddr>, uint32_t> want, have;
            for (const auto& [key, e] : Side::entries(p)) {
                for (const auto& [old, ms] : e.addrPortMS) {
                    ++want[{fragmentKey(key), old.ip}];
                }
                if (key.fragment) {
                    for (const auto& [addr, f] : e.addrOnlyMS) {
                        have[{key, addr}] += f.refCount;
                    }
                    for (const auto& [addr, f] : e.unprogrammedFrag) {
                        for (const auto& [newAddr, n] : Side::newAddrs(f)) {
                            have[{key, addr}] += n;
                        }
                    }
                }
            }
            for (const auto& [key, r] : Side::egressEntries(p)) {
                for (const auto& [old, e] : r.entry) {
                    if (key.fragment) {
                        have[{key, old.ip}] += e.refCount;
                    } else if (old.port != 0) {
                        ++want[{fragmentKey(key), old.ip}];
                    }
                }
                for (const auto& [addr, f] : r.unprogrammedFrag) {
                    for (const auto& [newAddr, n] : f.newAddr) {
                        have[{key, addr}] += n;
                    }
                }
            }
            // Each connection's fragment entry is one more user, which only the helper knows of.
            bool fewer = false;
            for (const auto& [k, n] : want) {
                fewer |= have[k] < n;
            }
            if (dynamicFragments ? fewer : want != have) {
                out += line(std::string(Side::kLower) + " profile " + std::to_string(profileId) +
                            ": fragment users do not match the address-and-port translations");
            }
        }
    }

    void checkAcls(const IdBitmap& ids, const std::map<HwStaticNatAclKey, AclUsers>& users) {
        std::vector<typename TableOf<decltype(Side::aclTable(mgr))>::Entry> expected;
        std::map<uint16_t, int> owners;
        for (const auto& [key, acl] : acls) {
            ++owners[acl.aclId];
            if (acl.aclId == 0 || !ids.test(acl.aclId)) {
                out += line(std::string(Side::kLower) + " ACL without its id: " + key.str());
            }
            auto it = users.find(key);
            const AclUsers u = it == users.end() ? AclUsers{} : it->second;
            if (acl.refCount != u.users || acl.addrOnly != u.addrOnly) {
                out +=
                    line(std::string(Side::kLower) + " ACL " + key.str() + " counts " +
                         std::to_string(acl.refCount) + "/" + std::to_string(acl.addrOnly) +
                         ", users " + std::to_string(u.users) + "/" + std::to_string(u.addrOnly));
            }
            expected.emplace_back(Side::aclMatch(key), Side::aclAction(acl.aclId));
        }
        for (const auto& [key, u] : users) {
            if (u.users > 0 && !acls.count(key)) {
                out += line(std::string(Side::kLower) + " entries without an ACL: " + key.str());
            }
        }
        if (!ids.test(0)) {
            out += line(std::string(Side::kLower) + " ACL id 0 is free");
        }
        for (uint32_t id = 1; id < ids.size(); ++id) {
            if (ids.test(id) && owners[uint16_t(id)] != 1) {
                out += line(std::string(Side::kLower) + " ACL id " + std::to_string(id) + " has " +
                            std::to_string(owners[uint16_t(id)]) + " records");
            }
        }
        out += tableDiff(*Side::aclTable(mgr), expected);
    }
};

// The VLANs a profile table holds are the ones recorded, each with one entry.
template <class Table>
std::string profileTable(const std::shared_ptr<Table>& table,
                         const std::map<uint16_t, typename Table::MatchSpec>& records) {
    if (!table) {
        return records.empty() ? "" : line("VLAN records without their table");
    }
    std::set<typename Table::MatchSpec> recorded;
    for (const auto& [vlan, ms] : records) {
        recorded.insert(ms);
    }
    std::set<typename Table::MatchSpec> held;
    for (const auto& e : table->entries()) {
        held.insert(e.match());
    }
    return recorded == held ? ""
                            : line(table->name() + ": " + std::to_string(held.size()) +
                                   " entries for " + std::to_string(recorded.size()) + " VLANs");
}

template <class Side>
bool recorded(const std::map<uint16_t, typename Side::Profile>& profiles, uint16_t profile,
              const HwStaticNatAclKey& key, bool egress, IpAndPort oldAddr, IpAndPort newAddr) {
    auto p = profiles.find(profile);
    if (p == profiles.end()) {
        return false;
    }
    if (egress) {
        auto r = Side::egressEntries(p->second).find(key);
        return r != Side::egressEntries(p->second).end() && r->second.entry.count(oldAddr) &&
               r->second.entry.at(oldAddr).newAddr == newAddr;
    }
    auto r = Side::entries(p->second).find(key);
    if (r == Side::entries(p->second).end()) {
        return false;
    }
    if (oldAddr.port == 0) {
        auto e = r->second.addrOnlyMS.find(oldAddr.ip);
        return e != r->second.addrOnlyMS.end() && Side::newAddr(e->second) == newAddr.ip;
    }
    auto e = r->second.addrPortMS.find(oldAddr);
    return e != r->second.addrPortMS.end() && Side::newAddrPort(e->second) == newAddr;
}

// --- Egress static manager ---

template <class T, class Records>
std::string egressDirection(const VyrNatTableMgrEgressStatic& mgr, const Records& records) {
    std::string out;
    std::vector<typename std::remove_reference_t<decltype(T::addrTable(mgr))>::Entry> addr;
    std::vector<typename std::remove_reference_t<decltype(T::addrPortTable(mgr))>::Entry> ports;
    const char* dir = T::kDnat ? "dnat" : "snat";
    for (const auto& [id, hw] : records) {
        const std::string where = std::string(dir) + " profile " + std::to_string(id) + ": ";
        if (hw.profile != id || hw.empty()) {
            out += line(where + "bad record");
        }
        std::map<IpAddr, uint32_t> portUsers;
        for (const auto& [key, e] : hw.addrPortMS) {
            if (!e.programmed) {
                out += line(where + "address-and-port record not programmed: " + key.str());
            }
            ports.emplace_back(T::addrPortMatch(id, key.ip, key.proto),
                               T::addrPortAction(key.ip, e.newIpPort));
            ++portUsers[key.ip.ip];
        }
        std::set<typename std::remove_cvref_t<decltype(hw)>::AddrKey> unprogrammed;
        for (const auto& [key, e] : hw.addrOnlyMS) {
            const auto ms = T::addrMatch(id, key.frag, key.ip);
            if (e.programmed) {
                if (!e.inHardware) {
                    out += line(where + "programmed but not in hardware: " + key.str());
                }
                addr.emplace_back(ms, T::addrAction(key.ip, e.newIp));
            } else {
                unprogrammed.insert(key);
                // A refused rewrite leaves the earlier entry in the chip until the retry.
                if (e.inHardware) {
                    if (auto held = T::addrTable(mgr).entry(ms)) {
                        addr.push_back(*held);
                    } else {
                        out += line(where + "earlier entry missing: " + key.str());
                    }
                }
            }
            // Fragment entries serve the address-and-port translations of the address; the
            // other entry its address-only translations and, for DNAT, their drop entry.
            const uint32_t fromPorts = portUsers.count(key.ip) ? portUsers[key.ip] : 0;
            const uint32_t want =
                key.frag ? fromPorts : (T::kDnat ? fromPorts : 0) + e.addressUsers;
            if (e.refCount != want || want == 0 || (key.frag && e.addressUsers != 0)) {
                out += line(where + key.str() + " counts " + std::to_string(e.refCount) +
                            ", users " + std::to_string(want));
            }
            if (T::kDnat && !key.frag && e.addressUsers == 0 && !e.newIp.isZero()) {
                out += line(where + key.str() + " translates with no address-only translation");
            }
        }
        if (unprogrammed != hw.retryList) {
            out +=
                line(where + "retry list holds " + std::to_string(hw.retryList.size()) +
                     " keys for " + std::to_string(unprogrammed.size()) + " unprogrammed entries");
        }
    }
    out += tableDiff(T::addrTable(mgr), addr);
    out += tableDiff(T::addrPortTable(mgr), ports);
    return out;
}

} // namespace

std::string staticInvariants(const VyrNatTableMgrStatic& mgr, bool dynamicFragments) {
    StaticCheck<SnatSide> snat{
        mgr, mgr.hwStaticSnatAclEntries(), mgr.hwStaticSnatEntries(), {}, dynamicFragments};
    snat.run(mgr.snatAclIds(), mgr.addrOnlySnatFragmentEntries(),
             mgr.addrOnlySnatFragmentUnprogrammedEntries(), mgr.egressSnatFragmentEntries(),
             mgr.egressSnatFragmentUnprogrammedEntries());
    StaticCheck<DnatSide> dnat{
        mgr, mgr.hwStaticDnatAclEntries(), mgr.hwStaticDnatEntries(), {}, dynamicFragments};
    dnat.run(mgr.dnatAclIds(), mgr.addrOnlyDnatFragmentEntries(),
             mgr.addrOnlyDnatFragmentUnprogrammedEntries(), mgr.egressDnatFragmentEntries(),
             mgr.egressDnatFragmentUnprogrammedEntries());
    return snat.out + dnat.out +
           profileTable(mgr.egressNatProfileTable(), mgr.hwEgressNatProfileEntries()) +
           profileTable(mgr.dynamicEgressNatProfileTable(), mgr.hwDynamicEgressNatProfileEntries());
}

std::string egressStaticInvariants(const VyrNatTableMgrEgressStatic& mgr) {
    return egressDirection<EgrSnatTraits>(mgr, mgr.hwStaticSnatEntries()) +
           egressDirection<EgrDnatTraits>(mgr, mgr.hwStaticDnatEntries()) +
           profileTable(mgr.ingNatProfileTable(), mgr.hwIngNatProfileEntries()) +
           profileTable(mgr.egrNatProfileTable(), mgr.hwEgrNatProfileEntries());
}

std::string vrfInvariants(const VyrNatTableMgrVrf& mgr) {
    std::string out;
    std::size_t sources = 0;
    for (const auto& [vrf, e] : mgr.hwSnatEntries()) {
        sources += e.matchSpec.size();
        if (e.vrfId != vrf || e.matchSpec.empty()) {
            out += line("bad source record of vrf " + std::to_string(vrf));
        }
        for (const auto& [addr, ms] : e.matchSpec) {
            if (!mgr.defaultVrfSnatTable()->entry(ms)) {
                out += line("source " + addr.toString() + " of vrf " + std::to_string(vrf) +
                            " not in the chip");
            }
        }
    }
    auto counted = [&](const char* what, std::size_t records, std::size_t entries) {
        if (records != entries) {
            out += line(std::string(what) + ": " + std::to_string(entries) + " entries for " +
                        std::to_string(records) + " records");
        }
    };
    counted("defaultVrfSnat", sources, mgr.defaultVrfSnatTable()->entryCount());
    counted("addrAndVrfDnat", mgr.hwDnatEntries().matchSpec.size(),
            mgr.addrAndVrfDnatTable()->entryCount());
    counted("natPolicer", mgr.hwPolicerEntries().matchSpec.size(),
            mgr.natPolicerTable()->entryCount());
    for (const auto& [vrf, ms] : mgr.hwPolicerEntries().matchSpec) {
        for (const auto& [pipe, config] : mgr.meterTableConfig()->pipeConfig) {
            if (!config->config.find(vrf)) {
                out += line("policer of vrf " + std::to_string(vrf) + " without its meter");
            }
        }
    }
    return out;
}

std::string invariants(const VyrNatTableMgr& owner, bool dynamicFragments) {
    std::string out;
    if (const auto* st = owner.tableMgrStatic()) {
        out += staticInvariants(*st, dynamicFragments);
    }
    if (const auto* eg = owner.tableMgrEgressStatic()) {
        out += egressStaticInvariants(*eg);
    }
    if (const auto* vrf = owner.tableMgrVrf()) {
        out += vrfInvariants(*vrf);
    }
    if (const auto* dyn = owner.tableMgrDynamic()) {
        out += dynamicInvariants(*dyn);
    }
    if (const auto* twice = owner.tableMgrTwice()) {
        out += twiceInvariants(*twice);
    }
    if (const auto* flow = owner.tableMgrNatFlow()) {
        out += flowInvariants(*flow);
    }
    return out;
}

bool staticRecorded(const VyrNatTableMgrStatic& mgr, bool dnat, uint16_t profile,
                    const HwStaticNatAclKey& key, bool egress, IpAndPort oldAddr,
                    IpAndPort newAddr) {
    return dnat ? recorded<DnatSide>(mgr.hwStaticDnatEntries(), profile, key, egress, oldAddr,
                                     newAddr)
                : recorded<SnatSide>(mgr.hwStaticSnatEntries(), profile, key, egress, oldAddr,
                                     newAddr);
}

std::string leftOver(const VyrNatTableMgr& owner, const VyrP4::Chip& chip,
                     const Scenario::ChipSnapshot& started) {
    std::string out;
    for (const auto& mgr : owner.managers()) {
        for (const auto& r : mgr->recordCounts()) {
            if (r.count != 0) {
                out += line(std::string(r.label) + std::to_string(r.count));
            }
        }
    }
    return out + Scenario::changes(started, Scenario::snapshot(chip));
}

} // namespace TestSupport

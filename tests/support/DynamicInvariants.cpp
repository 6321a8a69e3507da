// What must hold of the dynamic manager between any two operations: every dynamic table holds
// exactly the match specs its records stand for, no two records share an entry, and the DNAT1
// split, the partitions' counts and the shared address-only entries' reference counts agree
// with the records.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/ChipCheck.h"
#include "tests/support/Invariants.h"

#include <map>

namespace TestSupport {

using namespace VyrNat;

namespace {

std::string line(const std::string& what) {
    return what + "\n";
}

template <class Table>
std::string keysOf(const std::shared_ptr<Table>& table,
                   const std::vector<typename Table::MatchSpec>& expected) {
    if (!table) {
        return expected.empty() ? "" : line("records for a table that does not exist");
    }
    return keyDiff(*table, expected);
}

std::string counted(const char* what, std::size_t have, std::size_t want) {
    return have == want ? ""
                        : line(std::string(what) + " " + std::to_string(have) + ", records " +
                               std::to_string(want));
}

template <class Partitioned> std::string partitions(const Partitioned& partitioned) {
    std::string out;
    std::map<uint8_t, std::vector<typename Partitioned::Table::MatchSpec>> specs;
    partitioned.flowToMatchSpecMap().forEach([&](const FlowAndVrfType& conn, const auto& found) {
        specs[found.place].push_back(Partitioned::matchSpec(conn.flow.protocol, found.addrs));
    });
    std::size_t records = 0;
    for (const auto& [id, base] : partitioned.partition()) {
        const auto* p = partitioned.typedPartition(id);
        const std::string name = p->name();
        out += counted((name + " entries").c_str(), p->entries(), specs[id].size());
        if (p->entries() > p->size()) {
            out += line(name + " holds more than its size");
        }
        out += keysOf(p->table(), specs[id]);
        records += specs[id].size();
    }
    out += counted("partition records", partitioned.flowToMatchSpecMap().size(), records);
    return out;
}

} // namespace

std::string dynamicInvariants(const VyrNatTableMgrDynamic& mgr) {
    using S = DynamicSnatTable;
    using D = DynamicDnatTable;
    std::string out;
    std::vector<VyrP4::DynamicSnat1MatchSpec> snat1;
    std::vector<VyrP4::DynamicSnat2MatchSpec> snat2;
    std::vector<VyrP4::DynamicDnat1MatchSpec> dnat1;
    std::vector<VyrP4::DynamicDnat2MatchSpec> dnat2;
    // Each record's match, in the table its place names; a record its connection does not
    // find again is lost.
    auto collect = [&](const auto& records, const char* side, auto&& into) {
        std::size_t n = 0;
        records.forEach([&](const FlowAndVrfType& c, const auto& found) {
            ++n;
            if (!into(found.place, c.flow.protocol, found.addrs, c.vrfId)) {
                out += line(std::string(side) + " record in no five-tuple table: " + c.str());
            }
            if (records.place(c.flow, c.vrfId) != found.place) {
                out += line(std::string(side) + " record not found by its connection: " + c.str());
            }
        });
        out += counted(side, records.size(), n);
    };
    collect(mgr.dynamicSnatTable(), "SNAT",
            [&](S place, uint8_t p, const MatchAddrs& a, uint32_t vrf) {
                if (place == S::dynSnat1) {
                    snat1.push_back(mgr.matchSpec<VyrP4::DynamicSnat1MatchSpec>(p, a, vrf));
                } else if (place == S::dynSnat2) {
                    snat2.push_back(mgr.matchSpec<VyrP4::DynamicSnat2MatchSpec>(p, a, vrf));
                } else if (place == S::dynDnat1Snat) {
                    dnat1.push_back(mgr.matchSpec<VyrP4::DynamicDnat1MatchSpec>(p, a, vrf));
                } else {
                    return false;
                }
                return true;
            });
    collect(mgr.dynamicDnatTable(), "DNAT",
            [&](D place, uint8_t p, const MatchAddrs& a, uint32_t vrf) {
                if (place == D::dynDnat1Dnat) {
                    dnat1.push_back(mgr.matchSpec<VyrP4::DynamicDnat1MatchSpec>(p, a, vrf));
                } else if (place == D::dynDnat2) {
                    dnat2.push_back(mgr.matchSpec<VyrP4::DynamicDnat2MatchSpec>(p, a, vrf));
                } else {
                    return false;
                }
                return true;
            });
    out += keysOf(mgr.dynamicSnat1Table(), snat1);
    out += keysOf(mgr.dynamicSnat2Table(), snat2);
    out += keysOf(mgr.dynamicDnat1Table(), dnat1);
    out += keysOf(mgr.dynamicDnat2Table(), dnat2);
    out += counted("snat1", mgr.dynamicSnatTable().count(S::dynSnat1), snat1.size());
    out += counted("snat2", mgr.dynamicSnatTable().count(S::dynSnat2), snat2.size());

    const auto dnat1Snat = mgr.dynamicSnatTable().count(S::dynDnat1Snat);
    const auto dnat1Dnat = mgr.dynamicDnatTable().count(D::dynDnat1Dnat);
    out += counted("dnat1SnatEntries", mgr.dnat1SnatEntries(), dnat1Snat);
    out += counted("dnat1DnatEntries", mgr.dnat1DnatEntries(), dnat1Dnat);
    if (mgr.dnat1SnatEntries() > mgr.dnat1SnatEntriesMax() ||
        mgr.dnat1DnatEntries() > mgr.dnat1DnatEntriesMax()) {
        out += line("DNAT1 beyond its split");
    }

    out += partitions(*mgr.dynamicSnatPartitionedTable());
    out += partitions(*mgr.dynamicDnatPartitionedTable());

    std::vector<VyrP4::DynamicAddrOnlySnatMatchSpec> addrOnlySnat;
    for (const auto& [key, ms] : mgr.dynamicAddrOnlySnatKeyToMatchSpec()) {
        addrOnlySnat.push_back(ms);
    }
    out += keysOf(mgr.dynamicAddrOnlySnatTable(), addrOnlySnat);
    std::vector<VyrP4::DynamicAddrOnlyDnatMatchSpec> addrOnlyDnat;
    std::size_t users = 0;
    for (const auto& [key, share] : mgr.dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount()) {
        addrOnlyDnat.push_back(share.matchSpec);
        users += share.refCount;
        if (share.refCount == 0 || share.matchSpec.outerIpv4HdrDip() != key.ip.value ||
            share.matchSpec.ingMdNatProfileId() != key.profile) {
            out += line("shared address-only DNAT entry of " + key.ip.toString() + " profile " +
                        std::to_string(key.profile) + " with " + std::to_string(share.refCount) +
                        " users");
        }
    }
    out += keysOf(mgr.dynamicAddrOnlyDnatTable(), addrOnlyDnat);
    out += counted("address-only DNAT users", users,
                   mgr.dynamicAddrOnlyDnatFlowProfileToNewDip().size());
    return out;
}

} // namespace TestSupport

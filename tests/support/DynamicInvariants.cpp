// What must hold of the dynamic manager between any two operations: every dynamic table holds
// exactly the match specs its records stand for, no two records share an entry, and the DNAT1
// split, the partitions' counts and the shared address-only entries' reference counts agree
// with the records. The full-cone helpers' compress entries are counted by the full-cone
// entries of their range id and hold the ids the range map has taken; the dynamic SNAT ACL
// entries are written as their keys say. The CPU trap tables are checked in
// DynamicTrapInvariants.cpp.

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

// A full-cone helper: each compress entry maps its prefix to its range id, no two share an id,
// the range map has exactly their ids (and 0) taken, each is counted once per user of a
// full-cone entry of its id, and both tables hold exactly the recorded entries.
template <class Helper, class FullConeTable, class CompressTable, class Entries, class SpecOf>
std::string fullCone(const Helper& helper, const std::shared_ptr<FullConeTable>& table,
                     const std::shared_ptr<CompressTable>& compressTable, const Entries& entries,
                     SpecOf specOf) {
    std::string out;
    std::map<uint16_t, uint64_t> users;
    std::vector<typename FullConeTable::MatchSpec> specs;
    for (const auto& [key, entry] : entries) {
        users[key.rangeId] += entry.refCount;
        if (entry.refCount == 0 || !(entry.key == key) || !(entry.matchSpec == specOf(key))) {
            out += line(std::string(helper.getCompressTableName()) + ": full-cone entry of range " +
                        std::to_string(key.rangeId) + " " + entry.matchSpec.str());
        }
        specs.push_back(entry.matchSpec);
    }
    out += keysOf(table, specs);
    std::vector<typename CompressTable::MatchSpec> compress;
    std::map<uint16_t, int> ids;
    for (const auto& [addr, entry] : helper.dynamicFullConeCompress()) {
        const std::string what = std::string(helper.getCompressTableName()) + " " + addr.toString();
        typename CompressTable::MatchSpec ms;
        ms.outerIpv4HdrDipIs(addr.addr.value, addr.mask);
        if (!(entry.addr == addr) || !(entry.matchSpec == ms) || entry.rangeId == 0 ||
            ++ids[entry.rangeId] > 1 || !helper.rangeIdMap().test(entry.rangeId)) {
            out += line(what + ": entry or range id " + std::to_string(entry.rangeId));
        }
        out += counted((what + " refCount").c_str(), entry.refCount, users[entry.rangeId]);
        users.erase(entry.rangeId);
        const auto written = compressTable ? compressTable->entry(ms) : std::nullopt;
        const auto* action =
            written ? written->template actionIf<VyrP4::SetFullConeDipRangeIdActionSpec>()
                    : nullptr;
        if (written && (!action || action->rangeId() != entry.rangeId)) {
            out += line(what + " maps to " + written->str());
        }
        compress.push_back(ms);
    }
    out += keysOf(compressTable, compress);
    for (const auto& [rangeId, n] : users) {
        out += line("full-cone entries of range " + std::to_string(rangeId) + " without a prefix");
    }
    if (helper.rangeIdMap().size() > 0) {
        out += counted("range ids taken", helper.rangeIdMap().countSet() - 1, compress.size());
    }
    return out;
}

std::string snatAcl(const VyrDynamicSnatAclHelper& helper) {
    std::string out;
    std::vector<VyrP4::DynamicSnatAclMatchSpec> specs;
    for (const auto& [key, entry] : helper.dynamicSnatAcl()) {
        const auto& ms = entry.matchSpec;
        if (entry.refCount == 0 || !(entry.key == key) ||
            ms.ingMdEgrNatProfileId() != uint8_t(key.profile) ||
            ms.outerIpv4HdrProtocol() != key.protocol ||
            ms.outerIpv4HdrSip() != key.srcIp.addr.value ||
            ms.outerIpv4HdrSipMask() != key.srcIp.mask ||
            ms.outerIpv4HdrDip() != key.dstIp.addr.value ||
            ms.outerIpv4HdrDipMask() != key.dstIp.mask || ms.l4PortHdrSrcPort() != key.sport ||
            ms.l4PortHdrSrcPortMask() != key.sportMask || ms.l4PortHdrDstPort() != key.dport ||
            ms.l4PortHdrDstPortMask() != key.dportMask) {
            out += line("dynamicSnatAcl entry of " + key.str() + ": " + ms.str());
        }
        specs.push_back(ms);
    }
    return out + keysOf(helper.dynamicSnatAclTable(), specs);
}

} // namespace

std::string dynamicInvariants(const VyrNatTableMgrDynamic& mgr, HelperUsers helperUsers) {
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

    if (const auto& h = mgr.dynamicFullConeHelper()) {
        out += fullCone(*h, h->dynamicFullConeTable(), h->dynamicFullConeDipTable(),
                        h->dynamicFullCone(), [](const DynamicFullConeEntryKey& k) {
                            VyrP4::DynamicFullConeMatchSpec ms;
                            ms.ingMdNatProfileIdIs(k.profile);
                            ms.outerIpv4HdrProtocolIs(k.protocol);
                            ms.ingMdFullConeDipRangeIdIs(k.rangeId);
                            ms.l4PortHdrDstPortIs(k.l4Port, k.l4PortMask);
                            return ms;
                        });
        for (const auto& [key, entry] : h->dynamicFullCone()) {
            if (!h->l4PortSupported() && (key.l4Port != 0 || key.l4PortMask != 0)) {
                out += line("source-side full-cone entry with a port");
            }
        }
    }
    if (const auto& h = mgr.dynamicFullConeDnatHelper()) {
        out += fullCone(*h, h->dynamicFullConeDnatTable(), h->dynamicFullConeCompressDipTable(),
                        h->dynamicFullConeDnat(), [](const DynamicFullConeDnatEntryKey& k) {
                            VyrP4::DynamicFullConeDnatMatchSpec ms;
                            ms.ingMdNatProfileIdIs(k.profile);
                            ms.ingMdFullConeDipRangeIdIs(k.rangeId);
                            ms.outerIpv4HdrProtocolIs(k.protocol);
                            ms.l4PortHdrDstPortIs(k.l4Port);
                            return ms;
                        });
    }
    if (const auto& h = mgr.dynamicSnatAclHelper()) {
        out += snatAcl(*h);
    }
    return out + dynamicTrapInvariants(mgr, helperUsers);
}

} // namespace TestSupport

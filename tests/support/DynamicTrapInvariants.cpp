// What must hold of the dynamic manager's CPU trap tables: "natCpuTrapAcl" holds exactly the
// entries of the recorded rules and overload ids, each matching and acting as its record says;
// the dynamic SNAT ACL and full-cone entries are held exactly by the trap entries that call for
// them; the fixed tables hold their fixed contents.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/ChipCheck.h"
#include "tests/support/Invariants.h"

#include <map>

namespace TestSupport {

using namespace VyrNat;
using VyrP4::NatCpuTrapAclMatchSpec;

namespace {

// Cheap when the table holds exactly `want`; the full difference otherwise.
template <class Table>
std::string entriesAre(const std::shared_ptr<Table>& table,
                       const std::vector<typename Table::Entry>& want) {
    if (!table) {
        return want.empty() ? "" : "entries for a table that does not exist\n";
    }
    bool same = table->entryCount() == want.size();
    for (std::size_t i = 0; same && i < want.size(); ++i) {
        same = table->entry(want[i].match()) == want[i];
    }
    return same ? "" : tableDiff(*table, want);
}

using TrapEntry = VyrP4::NatCpuTrapAclTable::Entry;

VyrP4::NatCpuTrapAclTable::Action trap(bool natDpdk, bool egr, bool ing) {
    VyrP4::SetNatCpuTrapActionSpec a;
    a.trapDirEgrIs(natDpdk && egr);
    a.trapDirIngIs(natDpdk && ing);
    return a;
}

// A rule's entry matches its profile in exactly one profile field and the match of its record.
std::string ruleEntry(const HwNatCpuTrapAclKey& key, const HwNatCpuTrapAclEntry& e) {
    const NatCpuTrapAclMatchSpec& ms = e.matchSpec;
    const bool egr = ms.ingMdEgrNatProfileIdMask() != 0;
    const uint16_t profile = egr ? ms.ingMdEgrNatProfileId() : ms.ingMdIngNatProfileId();
    const uint16_t mask = egr ? ms.ingMdEgrNatProfileIdMask() : ms.ingMdIngNatProfileIdMask();
    const bool ok =
        profile == key.profile && mask == 0xfff && (!egr || ms.ingMdIngNatProfileIdMask() == 0) &&
        ms.ingMdNatRvsTrapMask() == 0 && ms.outerIpv4HdrProtocol() == e.protocol &&
        ms.outerIpv4HdrProtocolMask() == (e.protocol ? 0xff : 0) &&
        ms.outerIpv4HdrSip() == e.src.addr.value && ms.outerIpv4HdrSipMask() == e.src.mask &&
        ms.outerIpv4HdrDip() == e.dst.addr.value && ms.outerIpv4HdrDipMask() == e.dst.mask &&
        ms.l4PortHdrSrcPort() == e.sport && ms.l4PortHdrSrcPortMask() == e.sportMask &&
        ms.l4PortHdrDstPort() == e.dport && ms.l4PortHdrDstPortMask() == e.dportMask &&
        !(e.fullCone && e.deny);
    return ok ? "" : "trap entry of " + key.str() + " matches " + ms.str() + "\n";
}

std::string overloadEntry(uint32_t id, const NatCpuTrapAclMatchSpec& ms) {
    const bool ok = ms.ingMdEgrNatProfileId() == uint16_t(id) &&
                    ms.ingMdEgrNatProfileIdMask() == 0xfff && ms.ingMdIngNatProfileIdMask() == 0 &&
                    ms.ingMdNatRvsTrap() == 1 && ms.ingMdNatRvsTrapMask() == 1 &&
                    ms.outerIpv4HdrProtocol() == 6 && ms.outerIpv4HdrProtocolMask() == 0xff &&
                    ms.outerIpv4HdrDipMask() == 0xffffffff && ms.outerIpv4HdrSipMask() == 0 &&
                    ms.l4PortHdrSrcPortMask() == 0 && ms.l4PortHdrDstPortMask() == 0;
    return ok ? "" : "overload trap of " + std::to_string(id) + " matches " + ms.str() + "\n";
}

template <class Key>
std::string usersAre(const char* what, const std::map<Key, uint32_t>& want,
                     const std::map<Key, uint32_t>& have) {
    return want == have ? ""
                        : std::string(what) + " reference counts differ from their trap entries\n";
}

std::string fixedTables(const VyrNatTableMgrDynamic& mgr) {
    std::vector<VyrP4::NatTcpFlagsTable::Entry> flags;
    for (unsigned f : {0x01u, 0x11u, 0x02u, 0x12u, 0x04u, 0x14u}) {
        if (f != 0x12 || mgr.natTcpSynAckTrapped()) {
            VyrP4::NatTcpFlagsMatchSpec ms;
            ms.tcpHdrFlagsIs(f);
            flags.emplace_back(ms, VyrP4::SetNatTcpFlagsActionSpec());
        }
    }
    std::vector<VyrP4::NatCpuReasonCodeTable::Entry> reasons;
    for (unsigned c : {0x02u, 0x01u, 0x04u}) {
        VyrP4::NatCpuReasonCodeMatchSpec ms;
        ms.ingMdNatTcpFlagsIs(c, c);
        ms.ingMdNatCpuTrapIs(1, 1);
        reasons.emplace_back(ms, VyrP4::SetTcpFlagsCpuReasonCodeActionSpec());
    }
    std::vector<VyrP4::EgressNatCpuTrapHeaderTable::Entry> header;
    auto headerIs = [&](unsigned hi, unsigned lo, VyrP4::EgressNatCpuTrapHeaderTable::Action a) {
        VyrP4::EgressNatCpuTrapHeaderMatchSpec ms;
        ms.aclHiIs(hi);
        ms.aclLoIs(lo);
        header.emplace_back(ms, a);
    };
    headerIs(1, 0, VyrP4::SetNatCpuHeaderSnatActionSpec());
    headerIs(0, 1, VyrP4::SetNatCpuHeaderDnatActionSpec());
    headerIs(1, 1, VyrP4::SetNatCpuHeaderTwiceActionSpec());
    return entriesAre(mgr.natTcpFlagsTable(), flags) +
           entriesAre(mgr.natCpuReasonCodeTable(), reasons) +
           entriesAre(mgr.egressNatCpuTrapHeaderTable(), header);
}

} // namespace

std::string dynamicTrapInvariants(const VyrNatTableMgrDynamic& mgr, HelperUsers users) {
    std::string out;
    std::vector<TrapEntry> entries;
    std::map<DynamicSnatAclEntryKey, uint32_t> snatAclUsers;
    std::map<DynamicFullConeEntryKey, uint32_t> fullConeUsers;
    const auto& snatAcl = mgr.dynamicSnatAclHelper();
    const auto& fullCone = mgr.dynamicFullConeHelper();
    for (const auto& [key, acl] : mgr.hwNatCpuTrapAcl()) {
        if (acl.trapAclEntries().empty()) {
            out += "trap rule without entries: " + key.str() + "\n";
        }
        for (const HwNatCpuTrapAclEntry& e : acl.trapAclEntries()) {
            out += ruleEntry(key, e);
            const bool egr = e.matchSpec.ingMdEgrNatProfileIdMask() != 0;
            entries.emplace_back(e.matchSpec, e.deny ? VyrP4::OnMissActionSpec()
                                                     : trap(mgr.natDpdk(), egr, !egr));
            if (!e.reverse && snatAcl && snatAcl->dynamicSnatAclTable()) {
                ++snatAclUsers[{key.profile, e.src, e.dst, e.protocol, e.sport, e.sportMask,
                                e.dport, e.dportMask}];
            }
            if (e.reverse && e.fullCone && fullCone && fullCone->dynamicFullConeTable()) {
                const auto* compress = fullCone->dynamicFullConeCompress(e.dst);
                const bool port = fullCone->l4PortSupported();
                ++fullConeUsers[{key.profile, uint16_t(compress ? compress->rangeId : 0),
                                 uint8_t(e.protocol ? e.protocol : 17),
                                 port ? e.dport : uint16_t(0), port ? e.dportMask : uint16_t(0)}];
            }
        }
    }
    for (const auto& [id, overload] : mgr.hwNatCpuTrapAclOverload()) {
        if (overload.entry().empty()) {
            out += "overload record without interfaces: " + std::to_string(id) + "\n";
        }
        for (const auto& [intf, ms] : overload.entry()) {
            out += overloadEntry(id, ms);
            entries.emplace_back(ms, trap(mgr.natDpdk(), true, false));
        }
    }
    out += entriesAre(mgr.natCpuTrapAclTable(), entries);
    if (users == HelperUsers::trapRules) {
        std::map<DynamicSnatAclEntryKey, uint32_t> snatAclHave;
        std::map<DynamicFullConeEntryKey, uint32_t> fullConeHave;
        if (snatAcl) {
            for (const auto& [key, e] : snatAcl->dynamicSnatAcl()) {
                snatAclHave[key] = e.refCount;
            }
        }
        if (fullCone) {
            for (const auto& [key, e] : fullCone->dynamicFullCone()) {
                fullConeHave[key] = e.refCount;
            }
        }
        out += usersAre("dynamicSnatAcl", snatAclUsers, snatAclHave);
        out += usersAre("dynamicFullCone", fullConeUsers, fullConeHave);
    }
    return out + fixedTables(mgr);
}

} // namespace TestSupport

// The dynamic manager's part of "showNatSummary", its CPU trap ACL listing and the entries the
// NAT state machine holds as not programmed.

#include "common/ShowSection.h"
#include "host/Assert.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <bit>
#include <cstdio>

namespace VyrNat {

namespace {

// The partitions of one direction, one line each.
void partitionLines(ShowWriter& out, const char* side, const DynamicNatPartitionedTable* parts,
                    bool occupation) {
    if (!parts) {
        return;
    }
    for (const auto& [id, p] : parts->partition()) {
        out.printf("   %s Partition %u: %u\n", side, unsigned(id),
                   occupation ? p->entries() : p->size());
    }
}

} // namespace

void VyrNatTableMgrDynamic::showSummary(int fd) const {
    const auto& caps = tableMgr()->profileCapabilities();
    ShowWriter out(fd);
    out.printf("Dynamic NAT\n");
    out.printf("-----------\n");
    out.printf("Hw tables size:\n");
    out.printf("   dNAT1: %u\n", dnat1TableSize_);
    out.printf("   dNAT2: %u\n", dnat2TableSize_);
    out.printf("   sNAT1: %u\n", snat1TableSize_);
    out.printf("   sNAT2: %u\n", snat2TableSize_);
    out.printf("   sNAT AddrOnly: %u\n", dynamicAddrOnlySnatTableSize_);
    out.printf("   dNAT AddrOnly: %u\n", dynamicAddrOnlyDnatTableSize_);
    partitionLines(out, "sNAT", dynamicSnatPartitionedTable_.get(), false);
    partitionLines(out, "dNAT", dynamicDnatPartitionedTable_.get(), false);
    out.printf("   CpuTrapAcl: %u\n", caps.natCpuTrapAclTableSize());

    using S = DynamicSnatTable;
    using D = DynamicDnatTable;
    out.printf("Current tables occupation:\n");
    out.printf("   dNAT1: %u (%u sNAT of %u reserved, %u dNAT of %u)\n",
               dnat1SnatEntries_ + dnat1DnatEntries_, dnat1SnatEntries_, dnat1SnatEntriesMax_,
               dnat1DnatEntries_, dnat1DnatEntriesMax_);
    out.printf("   dNAT2: %u\n", unsigned(dynamicDnatTable_.count(D::dynDnat2)));
    out.printf("   sNAT1: %u\n", unsigned(dynamicSnatTable_.count(S::dynSnat1)));
    out.printf("   sNAT2: %u\n", unsigned(dynamicSnatTable_.count(S::dynSnat2)));
    out.printf("   sNAT AddrOnly: %u\n", unsigned(dynamicAddrOnlySnatKeyToMatchSpec_.size()));
    out.printf("   dNAT AddrOnly: %u (%u connections)\n",
               unsigned(dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.size()),
               unsigned(dynamicAddrOnlyDnatFlowProfileToNewDip_.size()));
    partitionLines(out, "sNAT", dynamicSnatPartitionedTable_.get(), true);
    partitionLines(out, "dNAT", dynamicDnatPartitionedTable_.get(), true);
    std::size_t trapEntries = 0;
    for (const auto& [key, acl] : hwNatCpuTrapAcl_) {
        trapEntries += acl.trapAclEntries().size();
    }
    std::size_t overloadEntries = 0;
    for (const auto& [id, overload] : hwNatCpuTrapAclOverload_) {
        overloadEntries += overload.entry().size();
    }
    out.printf("   CpuTrapAcl: %u (%u rules, %u overload)\n",
               unsigned(trapEntries + overloadEntries), unsigned(hwNatCpuTrapAcl_.size()),
               unsigned(overloadEntries));
    if (const auto& status = omaNatSmStatus()) {
        out.printf("Unprogrammed entries: %u\n", status->dynamicNotProgrammed());
    }
    out.printf("\n");
}

void VyrNatTableMgrDynamic::showCpuTrapAcl(int fd) const {
    if (!natCpuTrapAcl_) {
        return;
    }
    HwNatCpuTrapCliSorter rows;
    const auto add = [&](const std::string& acl, const VyrP4::NatCpuTrapAclMatchSpec& ms) {
        const auto entry = natCpuTrapAcl_->entry(ms);
        VYR_CHECK(entry, "recorded entry in natCpuTrapAcl");
        rows.emplace(HwNatCpuTrapCliKey{acl, ms.priority(), ms},
                     entry->actionIf<VyrP4::SetNatCpuTrapActionSpec>() != nullptr);
    };
    for (const auto& [key, acl] : hwNatCpuTrapAcl_) {
        for (const HwNatCpuTrapAclEntry& e : acl.trapAclEntries()) {
            add(key.acl, e.matchSpec);
        }
    }
    // An overload reverse trap belongs to no ACL: its interface names it.
    for (const auto& [id, overload] : hwNatCpuTrapAclOverload_) {
        for (const auto& [intf, ms] : overload.entry()) {
            add(intf, ms);
        }
    }
    ShowSection s(fd, "NAT cpu trap acl entries:\n", 138,
                  "%30s %4s %18s %18s  %9s  %9s  %7s  %7s  %7s  %8s  %4s\n", "Acl", "Prot", "Sip",
                  "Dip", "SrcPort", "DstPort", "IngProf", "EgrProf", "TcpFlag", "Priority", "Actn");
    for (const auto& [row, traps] : rows) {
        const auto& m = row.matchSpec;
        s.row("%30s %4d %15s/%-2u %15s/%-2u  %4x/%-4x  %4x/%-4x  %3d/%-3x  %3d/%-3x  %7d  %8x  ",
              row.acl.c_str(), m.outerIpv4HdrProtocol(), ShowIp(m.outerIpv4HdrSip()).c_str(),
              unsigned(std::popcount(m.outerIpv4HdrSipMask())), ShowIp(m.outerIpv4HdrDip()).c_str(),
              unsigned(std::popcount(m.outerIpv4HdrDipMask())), m.l4PortHdrSrcPort(),
              m.l4PortHdrSrcPortMask(), m.l4PortHdrDstPort(), m.l4PortHdrDstPortMask(),
              m.ingMdIngNatProfileId(), m.ingMdIngNatProfileIdMask(), m.ingMdEgrNatProfileId(),
              m.ingMdEgrNatProfileIdMask(), m.ingMdNatRvsTrap(), unsigned(row.priority));
        s.row("%s\n", traps ? "cpu" : "deny");
    }
}

void VyrNatTableMgrDynamic::showUnprogrammed(int fd) const {
    const auto& status = omaNatSmStatus();
    if (!status) {
        return;
    }
    {
        ShowSection s(fd, "NAT dynamic unprogrammed entries:\n", 85, "%30s %5s %15s %15s %7s %7s\n",
                      "Profile", "Proto", "Sip", "Dip", "SrcPort", "DstPort");
        for (const auto& [key, conn] : status->dynamicUnprogrammed) {
            const auto& t = key.tuple;
            s.row("%30s %5d %15s %15s %7d %7d\n", Oma::NatSm::profileIntf(conn.profile).c_str(),
                  t.protocol, ShowIp(t.src.ip.value).c_str(), ShowIp(t.dst.ip.value).c_str(),
                  t.src.port, t.dst.port);
        }
    }
    ShowSection s(fd, "NAT cpu trap acl unprogrammed entries:\n", 42, "%30s %30s %5s\n", "Profile",
                  "Acl", "Group");
    for (const auto& [rule, unused] : status->trapRuleUnprogrammed) {
        s.row("%30s %30s %5d\n", rule.intf.c_str(), rule.acl.c_str(), int(rule.group));
    }
}

} // namespace VyrNat

// "showNatTwice" and the twice-NAT part of "showNatAddress": the records of the address-only,
// port and rewrite entries, the elements of address pairs that the hardware does not hold, the
// trap ACLs and the translations the NAT state machine holds as not programmed.

#include "common/ShowSection.h"
#include "host/Assert.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

#include <bit>
#include <optional>

namespace VyrNat {

namespace {

const char* yesNo(bool b) {
    return b ? "Y" : "N";
}

// Whether the address view keeps an address pair.
bool shows(const std::optional<IpAddr>& addr, const AddrOnlyKey& key) {
    return !addr || key.sip == *addr || key.dip == *addr;
}

// Every element of an entry whose hardware action is another: the native action's, or the
// dummy standing for several elements. A lone element without a rewrite id is the dummy itself.
bool elementsUnprogrammed(const AddrOnlyEntry& e) {
    return e.action.proto != ProtocolType::protocolInvalid || e.fragEntry.size() > 1;
}

// The address-only entries with a native action, those without one (one line with the action
// the hardware holds), and the elements the hardware does not hold.
void addrOnlySections(int fd, const VyrNatTableMgrTwice& m, bool native, bool fragment,
                      bool unprogrammed, const std::optional<IpAddr>& addr) {
    const auto& entries = m.addrOnlyEntry();
    if (native) {
        ShowSection s(fd, "Twice NAT AddrOnly entries:\n", 81,
                      "%3s   %-15s   %-15s   %5s   %5s   %4s   %7s   %4s   %5s\n", "Vrf", "Sip",
                      "Dip", "Key", "Proto", "Frag", "NextHop", "ECMP", "RwId");
        for (const auto& [key, e] : entries) {
            const AddrOnlyAction& a = e.action;
            if (a.proto != ProtocolType::protocolInvalid && shows(addr, key)) {
                s.row("%3u   %-15s   %-15s   %5d   %5u   %4d   %7u   %4s   %5d\n", key.vrf,
                      ShowIp(key.sip.value).c_str(), ShowIp(key.dip.value).c_str(), e.keyId,
                      unsigned(a.proto), a.frag, a.nextHop, yesNo(a.ecmp), a.rewriteId);
            }
        }
    }
    if (fragment) {
        ShowSection s(fd, "Twice NAT fragment & dummy entries:\n", 81,
                      "%3s   %-15s   %-15s   %5s   %5s   %4s   %7s   %4s   %5s\n", "Vrf", "Sip",
                      "Dip", "Key", "Proto", "Frag", "NextHop", "ECMP", "RwId");
        for (const auto& [key, e] : entries) {
            if (e.action.proto == ProtocolType::protocolInvalid && shows(addr, key)) {
                const AddrOnlyAction a = VyrNatTableMgrTwice::hwAction(e);
                s.row("%3u   %-15s   %-15s   %5d   %5d   %4d   %7d   %4s   %5d\n", key.vrf,
                      ShowIp(key.sip.value).c_str(), ShowIp(key.dip.value).c_str(), e.keyId,
                      int(a.proto), a.frag, int(a.nextHop), yesNo(a.ecmp), a.rewriteId);
            }
        }
    }
    if (unprogrammed) {
        ShowSection s(fd, "Twice NAT unprogrammed fragment entries:\n", 103,
                      "%3s   %-15s   %5s   %-15s   %5s   %5s   %5s   %4s   %7s   %4s   %5s\n",
                      "Vrf", "Sip", "sPort", "Dip", "dPort", "Key", "Proto", "Frag", "NextHop",
                      "ECMP", "RwId");
        for (const auto& [key, e] : entries) {
            if (!elementsUnprogrammed(e) || !shows(addr, key)) {
                continue;
            }
            for (const auto& [ports, a] : e.fragEntry) {
                s.row("%3u   %-15s   %5d   %-15s   %5d   %5d   %5u   %4d   %7u   %4s   % 5d\n",
                      key.vrf, ShowIp(key.sip.value).c_str(), ports.sport,
                      ShowIp(key.dip.value).c_str(), ports.dport, e.keyId, unsigned(a.proto),
                      a.frag, a.nextHop, yesNo(a.ecmp), a.rewriteId);
            }
        }
    }
}

// Which port table a port entry is in: both ports, the source port only, or the destination
// port only.
enum class PortTable { addrPort, srcPort, dstPort };
PortTable portTableOf(const AddrPortKey& key) {
    return key.dport == 0   ? PortTable::srcPort
           : key.sport == 0 ? PortTable::dstPort
                            : PortTable::addrPort;
}

void portSection(int fd, const VyrNatTableMgrTwice& m, PortTable table) {
    const auto& entries = m.addrPortEntry();
    if (table == PortTable::addrPort) {
        ShowSection s(fd, "Twice NAT AddrPort entries:\n", 81,
                      "%5s   %5s   %5s   %5s   %7s   %4s   %5s\n", "Key", "sPort", "dPort", "Proto",
                      "NextHop", "ECMP", "RwId");
        for (const auto& [key, e] : entries) {
            const AddrPortAction& a = e.action;
            if (portTableOf(key) == table) {
                s.row("%5d   %5d   %5d   %5u   %7u   %4s   %5d\n", key.keyId, key.sport, key.dport,
                      unsigned(a.proto), a.nextHop, yesNo(a.ecmp), a.rewriteId);
            }
        }
        return;
    }
    const bool src = table == PortTable::srcPort;
    ShowSection s(fd, src ? "Twice NAT AddrSrcPort entries:\n" : "Twice NAT AddrDstPort entries:\n",
                  81, "%5s   %5s   %5s   %7s   %4s   %5s\n", "Key", src ? "sPort" : "dPort",
                  "Proto", "NextHop", "ECMP", "RwId");
    for (const auto& [key, e] : entries) {
        const AddrPortAction& a = e.action;
        if (portTableOf(key) == table) {
            s.row("%5d   %5d   %5u   %7u   %4s   %5d\n", key.keyId, src ? key.sport : key.dport,
                  unsigned(a.proto), a.nextHop, yesNo(a.ecmp), a.rewriteId);
        }
    }
}

unsigned prefixLen(uint32_t mask) {
    return unsigned(std::popcount(mask));
}

} // namespace

void VyrNatTableMgrTwice::showEntries(int fd, TwiceCliCommand cmd) const {
    const bool all = cmd == twiceAll;
    ShowWriter(fd).printf("\n");
    addrOnlySections(fd, *this, all || cmd == twiceAddrOnly, all || cmd == twiceFragment,
                     all || cmd == twiceUnprogrammed, std::nullopt);
    if (all || cmd == twiceAddrPort) {
        portSection(fd, *this, PortTable::addrPort);
        if (srcPort_) {
            portSection(fd, *this, PortTable::srcPort);
        }
        if (dstPort_) {
            portSection(fd, *this, PortTable::dstPort);
        }
    }
    if (all || cmd == twiceRewrite) {
        ShowSection s(fd, "Twice NAT Rewrite entries:\n", 81, "%9s   %-15s   %5s   %-15s   %5s\n",
                      "RewriteId", "Sip", "sPort", "Dip", "dPort");
        for (const auto& [info, e] : rewrites_.records()) {
            s.row("%9d   %-15s   %5d   %-15s   %5d\n", e.rewriteId,
                  ShowIp(info.src.ip.value).c_str(), info.src.port,
                  ShowIp(info.dst.ip.value).c_str(), info.dst.port);
        }
    }
    if (all) {
        showTrapAcls(fd);
    }
    const auto& status = omaNatSmStatus();
    if ((all || cmd == twiceUnprogrammed) && status) {
        ShowSection s(fd, "NAT twice unprogrammed entries:\n", 74, "%20s %5s %15s %7s %15s %7s\n",
                      "Profile", "Group", "Sip", "SrcPort", "Dip", "DstPort");
        for (const auto& [key, t] : status->twiceUnprogrammed) {
            s.row("%20s %5d %15s %7d %15s %7d\n", Oma::NatSm::profileIntf(key.profile).c_str(),
                  t.group, ShowIp(key.srcOld.ip.value).c_str(), key.srcOld.port,
                  ShowIp(key.dstOld.ip.value).c_str(), key.dstOld.port);
        }
    }
}

void VyrNatTableMgrTwice::showTrapAcls(int fd) const {
    {
        ShowSection s(fd, "Twice NAT AclId entries:\n", 145,
                      "%30s %5s %4s %18s %18s %9s %9s %8s %4s %6s\n", "Acl", "AclId", "Prot", "Sip",
                      "Dip", "SrcPort", "DstPort", "Priority", "Actn", "Groups");
        for (const auto& [name, acl] : natAclId_) {
            for (const auto& [rule, m] : acl.entry) {
                const auto entry = aclId_->entry(m);
                VYR_CHECK(entry, "recorded entry in twiceNatAclId");
                const bool deny = entry->actionIf<VyrP4::OnMissActionSpec>() != nullptr;
                s.row("%30s %5d %4d %15s/%-2u %15s/%-2u %4x/%-4x %4x/%-4x %8x %4s %6u\n",
                      name.c_str(), acl.aclId, m.outerIpv4HdrProtocol(),
                      ShowIp(m.outerIpv4HdrSip()).c_str(), prefixLen(m.outerIpv4HdrSipMask()),
                      ShowIp(m.outerIpv4HdrDip()).c_str(), prefixLen(m.outerIpv4HdrDipMask()),
                      m.l4PortHdrSrcPort(), m.l4PortHdrSrcPortMask(), m.l4PortHdrDstPort(),
                      m.l4PortHdrDstPortMask(), unsigned(m.priority()), deny ? "deny" : "cpu",
                      unsigned(acl.group.size()));
            }
        }
    }
    ShowSection s(fd, "Twice NAT CPU trap acl entries:\n", 145,
                  "%30s %5s %4s %18s %18s %9s %9s %7s %7s %8s %4s\n", "Acl", "AclId", "Prot", "Sip",
                  "Dip", "SrcPort", "DstPort", "IngProf", "EgrProf", "Priority", "Actn");
    for (const auto& [key, trap] : cpuTrapAcls_) {
        const auto& m = trap.matchSpec;
        s.row("%30s %5d %4d %15s/%-2u %15s/%-2u %4x/%-4x %4x/%-4x %3d/%-3x %3d/%-3x %8x %4s\n",
              key.acl.c_str(), trap.aclId, m.outerIpv4HdrProtocol(),
              ShowIp(m.outerIpv4HdrSip()).c_str(), prefixLen(m.outerIpv4HdrSipMask()),
              ShowIp(m.outerIpv4HdrDip()).c_str(), prefixLen(m.outerIpv4HdrDipMask()),
              m.l4PortHdrSrcPort(), m.l4PortHdrSrcPortMask(), m.l4PortHdrDstPort(),
              m.l4PortHdrDstPortMask(), m.ingMdIngNatProfileId(), m.ingMdIngNatProfileIdMask(),
              m.ingMdEgrNatProfileId(), m.ingMdEgrNatProfileIdMask(), unsigned(m.priority()),
              "cpu");
    }
}

void VyrNatTableMgrTwice::showAddress(int fd, Ip::IpAddr addr) const {
    addrOnlySections(fd, *this, true, true, true, addr);
    ShowSection s(fd, "Twice NAT Rewrite entries (AddrPort):\n", 81,
                  "%5s   %-15s   %5s   %-15s   %5s\n", "RwId", "Sip", "sPort", "Dip", "dPort");
    for (const auto& [info, e] : rewrites_.records()) {
        if (info.src.ip == addr || info.dst.ip == addr) {
            s.row("%5d   %-15s   %5d   %-15s   %5d\n", e.rewriteId,
                  ShowIp(info.src.ip.value).c_str(), info.src.port,
                  ShowIp(info.dst.ip.value).c_str(), info.dst.port);
        }
    }
}

void VyrNatTableMgrTwice::showSummary(int fd) const {
    ShowWriter out(fd);
    out.printf("Twice NAT\n");
    out.printf("---------\n");
    out.printf("Hw tables size:\n");
    out.printf("   tNat AddrOnly: %u\n", addrOnlySize_);
    out.printf("   tNAT AddrPort: %u\n", addrPortSize_);
    if (srcPortSize_ != 0) {
        out.printf("   tNAT AddrSrcPort: %u\n", srcPortSize_);
    }
    if (dstPortSize_ != 0) {
        out.printf("   tNAT AddrDstPort: %u\n", dstPortSize_);
    }
    out.printf("   tNAT Rewrite: %u\n", rewriteSize_);
    out.printf("   tNAT AclId: %u\n", trapAclSize_);
    out.printf("   tNAT CpuTrapAcl: %u\n", trapAclSize_);

    unsigned regular = 0, fragments = 0, dummy = 0, unprogrammed = 0;
    for (const auto& [key, e] : addrOnlyEntry_) {
        if (e.action.proto != ProtocolType::protocolInvalid) {
            ++regular;
        } else if (validFragment(e)) {
            ++fragments;
        } else {
            ++dummy;
        }
        if (elementsUnprogrammed(e)) {
            unprogrammed += unsigned(e.fragEntry.size());
        }
    }
    unsigned ports[3] = {};
    for (const auto& [key, e] : addrPortEntry_) {
        ++ports[std::size_t(portTableOf(key))];
    }
    std::size_t aclIdEntries = 0;
    for (const auto& [name, acl] : natAclId_) {
        aclIdEntries += acl.entry.size();
    }
    out.printf("Current tables occupation:\n");
    out.printf("   tNAT AddrOnly: %u (%u regular, %u fragments, %u dummy)\n",
               unsigned(addrOnlyEntry_.size()), regular, fragments, dummy);
    out.printf("   tNAT Unprogrammed fragments: %u\n", unprogrammed);
    out.printf("   tNAT AddrPort: %u\n", ports[std::size_t(PortTable::addrPort)]);
    out.printf("   tNAT AddrSrcPort: %u\n", ports[std::size_t(PortTable::srcPort)]);
    out.printf("   tNAT AddrDstPort: %u\n", ports[std::size_t(PortTable::dstPort)]);
    out.printf("   tNAT Rewrite: %u\n", unsigned(rewrites_.records().size()));
    out.printf("   tNAT AclId: %u\n", unsigned(aclIdEntries));
    out.printf("   tNAT CpuTrapAcl: %u\n", unsigned(cpuTrapAcls_.size()));
    if (const auto& status = omaNatSmStatus()) {
        out.printf("Unprogrammed entries: %u\n", status->twiceNotProgrammed());
    }
    out.printf("AddrOnly entries reserved for non-fragment: %u\n",
               vyrNatConfig_ ? vyrNatConfig_->twiceNatAddrOnlyNonFragmentReserve() : 0);
    out.printf("\n");
}

} // namespace VyrNat

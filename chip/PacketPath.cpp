#include "chip/PacketPath.h"

#include "chip/Check.h"
#include "chip/PacketWalk.h"

#include <cstdio>
#include <cstring>

namespace VyrP4 {

namespace {

constexpr const char* kFieldNames[] = {
#define VYR_PHV_ENUM(name) #name,
#include "chip/PhvFields.def"
#undef VYR_PHV_ENUM
};

struct Stage {
    StageInfo info;
    void (PacketPath::Walk::*run)();
};

// The NAT pipeline, in the order packets take it. Ingress lookups all key on the packet as it
// arrived (with the metadata earlier stages set); the translations they find are written into
// the packet by the rewrite stage, and the egress pipeline sees the rewritten packet. A
// direction (source or destination) is translated by the first stage that finds a translation
// for it; twice NAT translates both.
//
// Our reading where the tables do not say it themselves:
// - The packet carries one VLAN; its NAT profile serves as both the ingress and the egress
//   interface's profile (the trap ACLs' two profile fields, the egress-pipe profile tables).
// - A VLAN without a NAT profile is no NAT interface: the profile-keyed stages are skipped.
// - Twice NAT comes before static and dynamic NAT, static before dynamic; the per-VRF tables
//   serve profiles that have no interface NAT, so their place does not matter.
// - The port tables of twice NAT are tried most specific first: both ports, source, destination.
// - The trap ACLs are consulted only for packets no stage translated; twice-NAT trap rules
//   before the dynamic ones. The overload reverse-trap flag is set for TCP packets that reach
//   them (no DNAT entry took them).
// - A fragment, for the fragment fields of the keys, is a later fragment (offset above 0): a
//   first fragment carries the ports and takes the address-and-port entries.
// - Where no "dynamicSnatAcl" entry takes a packet, SNAT1's metadata destination is the
//   packet's own, as for an ordinary rule.
// - The egress unicast tables key on the ingress stages' NAT profile and static ACL ids; in the
//   egress-pipe tables destination lookups take the VLAN's ingress profile, source lookups its
//   egress profile. A later fragment that misses the fragment entries of "egrAddrSnat" and
//   "egrAddrDnat" also tries their address entries, which translate every packet.
constexpr Stage kStages[] = {
    {{"natProfile", "ingress", "egressNatProfile dynamicEgressNatProfile",
      "ingMdNatProfileId (and both trap profile fields) from the packet's VLAN"},
     &PacketPath::Walk::natProfileStage},
    {{"vrfNat", "ingress", "ingressNatAclVrf addrAndVrfDnat defaultVrfSnat natPolicer",
      "default VRF: destination translation into a VRF; other VRFs: source translation into "
      "the default VRF, metered by the VRF's policer"},
     &PacketPath::Walk::vrfStage},
    {{"staticAcl", "ingress", "staticSnatAcl staticDnatAcl", "ingMdSnatAclId, ingMdDnatAclId"},
     &PacketPath::Walk::staticAclStage},
    {{"twiceNat", "ingress",
      "twiceNatAddrOnly twiceNatAddrPort twiceNatAddrSrcPort twiceNatAddrDstPort "
      "twiceNatResultCheck twiceNatRewrite",
      "twiceMdKeyId, the lookup flags, twiceMdRewriteId; source and destination translation"},
     &PacketPath::Walk::twiceStage},
    {{"staticNat", "ingress", "addrPortDnat addrOnlyDnat addrPortSnat addrOnlySnat",
      "destination and source translation (address and port first)"},
     &PacketPath::Walk::staticStage},
    {{"fullCone", "ingress",
      "dynamicFullConeCompressDip dynamicFullConeDnat dynamicFullConeDip dynamicFullCone "
      "dynamicSnatAcl",
      "full-cone destination translation; ingMdFullConeDipRangeId; ingMdDynNatSip/Sport "
      "(cleared to 0 and the profile for full-cone peers), ingMdDynNatDip/Dport"},
     &PacketPath::Walk::fullConeStage},
    {{"dynamicNat", "ingress",
      "dynamicDnat1 dynamicDnat2 dynamicSnat1 dynamicSnat2 dynamicDnatPartition0 "
      "dynamicDnatPartition1 dynamicDnatPartition2 dynamicDnatPartition3 dynamicSnatPartition0 "
      "dynamicSnatPartition1 dynamicSnatPartition2 dynamicSnatPartition3 dynamicSnatPartition4 "
      "dynamicAddrOnlyDnat dynamicAddrOnlySnat",
      "destination and source translation of dynamic connections"},
     &PacketPath::Walk::dynamicStage},
    {{"natFlow", "ingress", "natFlow", "the NAT flow result"}, &PacketPath::Walk::flowStage},
    {{"cpuTrap", "ingress",
      "natTcpFlags twiceNatAclId twiceNatCpuTrapAcl natCpuTrapAcl natCpuReasonCode",
      "ingMdNatTcpFlags, twiceMdAclId, ingMdNatCpuTrap: the packet goes to the CPU"},
     &PacketPath::Walk::trapStage},
    {{"rewrite", "ingress", "", "the addresses, ports and checksums the translations found"},
     &PacketPath::Walk::rewriteStage},
    {{"egressProfile", "egress", "ingressNatProfileEgressPipe egressNatProfileEgressPipe",
      "the egress pipeline's ingress and egress NAT profiles of the VLAN"},
     &PacketPath::Walk::egressProfileStage},
    {{"egressUnicastNat", "egress", "egrUcSnat egrUcDnat",
      "source and destination translation under the static ACL ids"},
     &PacketPath::Walk::egressUnicastStage},
    {{"egressPipeNat", "egress", "egrAddrPortDnat egrAddrDnat egrAddrPortSnat egrAddrSnat",
      "destination and source translation, or drop"},
     &PacketPath::Walk::egressPipeStage},
    {{"cpuHeader", "egress", "egressNatCpuTrapHeader", "the trap header: SNAT, DNAT or twice"},
     &PacketPath::Walk::cpuHeaderStage},
};

} // namespace

std::string PacketOutcome::reason() const {
    std::string s = why;
    if (fate == Fate::trapped && reasonTcpFlags) {
        char buf[24];
        std::snprintf(buf, sizeof buf, ", tcp flags 0x%02x", unsigned(reasonTcpFlags));
        s += buf;
    }
    return s;
}

const PacketPath::KeyPlan& PacketPath::plan(const char* table) {
    KeyPlan& p = plans_[table];
    if (p.table) {
        return p;
    }
    // Tables come with the agent; one the chip lacks may be made later.
    p.table = chip_.table(table);
    if (!p.table) {
        return p;
    }
    for (const FieldDesc& f : p.table->desc().match->fields) {
        std::size_t i = 0;
        while (i < kFieldCount && std::strcmp(kFieldNames[i], f.name) != 0) {
            ++i;
        }
        VYR_CHIP_CHECK(i < kFieldCount); // every match field is in the header vector
        p.fields.emplace_back(&f, Field(i));
    }
    VYR_CHIP_CHECK(p.table->valueWords() <= Walk::kMaxKeyWords);
    return p;
}

PacketOutcome PacketPath::send(Packet& packet, const IngressMeta& meta,
                               std::vector<StageLookup>* trace) {
    Walk w(*this, packet, meta, trace, chip_.profile());
    w.out.vrf = meta.vrf;
    w.parse();
    for (const Stage& s : kStages) {
        w.stage = s.info.name;
        (w.*s.run)();
        if (w.out.fate == Fate::dropped) {
            break;
        }
    }
    return w.out;
}

std::vector<StageInfo> PacketPath::stages() {
    std::vector<StageInfo> out;
    for (const Stage& s : kStages) {
        out.push_back(s.info);
    }
    return out;
}

} // namespace VyrP4

// The bodies of the NAT stages; their order and what each consults is in PacketPath.cpp.

#include "chip/PacketWalk.h"

#include <cstdio>

namespace VyrP4 {

void PacketPath::Walk::natProfileStage() {
    phv[ingMdVlanId] = meta.vlan;
    phv[l3InfoVrfId] = meta.vrf;
    const auto egr = lookup("egressNatProfile");
    const auto dyn = lookup("dynamicEgressNatProfile");
    natProfile = egr || dyn;
    const std::uint64_t profile = egr   ? *egr->param("egrNatProfileId")
                                  : dyn ? *dyn->param("dynEgrNatProfileId")
                                        : 0;
    phv[ingMdNatProfileId] = profile;
    phv[ingMdIngNatProfileId] = profile;
    phv[ingMdEgrNatProfileId] = profile;
}

void PacketPath::Walk::vrfStage() {
    // The fixed entry marks the default VRF.
    if (lookup("ingressNatAclVrf")) {
        if (const auto h = lookup("addrAndVrfDnat"); h && take(*h)) {
            out.vrf = std::uint32_t(*h->param("vrfId"));
        }
        return;
    }
    if (const auto h = lookup("defaultVrfSnat"); h && take(*h)) {
        out.vrf = 0;
        lookup("natPolicer");
    }
}

void PacketPath::Walk::staticAclStage() {
    phv[ingMdIpv4Fragment] = packet.laterFragment();
    if (const auto h = lookup("staticSnatAcl")) {
        phv[ingMdSnatAclId] = *h->param("snatAclId");
    }
    if (const auto h = lookup("staticDnatAcl")) {
        phv[ingMdDnatAclId] = *h->param("dnatAclId");
    }
}

void PacketPath::Walk::twiceStage() {
    if (translated()) {
        return;
    }
    const auto addrOnly = caps.vrfSupported() ? lookup("twiceNatAddrOnly")
                                              : lookup("twiceNatAddrOnly", {l3InfoVrfId});
    if (!addrOnly) {
        return;
    }
    phv[twiceMdAddrOnlyHit] = 1;
    phv[twiceMdKeyId] = *addrOnly->param("keyId");
    phv[twiceMdAddrOnlyFragment] = *addrOnly->param("fragment");
    phv[twiceMdAddrOnlyProtocolType] = *addrOnly->param("protocolType");
    phv[twiceMdAddrOnlyEcmp] = addrOnly->is("TwiceNatAddrOnlyHitEcmp");
    std::optional<Hit> port;
    if (packet.hasPorts()) {
        for (const char* table :
             {"twiceNatAddrPort", "twiceNatAddrSrcPort", "twiceNatAddrDstPort"}) {
            if ((port = lookup(table))) {
                break;
            }
        }
    }
    if (port) {
        phv[twiceMdAddrPortHit] = 1;
        phv[twiceMdAddrPortProtocolType] = *port->param("protocolType");
        phv[twiceMdAddrPortEcmp] = std::strstr(port->action(), "Ecmp") != nullptr;
    }
    phv[twiceMdEntryGroup] = port ? 1 : 2;
    const auto check = lookup("twiceNatResultCheck");
    if (!check) {
        return;
    }
    const bool portResult = std::strncmp(check->action(), "TwiceNatAddrPort", 16) == 0;
    if (portResult && !port) {
        return;
    }
    const Hit& chosen = portResult ? *port : *addrOnly;
    // The action's protocol type limits it to TCP or UDP packets.
    const std::uint64_t type = *chosen.param("protocolType");
    const std::uint8_t proto = packet.protocol();
    if ((type == kProtocolTcp && proto != kProtoTcp) ||
        (type == kProtocolUdp && proto != kProtoUdp)) {
        return;
    }
    phv[twiceMdRewriteId] = *chosen.param("rewriteId");
    if (phv[twiceMdRewriteId] == 0) {
        return;
    }
    if (const auto rewrite = lookup("twiceNatRewrite")) {
        twice = rewriteOf(*rewrite);
    }
}

void PacketPath::Walk::staticStage() {
    if (!natProfile) {
        return;
    }
    for (const char* table : {"addrPortDnat", "addrOnlyDnat", "addrPortSnat", "addrOnlySnat"}) {
        const bool dnatTable = table[std::strlen(table) - 4] == 'D';
        if (!(dnatTable ? dnat.set : snat.set) && !twice.set) {
            if (const auto h = lookup(table)) {
                take(*h);
            }
        }
    }
}

void PacketPath::Walk::fullConeStage() {
    if (!natProfile) {
        return;
    }
    if (!dnat.set && !twice.set && caps.dynFullConeDnatSupported()) {
        if (const auto range = lookup("dynamicFullConeCompressDip")) {
            phv[ingMdFullConeDipRangeId] = *range->param("rangeId");
            const auto h = caps.l4PortSupported()
                               ? lookup("dynamicFullConeDnat")
                               : lookup("dynamicFullConeDnat", {l4PortHdrDstPort});
            if (h) {
                take(*h);
            }
        }
    }
    // DNAT1 matches the source in metadata: the packet's, or, for a peer of a full-cone
    // translation, address 0 and the profile id, so that every peer shares one entry.
    phv[ingMdDynNatSip] = phv[outerIpv4HdrSip];
    phv[ingMdDynNatSport] = phv[l4PortHdrSrcPort];
    if (caps.dynFullConeSupported()) {
        if (const auto range = lookup("dynamicFullConeDip")) {
            phv[ingMdFullConeDipRangeId] = *range->param("rangeId");
            if (lookup("dynamicFullCone")) {
                phv[ingMdDynNatSip] = 0;
                phv[ingMdDynNatSport] = phv[ingMdNatProfileId];
            }
        }
    }
    // SNAT1 matches the destination in metadata: the packet's for an ordinary rule (and for a
    // packet no rule's entry takes), address 0 and the profile id for a full-cone rule.
    phv[ingMdDynNatDip] = phv[outerIpv4HdrDip];
    phv[ingMdDynNatDport] = phv[l4PortHdrDstPort];
    if (caps.snatDynFullConeSupported()) {
        if (const auto h = lookup("dynamicSnatAcl"); h && h->is("ClearDip")) {
            phv[ingMdDynNatDip] = 0;
            phv[ingMdDynNatDport] = phv[ingMdNatProfileId];
        }
    }
}

void PacketPath::Walk::dynamicStage() {
    if (!natProfile || twice.set) {
        return;
    }
    // Dynamic match specs carry the VRF only where the profile says so.
    const std::uint64_t vrf = phv[l3InfoVrfId];
    phv[l3InfoVrfId] = caps.natInVrfSupported() ? vrf : 0;
    if (!(snat.set && dnat.set)) {
        // DNAT1 holds both directions; the action tells which.
        const auto h = caps.dynFullConeSupported()
                           ? lookup("dynamicDnat1", {outerIpv4HdrSip, l4PortHdrSrcPort})
                           : lookup("dynamicDnat1", {ingMdDynNatSip, ingMdDynNatSport});
        if (h) {
            take(*h);
        }
    }
    if (!dnat.set) {
        if (const auto h = lookup("dynamicDnat2")) {
            take(*h);
        }
    }
    if (!snat.set) {
        const auto h = caps.snatDynFullConeSupported()
                           ? lookup("dynamicSnat1", {outerIpv4HdrDip, l4PortHdrDstPort})
                           : lookup("dynamicSnat1", {ingMdDynNatDip, ingMdDynNatDport});
        if (h) {
            take(*h);
        }
    }
    if (!snat.set) {
        if (const auto h = lookup("dynamicSnat2")) {
            take(*h);
        }
    }
    static constexpr const char* kDnatBanks[] = {"dynamicDnatPartition0", "dynamicDnatPartition1",
                                                 "dynamicDnatPartition2", "dynamicDnatPartition3"};
    static constexpr const char* kSnatBanks[] = {"dynamicSnatPartition0", "dynamicSnatPartition1",
                                                 "dynamicSnatPartition2", "dynamicSnatPartition3",
                                                 "dynamicSnatPartition4"};
    for (const char* bank : kDnatBanks) {
        if (const auto h = !dnat.set ? lookup(bank) : std::nullopt) {
            take(*h);
        }
    }
    for (const char* bank : kSnatBanks) {
        if (const auto h = !snat.set ? lookup(bank) : std::nullopt) {
            take(*h);
        }
    }
    if (const auto h = !dnat.set ? lookup("dynamicAddrOnlyDnat") : std::nullopt) {
        take(*h);
    }
    if (const auto h = !snat.set ? lookup("dynamicAddrOnlySnat") : std::nullopt) {
        take(*h);
    }
    phv[l3InfoVrfId] = vrf;
}

void PacketPath::Walk::flowStage() {
    if (natProfile) {
        lookup("natFlow");
    }
}

void PacketPath::Walk::trapStage() {
    if (!natProfile || translated()) {
        return;
    }
    if (lookup("natTcpFlags")) {
        phv[ingMdNatTcpFlags] = phv[tcpHdrFlags];
    }
    std::optional<Hit> trap;
    if (const auto acl = lookup("twiceNatAclId"); acl && acl->is("SetTwiceNatAclId")) {
        phv[twiceMdAclId] = *acl->param("twiceNatAclId");
        trap = lookup("twiceNatCpuTrapAcl");
    }
    const bool twiceTrap = trap.has_value();
    if (!trap) {
        phv[ingMdNatRvsTrap] = packet.protocol() == kProtoTcp;
        trap = lookup("natCpuTrapAcl");
    }
    if (!trap || !trap->is("SetNatCpuTrap")) {
        return; // no rule, or a deny rule
    }
    phv[ingMdNatCpuTrap] = 1;
    // The trap header tells the CPU the rule's side: a rule on the first profile field (a
    // forward SNAT rule, a reverse DNAT one) is SNAT, one on the second DNAT; twice-NAT rules
    // are both.
    phv[aclHi] = twiceTrap || trap->mask("ingMdIngNatProfileId") != 0;
    phv[aclLo] = twiceTrap || trap->mask("ingMdEgrNatProfileId") != 0;
    out.fate = Fate::trapped;
    if (lookup("natCpuReasonCode")) {
        out.reasonTcpFlags = std::uint8_t(phv[ingMdNatTcpFlags]);
    }
}

void PacketPath::Walk::rewriteStage() {
    if (out.fate != Fate::forwarded) {
        return;
    }
    out.translated = translated();
    apply(twice);
    apply(dnat);
    apply(snat);
    parse();
}

void PacketPath::Walk::egressProfileStage() {
    if (out.fate != Fate::forwarded) {
        return;
    }
    phv[egrMdVlanId] = meta.vlan;
    phv[egrMdIpv4Fragment] = packet.laterFragment();
    phv[egrMdSnatAclId] = phv[ingMdSnatAclId];
    phv[egrMdDnatAclId] = phv[ingMdDnatAclId];
    // The unicast tables key on the ingress NAT profile; the egress-pipe ones on their own.
    phv[egrMdNatProfileId] = phv[ingMdNatProfileId];
    phv[ingMdIngNatProfileId] = 0;
    phv[ingMdEgrNatProfileId] = 0;
    if (const auto h = lookup("ingressNatProfileEgressPipe")) {
        phv[ingMdIngNatProfileId] = *h->param("ingNatProfileId");
        egressProfile = true;
    }
    if (const auto h = lookup("egressNatProfileEgressPipe")) {
        phv[ingMdEgrNatProfileId] = *h->param("egrNatProfileId");
        egressProfile = true;
    }
}

void PacketPath::Walk::egressUnicastStage() {
    if (out.fate != Fate::forwarded || !natProfile) {
        return;
    }
    twice = snat = dnat = Rewrite{};
    if (const auto h = lookup("egrUcDnat")) {
        take(*h);
    }
    if (const auto h = lookup("egrUcSnat")) {
        take(*h);
    }
    out.translated = out.translated || translated();
    apply(dnat);
    apply(snat);
    parse();
}

void PacketPath::Walk::egressPipeStage() {
    if (out.fate != Fate::forwarded || !egressProfile) {
        return;
    }
    twice = snat = dnat = Rewrite{};
    const auto withFragments = [this](const char* table) {
        auto h = lookup(table);
        if (!h && phv[egrMdIpv4Fragment]) {
            phv[egrMdIpv4Fragment] = 0;
            h = lookup(table);
            phv[egrMdIpv4Fragment] = 1;
        }
        return h;
    };
    // Destination lookups take the ingress interface's profile, source lookups the egress one.
    phv[egrMdNatProfileId] = phv[ingMdIngNatProfileId];
    auto h = lookup("egrAddrPortDnat");
    if (!h) {
        h = withFragments("egrAddrDnat");
    }
    if (h && h->is("EgrNatDrop")) {
        out.fate = Fate::dropped;
        out.why = "egrAddrDnat drop entry";
        return;
    }
    if (h) {
        take(*h);
    }
    phv[egrMdNatProfileId] = phv[ingMdEgrNatProfileId];
    h = lookup("egrAddrPortSnat");
    if (!h) {
        h = withFragments("egrAddrSnat");
    }
    if (h) {
        take(*h);
    }
    out.translated = out.translated || translated();
    apply(dnat);
    apply(snat);
}

void PacketPath::Walk::cpuHeaderStage() {
    if (out.fate != Fate::trapped) {
        return;
    }
    const auto h = lookup("egressNatCpuTrapHeader");
    out.why = !h                             ? "trap"
              : h->is("SetNatCpuHeaderSnat") ? "snat"
              : h->is("SetNatCpuHeaderDnat") ? "dnat"
                                             : "twice";
}

} // namespace VyrP4

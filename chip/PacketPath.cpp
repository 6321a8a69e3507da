#include "chip/PacketPath.h"

#include "chip/Check.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>

namespace VyrP4 {

namespace {

constexpr const char* kFieldNames[] = {
#define VYR_PHV_ENUM(name) #name,
#include "chip/PhvFields.def"
#undef VYR_PHV_ENUM
};

constexpr std::size_t kMaxKeyWords = 16;

bool isMulticast(std::uint32_t addr) {
    return (addr >> 28) == 0xe;
}

// A translation an action asks for: the new values it carries and its checksum delta.
struct Rewrite {
    bool set = false;
    std::optional<std::uint32_t> sip, dip;
    std::optional<std::uint16_t> sport, dport;
    std::uint16_t delta = 0;
};

// The twice-NAT protocol types of the address-only and port actions.
constexpr std::uint64_t kProtocolTcp = 2;
constexpr std::uint64_t kProtocolUdp = 3;

} // namespace

// One packet's way through the stages: its header vector, the translations found so far and
// the outcome.
struct PacketPath::Walk {
    Walk(PacketPath& p, Packet& pk, const IngressMeta& m, std::vector<StageLookup>* t,
         const ProfileCapabilities& c)
        : path(p), packet(pk), meta(m), trace(t), caps(c) {}

    PacketPath& path;
    Packet& packet;
    const IngressMeta& meta;
    std::vector<StageLookup>* trace;
    const ProfileCapabilities& caps;
    const char* stage = "";
    std::array<std::uint64_t, kFieldCount> phv{};
    bool natProfile = false;    // the VLAN is bound to a NAT profile
    bool egressProfile = false; // ... in the egress pipeline's profile tables
    Rewrite twice, snat, dnat;
    bool drop = false;
    PacketOutcome out;

    struct Hit {
        TableEngine* table;
        EntryView view;
        const char* action() const { return table->desc().actions[view.action]->name; }
        bool is(const char* name) const { return std::strcmp(action(), name) == 0; }
        std::optional<std::uint64_t> param(const char* name) const {
            for (const FieldDesc& f : table->desc().actions[view.action]->fields) {
                if (std::strcmp(f.name, name) == 0) {
                    return Bits::get(view.data, f.word, f.shift, f.width);
                }
            }
            return std::nullopt;
        }
        // A ternary field's mask in the entry hit.
        std::uint64_t mask(const char* name) const {
            const MatchLayout& m = *table->desc().match;
            for (const FieldDesc& f : m.fields) {
                if (std::strcmp(f.name, name) == 0) {
                    return Bits::get(view.key, unsigned(f.word + m.valueWords), f.shift, f.width);
                }
            }
            return 0;
        }
    };

    // The entry `table` hits with the header vector as it stands, `zeroed` fields read as 0
    // (the pair of a table's fields the pipeline leaves unfilled). A table the chip lacks hits
    // nothing.
    std::optional<Hit> lookup(const char* table, std::initializer_list<Field> zeroed = {}) {
        const KeyPlan& p = path.plan(table);
        if (!p.table) {
            return std::nullopt;
        }
        std::array<std::uint64_t, kMaxKeyWords> words{};
        for (const auto& [desc, field] : p.fields) {
            std::uint64_t v = phv[field];
            for (Field z : zeroed) {
                v = z == field ? 0 : v;
            }
            Bits::put(words.data(), desc->word, desc->shift, desc->width, v);
        }
        const std::optional<EntryView> e = p.table->packetIs(words.data(), meta.pipe);
        if (trace) {
            trace->push_back({stage, p.table->name(), e ? p.table->entryStr(*e) : ""});
        }
        if (!e) {
            return std::nullopt;
        }
        return Hit{p.table, *e};
    }

    // A translation action: the values it carries, by their parameter names.
    static Rewrite rewriteOf(const Hit& h) {
        Rewrite r;
        r.set = true;
        r.delta = std::uint16_t(h.param("checksumDelta").value_or(0));
        if (auto v = h.param("translatedSip")) {
            r.sip = std::uint32_t(*v);
        }
        if (auto v = h.param("translatedDip")) {
            r.dip = std::uint32_t(*v);
        }
        if (auto v = h.param("translatedSport")) {
            r.sport = std::uint16_t(*v);
        }
        if (auto v = h.param("translatedDport")) {
            r.dport = std::uint16_t(*v);
        }
        return r;
    }
    // Takes a translation action for the direction it rewrites, unless an earlier stage already
    // translated that direction.
    bool take(const Hit& h) {
        Rewrite r = rewriteOf(h);
        Rewrite& slot = r.sip ? snat : dnat;
        if (slot.set || twice.set) {
            return false;
        }
        slot = r;
        return true;
    }
    bool translated() const { return snat.set || dnat.set || twice.set; }

    // The header fields as the packet now carries them.
    void parse() {
        phv[outerIpv4HdrSip] = packet.sip();
        phv[outerIpv4HdrDip] = packet.dip();
        phv[outerIpv4HdrProtocol] = packet.protocol();
        phv[outerIpv4HdrFragment] = packet.laterFragment();
        phv[l4PortHdrSrcPort] = packet.sport();
        phv[l4PortHdrDstPort] = packet.dport();
        phv[tcpHdrFlags] = packet.tcpFlags();
        phv[l3InfoUnicast] = !isMulticast(packet.dip());
        phv[l3InfoMulticast] = isMulticast(packet.dip());
    }

    // The data plane's rewrite: the L4 checksum covers the addresses (through the pseudo
    // header) and the ports, so it takes the action's delta whole; the IPv4 header covers no
    // ports, so it takes the delta less the port changes.
    void apply(const Rewrite& r) {
        if (!r.set) {
            return;
        }
        std::uint16_t ipDelta = r.delta;
        if (r.sport && packet.hasPorts()) {
            ipDelta = deltaSub(ipDelta, wordDelta(packet.sport(), *r.sport));
        }
        if (r.dport && packet.hasPorts()) {
            ipDelta = deltaSub(ipDelta, wordDelta(packet.dport(), *r.dport));
        }
        packet.rewrite(r.sip, r.dip, r.sport, r.dport, ipDelta, r.delta);
    }

    void natProfileStage();
    void vrfStage();
    void staticAclStage();
    void twiceStage();
    void staticStage();
    void fullConeStage();
    void dynamicStage();
    void flowStage();
    void trapStage();
    void rewriteStage();
    void egressProfileStage();
    void egressUnicastStage();
    void egressPipeStage();
    void cpuHeaderStage();
};

namespace {

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
// - In the egress pipeline a later fragment that misses the fragment entries of "egrAddrSnat"
//   and "egrAddrDnat" also tries their address entries, which translate every packet.
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
      "dynamicDnat1 dynamicDnat2 dynamicSnat1 dynamicSnat2 dynamicDnatPartition0-3 "
      "dynamicSnatPartition0-4 dynamicAddrOnlyDnat dynamicAddrOnlySnat",
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
    VYR_CHIP_CHECK(p.table->valueWords() <= kMaxKeyWords);
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

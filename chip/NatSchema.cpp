// The NAT program's tables: the single source of every generated table, match-spec and
// action-spec class. Fields are listed in key order. Widths that the table descriptions leave
// open are chosen here and noted beside the field.

#include "chip/Schema.h"

namespace VyrP4::Schema {

namespace {

using F = FieldFormat;
constexpr auto none = PriorityOrder::none;
constexpr auto higherWins = PriorityOrder::higherWins;
// The static ACL tables put a fragment rule at priority 0 above the non-fragment rule of the
// same prefix at priority 1, so there the smaller value wins.
constexpr auto lowerWins = PriorityOrder::lowerWins;

// Every translation action carries the low 16 bits of a checksum delta.
Field delta() {
    return param("checksumDelta", 16, F::hex);
}

Schema build() {
    Schema s;
    s.actions = {
        // Static ACL ids.
        {"SetSnatAclId", {param("snatAclId", 16)}},
        {"SetDnatAclId", {param("dnatAclId", 16)}},
        // Ingress translations.
        {"SetTranslatedSip", {delta(), ipv4("translatedSip")}},
        {"SetTranslatedSipPort", {delta(), ipv4("translatedSip"), param("translatedSport", 16)}},
        {"SetTranslatedDip", {delta(), ipv4("translatedDip")}},
        {"SetTranslatedDipPort", {delta(), ipv4("translatedDip"), param("translatedDport", 16)}},
        {"SetTranslatedDipNextHop", {delta(), ipv4("translatedDip"), param("nextHopId", 32)}},
        {"SetTranslatedDipNextHopEcmp", {delta(), ipv4("translatedDip"), param("ecmpId", 32)}},
        {"SetTranslatedDipPortNextHop",
         {delta(), ipv4("translatedDip"), param("nextHopId", 32), param("translatedDport", 16)}},
        {"SetTranslatedDipPortNextHopEcmp",
         {delta(), ipv4("translatedDip"), param("ecmpId", 32), param("translatedDport", 16)}},
        // NAT profile tables.
        {"SetEgrNatProfile", {param("egrNatProfileId", 16)}},
        {"SetDynEgrNatProfile", {param("dynEgrNatProfileId", 16)}},
        {"SetEgrMdIngNatProfile", {param("ingNatProfileId", 16)}},
        {"SetEgrMdEgrNatProfile", {param("egrNatProfileId", 16)}},
        // Egress translations. The MAC variants derive the destination MAC from the multicast
        // address in the pipeline, so they carry the same parameters as the plain ones.
        {"EgrNatSip", {delta(), ipv4("translatedSip")}},
        {"EgrNatSipPort", {delta(), ipv4("translatedSip"), param("translatedSport", 16)}},
        {"EgrNatDip", {delta(), ipv4("translatedDip")}},
        {"EgrNatDipPort", {delta(), ipv4("translatedDip"), param("translatedDport", 16)}},
        {"EgrNatDipMac", {delta(), ipv4("translatedDip")}},
        {"EgrNatDipPortMac", {delta(), ipv4("translatedDip"), param("translatedDport", 16)}},
        {"EgrNatDrop", {}},
        // Per-VRF tables. natVrfEnable: 8 bits, the fixed entry's first byte.
        {"IngressNatAclVrfBase", {param("natVrfEnable", 8)}},
        {"SetTranslatedVrfDip",
         {delta(), ipv4("translatedDip"), param("dipAndVrf", 32, F::hex), param("vrfId", 16)}},
        {"SetIpv4Snat", {delta(), ipv4("translatedSip")}},
        {"SetNatMeter", {param("meterIndex", 32)}},
        // Full cone and dynamic SNAT ACL.
        {"SetFullConeDipRangeId", {param("rangeId", 16)}},
        {"ClearSip", {}},
        {"SetDip", {}},
        {"ClearDip", {}},
        // CPU trap tables. trapDirEgr/trapDirIng: 1 bit each; the first is set when the rule
        // uses the second profile field, the second when it uses the first.
        {"SetNatCpuTrap", {param("trapDirEgr", 1), param("trapDirIng", 1)}},
        {"OnMiss", {}},
        {"SetNatTcpFlags", {}},
        {"SetTcpFlagsCpuReasonCode", {}},
        {"SetNatCpuHeaderSnat", {}},
        {"SetNatCpuHeaderDnat", {}},
        {"SetNatCpuHeaderTwice", {}},
        // Twice NAT. fragment: 1 bit; protocolType: 2 bits (four protocol types).
        {"TwiceNatAddrOnlyHit",
         {param("keyId", 16), param("fragment", 1), param("protocolType", 2),
          param("rewriteId", 16), param("nextHopId", 16)}},
        {"TwiceNatAddrOnlyHitEcmp",
         {param("keyId", 16), param("fragment", 1), param("protocolType", 2),
          param("rewriteId", 16), param("ecmpId", 16)}},
        {"TwiceNatAddrPortHit",
         {param("rewriteId", 16), param("protocolType", 2), param("nextHopId", 16)}},
        {"TwiceNatAddrPortHitEcmp",
         {param("rewriteId", 16), param("protocolType", 2), param("ecmpId", 16)}},
        {"TwiceNatAddrPortHitDynamic",
         {param("rewriteId", 16), param("protocolType", 2), param("nextHopId", 16)}},
        {"TwiceNatAddrPortHitEcmpDynamic",
         {param("rewriteId", 16), param("protocolType", 2), param("ecmpId", 16)}},
        {"TwiceNatAddrOnlyValidHit", {}},
        {"TwiceNatAddrOnlyValidHitEcmp", {}},
        {"TwiceNatAddrPortValidHit", {}},
        {"TwiceNatAddrPortValidHitEcmp", {}},
        {"SetTranslatedSipDip", {ipv4("translatedSip"), ipv4("translatedDip"), delta()}},
        {"SetTranslatedSipDipSport",
         {ipv4("translatedSip"), ipv4("translatedDip"), param("translatedSport", 16), delta()}},
        {"SetTranslatedSipDipDport",
         {ipv4("translatedSip"), ipv4("translatedDip"), param("translatedDport", 16), delta()}},
        {"SetTranslatedSipDipPort",
         {ipv4("translatedSip"), ipv4("translatedDip"), param("translatedSport", 16),
          param("translatedDport", 16), delta()}},
        // twiceNatAclId: 8 bits, ids 1 to 255.
        {"SetTwiceNatAclId", {param("twiceNatAclId", 8)}},
        // NAT flows.
        {"SetNatFlowResult", {param("natFlowResult", 16)}},
    };

    const std::vector<std::string> dipNextHopActions = {
        "SetTranslatedDipNextHop", "SetTranslatedDipNextHopEcmp", "SetTranslatedDipPortNextHop",
        "SetTranslatedDipPortNextHopEcmp"};
    const std::vector<std::string> twicePortActions = {
        "TwiceNatAddrPortHit", "TwiceNatAddrPortHitEcmp", "TwiceNatAddrPortHitDynamic",
        "TwiceNatAddrPortHitEcmpDynamic"};
    // The dynamic 5-tuple, used by the second-stage tables and the partitions.
    const std::vector<Field> fiveTuple = {exact("outerIpv4HdrProtocol", 8), ipv4("outerIpv4HdrSip"),
                                          exact("l4PortHdrSrcPort", 16), ipv4("outerIpv4HdrDip"),
                                          exact("l4PortHdrDstPort", 16)};
    auto withVrf = [](std::vector<Field> f) {
        f.push_back(exact("l3InfoVrfId", 16)); // 16 bits: VRF ids stay below 0xFFFF
        return f;
    };
    // The two 12-bit NAT profile fields of the trap ACLs: the ingress and the egress interface's.
    const Field ingProfile = ternary("ingMdIngNatProfileId", 12);
    const Field egrProfile = ternary("ingMdEgrNatProfileId", 12);

    s.tables = {
        // --- Static ingress tables ---
        {"staticSnatAcl",
         "StaticSnatAcl",
         {ternary("ingMdIpv4Fragment", 8), ternary("outerIpv4HdrProtocol", 8),
          ipv4Ternary("outerIpv4HdrDip")},
         lowerWins,
         {"SetSnatAclId"},
         "caps.snatAclTableSize()"},
        {"staticDnatAcl",
         "StaticDnatAcl",
         {ternary("ingMdIpv4Fragment", 8), ternary("outerIpv4HdrProtocol", 8),
          ipv4Ternary("outerIpv4HdrSip")},
         lowerWins,
         {"SetDnatAclId"},
         "caps.dnatAclTableSize()"},
        {"addrOnlySnat",
         "AddrOnlySnat",
         {exact("ingMdNatProfileId", 16), exact("ingMdSnatAclId", 16), ipv4("outerIpv4HdrSip")},
         none,
         {"SetTranslatedSip"},
         "caps.snatAddrOnlyTableSize()"},
        {"addrPortSnat",
         "AddrPortSnat",
         {exact("ingMdNatProfileId", 16), exact("ingMdSnatAclId", 16),
          exact("l4PortHdrSrcPort", 16), ipv4("outerIpv4HdrSip")},
         none,
         {"SetTranslatedSip", "SetTranslatedSipPort"},
         "caps.snatAddrPortTableSize()"},
        {"addrOnlyDnat",
         "AddrOnlyDnat",
         {exact("ingMdDnatAclId", 16), exact("ingMdNatProfileId", 16), ipv4("outerIpv4HdrDip")},
         none,
         {"SetTranslatedDipNextHop", "SetTranslatedDipNextHopEcmp"},
         "caps.dnatAddrOnlyTableSize()"},
        {"addrPortDnat",
         "AddrPortDnat",
         {exact("ingMdDnatAclId", 16), exact("ingMdNatProfileId", 16),
          exact("l4PortHdrDstPort", 16), ipv4("outerIpv4HdrDip")},
         none,
         dipNextHopActions,
         "caps.dnatAddrPortTableSize()"},
        {"egressNatProfile",
         "EgressNatProfile",
         {exact("ingMdVlanId", 16)},
         none,
         {"SetEgrNatProfile"},
         "caps.egressNatProfileTableSize()"},
        {"dynamicEgressNatProfile",
         "DynamicEgressNatProfile",
         {exact("ingMdVlanId", 16)},
         none,
         {"SetDynEgrNatProfile"},
         "caps.dynamicEgressNatProfileTableSize()"},
        // Egress unicast tables: the profile id is written in its low 8 bits.
        {"egrUcSnat",
         "EgrUcSnat",
         {exact("egrMdNatProfileId", 8), exact("egrMdSnatAclId", 16),
          ternary("l4PortHdrSrcPort", 16), ipv4("outerIpv4HdrSip")},
         higherWins,
         {"EgrNatSip", "EgrNatSipPort"},
         "caps.egrUcNatTableSize()"},
        {"egrUcDnat",
         "EgrUcDnat",
         {exact("egrMdNatProfileId", 8), exact("egrMdDnatAclId", 16),
          ternary("l4PortHdrDstPort", 16), ipv4("outerIpv4HdrDip")},
         higherWins,
         {"EgrNatDip", "EgrNatDipPort"},
         "caps.egrUcNatTableSize()"},

        // --- Egress-pipeline static tables ---
        {"egrAddrSnat",
         "EgrAddrSnat",
         {exact("egrMdNatProfileId", 16), exact("egrMdIpv4Fragment", 8), ipv4("outerIpv4HdrSip")},
         none,
         {"EgrNatSip"},
         "caps.egrAddrSnatTableSize()"},
        {"egrAddrPortSnat",
         "EgrAddrPortSnat",
         {exact("egrMdNatProfileId", 16), exact("l4PortHdrSrcPort", 16),
          exact("outerIpv4HdrProtocol", 8), ipv4("outerIpv4HdrSip")},
         none,
         {"EgrNatSipPort"},
         "caps.egrAddrPortSnatTableSize()"},
        {"egrAddrDnat",
         "EgrAddrDnat",
         {exact("egrMdNatProfileId", 16), exact("egrMdIpv4Fragment", 8), ipv4("outerIpv4HdrDip")},
         none,
         {"EgrNatDrop", "EgrNatDipMac", "EgrNatDip"},
         "caps.egrAddrDnatTableSize()"},
        {"egrAddrPortDnat",
         "EgrAddrPortDnat",
         {exact("egrMdNatProfileId", 16), exact("l4PortHdrDstPort", 16),
          exact("outerIpv4HdrProtocol", 8), ipv4("outerIpv4HdrDip")},
         none,
         {"EgrNatDipPort", "EgrNatDipPortMac"},
         "caps.egrAddrPortDnatTableSize()"},
        {"ingressNatProfileEgressPipe",
         "IngressNatProfileEgressPipe",
         {exact("egrMdVlanId", 16)},
         none,
         {"SetEgrMdIngNatProfile"},
         "caps.ingressNatProfileEgressPipeTableSize()"},
        {"egressNatProfileEgressPipe",
         "EgressNatProfileEgressPipe",
         {exact("egrMdVlanId", 16)},
         none,
         {"SetEgrMdEgrNatProfile"},
         "caps.egressNatProfileEgressPipeTableSize()"},

        // --- Per-VRF tables ---
        // One fixed entry: VRF 0 under the full mask. 16 bits, as every VRF field.
        {"ingressNatAclVrf",
         "IngressNatAclVrf",
         {ternary("l3InfoVrfId", 16)},
         higherWins,
         {"IngressNatAclVrfBase"},
         "caps.vrfNatHop() ? 4u : 0u"},
        {"addrAndVrfDnat",
         "AddrAndVrfDnat",
         {ipv4("outerIpv4HdrDip")},
         none,
         {"SetTranslatedVrfDip"},
         "caps.vrfDnatTableSize()"},
        {"defaultVrfSnat",
         "DefaultVrfSnat",
         {ipv4("outerIpv4HdrSip"), exact("l3InfoVrfId", 16)},
         none,
         {"SetIpv4Snat"},
         "caps.vrfSnatTableSize()"},
        {"natPolicer",
         "NatPolicer",
         {exact("l3InfoVrfId", 16)},
         none,
         {"SetNatMeter"},
         "caps.natPolicerTableSize()"},

        // --- Full cone ---
        // ingMdFullConeDipRangeId: 16 bits, the range id of the compress tables.
        {"dynamicFullCone",
         "DynamicFullCone",
         {exact("ingMdNatProfileId", 16), exact("outerIpv4HdrProtocol", 8),
          exact("ingMdFullConeDipRangeId", 16), ternary("l4PortHdrDstPort", 16)},
         higherWins,
         {"ClearSip"},
         "caps.dynFullConeTableSize()"},
        {"dynamicFullConeDip",
         "DynamicFullConeDip",
         {ipv4Ternary("outerIpv4HdrDip")},
         higherWins,
         {"SetFullConeDipRangeId"},
         "caps.dynFullConeRangeCount()"},
        {"dynamicFullConeDnat",
         "DynamicFullConeDnat",
         {exact("ingMdNatProfileId", 16), exact("ingMdFullConeDipRangeId", 16),
          exact("outerIpv4HdrProtocol", 8), exact("l4PortHdrDstPort", 16)},
         none,
         {"SetTranslatedDipPort"},
         "caps.dynFullConeDnatTableSize()",
         true},
        {"dynamicFullConeCompressDip",
         "DynamicFullConeCompressDip",
         {ipv4Ternary("outerIpv4HdrDip")},
         higherWins,
         {"SetFullConeDipRangeId"},
         "caps.dynFullConeDnatRangeCount()"},
        // ingMdEgrNatProfileId: 8 bits, written with mask 0xff.
        {"dynamicSnatAcl",
         "DynamicSnatAcl",
         {ternary("ingMdEgrNatProfileId", 8), ternary("outerIpv4HdrProtocol", 8),
          ipv4Ternary("outerIpv4HdrDip"), ipv4Ternary("outerIpv4HdrSip"),
          ternary("l4PortHdrSrcPort", 16), ternary("l4PortHdrDstPort", 16)},
         higherWins,
         {"SetDip", "ClearDip"},
         "caps.dynamicSnatAclTableSize()"},

        // --- Dynamic translation tables ---
        // DNAT1 and SNAT1 carry both the packet fields and the full-cone metadata fields; the
        // profile decides which the pipeline fills, and the unused pair stays 0.
        {"dynamicDnat1",
         "DynamicDnat1",
         withVrf({exact("outerIpv4HdrProtocol", 8), ipv4("ingMdDynNatSip"),
                  exact("ingMdDynNatSport", 16), ipv4("outerIpv4HdrSip"),
                  exact("l4PortHdrSrcPort", 16), ipv4("outerIpv4HdrDip"),
                  exact("l4PortHdrDstPort", 16)}),
         none,
         {"SetTranslatedSip", "SetTranslatedSipPort", "SetTranslatedDipNextHop",
          "SetTranslatedDipNextHopEcmp", "SetTranslatedDipPortNextHop",
          "SetTranslatedDipPortNextHopEcmp"},
         "caps.dnat1TableSize()",
         true},
        {"dynamicDnat2", "DynamicDnat2", withVrf(fiveTuple), none, dipNextHopActions,
         "caps.dnat2TableSize()", true},
        {"dynamicSnat1",
         "DynamicSnat1",
         withVrf({exact("outerIpv4HdrProtocol", 8), ipv4("outerIpv4HdrSip"),
                  exact("l4PortHdrSrcPort", 16), ipv4("ingMdDynNatDip"),
                  exact("ingMdDynNatDport", 16), ipv4("outerIpv4HdrDip"),
                  exact("l4PortHdrDstPort", 16)}),
         none,
         {"SetTranslatedSip", "SetTranslatedSipPort"},
         "caps.snat1TableSize()",
         true},
        {"dynamicSnat2",
         "DynamicSnat2",
         withVrf(fiveTuple),
         none,
         {"SetTranslatedSip", "SetTranslatedSipPort"},
         "caps.snat2TableSize()",
         true},
        {"dynamicAddrOnlySnat",
         "DynamicAddrOnlySnat",
         {exact("ingMdNatProfileId", 16), ipv4("outerIpv4HdrSip")},
         none,
         {"SetTranslatedSip"},
         "caps.dynamicAddrOnlySnatTableSize()",
         true},
        {"dynamicAddrOnlyDnat",
         "DynamicAddrOnlyDnat",
         {exact("ingMdNatProfileId", 16), ipv4("outerIpv4HdrDip")},
         none,
         {"SetTranslatedDipNextHop", "SetTranslatedDipNextHopEcmp"},
         "caps.dynamicAddrOnlyDnatTableSize()",
         true},

        // --- CPU trap tables ---
        // tcpHdrFlags: 8 bits, the TCP flag byte.
        {"natTcpFlags",
         "NatTcpFlags",
         {exact("tcpHdrFlags", 8, F::hex)},
         none,
         {"SetNatTcpFlags"},
         "caps.intfNat() ? 8u : 0u"},
        // ingMdNatRvsTrap: 1 bit, set for the overload reverse traps.
        // Precedence: the larger priority wins. A priority is block x slots + slot; the block of
        // a rule priority sits above the blocks of larger (later) rule priorities, and within a
        // block the slot is the rule's sequence number. The trap-all rule takes the last slot of
        // its block, so it outranks the rules of the same rule priority.
        {"natCpuTrapAcl",
         "NatCpuTrapAcl",
         {ingProfile, egrProfile, ternary("ingMdNatRvsTrap", 1), ternary("l4PortHdrDstPort", 16),
          ternary("l4PortHdrSrcPort", 16), ipv4Ternary("outerIpv4HdrDip"),
          ternary("outerIpv4HdrProtocol", 8), ipv4Ternary("outerIpv4HdrSip")},
         higherWins,
         {"SetNatCpuTrap", "OnMiss"},
         "caps.natCpuTrapAclTableSize()"},
        // The four one-byte fields: the TCP flag class with its mask, and the trap flag with
        // its mask.
        {"natCpuReasonCode",
         "NatCpuReasonCode",
         {ternary("ingMdNatTcpFlags", 8, F::hex), ternary("ingMdNatCpuTrap", 8)},
         higherWins,
         {"SetTcpFlagsCpuReasonCode"},
         "caps.intfNat() ? 4u : 0u"},
        // aclHi, aclLo: 1 bit each.
        {"egressNatCpuTrapHeader",
         "EgressNatCpuTrapHeader",
         {exact("aclHi", 1), exact("aclLo", 1)},
         none,
         {"SetNatCpuHeaderSnat", "SetNatCpuHeaderDnat", "SetNatCpuHeaderTwice"},
         "caps.intfNat() ? 4u : 0u"},
    };

    // --- Partitions: one table per bank, one match and action family per direction ---
    for (unsigned bank = 0; bank < 4; ++bank) {
        s.tables.push_back({"dynamicDnatPartition" + std::to_string(bank),
                            "DynamicDnatPartitionCmn",
                            fiveTuple,
                            none,
                            {"SetTranslatedDip", "SetTranslatedDipPort"},
                            "caps.dnatPartitionSize(" + std::to_string(bank) + ")",
                            true});
    }
    for (unsigned bank = 0; bank < 5; ++bank) {
        s.tables.push_back({"dynamicSnatPartition" + std::to_string(bank),
                            "DynamicSnatPartitionCmn",
                            fiveTuple,
                            none,
                            {"SetTranslatedSip", "SetTranslatedSipPort"},
                            "caps.snatPartitionSize(" + std::to_string(bank) + ")",
                            true});
    }

    const std::vector<Table> twice = {
        {"twiceNatAddrOnly",
         "TwiceNatAddrOnly",
         {exact("l3InfoVrfId", 16), ipv4("outerIpv4HdrSip"), ipv4("outerIpv4HdrDip")},
         none,
         {"TwiceNatAddrOnlyHit", "TwiceNatAddrOnlyHitEcmp"},
         "caps.twiceNatAddrOnlyTableSize()"},
        // twiceMdKeyId: 16 bits, the key id of the address-only lookup.
        {"twiceNatAddrPort",
         "TwiceNatAddrPort",
         {exact("twiceMdKeyId", 16), exact("l4PortHdrSrcPort", 16), exact("l4PortHdrDstPort", 16)},
         none,
         twicePortActions,
         "caps.twiceNatAddrPortTableSize()"},
        {"twiceNatAddrSrcPort",
         "TwiceNatAddrSrcPort",
         {exact("twiceMdKeyId", 16), exact("l4PortHdrSrcPort", 16)},
         none,
         twicePortActions,
         "caps.twiceNatAddrSrcPortTableSize()"},
        {"twiceNatAddrDstPort",
         "TwiceNatAddrDstPort",
         {exact("twiceMdKeyId", 16), exact("l4PortHdrDstPort", 16)},
         none,
         twicePortActions,
         "caps.twiceNatAddrDstPortTableSize()"},
        // Flags of the previous lookups: hit, fragment and ECMP bits (1 bit each), protocol
        // types (2 bits), the packet's fragment bit (1) and the entry group, 1 or 2 (2 bits).
        {"twiceNatResultCheck",
         "TwiceNatResultCheck",
         {ternary("twiceMdAddrOnlyHit", 1), ternary("twiceMdAddrOnlyFragment", 1),
          ternary("twiceMdAddrOnlyEcmp", 1), ternary("twiceMdAddrOnlyProtocolType", 2),
          ternary("twiceMdAddrPortHit", 1), ternary("twiceMdAddrPortEcmp", 1),
          ternary("twiceMdAddrPortProtocolType", 2), ternary("outerIpv4HdrFragment", 1),
          ternary("twiceMdEntryGroup", 2)},
         higherWins,
         {"TwiceNatAddrPortValidHit", "TwiceNatAddrPortValidHitEcmp", "TwiceNatAddrOnlyValidHit",
          "TwiceNatAddrOnlyValidHitEcmp"},
         "caps.intfNat() && caps.twiceNatSupported() ? 32u : 0u"},
        // twiceMdRewriteId: 16 bits.
        {"twiceNatRewrite",
         "TwiceNatRewrite",
         {exact("twiceMdRewriteId", 16)},
         none,
         {"SetTranslatedSipDip", "SetTranslatedSipDipSport", "SetTranslatedSipDipDport",
          "SetTranslatedSipDipPort"},
         "caps.twiceNatRewriteTableSize()",
         true},
        {"twiceNatAclId",
         "TwiceNatAclId",
         {ternary("l4PortHdrDstPort", 16), ternary("l4PortHdrSrcPort", 16),
          ipv4Ternary("outerIpv4HdrDip"), ipv4Ternary("outerIpv4HdrSip"),
          ternary("outerIpv4HdrProtocol", 8)},
         higherWins,
         {"SetTwiceNatAclId", "OnMiss"},
         "caps.twiceNatAclIdTableSize()"},
        {"twiceNatCpuTrapAcl",
         "TwiceNatCpuTrapAcl",
         {ingProfile, egrProfile, exact("twiceMdAclId", 8), ternary("l4PortHdrSrcPort", 16),
          ternary("l4PortHdrDstPort", 16), ipv4Ternary("outerIpv4HdrSip"),
          ipv4Ternary("outerIpv4HdrDip"), ternary("outerIpv4HdrProtocol", 8)},
         higherWins,
         {"SetNatCpuTrap"},
         "caps.twiceNatCpuTrapAclTableSize()"},
        // --- NAT flows ---
        // ingMdNatProfileId: 16 bits, written with mask 0x00ff; l3InfoUnicast and
        // l3InfoMulticast: 1 bit each.
        {"natFlow",
         "NatFlow",
         {ternary("ingMdNatProfileId", 16), ternary("l3InfoUnicast", 1),
          ternary("l3InfoMulticast", 1), ipv4Ternary("outerIpv4HdrSip"),
          ipv4Ternary("outerIpv4HdrDip"), ternary("l4PortHdrSrcPort", 16),
          ternary("l4PortHdrDstPort", 16), ternary("outerIpv4HdrProtocol", 8)},
         higherWins,
         {"SetNatFlowResult", "OnMiss"},
         "caps.natFlowTableSize()"},
    };
    s.tables.insert(s.tables.end(), twice.begin(), twice.end());
    return s;
}

} // namespace

const Schema& natSchema() {
    static const Schema schema = build();
    return schema;
}

} // namespace VyrP4::Schema

#include "tools/scenario/Traffic.h"

#include "chip/Profile.h"

#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace Scenario {

namespace {

struct FieldValue {
    const char* name;
    uint64_t value;
};

// The packet's words for `table`: each field it matches from `fields`, 0 for the others.
void packetFor(const VyrP4::TableEngine& table, std::initializer_list<FieldValue> fields,
               std::vector<uint64_t>& words) {
    words.assign(table.valueWords(), 0);
    for (const auto& f : table.desc().match->fields) {
        for (const auto& v : fields) {
            if (std::strcmp(f.name, v.name) == 0) {
                VyrP4::Bits::put(words.data(), f.word, f.shift, f.width, v.value);
            }
        }
    }
}

// The entry of `table` the packet hits; a table the profile lacks hits nothing.
std::optional<VyrP4::EntryView> lookup(const VyrP4::TableEngine* table,
                                       std::initializer_list<FieldValue> fields,
                                       std::vector<uint64_t>& words) {
    if (!table) {
        return std::nullopt;
    }
    packetFor(*table, fields, words);
    return table->lookup(words.data());
}

uint64_t actionField(const VyrP4::TableEngine& table, const VyrP4::EntryView& e, const char* name) {
    for (const auto& f : table.desc().actions[e.action]->fields) {
        if (std::strcmp(f.name, name) == 0) {
            return VyrP4::Bits::get(e.data, f.word, f.shift, f.width);
        }
    }
    return 0;
}

bool hasField(const VyrP4::TableEngine& table, const char* name) {
    for (const auto& f : table.desc().match->fields) {
        if (std::strcmp(f.name, name) == 0) {
            return true;
        }
    }
    return false;
}

bool hit(VyrP4::TableEngine& table, const VyrP4::EntryView& e, uint32_t pipe) {
    return table.hitBitIs(e.handle, true, pipe) == VyrP4::ChipError::ok;
}

} // namespace

bool trafficIs(VyrP4::Chip& chip, const Ip::Nat::DynamicConnectionKey& key,
               const Ip::Nat::DynamicConnection& conn, uint32_t pipe) {
    if (conn.fullCone) {
        return false;
    }
    const auto& t = key.tuple;
    const bool snat = key.sourceTranslation();
    // The five-tuple tables first, as the pipeline prefers them to the address-only ones.
    std::vector<std::string> tables =
        snat ? std::vector<std::string>{"dynamicSnat1", "dynamicSnat2", "dynamicDnat1"}
             : std::vector<std::string>{"dynamicDnat1", "dynamicDnat2"};
    const std::size_t banks = snat ? VyrP4::ProfileCapabilities::kSnatPartitionBanks
                                   : VyrP4::ProfileCapabilities::kDnatPartitionBanks;
    for (std::size_t bank = 0; bank < banks; ++bank) {
        tables.push_back((snat ? "dynamicSnatPartition" : "dynamicDnatPartition") +
                         std::to_string(bank));
    }
    tables.push_back(snat ? "dynamicAddrOnlySnat" : "dynamicAddrOnlyDnat");
    std::vector<uint64_t> words;
    for (const auto& name : tables) {
        VyrP4::TableEngine* table = chip.table(name);
        if (!table) {
            continue;
        }
        // A table written without the VRF holds 0 there; DNAT1 may hold the source, SNAT1 the
        // destination, in the full-cone metadata fields instead of the packet's.
        const bool srcMeta = hasField(*table, "ingMdDynNatSip");
        const bool dstMeta = hasField(*table, "ingMdDynNatDip");
        for (const uint32_t vrf : {key.vrfId, 0u}) {
            for (const bool metadata : {false, true}) {
                const Ip::IpAndPort none;
                const Ip::IpAndPort& src = metadata && srcMeta ? none : t.src;
                const Ip::IpAndPort& dst = metadata && dstMeta ? none : t.dst;
                const Ip::IpAndPort& metaSrc = metadata && srcMeta ? t.src : none;
                const Ip::IpAndPort& metaDst = metadata && dstMeta ? t.dst : none;
                const auto e = lookup(table,
                                      {{"outerIpv4HdrProtocol", t.protocol},
                                       {"outerIpv4HdrSip", src.ip.value},
                                       {"l4PortHdrSrcPort", src.port},
                                       {"outerIpv4HdrDip", dst.ip.value},
                                       {"l4PortHdrDstPort", dst.port},
                                       {"ingMdDynNatSip", metaSrc.ip.value},
                                       {"ingMdDynNatSport", metaSrc.port},
                                       {"ingMdDynNatDip", metaDst.ip.value},
                                       {"ingMdDynNatDport", metaDst.port},
                                       {"l3InfoVrfId", vrf},
                                       {"ingMdNatProfileId", conn.profile}},
                                      words);
                if (e) {
                    return hit(*table, *e, pipe);
                }
            }
        }
    }
    return false;
}

bool trafficIs(VyrP4::Chip& chip, const Ip::Nat::TwiceNatKey& key,
               const Ip::Nat::TwiceNatTranslation& t, uint32_t pipe) {
    // A side translated without a port on either end matches without ports.
    const uint16_t sport = t.srcNew.port ? key.srcOld.port : 0;
    const uint16_t dport = t.dstNew.port ? key.dstOld.port : 0;
    std::vector<uint64_t> words;
    const VyrP4::TableEngine* addrOnly = chip.table("twiceNatAddrOnly");
    std::optional<VyrP4::EntryView> first;
    for (const uint32_t vrf : {key.vrf, 0u}) {
        first = lookup(addrOnly,
                       {{"l3InfoVrfId", vrf},
                        {"outerIpv4HdrSip", key.srcOld.ip.value},
                        {"outerIpv4HdrDip", key.dstOld.ip.value}},
                       words);
        if (first) {
            break;
        }
    }
    if (!first) {
        return false;
    }
    uint64_t rewriteId = actionField(*addrOnly, *first, "rewriteId");
    if (sport || dport) {
        const char* name = sport && dport ? "twiceNatAddrPort"
                           : sport        ? "twiceNatAddrSrcPort"
                                          : "twiceNatAddrDstPort";
        const VyrP4::TableEngine* ports = chip.table(name);
        const auto e = lookup(ports,
                              {{"twiceMdKeyId", actionField(*addrOnly, *first, "keyId")},
                               {"l4PortHdrSrcPort", sport},
                               {"l4PortHdrDstPort", dport}},
                              words);
        if (!e) {
            return false;
        }
        rewriteId = actionField(*ports, *e, "rewriteId");
    }
    VyrP4::TableEngine* rewrite = chip.table("twiceNatRewrite");
    const auto e = lookup(rewrite, {{"twiceMdRewriteId", rewriteId}}, words);
    return e && hit(*rewrite, *e, pipe);
}

} // namespace Scenario

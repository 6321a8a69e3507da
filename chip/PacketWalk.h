#pragma once
// The walk of one packet through the NAT stages, shared by the stage table (PacketPath.cpp) and
// the stages' bodies (PacketStages.cpp). Not for use outside the packet path.

#include "chip/PacketPath.h"

#include <cstring>
#include <initializer_list>
#include <optional>

namespace VyrP4 {

// One packet's way through the stages: its header vector, the translations found so far and
// the outcome.
struct PacketPath::Walk {
    // A translation an action asks for: the new values it carries and its checksum delta.
    struct Rewrite {
        bool set = false;
        std::optional<std::uint32_t> sip, dip;
        std::optional<std::uint16_t> sport, dport;
        std::uint16_t delta = 0;
    };
    static constexpr std::size_t kMaxKeyWords = 16;
    // The twice-NAT protocol types of the address-only and port actions.
    static constexpr std::uint64_t kProtocolTcp = 2;
    static constexpr std::uint64_t kProtocolUdp = 3;
    static bool isMulticast(std::uint32_t addr) { return (addr >> 28) == 0xe; }

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

} // namespace VyrP4

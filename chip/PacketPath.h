#pragma once
// The chip's forwarding path for NAT: a packet goes through the NAT tables stage by stage, each
// lookup keyed by the packet's fields and the metadata earlier stages set, as the P4 program
// chains them. It leaves rewritten by the matched translation actions, with its checksums
// adjusted by the actions' deltas only, or trapped to the CPU, or dropped. Lookups set the hit
// bit of the entry they hit on the packet's pipe, as the pipe's forwarding path does.
//
// The stages, the tables each consults and what each sets are listed once, in kStages of
// PacketPath.cpp; stages() hands them out.

#include "chip/Chip.h"
#include "chip/Packet.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace VyrP4 {

// What the packet brings into the ingress pipeline besides its bytes.
struct IngressMeta {
    std::uint16_t vlan = 0; // the packet's VLAN (its tag's, when tagged)
    std::uint32_t vrf = 0;
    std::uint32_t pipe = 0;
};

enum class Fate : std::uint8_t { forwarded, trapped, dropped };

// One table a stage consulted, and the entry it hit (empty when it missed).
struct StageLookup {
    const char* stage;
    const char* table;
    std::string entry; // the engine's readable form of the entry, "" on a miss
};

struct PacketOutcome {
    Fate fate = Fate::forwarded;
    // Trapped: the trap header's side ("snat", "dnat", "twice", or "trap" without a header
    // entry) and the TCP flags the reason code took (0: none). Dropped: the table that dropped.
    const char* why = "";
    std::uint8_t reasonTcpFlags = 0;
    std::uint32_t vrf = 0; // the VRF it leaves in
    bool translated = false;
    // "snat, tcp flags 0x02"; "" when forwarded.
    std::string reason() const;
};

struct StageInfo {
    const char* name;
    const char* pipeline; // "ingress" or "egress"
    const char* tables;
    const char* sets;
};

class PacketPath {
public:
    explicit PacketPath(Chip& chip) : chip_(chip) {}

    // Sends `packet` through, rewriting it in place. With `trace`, every lookup of a table the
    // chip has is appended to it; without, no text is made.
    PacketOutcome send(Packet& packet, const IngressMeta& meta,
                       std::vector<StageLookup>* trace = nullptr);

    static std::vector<StageInfo> stages();

    // The packet's header and metadata fields the tables match on, by the schema's names.
    enum Field : std::uint8_t {
#define VYR_PHV_ENUM(name) name,
#include "chip/PhvFields.def"
#undef VYR_PHV_ENUM
        kFieldCount
    };

    // One packet's way through the stages (PacketPath.cpp).
    struct Walk;

private:
    struct KeyPlan {
        TableEngine* table = nullptr;
        std::vector<std::pair<const FieldDesc*, Field>> fields;
    };
    const KeyPlan& plan(const char* table);

    Chip& chip_;
    // By the address of the name the caller passes: a lookup makes no string.
    std::unordered_map<const void*, KeyPlan> plans_;
};

} // namespace VyrP4

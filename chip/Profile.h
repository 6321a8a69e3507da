#pragma once
// Chip profiles: the capabilities record that the table managers read (feature flags and table
// sizes), a handful of named profiles, each a realistic chip, and setting a field from text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VyrP4 {

// X(name, comment): feature flags.
#define VYR_CHIP_PROFILE_FLAGS(X)                                                                  \
    X(natSupported, "NAT of any kind; without it the agent goes down")                             \
    X(intfNat, "NAT on interfaces: static, twice and dynamic NAT")                                 \
    X(vrfNatHop, "per-VRF NAT through next hops; exclusive with intfNat")                          \
    X(egrMcNat, "the egress-pipeline static NAT tables")                                           \
    X(twiceNatSupported, "twice NAT")                                                              \
    X(natFlowSupported, "NAT flows")                                                               \
    X(egrUcNatSupported, "the egress unicast NAT tables egrUcSnat and egrUcDnat")                  \
    X(dynFullConeSupported, "source-side full cone (dynamicFullCone, dynamicFullConeDip)")         \
    X(dynFullConeDnatSupported, "full-cone DNAT (dynamicFullConeDnat and its compress table)")     \
    X(snatDynFullConeSupported, "dynamic-SNAT full cone: SNAT1 matches the metadata destination")  \
    X(natInVrfSupported, "dynamic match specs carry the VRF")                                      \
    X(vrfSupported, "the twice-NAT address-only table matches the VRF")                            \
    X(l4PortSupported, "the full-cone DNAT table matches the L4 port")

// X(name, maximum, comment): sizes, in entries unless the comment says otherwise.
#define VYR_CHIP_PROFILE_SIZES(X)                                                                  \
    X(natProfileTableSize, 4096, "NAT profile ids, 0 to size - 1")                                 \
    X(snatAclTableSize, 65536, "staticSnatAcl; also the SNAT ACL ids")                             \
    X(dnatAclTableSize, 65536, "staticDnatAcl; also the DNAT ACL ids")                             \
    X(snatAddrOnlyTableSize, kMaxTableSize, "addrOnlySnat")                                        \
    X(dnatAddrOnlyTableSize, kMaxTableSize, "addrOnlyDnat")                                        \
    X(snatAddrPortTableSize, kMaxTableSize, "addrPortSnat")                                        \
    X(dnatAddrPortTableSize, kMaxTableSize, "addrPortDnat")                                        \
    X(egressNatProfileTableSize, 4096, "egressNatProfile (by VLAN); 0: no such table")             \
    X(dynamicEgressNatProfileTableSize, 4096, "dynamicEgressNatProfile; 0: no such table")         \
    X(egrUcNatTableSize, kMaxTableSize, "egrUcSnat and egrUcDnat, each")                           \
    X(egrAddrSnatTableSize, kMaxTableSize, "egrAddrSnat")                                          \
    X(egrAddrPortSnatTableSize, kMaxTableSize, "egrAddrPortSnat")                                  \
    X(egrAddrDnatTableSize, kMaxTableSize, "egrAddrDnat")                                          \
    X(egrAddrPortDnatTableSize, kMaxTableSize, "egrAddrPortDnat")                                  \
    X(ingressNatProfileEgressPipeTableSize, 4096, "ingressNatProfileEgressPipe (by VLAN)")         \
    X(egressNatProfileEgressPipeTableSize, 4096, "egressNatProfileEgressPipe (by VLAN)")           \
    X(vrfSnatTableSize, kMaxTableSize, "defaultVrfSnat")                                           \
    X(vrfDnatTableSize, kMaxTableSize, "addrAndVrfDnat")                                           \
    X(natPolicerTableSize, 65536, "natPolicer, one entry per VRF")                                 \
    X(vrfIdHelperFlags, 255, "flag byte handed to the VRF-id helper (not a size)")                 \
    X(dnat1TableSize, kMaxTableSize, "dynamicDnat1")                                               \
    X(dnat2TableSize, kMaxTableSize, "dynamicDnat2")                                               \
    X(snat1TableSize, kMaxTableSize, "dynamicSnat1; 0 with partitioned tables")                    \
    X(snat2TableSize, kMaxTableSize, "dynamicSnat2")                                               \
    X(dynamicAddrOnlySnatTableSize, kMaxTableSize, "dynamicAddrOnlySnat")                          \
    X(dynamicAddrOnlyDnatTableSize, kMaxTableSize, "dynamicAddrOnlyDnat")                          \
    X(dynFullConeTableSize, kMaxTableSize, "dynamicFullCone")                                      \
    X(dynFullConeRangeCount, 65535, "source-side range ids; also dynamicFullConeDip")              \
    X(dynFullConeDnatTableSize, kMaxTableSize, "dynamicFullConeDnat")                              \
    X(dynFullConeDnatRangeCount, 65535, "DNAT range ids; also dynamicFullConeCompressDip")         \
    X(dynamicSnatAclTableSize, kMaxTableSize, "dynamicSnatAcl")                                    \
    X(natCpuTrapAclTableSize, kMaxTableSize, "natCpuTrapAcl")                                      \
    X(twiceNatAddrOnlyTableSize, 65536, "twiceNatAddrOnly; also the twice-NAT key ids")            \
    X(twiceNatAddrPortTableSize, kMaxTableSize, "twiceNatAddrPort")                                \
    X(twiceNatAddrSrcPortTableSize, kMaxTableSize, "twiceNatAddrSrcPort; 0: no such table")        \
    X(twiceNatAddrDstPortTableSize, kMaxTableSize, "twiceNatAddrDstPort; 0: no such table")        \
    X(twiceNatRewriteTableSize, 65536, "twiceNatRewrite; also the rewrite ids")                    \
    X(twiceNatAclIdTableSize, kMaxTableSize, "twiceNatAclId")                                      \
    X(twiceNatCpuTrapAclTableSize, kMaxTableSize, "twiceNatCpuTrapAcl")                            \
    X(natFlowTableSize, kMaxTableSize, "natFlow")                                                  \
    X(natMcastGroupTableSize, 65536, "multicast groups that NAT flows may use")                    \
    X(natMcastReplicationTableSize, kMaxTableSize, "multicast replication entries for NAT flows")

class ProfileCapabilities {
public:
    // The largest table the emulated chip accepts.
    static constexpr std::uint32_t kMaxTableSize = 1u << 24;
    // Partition banks per direction: the program has that many partition tables.
    static constexpr std::size_t kDnatPartitionBanks = 4;
    static constexpr std::size_t kSnatPartitionBanks = 5;

    // All flags false, all sizes 0, no name, one pipe.
    ProfileCapabilities() = default;

    const std::string& name() const { return name_; }
    void nameIs(std::string name) { name_ = std::move(name); }

#define VYR_CHIP_FLAG_ACCESSORS(field, comment)                                                    \
    bool field() const {                                                                           \
        return field##_;                                                                           \
    }                                                                                              \
    void field##Is(bool value) {                                                                   \
        field##_ = value;                                                                          \
    }
    VYR_CHIP_PROFILE_FLAGS(VYR_CHIP_FLAG_ACCESSORS)
#undef VYR_CHIP_FLAG_ACCESSORS

    // Setting a size above its maximum is a programming error; text input goes through fieldIs.
#define VYR_CHIP_SIZE_ACCESSORS(field, maximum, comment)                                           \
    std::uint32_t field() const {                                                                  \
        return field##_;                                                                           \
    }                                                                                              \
    void field##Is(std::uint32_t value);
    VYR_CHIP_PROFILE_SIZES(VYR_CHIP_SIZE_ACCESSORS)
#undef VYR_CHIP_SIZE_ACCESSORS

    // Pipes, each with its own hit bit per entry; 1 to kMaxPipes.
    static constexpr std::uint32_t kMaxPipes = 8;
    std::uint32_t pipes() const {
        return pipes_;
    }
    void pipesIs(std::uint32_t pipes);

    // Partition sizes by bank number; a bank of size 0 has no table.
    const std::vector<std::uint32_t>& dnatPartitionBankSize() const {
        return dnatBanks_;
    }
    const std::vector<std::uint32_t>& snatPartitionBankSize() const {
        return snatBanks_;
    }
    void dnatPartitionBankSizeIs(std::vector<std::uint32_t> sizes);
    void snatPartitionBankSizeIs(std::vector<std::uint32_t> sizes);
    std::uint32_t dnatPartitionSize(std::size_t bank) const {
        return bank < dnatBanks_.size() ? dnatBanks_[bank] : 0;
    }
    std::uint32_t snatPartitionSize(std::size_t bank) const {
        return bank < snatBanks_.size() ? snatBanks_[bank] : 0;
    }

    // Sets a field from text ("true"/"false"/"1"/"0" for flags; decimal or 0x-hex for sizes;
    // comma-separated sizes for the partition bank lists; any text for "name"). An unknown field
    // or a value that does not parse or is out of range leaves the profile unchanged, returns
    // false and says why in `error`.
    bool fieldIs(std::string_view field, std::string_view value, std::string& error);
    // The text form of a field, as fieldIs accepts it; nullopt for an unknown field.
    std::optional<std::string> field(std::string_view field) const;
    static const std::vector<std::string>& fieldNames();
    // Every field, one "name: value" line each.
    std::string str() const;

    bool operator==(const ProfileCapabilities&) const = default;

private:
    std::string name_;
#define VYR_CHIP_FLAG_MEMBER(field, comment) bool field##_ = false;
    VYR_CHIP_PROFILE_FLAGS(VYR_CHIP_FLAG_MEMBER)
#undef VYR_CHIP_FLAG_MEMBER
#define VYR_CHIP_SIZE_MEMBER(field, maximum, comment) std::uint32_t field##_ = 0;
    VYR_CHIP_PROFILE_SIZES(VYR_CHIP_SIZE_MEMBER)
#undef VYR_CHIP_SIZE_MEMBER
    std::uint32_t pipes_ = 1;
    std::vector<std::uint32_t> dnatBanks_;
    std::vector<std::uint32_t> snatBanks_;
};

// The named profiles: "default" (every interface-NAT feature), "noNat", "partitioned" (dynamic
// connections in partition banks), "egressNat" (egress unicast and egress-pipeline tables) and
// "vrfNatHop" (per-VRF NAT through next hops). nullopt for any other name.
std::optional<ProfileCapabilities> namedProfile(std::string_view name);
const std::vector<std::string>& namedProfileNames();

} // namespace VyrP4

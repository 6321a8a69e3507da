#include "chip/Profile.h"

#include <charconv>

#include "chip/Check.h"

namespace VyrP4 {

namespace {

std::string quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

std::optional<bool> parseBool(std::string_view v) {
    if (v == "true" || v == "1") {
        return true;
    }
    if (v == "false" || v == "0") {
        return false;
    }
    return std::nullopt;
}

// Decimal or 0x-hex, at most `maximum`.
std::optional<std::uint32_t> parseSize(std::string_view field, std::string_view v,
                                       std::uint64_t maximum, std::string& error) {
    int base = 10;
    std::string_view digits = v;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, base);
    if (digits.empty() || end != digits.data() + digits.size() ||
        ec == std::errc::invalid_argument) {
        error = "profile field " + quoted(field) + ": " + quoted(v) + " is not a number";
        return std::nullopt;
    }
    if (ec == std::errc::result_out_of_range || n > maximum) {
        error = "profile field " + quoted(field) + ": " + std::string(v) +
                " is out of range (at most " + std::to_string(maximum) + ")";
        return std::nullopt;
    }
    return std::uint32_t(n);
}

std::optional<std::vector<std::uint32_t>> parseBanks(std::string_view field, std::string_view v,
                                                     std::size_t maxBanks, std::string& error) {
    std::vector<std::uint32_t> banks;
    while (!v.empty()) {
        const std::size_t comma = v.find(',');
        std::string_view item = v.substr(0, comma);
        while (!item.empty() && item.front() == ' ') {
            item.remove_prefix(1);
        }
        while (!item.empty() && item.back() == ' ') {
            item.remove_suffix(1);
        }
        const auto size = parseSize(field, item, ProfileCapabilities::kMaxTableSize, error);
        if (!size) {
            return std::nullopt;
        }
        banks.push_back(*size);
        if (comma == std::string_view::npos) {
            break;
        }
        v.remove_prefix(comma + 1);
        if (v.empty()) {
            error = "profile field " + quoted(field) + ": a bank size is missing after ','";
            return std::nullopt;
        }
    }
    if (banks.size() > maxBanks) {
        error = "profile field " + quoted(field) + ": " + std::to_string(banks.size()) +
                " banks are out of range (at most " + std::to_string(maxBanks) + ")";
        return std::nullopt;
    }
    return banks;
}

std::string banksStr(const std::vector<std::uint32_t>& banks) {
    std::string s;
    for (std::uint32_t b : banks) {
        s += (s.empty() ? "" : ",") + std::to_string(b);
    }
    return s;
}

} // namespace

#define VYR_CHIP_SIZE_SETTER(field, maximum, comment)                                              \
    void ProfileCapabilities::field##Is(std::uint32_t value) {                                     \
        VYR_CHIP_CHECK(value <= (maximum));                                                        \
        field##_ = value;                                                                          \
    }
VYR_CHIP_PROFILE_SIZES(VYR_CHIP_SIZE_SETTER)
#undef VYR_CHIP_SIZE_SETTER

void ProfileCapabilities::pipesIs(std::uint32_t pipes) {
    VYR_CHIP_CHECK(pipes >= 1 && pipes <= kMaxPipes);
    pipes_ = pipes;
}

void ProfileCapabilities::dnatPartitionBankSizeIs(std::vector<std::uint32_t> sizes) {
    VYR_CHIP_CHECK(sizes.size() <= kDnatPartitionBanks);
    dnatBanks_ = std::move(sizes);
}

void ProfileCapabilities::snatPartitionBankSizeIs(std::vector<std::uint32_t> sizes) {
    VYR_CHIP_CHECK(sizes.size() <= kSnatPartitionBanks);
    snatBanks_ = std::move(sizes);
}

bool ProfileCapabilities::fieldIs(std::string_view field, std::string_view value,
                                  std::string& error) {
    if (field == "name") {
        name_ = std::string(value);
        return true;
    }
#define VYR_CHIP_FLAG_PARSE(f, comment)                                                            \
    if (field == #f) {                                                                             \
        const std::optional<bool> b = parseBool(value);                                            \
        if (!b) {                                                                                  \
            error = "profile field " + quoted(field) + ": " + quoted(value) +                      \
                    " is not true, false, 1 or 0";                                                 \
            return false;                                                                          \
        }                                                                                          \
        f##_ = *b;                                                                                 \
        return true;                                                                               \
    }
    VYR_CHIP_PROFILE_FLAGS(VYR_CHIP_FLAG_PARSE)
#undef VYR_CHIP_FLAG_PARSE
#define VYR_CHIP_SIZE_PARSE(f, maximum, comment)                                                   \
    if (field == #f) {                                                                             \
        const std::optional<std::uint32_t> n = parseSize(field, value, (maximum), error);          \
        if (!n) {                                                                                  \
            return false;                                                                          \
        }                                                                                          \
        f##_ = *n;                                                                                 \
        return true;                                                                               \
    }
    VYR_CHIP_PROFILE_SIZES(VYR_CHIP_SIZE_PARSE)
#undef VYR_CHIP_SIZE_PARSE
    if (field == "pipes") {
        const std::optional<std::uint32_t> n = parseSize(field, value, kMaxPipes, error);
        if (!n) {
            return false;
        }
        if (*n == 0) {
            error = "profile field " + quoted(field) + ": a chip has at least 1 pipe";
            return false;
        }
        pipes_ = *n;
        return true;
    }
    if (field == "dnatPartitionBankSize" || field == "snatPartitionBankSize") {
        const bool dnat = field[0] == 'd';
        auto banks =
            parseBanks(field, value, dnat ? kDnatPartitionBanks : kSnatPartitionBanks, error);
        if (!banks) {
            return false;
        }
        (dnat ? dnatBanks_ : snatBanks_) = std::move(*banks);
        return true;
    }
    error = "unknown profile field " + quoted(field);
    return false;
}

std::optional<std::string> ProfileCapabilities::field(std::string_view field) const {
    if (field == "name") {
        return name_;
    }
#define VYR_CHIP_FLAG_TEXT(f, comment)                                                             \
    if (field == #f) {                                                                             \
        return std::string(f##_ ? "true" : "false");                                               \
    }
    VYR_CHIP_PROFILE_FLAGS(VYR_CHIP_FLAG_TEXT)
#undef VYR_CHIP_FLAG_TEXT
#define VYR_CHIP_SIZE_TEXT(f, maximum, comment)                                                    \
    if (field == #f) {                                                                             \
        return std::to_string(f##_);                                                               \
    }
    VYR_CHIP_PROFILE_SIZES(VYR_CHIP_SIZE_TEXT)
#undef VYR_CHIP_SIZE_TEXT
    if (field == "pipes") {
        return std::to_string(pipes_);
    }
    if (field == "dnatPartitionBankSize") {
        return banksStr(dnatBanks_);
    }
    if (field == "snatPartitionBankSize") {
        return banksStr(snatBanks_);
    }
    return std::nullopt;
}

const std::vector<std::string>& ProfileCapabilities::fieldNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n{"name"};
#define VYR_CHIP_FLAG_NAME(f, comment) n.push_back(#f);
        VYR_CHIP_PROFILE_FLAGS(VYR_CHIP_FLAG_NAME)
#undef VYR_CHIP_FLAG_NAME
#define VYR_CHIP_SIZE_NAME(f, maximum, comment) n.push_back(#f);
        VYR_CHIP_PROFILE_SIZES(VYR_CHIP_SIZE_NAME)
#undef VYR_CHIP_SIZE_NAME
        n.push_back("pipes");
        n.push_back("dnatPartitionBankSize");
        n.push_back("snatPartitionBankSize");
        return n;
    }();
    return names;
}

std::string ProfileCapabilities::str() const {
    std::string s;
    for (const std::string& f : fieldNames()) {
        s += f + ": " + *field(f) + "\n";
    }
    return s;
}

namespace {

// Interface NAT with the ingress static tables and the CPU trap ACL, shared by the NAT profiles.
ProfileCapabilities intfNatBase(const char* name) {
    ProfileCapabilities p;
    p.nameIs(name);
    p.natSupportedIs(true);
    p.intfNatIs(true);
    p.natProfileTableSizeIs(256);
    p.snatAclTableSizeIs(1024);
    p.dnatAclTableSizeIs(1024);
    p.snatAddrOnlyTableSizeIs(8192);
    p.dnatAddrOnlyTableSizeIs(8192);
    p.snatAddrPortTableSizeIs(8192);
    p.dnatAddrPortTableSizeIs(8192);
    p.egressNatProfileTableSizeIs(4096);
    p.dynamicEgressNatProfileTableSizeIs(4096);
    p.natCpuTrapAclTableSizeIs(2048);
    p.dynamicAddrOnlySnatTableSizeIs(4096);
    p.dynamicAddrOnlyDnatTableSizeIs(4096);
    p.natInVrfSupportedIs(true);
    return p;
}

void dynamicTables(ProfileCapabilities& p) {
    p.dnat1TableSizeIs(16384);
    p.dnat2TableSizeIs(8192);
    p.snat1TableSizeIs(16384);
    p.snat2TableSizeIs(8192);
}

ProfileCapabilities defaultProfile() {
    ProfileCapabilities p = intfNatBase("default");
    dynamicTables(p);
    p.twiceNatSupportedIs(true);
    p.natFlowSupportedIs(true);
    p.dynFullConeSupportedIs(true);
    p.dynFullConeDnatSupportedIs(true);
    p.snatDynFullConeSupportedIs(true);
    p.vrfSupportedIs(true);
    p.l4PortSupportedIs(true);
    p.dynFullConeTableSizeIs(1024);
    p.dynFullConeRangeCountIs(256);
    p.dynFullConeDnatTableSizeIs(8192);
    p.dynFullConeDnatRangeCountIs(256);
    p.dynamicSnatAclTableSizeIs(1024);
    p.twiceNatAddrOnlyTableSizeIs(4096);
    p.twiceNatAddrPortTableSizeIs(4096);
    p.twiceNatAddrSrcPortTableSizeIs(2048);
    p.twiceNatAddrDstPortTableSizeIs(2048);
    p.twiceNatRewriteTableSizeIs(8192);
    p.twiceNatAclIdTableSizeIs(512);
    p.twiceNatCpuTrapAclTableSizeIs(1024);
    p.natFlowTableSizeIs(2048);
    p.natMcastGroupTableSizeIs(1024);
    p.natMcastReplicationTableSizeIs(8192);
    return p;
}

ProfileCapabilities noNatProfile() {
    ProfileCapabilities p;
    p.nameIs("noNat");
    return p;
}

// Dynamic capacity in banks: two DNAT banks, four SNAT banks of which bank 2 is empty; both
// directions total 16384 entries.
ProfileCapabilities partitionedProfile() {
    ProfileCapabilities p = intfNatBase("partitioned");
    p.dnatPartitionBankSizeIs({8192, 8192});
    p.snatPartitionBankSizeIs({4096, 4096, 0, 8192});
    return p;
}

ProfileCapabilities egressNatProfile() {
    ProfileCapabilities p = intfNatBase("egressNat");
    dynamicTables(p);
    p.egrUcNatSupportedIs(true);
    p.egrUcNatTableSizeIs(2048);
    p.egrMcNatIs(true);
    p.egrAddrSnatTableSizeIs(4096);
    p.egrAddrPortSnatTableSizeIs(4096);
    p.egrAddrDnatTableSizeIs(4096);
    p.egrAddrPortDnatTableSizeIs(4096);
    p.ingressNatProfileEgressPipeTableSizeIs(4096);
    p.egressNatProfileEgressPipeTableSizeIs(4096);
    return p;
}

ProfileCapabilities vrfNatHopProfile() {
    ProfileCapabilities p;
    p.nameIs("vrfNatHop");
    p.natSupportedIs(true);
    p.vrfNatHopIs(true);
    p.vrfSnatTableSizeIs(4096);
    p.vrfDnatTableSizeIs(4096);
    p.natPolicerTableSizeIs(1024);
    p.vrfIdHelperFlagsIs(1);
    return p;
}

} // namespace

std::optional<ProfileCapabilities> namedProfile(std::string_view name) {
    if (name == "default") {
        return defaultProfile();
    }
    if (name == "noNat") {
        return noNatProfile();
    }
    if (name == "partitioned") {
        return partitionedProfile();
    }
    if (name == "egressNat") {
        return egressNatProfile();
    }
    if (name == "vrfNatHop") {
        return vrfNatHopProfile();
    }
    return std::nullopt;
}

const std::vector<std::string>& namedProfileNames() {
    static const std::vector<std::string> names = {"default", "noNat", "partitioned", "egressNat",
                                                   "vrfNatHop"};
    return names;
}

} // namespace VyrP4

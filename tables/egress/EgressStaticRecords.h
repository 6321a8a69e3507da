#pragma once
// The egress static manager's records: per NAT profile, the address entries and the
// address-and-port entries written into the egress-pipeline tables, and the address entries
// waiting for a retry.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace VyrNat {

using Ip::IpAddr;
using Ip::IpAndPort;

struct EgrSnatTag {
    static constexpr const char* kAddrKeyName = "VyrNat::EgrSnatAddrKey";
    static constexpr const char* kAddrPortKeyName = "VyrNat::EgrSnatAddrPortKey";
};
struct EgrDnatTag {
    static constexpr const char* kAddrKeyName = "VyrNat::EgrDnatAddrKey";
    static constexpr const char* kAddrPortKeyName = "VyrNat::EgrDnatAddrPortKey";
};

// An address entry: the untranslated address, and whether it is the fragment companion of
// address-and-port translations. Ordered by address, then `frag`.
template <class Tag> struct EgrAddrKey {
    IpAddr ip;
    uint8_t frag = 0; // 1: fragment entry

    auto operator<=>(const EgrAddrKey&) const = default;
    std::string str() const;
};
using EgrSnatAddrKey = EgrAddrKey<EgrSnatTag>;
using EgrDnatAddrKey = EgrAddrKey<EgrDnatTag>;

// An address-and-port entry: the untranslated address and port, and the IP protocol.
template <class Tag> struct EgrAddrPortKey {
    IpAndPort ip;
    uint8_t proto = 0;

    auto operator<=>(const EgrAddrPortKey&) const = default;
    std::string str() const;
};
using EgrSnatAddrPortKey = EgrAddrPortKey<EgrSnatTag>;
using EgrDnatAddrPortKey = EgrAddrPortKey<EgrDnatTag>;

// An address entry. `programmed` says the chip holds it with `newIp`. `inHardware` says the
// chip holds an entry under `matchSpec` at all: after a failed rewrite it still holds the
// earlier address until the retry replaces it.
template <class MatchSpec> struct EgrAddrOnlyEntry {
    MatchSpec matchSpec;
    IpAddr newIp; // DNAT: 0 for the drop entry of address-and-port translations
    bool programmed = false;
    bool inHardware = false;
    uint16_t refCount = 0;     // users of the entry
    uint16_t addressUsers = 0; // the address-only translations among them
};
using EgrSnatAddrOnlyEntry = EgrAddrOnlyEntry<VyrP4::EgrAddrSnatMatchSpec>;
using EgrDnatAddrOnlyEntry = EgrAddrOnlyEntry<VyrP4::EgrAddrDnatMatchSpec>;

// An address-and-port entry. It is recorded only once written, so `programmed` holds for every
// recorded one; each holds one reference on its address companions.
template <class MatchSpec> struct EgrAddrPortEntry {
    MatchSpec matchSpec;
    IpAndPort newIpPort;
    bool programmed = false;
};
using EgrSnatAddrPortEntry = EgrAddrPortEntry<VyrP4::EgrAddrPortSnatMatchSpec>;
using EgrDnatAddrPortEntry = EgrAddrPortEntry<VyrP4::EgrAddrPortDnatMatchSpec>;

// Every entry of one NAT profile. `retryList` holds exactly the keys of the address entries
// that are not programmed.
template <class Tag, class AddrOnly, class AddrPort> struct EgrHwStatic {
    using AddrKey = EgrAddrKey<Tag>;
    using AddrPortKey = EgrAddrPortKey<Tag>;

    uint16_t profile = 0;
    std::map<AddrPortKey, AddrPort> addrPortMS;
    std::map<AddrKey, AddrOnly> addrOnlyMS;
    std::set<AddrKey> retryList;

    bool empty() const { return addrPortMS.empty() && addrOnlyMS.empty(); }
};
using EgrHwStaticSnat = EgrHwStatic<EgrSnatTag, EgrSnatAddrOnlyEntry, EgrSnatAddrPortEntry>;
using EgrHwStaticDnat = EgrHwStatic<EgrDnatTag, EgrDnatAddrOnlyEntry, EgrDnatAddrPortEntry>;

extern template struct EgrAddrKey<EgrSnatTag>;
extern template struct EgrAddrKey<EgrDnatTag>;
extern template struct EgrAddrPortKey<EgrSnatTag>;
extern template struct EgrAddrPortKey<EgrDnatTag>;

} // namespace VyrNat

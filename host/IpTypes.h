#pragma once
// The host's IPv4 value types. Addresses are 32-bit numbers in host order (first octet in the
// most significant byte), as written into match and action specs.

#include "host/Format.h"

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace Ip {

struct IpAddr {
    uint32_t value = 0;

    constexpr IpAddr() = default;
    constexpr explicit IpAddr(uint32_t v) : value(v) {}
    constexpr IpAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
        : value(uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | d) {}

    // Dotted quad; nullopt for anything else.
    static std::optional<IpAddr> parse(std::string_view text);
    std::string toString() const;
    bool isZero() const { return value == 0; }
    // Passed to the ring trace as a number, printed as the dotted quad.
    Host::FmtArg fmtArg() const { return Host::FmtArg::ip4(value); }
    auto operator<=>(const IpAddr&) const = default;
};

// A port of 0 means an address-only translation.
struct IpAndPort {
    IpAddr ip;
    uint16_t port = 0;

    std::string toString() const; // "10.0.0.5:80"
    Host::FmtArg fmtArg() const { return Host::FmtArg::ip4Port(ip.value, port); }
    auto operator<=>(const IpAndPort&) const = default;
};

// An address with a full 32-bit mask, as ACL prefixes are written.
struct IpAddrWithFullMask {
    IpAddr addr;
    uint32_t mask = 0;

    // "10.0.0.0/8" or "10.0.0.0/255.0.0.0"; nullopt for anything else.
    static std::optional<IpAddrWithFullMask> parse(std::string_view text);
    static uint32_t maskOfLength(unsigned len) { return len == 0 ? 0 : ~uint32_t(0) << (32 - len); }
    std::string toString() const; // "10.0.0.0/255.0.0.0"
    auto operator<=>(const IpAddrWithFullMask&) const = default;
};

struct Prefix {
    IpAddr addr;
    uint8_t len = 0;

    static std::optional<Prefix> parse(std::string_view text);
    std::string toString() const; // "10.0.0.0/8"
    auto operator<=>(const Prefix&) const = default;
};

struct ConnTuple {
    IpAndPort src;
    IpAndPort dst;
    uint8_t protocol = 0;

    std::string toString() const;
    auto operator<=>(const ConnTuple&) const = default;
};

using VrfId = uint32_t;
// 0xFFFF and above are not valid VRFs.
constexpr VrfId kInvalidVrfId = 0xFFFF;

} // namespace Ip

template <> struct std::hash<Ip::IpAddr> {
    std::size_t operator()(const Ip::IpAddr& a) const noexcept { return a.value * 0x9E3779B1u; }
};
template <> struct std::hash<Ip::IpAndPort> {
    std::size_t operator()(const Ip::IpAndPort& a) const noexcept {
        return (uint64_t(a.ip.value) << 16 | a.port) * 0x9E3779B97F4A7C15ull;
    }
};

#pragma once
// A packet as the chip's parser sees it: an Ethernet frame as bytes, optionally 802.1Q tagged,
// carrying IPv4 and maybe a TCP or UDP header, with the offsets of its headers. The rewrites are
// the data plane's: a field is written in place and its checksums are adjusted incrementally by
// the delta the action carries, never recomputed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace VyrP4 {

constexpr std::uint8_t kProtoIcmp = 1;
constexpr std::uint8_t kProtoTcp = 6;
constexpr std::uint8_t kProtoUdp = 17;

// RFC 1624: HC' = ~(~HC + delta), with the end-around carry.
std::uint16_t checksumAdjust(std::uint16_t checksum, std::uint16_t delta);
// The delta that changes one 16-bit word from `oldWord` to `newWord`.
std::uint16_t wordDelta(std::uint16_t oldWord, std::uint16_t newWord);
// The one's-complement sum of two deltas, and the delta `a` without the part `b`.
std::uint16_t deltaAdd(std::uint16_t a, std::uint16_t b);
std::uint16_t deltaSub(std::uint16_t a, std::uint16_t b);

class Packet {
public:
    // The frame's headers; nullopt with the reason in `why` when it is no IPv4 frame the
    // parser takes (too short, another ethertype, a bad IPv4 header length).
    static std::optional<Packet> parse(std::vector<std::uint8_t> frame, std::string* why);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    bool tagged() const { return tagged_; }
    std::uint16_t vlan() const; // 0 untagged

    std::uint32_t sip() const { return get32(ip_ + 12); }
    std::uint32_t dip() const { return get32(ip_ + 16); }
    std::uint8_t protocol() const { return bytes_[ip_ + 9]; }
    std::uint16_t fragmentOffset() const { return get16(ip_ + 6) & 0x1fff; } // 8-byte units
    bool moreFragments() const { return (get16(ip_ + 6) & 0x2000) != 0; }
    // A fragment that is not the first: it carries no L4 header.
    bool laterFragment() const { return fragmentOffset() != 0; }
    std::uint16_t ipChecksum() const { return get16(ip_ + 10); }

    // Whether the packet carries the TCP or UDP header (a first fragment or a whole packet, long
    // enough for the ports and the checksum).
    bool hasPorts() const { return l4_ != 0; }
    std::uint16_t sport() const { return hasPorts() ? get16(l4_) : 0; }
    std::uint16_t dport() const { return hasPorts() ? get16(l4_ + 2) : 0; }
    std::uint8_t tcpFlags() const; // 0 for other packets
    std::optional<std::uint16_t> l4Checksum() const;

    // Field rewrites: the new value goes in, and the IPv4 and L4 checksums get `ipDelta` and
    // `l4Delta` added. A UDP checksum of 0 (none) stays 0; one that comes out 0 is sent as
    // 0xffff, its other form.
    void rewrite(std::optional<std::uint32_t> sip, std::optional<std::uint32_t> dip,
                 std::optional<std::uint16_t> sport, std::optional<std::uint16_t> dport,
                 std::uint16_t ipDelta, std::uint16_t l4Delta);

private:
    Packet() = default;
    std::uint16_t get16(std::size_t at) const {
        return std::uint16_t(bytes_[at] << 8 | bytes_[at + 1]);
    }
    std::uint32_t get32(std::size_t at) const {
        return std::uint32_t(get16(at)) << 16 | get16(at + 2);
    }
    void put16(std::size_t at, std::uint16_t v) {
        bytes_[at] = std::uint8_t(v >> 8);
        bytes_[at + 1] = std::uint8_t(v);
    }
    void put32(std::size_t at, std::uint32_t v) {
        put16(at, std::uint16_t(v >> 16));
        put16(at + 2, std::uint16_t(v));
    }
    std::size_t l4ChecksumAt() const;

    std::vector<std::uint8_t> bytes_;
    bool tagged_ = false;
    std::size_t ip_ = 0; // offset of the IPv4 header
    std::size_t l4_ = 0; // offset of the TCP or UDP header, 0 when it is not there
};

} // namespace VyrP4

#include "chip/Packet.h"

namespace VyrP4 {

namespace {

constexpr std::size_t kEthHeader = 14;
constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherVlan = 0x8100;

std::uint16_t fold(std::uint32_t x) {
    x = (x & 0xffff) + (x >> 16);
    return std::uint16_t((x & 0xffff) + (x >> 16));
}

} // namespace

std::uint16_t checksumAdjust(std::uint16_t checksum, std::uint16_t delta) {
    return std::uint16_t(~fold(std::uint32_t(std::uint16_t(~checksum)) + delta));
}

std::uint16_t wordDelta(std::uint16_t oldWord, std::uint16_t newWord) {
    return fold(std::uint32_t(std::uint16_t(~oldWord)) + newWord);
}

std::uint16_t deltaAdd(std::uint16_t a, std::uint16_t b) {
    return fold(std::uint32_t(a) + b);
}

std::uint16_t deltaSub(std::uint16_t a, std::uint16_t b) {
    return fold(std::uint32_t(a) + std::uint16_t(~b));
}

std::optional<Packet> Packet::parse(std::vector<std::uint8_t> frame, std::string* why) {
    const auto fail = [why](const char* text) {
        if (why) {
            *why = text;
        }
        return std::nullopt;
    };
    Packet p;
    p.bytes_ = std::move(frame);
    const auto& b = p.bytes_;
    if (b.size() < kEthHeader) {
        return fail("shorter than an Ethernet header");
    }
    std::size_t at = 12;
    if (p.get16(at) == kEtherVlan) {
        if (b.size() < kEthHeader + 4) {
            return fail("shorter than a VLAN-tagged Ethernet header");
        }
        p.tagged_ = true;
        at += 4;
    }
    if (p.get16(at) != kEtherIpv4) {
        return fail("not IPv4");
    }
    p.ip_ = at + 2;
    if (b.size() < p.ip_ + 20 || (b[p.ip_] >> 4) != 4) {
        return fail("no IPv4 header");
    }
    const std::size_t ihl = std::size_t(b[p.ip_] & 0x0f) * 4;
    const std::size_t total = p.get16(p.ip_ + 2);
    if (ihl < 20 || total < ihl || b.size() < p.ip_ + total) {
        return fail("bad IPv4 header or total length");
    }
    // The ports and the checksum must be there; a later fragment has no L4 header at all.
    const std::size_t l4 = p.ip_ + ihl;
    const std::uint8_t proto = p.protocol();
    const std::size_t need = proto == kProtoTcp ? 20 : proto == kProtoUdp ? 8 : 0;
    if (need && !p.laterFragment() && p.ip_ + total >= l4 + need) {
        p.l4_ = l4;
    }
    return p;
}

std::uint16_t Packet::vlan() const {
    return tagged_ ? get16(14) & 0x0fff : 0;
}

std::uint8_t Packet::tcpFlags() const {
    return hasPorts() && protocol() == kProtoTcp ? bytes_[l4_ + 13] : 0;
}

std::size_t Packet::l4ChecksumAt() const {
    return l4_ + (protocol() == kProtoTcp ? 16 : 6);
}

std::optional<std::uint16_t> Packet::l4Checksum() const {
    if (!hasPorts()) {
        return std::nullopt;
    }
    return get16(l4ChecksumAt());
}

void Packet::rewrite(std::optional<std::uint32_t> sip, std::optional<std::uint32_t> dip,
                     std::optional<std::uint16_t> sport, std::optional<std::uint16_t> dport,
                     std::uint16_t ipDelta, std::uint16_t l4Delta) {
    if (sip) {
        put32(ip_ + 12, *sip);
    }
    if (dip) {
        put32(ip_ + 16, *dip);
    }
    put16(ip_ + 10, checksumAdjust(ipChecksum(), ipDelta));
    if (!hasPorts()) {
        return;
    }
    if (sport) {
        put16(l4_, *sport);
    }
    if (dport) {
        put16(l4_ + 2, *dport);
    }
    const std::size_t at = l4ChecksumAt();
    const std::uint16_t old = get16(at);
    if (protocol() == kProtoUdp && old == 0) {
        return;
    }
    const std::uint16_t adjusted = checksumAdjust(old, l4Delta);
    put16(at, protocol() == kProtoUdp && adjusted == 0 ? 0xffff : adjusted);
}

} // namespace VyrP4

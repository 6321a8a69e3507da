#include "common/VyrNatUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace VyrNat;

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(Checksum, KnownValues) {
    EXPECT_EQ(calculateChecksum(0xFFFF, 0x0001), 0x0001);
    EXPECT_EQ(calculateChecksum(0x1234, 0x1111), 0x2345);
    EXPECT_EQ(calculateChecksumDeltaAddrOnly(ip(10, 0, 0, 1), ip(10, 0, 0, 2)), 0x0001);
    EXPECT_EQ(calculateChecksumDeltaAddrPort(ip(10, 0, 0, 1), ip(10, 0, 0, 2), 1000, 2000), 0x03E9);
    // No change is one's-complement negative zero, not 0.
    EXPECT_EQ(calculateChecksumDeltaAddrOnly(ip(192, 0, 2, 7), ip(192, 0, 2, 7)), 0xFFFF);
    EXPECT_EQ(calculateChecksumDeltaAddrPort(ip(192, 0, 2, 7), ip(192, 0, 2, 7), 80, 80), 0xFFFF);
    EXPECT_EQ(calculateChecksumDeltaAddrPortSrcDst(1, 1, 2, 2, 3, 3, 4, 4), 0xFFFF);
}

// A data plane's view of an IPv4 packet with a TCP or UDP header.
struct Packet {
    std::vector<uint8_t> bytes;
    bool tcp;

    std::size_t l4() const { return 20; }
    uint16_t word(std::size_t at) const { return uint16_t(bytes[at] << 8 | bytes[at + 1]); }
    void wordIs(std::size_t at, uint16_t v) {
        bytes[at] = uint8_t(v >> 8);
        bytes[at + 1] = uint8_t(v);
    }
    uint32_t src() const { return uint32_t(word(12)) << 16 | word(14); }
    uint32_t dst() const { return uint32_t(word(16)) << 16 | word(18); }
    void srcIs(uint32_t a) { wordIs(12, uint16_t(a >> 16)), wordIs(14, uint16_t(a)); }
    void dstIs(uint32_t a) { wordIs(16, uint16_t(a >> 16)), wordIs(18, uint16_t(a)); }
    uint16_t sport() const { return word(l4()); }
    uint16_t dport() const { return word(l4() + 2); }
    void sportIs(uint16_t p) { wordIs(l4(), p); }
    void dportIs(uint16_t p) { wordIs(l4() + 2, p); }
    std::size_t l4Checksum() const { return l4() + (tcp ? 16 : 6); }

    static uint32_t sum(const std::vector<uint8_t>& b, std::size_t from, std::size_t to) {
        uint32_t s = 0;
        for (std::size_t i = from; i < to; i += 2) {
            s += uint32_t(b[i] << 8 | (i + 1 < to ? b[i + 1] : 0));
        }
        return s;
    }
    static uint16_t finish(uint32_t s) {
        while (s >> 16) {
            s = (s & 0xFFFF) + (s >> 16);
        }
        return uint16_t(~s);
    }
    uint16_t computeIpChecksum() const {
        auto copy = bytes;
        copy[10] = copy[11] = 0;
        return finish(sum(copy, 0, 20));
    }
    uint16_t computeL4Checksum() const {
        auto copy = bytes;
        copy[l4Checksum()] = copy[l4Checksum() + 1] = 0;
        const uint32_t len = uint32_t(bytes.size() - l4());
        uint32_t s = sum(copy, 12, 20) + (tcp ? 6 : 17) + len;
        return finish(s + sum(copy, l4(), copy.size()));
    }
    void fillChecksums() {
        wordIs(10, computeIpChecksum());
        wordIs(l4Checksum(), computeL4Checksum());
    }
};

Packet randomPacket(std::mt19937& rng) {
    Packet p;
    p.tcp = rng() % 2;
    std::size_t payload = rng() % 64;
    p.bytes.resize(20 + (p.tcp ? 20 : 8) + payload);
    for (auto& b : p.bytes) {
        b = uint8_t(rng());
    }
    p.bytes[0] = 0x45;
    p.bytes[9] = p.tcp ? 6 : 17;
    p.wordIs(2, uint16_t(p.bytes.size()));
    if (!p.tcp) {
        p.wordIs(24, uint16_t(p.bytes.size() - 20));
    }
    p.fillChecksums();
    return p;
}

// RFC 1624: HC' = ~(~HC + m' - m), where the table entry supplies the delta.
uint16_t applyDelta(uint16_t hc, uint16_t delta) {
    uint32_t s = uint32_t(~hc & 0xFFFF) + delta;
    s = (s & 0xFFFF) + (s >> 16);
    return uint16_t(~s);
}

TEST(Checksum, DeltasMatchFullRecomputationOnRewrittenPackets) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    enum Rewrite { srcAddr, srcAddrPort, dstAddr, dstAddrPort, both, kinds };
    for (int n = 0; n < 20000; ++n) {
        Packet p = randomPacket(rng);
        const Rewrite kind = Rewrite(n % kinds);
        const uint32_t oldSrc = p.src(), oldDst = p.dst();
        const uint16_t oldSport = p.sport(), oldDport = p.dport();
        const uint32_t newSrc = rng(), newDst = rng();
        const uint16_t newSport = uint16_t(rng()), newDport = uint16_t(rng());
        uint16_t ipDelta = 0;
        uint16_t l4Delta = 0;
        switch (kind) {
        case srcAddr:
            p.srcIs(newSrc);
            ipDelta = l4Delta = calculateChecksumDeltaAddrOnly(oldSrc, newSrc);
            break;
        case srcAddrPort:
            p.srcIs(newSrc);
            p.sportIs(newSport);
            ipDelta = calculateChecksumDeltaAddrOnly(oldSrc, newSrc);
            l4Delta = calculateChecksumDeltaAddrPort(oldSrc, newSrc, oldSport, newSport);
            break;
        case dstAddr:
            p.dstIs(newDst);
            ipDelta = l4Delta = calculateChecksumDeltaAddrOnly(oldDst, newDst);
            break;
        case dstAddrPort:
            p.dstIs(newDst);
            p.dportIs(newDport);
            ipDelta = calculateChecksumDeltaAddrOnly(oldDst, newDst);
            l4Delta = calculateChecksumDeltaAddrPort(oldDst, newDst, oldDport, newDport);
            break;
        case both:
        case kinds:
            p.srcIs(newSrc);
            p.sportIs(newSport);
            p.dstIs(newDst);
            p.dportIs(newDport);
            ipDelta = calculateChecksum(calculateChecksumDeltaAddrOnly(oldSrc, newSrc),
                                        calculateChecksumDeltaAddrOnly(oldDst, newDst));
            l4Delta = calculateChecksumDeltaAddrPortSrcDst(oldSrc, newSrc, oldSport, newSport,
                                                           oldDst, newDst, oldDport, newDport);
            break;
        }
        const uint16_t ipAfter = applyDelta(p.word(10), ipDelta);
        const uint16_t l4After = applyDelta(p.word(p.l4Checksum()), l4Delta);
        ASSERT_EQ(ipAfter, p.computeIpChecksum()) << "packet " << n << " rewrite " << kind;
        ASSERT_EQ(l4After, p.computeL4Checksum())
            << "packet " << n << " rewrite " << kind << (p.tcp ? " tcp" : " udp");
    }
}

} // namespace

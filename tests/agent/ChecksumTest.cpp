#include "common/VyrNatUtils.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
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
constexpr std::size_t kSrc = 12, kDst = 16, kSport = 20, kDport = 22;

struct Packet {
    std::vector<uint8_t> bytes;
    bool tcp;

    uint16_t word(std::size_t at) const { return uint16_t(bytes[at] << 8 | bytes[at + 1]); }
    void wordIs(std::size_t at, uint16_t v) {
        bytes[at] = uint8_t(v >> 8);
        bytes[at + 1] = uint8_t(v);
    }
    uint32_t addr(std::size_t at) const { return uint32_t(word(at)) << 16 | word(at + 2); }
    void addrIs(std::size_t at, uint32_t a) {
        wordIs(at, uint16_t(a >> 16)), wordIs(at + 2, uint16_t(a));
    }
    std::size_t l4ChecksumAt() const { return tcp ? 36 : 26; }

    // The words of [from, to), the one at `skip` left out.
    uint32_t sum(std::size_t from, std::size_t to, std::size_t skip = 0) const {
        uint32_t s = 0;
        for (std::size_t i = from; i < to; i += 2) {
            s += i == skip ? 0 : uint32_t(bytes[i] << 8 | (i + 1 < to ? bytes[i + 1] : 0));
        }
        return s;
    }
    static uint16_t finish(uint32_t s) {
        while (s >> 16) {
            s = (s & 0xFFFF) + (s >> 16);
        }
        return uint16_t(~s);
    }
    uint16_t ipChecksum() const { return finish(sum(0, 20, 10)); }
    // Over the pseudo-header (addresses, protocol, length) and the TCP or UDP bytes.
    uint16_t l4Checksum() const {
        return finish(sum(kSrc, 20) + (tcp ? 6 : 17) + uint32_t(bytes.size() - 20) +
                      sum(20, bytes.size(), l4ChecksumAt()));
    }
};

Packet randomPacket(std::mt19937& rng) {
    Packet p;
    p.tcp = rng() % 2;
    p.bytes.resize(20 + (p.tcp ? 20 : 8) + rng() % 64);
    for (auto& b : p.bytes) {
        b = uint8_t(rng());
    }
    p.bytes[0] = 0x45;
    p.bytes[9] = p.tcp ? 6 : 17;
    p.wordIs(2, uint16_t(p.bytes.size()));
    if (!p.tcp) {
        p.wordIs(24, uint16_t(p.bytes.size() - 20));
    }
    p.wordIs(10, p.ipChecksum());
    p.wordIs(p.l4ChecksumAt(), p.l4Checksum());
    return p;
}

// RFC 1624: HC' = ~(~HC + m' - m), where the table entry supplies the delta.
uint16_t applyDelta(uint16_t hc, uint16_t delta) {
    uint32_t s = uint32_t(~hc & 0xFFFF) + delta;
    s = (s & 0xFFFF) + (s >> 16);
    return uint16_t(~s);
}

// The source, the destination or both rewritten, with their ports or without, as a translation
// does.
TEST(Checksum, DeltasMatchFullRecomputationOnRewrittenPackets) {
    const unsigned seed = TestSupport::testSeed(1624);
    SCOPED_TRACE(TestSupport::seedNote(seed));
    std::mt19937 rng(seed);
    for (int n = 0; n < 20000; ++n) {
        Packet p = randomPacket(rng);
        const bool src = n % 3 != 1, dst = n % 3 != 0, ports = n % 6 >= 3;
        const uint32_t oldSrc = p.addr(kSrc), oldDst = p.addr(kDst);
        const uint16_t oldSport = p.word(kSport), oldDport = p.word(kDport);
        const uint32_t newSrc = src ? uint32_t(rng()) : oldSrc;
        const uint32_t newDst = dst ? uint32_t(rng()) : oldDst;
        const uint16_t newSport = src && ports ? uint16_t(rng()) : oldSport;
        const uint16_t newDport = dst && ports ? uint16_t(rng()) : oldDport;
        p.addrIs(kSrc, newSrc);
        p.addrIs(kDst, newDst);
        p.wordIs(kSport, newSport);
        p.wordIs(kDport, newDport);
        const uint16_t srcDelta = calculateChecksumDeltaAddrOnly(oldSrc, newSrc);
        const uint16_t dstDelta = calculateChecksumDeltaAddrOnly(oldDst, newDst);
        const uint16_t ipDelta = src && dst ? calculateChecksum(srcDelta, dstDelta)
                                 : src      ? srcDelta
                                            : dstDelta;
        uint16_t l4Delta = ipDelta;
        if (ports) {
            l4Delta =
                !dst   ? calculateChecksumDeltaAddrPort(oldSrc, newSrc, oldSport, newSport)
                : !src ? calculateChecksumDeltaAddrPort(oldDst, newDst, oldDport, newDport)
                       : calculateChecksumDeltaAddrPortSrcDst(oldSrc, newSrc, oldSport, newSport,
                                                              oldDst, newDst, oldDport, newDport);
        }
        const std::string what = "packet " + std::to_string(n) + (src ? " source" : "") +
                                 (dst ? " destination" : "") + (ports ? " with ports" : "");
        ASSERT_EQ(applyDelta(p.word(10), ipDelta), p.ipChecksum()) << what;
        ASSERT_EQ(applyDelta(p.word(p.l4ChecksumAt()), l4Delta), p.l4Checksum()) << what;
    }
}

} // namespace

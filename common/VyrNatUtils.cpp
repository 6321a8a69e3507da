#include "common/VyrNatUtils.h"

namespace VyrNat {

namespace {
// End-around carry, applied once: every sum below has at most two 16-bit operands.
constexpr uint32_t fold(uint32_t x) {
    return x + (x >> 16);
}
constexpr uint32_t sum16(uint32_t addr) {
    return fold((addr >> 16) + (addr & 0xFFFF)) & 0xFFFF;
}
} // namespace

uint16_t calculateChecksum(uint32_t a, uint32_t b) {
    return fold(a + b) & 0xFFFF;
}

uint16_t calculateChecksumDeltaAddrOnly(uint32_t oldAddr, uint32_t newAddr) {
    uint32_t r = (~sum16(oldAddr) & 0xFFFF) + sum16(newAddr);
    return fold(r) & 0xFFFF;
}

uint16_t calculateChecksumDeltaAddrPort(uint32_t oldAddr, uint32_t newAddr, uint16_t oldPort,
                                        uint16_t newPort) {
    uint32_t a = fold(sum16(oldAddr) + oldPort);
    uint32_t b = fold(sum16(newAddr) + newPort) & 0xFFFF;
    uint32_t r = (~a & 0xFFFF) + b;
    return fold(r) & 0xFFFF;
}

uint16_t calculateChecksumDeltaAddrPortSrcDst(uint32_t oldSrc, uint32_t newSrc, uint16_t oldSrcPort,
                                              uint16_t newSrcPort, uint32_t oldDst, uint32_t newDst,
                                              uint16_t oldDstPort, uint16_t newDstPort) {
    uint32_t s = calculateChecksumDeltaAddrPort(oldSrc, newSrc, oldSrcPort, newSrcPort);
    uint32_t d = calculateChecksumDeltaAddrPort(oldDst, newDst, oldDstPort, newDstPort);
    return fold(s + d) & 0xFFFF;
}

} // namespace VyrNat

#pragma once
// Checksum adjustments for the translation actions. The chip does not recompute IPv4 and L4
// checksums when it rewrites an address or a port; each entry carries the one's-complement
// delta that the data plane adds to the old checksum (incremental update, HC' = ~(~HC + delta)).
// Addresses are 32-bit numbers in host order; every result is 16 bits.

#include <cstdint>

namespace VyrNat {

uint16_t calculateChecksum(uint32_t a, uint32_t b);
uint16_t calculateChecksumDeltaAddrOnly(uint32_t oldAddr, uint32_t newAddr);
uint16_t calculateChecksumDeltaAddrPort(uint32_t oldAddr, uint32_t newAddr, uint16_t oldPort,
                                        uint16_t newPort);
uint16_t calculateChecksumDeltaAddrPortSrcDst(uint32_t oldSrc, uint32_t newSrc, uint16_t oldSrcPort,
                                              uint16_t newSrcPort, uint32_t oldDst, uint32_t newDst,
                                              uint16_t oldDstPort, uint16_t newDstPort);

} // namespace VyrNat

#pragma once
// The platform's VRF-id helper: packs a translated destination and its VRF into the one 32-bit
// word that the per-VRF DNAT action carries.

#include <cstdint>

// Result layout:
//   bits 31..16  the VRF id (its low 16 bits)
//   bits 15..0   the low 16 bits of `newDip` when bit 0 of `flags` is set, otherwise 0
// Bit 0 of `flags` says the chip profile resolves the translated destination by its low half
// together with the VRF; the other flag bits are reserved and ignored.
uint32_t VyrVrfIdHelper_ipv4DipAndVrf(uint32_t vrfId, uint32_t newDip, uint8_t flags);

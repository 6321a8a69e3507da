#pragma once
// The next hop of a destination translation, and the word that carries it: bit 31 marks an
// ECMP group, bits 0 to 30 hold the id.

#include <cstdint>

namespace VyrNat {

constexpr uint32_t kNextHopEcmpBit = 0x80000000u;

// Source translations carry none.
struct NextHop {
    uint32_t id = 0;
    bool ecmp = false;

    uint32_t word() const { return ecmp ? (id | kNextHopEcmpBit) : id; }
    static NextHop ofWord(uint32_t word) {
        return {word & ~kNextHopEcmpBit, (word & kNextHopEcmpBit) != 0};
    }
    bool operator==(const NextHop&) const = default;
};

} // namespace VyrNat

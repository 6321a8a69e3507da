#pragma once
// Run-time description of a table's packed match key and action data, emitted by the generator
// and read by the table engine for lookups, ordering and readable printing.
//
// Packing: fields are laid out most significant bit first in 64-bit words, in the order the
// schema gives them, and never straddle a word. Comparing the words lexicographically therefore
// compares the fields in schema order. A ternary table's key is the value words, then the mask
// words (same layout), then one priority word.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace VyrP4 {

class ProfileCapabilities;

enum class MatchKind : std::uint8_t { exact, ternary };

// How a field prints: decimal, hexadecimal, or as a dotted IPv4 address.
enum class FieldFormat : std::uint8_t { dec, hex, ipv4 };

// Which priority value wins among matching ternary entries.
enum class PriorityOrder : std::uint8_t { none, higherWins, lowerWins };

struct FieldDesc {
    const char* name;
    std::uint8_t word;
    std::uint8_t shift; // of the least significant bit within the word
    std::uint8_t width;
    MatchKind kind;
    FieldFormat format;
};

struct MatchLayout {
    const char* className;
    std::span<const FieldDesc> fields;
    std::uint16_t valueWords;
    bool ternary;
    // Total key words: values, and for ternary tables the masks and the priority word.
    std::size_t keyWords() const { return ternary ? 2u * valueWords + 1u : valueWords; }
    std::size_t priorityWord() const { return 2u * valueWords; }
};

struct ActionLayout {
    const char* className;
    const char* name; // the action's short name, as dumps print it
    std::span<const FieldDesc> fields;
    std::uint16_t words;
};

struct TableDesc {
    const char* name;
    std::uint32_t position; // in the schema, from 0
    const MatchLayout* match;
    std::span<const ActionLayout* const> actions; // index = position in the table's action variant
    PriorityOrder priorityOrder;
    bool hitBits;
    std::uint32_t (*capacity)(const ProfileCapabilities&);
    std::uint16_t actionWords() const {
        std::uint16_t w = 0;
        for (const ActionLayout* a : actions) {
            w = a->words > w ? a->words : w;
        }
        return w;
    }
};

namespace Bits {

constexpr std::uint64_t mask(unsigned width) {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

// Values wider than the field are truncated to its width.
inline void put(std::uint64_t* w, unsigned word, unsigned shift, unsigned width, std::uint64_t v) {
    const std::uint64_t m = mask(width) << shift;
    w[word] = (w[word] & ~m) | ((v << shift) & m);
}

inline std::uint64_t get(const std::uint64_t* w, unsigned word, unsigned shift, unsigned width) {
    return (w[word] >> shift) & mask(width);
}

// The priority word holds the signed 32-bit priority; a zeroed spec has priority 0.
inline std::uint64_t priorityWord(std::int32_t p) {
    return std::uint64_t(std::uint32_t(p));
}
inline std::int32_t priorityOf(std::uint64_t word) {
    return std::int32_t(std::uint32_t(word));
}

std::size_t hashWords(const std::uint64_t* w, std::size_t n);

} // namespace Bits

// Readable forms: "name=value" pairs; ternary fields print "value/0xmask", addresses dotted.
std::string ipv4Str(std::uint32_t addr);
std::string formatMatch(const MatchLayout& layout, const std::uint64_t* key);
std::string formatAction(const ActionLayout& layout, const std::uint64_t* data);

} // namespace VyrP4

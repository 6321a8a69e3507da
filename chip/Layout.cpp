#include "chip/Layout.h"

#include <cstdio>

namespace VyrP4 {

namespace Bits {

std::size_t hashWords(const std::uint64_t* w, std::size_t n) {
    // splitmix64 finalizer over a running combination; keys are short and fixed-size.
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= w[i] + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h ^= h >> 30;
        h *= 0xbf58476d1ce4e5b9ull;
        h ^= h >> 27;
        h *= 0x94d049bb133111ebull;
        h ^= h >> 31;
    }
    return std::size_t(h);
}

} // namespace Bits

std::string ipv4Str(std::uint32_t a) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xff, (a >> 8) & 0xff,
                  a & 0xff);
    return buf;
}

namespace {

std::string valueStr(FieldFormat f, std::uint64_t v) {
    char buf[24];
    switch (f) {
    case FieldFormat::ipv4:
        return ipv4Str(std::uint32_t(v));
    case FieldFormat::hex:
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
        return buf;
    case FieldFormat::dec:
        break;
    }
    std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
    return buf;
}

std::string fieldsStr(std::span<const FieldDesc> fields, const std::uint64_t* w,
                      std::size_t maskOffset) {
    std::string s;
    for (const FieldDesc& f : fields) {
        if (!s.empty()) {
            s += ", ";
        }
        s += f.name;
        s += '=';
        s += valueStr(f.format, Bits::get(w, f.word, f.shift, f.width));
        if (f.kind == MatchKind::ternary) {
            s += '/';
            s += valueStr(FieldFormat::hex,
                          Bits::get(w, unsigned(f.word + maskOffset), f.shift, f.width));
        }
    }
    return s;
}

} // namespace

std::string formatMatch(const MatchLayout& layout, const std::uint64_t* key) {
    std::string s = fieldsStr(layout.fields, key, layout.valueWords);
    if (layout.ternary) {
        s += s.empty() ? "" : ", ";
        s += "priority=" + std::to_string(Bits::priorityOf(key[layout.priorityWord()]));
    }
    return s;
}

std::string formatAction(const ActionLayout& layout, const std::uint64_t* data) {
    return std::string(layout.name) + "(" + fieldsStr(layout.fields, data, 0) + ")";
}

} // namespace VyrP4

#pragma once
// L4 port ranges as the ternary "natFlow" table matches them: a range becomes the fewest
// aligned value/mask blocks that cover it exactly.

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

namespace VyrNat {

// One block: the ports p with (p & mask) == port.
struct PortMask {
    uint16_t port = 0;
    uint16_t mask = 0;

    auto operator<=>(const PortMask&) const = default;
    // "Value('VyrNat::PortMask', ** {'port': %u, 'mask': %u})"
    std::string str() const;
};

// Blocks in ascending order, each at most once.
class PortMaskSet {
public:
    using const_iterator = std::vector<PortMask>::const_iterator;

    void portMaskIs(PortMask pm);
    void portMaskDel(PortMask pm);
    void portMaskDelAll() { portMask_.clear(); }

    std::size_t size() const { return portMask_.size(); }
    bool empty() const { return portMask_.empty(); }
    const PortMask& operator[](std::size_t i) const { return portMask_[i]; }
    const_iterator begin() const { return portMask_.begin(); }
    const_iterator end() const { return portMask_.end(); }

private:
    friend PortMaskSet portMaskSetFactory();
    PortMaskSet() = default;
    std::vector<PortMask> portMask_;
};

PortMaskSet portMaskSetFactory();

// The aligned blocks of start..end, fewest first to last in ascending order; empty when the end
// lies below the start. The single port 0 becomes 0 with mask 0 (any port), so that 0..0 means
// any port, as 0..65535 does.
PortMaskSet portRangeToMasks(uint16_t start, uint16_t end);

} // namespace VyrNat

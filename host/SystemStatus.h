#pragma once
// The platform's system status: the capabilities of every chip profile, by profile name.

#include "chip/Profile.h"
#include "host/Assert.h"
#include "host/Entity.h"

#include <cstdint>
#include <functional>
#include <string>

namespace VyrDriver {

// A chip profile, known by its name.
struct VyrDevProfile {
    std::string name;
    auto operator<=>(const VyrDevProfile&) const = default;
};

} // namespace VyrDriver

template <> struct std::hash<VyrDriver::VyrDevProfile> {
    std::size_t operator()(const VyrDriver::VyrDevProfile& p) const noexcept {
        return std::hash<std::string>()(p.name);
    }
};

namespace VyrSystem {

using ProfileCapabilities = VyrP4::ProfileCapabilities;

// The number of one of the chip's table banks: 0 to 31.
class TableBankId {
public:
    static constexpr uint32_t invalid = 32;
    explicit TableBankId(uint32_t value) : value_(value) {
        VYR_CHECK(value < invalid, "VyrSystem::TableBankId::value < 0 or > "
                                   "VyrSystem::TableBankId::invalid not allowed");
    }
    uint32_t value() const { return value_; }

private:
    uint32_t value_;
};

class SystemStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSystem::SystemStatus")
    Ert::Collection<std::string, ProfileCapabilities> profileCapabilities{this,
                                                                          "profileCapabilities"};
    // When the system's current generation started, in loop seconds.
    Ert::Attr<uint64_t> genTime{this, "genTime"};
};

} // namespace VyrSystem

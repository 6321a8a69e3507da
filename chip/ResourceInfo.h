#pragma once
// Chip resource information: which tables a chip profile has, by name and by index.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "chip/Profile.h"

namespace VyrP4 {

struct TableInfo {
    std::string name;
    std::uint32_t index = 0;
    std::uint32_t size = 0;
    bool hitBitSupported = false;
    bool ternary = false;
};

class ResourceInfo {
public:
    // The index of a name the profile has no table for.
    static constexpr std::uint32_t kInvalidTableIndex = 0x0fffffff;

    explicit ResourceInfo(ProfileCapabilities profile);

    const ProfileCapabilities& profile() const { return profile_; }
    // The table's index (never 0), or kInvalidTableIndex when the name is unknown or the
    // profile gives that table no entries.
    std::uint32_t tableIndex(std::string_view name) const;
    // nullopt for an index that tableIndex never returns for this profile.
    std::optional<TableInfo> tableInfo(std::uint32_t index) const;

private:
    ProfileCapabilities profile_;
};

// From a named chip profile; null for a name that is not one of namedProfileNames().
std::shared_ptr<ResourceInfo> resourceInfoFactory(std::string_view profileName);
std::shared_ptr<ResourceInfo> resourceInfoFactory(const ProfileCapabilities& profile);

} // namespace VyrP4

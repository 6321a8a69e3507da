#include "chip/ResourceInfo.h"

#include "chip/P4Tables.h"

namespace VyrP4 {

ResourceInfo::ResourceInfo(ProfileCapabilities profile) : profile_(std::move(profile)) {}

// Index = schema position + 1, so that 0 stays "no table yet" for the hit-bit machines.
std::uint32_t ResourceInfo::tableIndex(std::string_view name) const {
    for (const TableDesc& d : natTables()) {
        if (name == d.name) {
            return d.capacity(profile_) ? d.position + 1 : kInvalidTableIndex;
        }
    }
    return kInvalidTableIndex;
}

std::optional<TableInfo> ResourceInfo::tableInfo(std::uint32_t index) const {
    const auto tables = natTables();
    if (index == 0 || index > tables.size()) {
        return std::nullopt;
    }
    const TableDesc& d = tables[index - 1];
    const std::uint32_t size = d.capacity(profile_);
    if (!size) {
        return std::nullopt;
    }
    return TableInfo{d.name, index, size, d.hitBits, d.match->ternary};
}

std::shared_ptr<ResourceInfo> resourceInfoFactory(std::string_view profileName) {
    const std::optional<ProfileCapabilities> p = namedProfile(profileName);
    return p ? std::make_shared<ResourceInfo>(*p) : nullptr;
}

std::shared_ptr<ResourceInfo> resourceInfoFactory(const ProfileCapabilities& profile) {
    return std::make_shared<ResourceInfo>(profile);
}

} // namespace VyrP4

#include "chip/Chip.h"

#include "chip/Check.h"

namespace VyrP4 {

static_assert(ProfileCapabilities::kMaxPipes <= kMaxPipes);

Chip::Chip(ProfileCapabilities profile) : profile_(std::move(profile)) {}

std::shared_ptr<TableEngine> Chip::tableEngineIs(const TableDesc& desc) {
    auto [it, added] = tables_.try_emplace(desc.position);
    if (added) {
        it->second = std::make_shared<TableEngine>(desc, desc.capacity(profile_), profile_.pipes());
        it->second->entryObserverIs(observer_);
    }
    // Two schemas must not share one chip.
    VYR_CHIP_CHECK(&it->second->desc() == &desc);
    return it->second;
}

TableEngine* Chip::table(std::string_view name) const {
    for (const auto& [position, engine] : tables_) {
        if (name == engine->name()) {
            return engine.get();
        }
    }
    return nullptr;
}

TableEngine* Chip::tableByIndex(std::uint32_t index) const {
    auto it = index ? tables_.find(index - 1) : tables_.end();
    return it == tables_.end() ? nullptr : it->second.get();
}

std::vector<TableEngine*> Chip::tables() const {
    std::vector<TableEngine*> out;
    for (const auto& [position, engine] : tables_) {
        out.push_back(engine.get());
    }
    return out;
}

std::size_t Chip::entryCount() const {
    std::size_t n = 0;
    for (const auto& [position, engine] : tables_) {
        n += engine->entryCount();
    }
    return n;
}

std::string Chip::dump() const {
    std::string s;
    for (const auto& [position, engine] : tables_) {
        if (engine->entryCount()) {
            s += engine->dump();
        }
    }
    return s;
}

void Chip::entryObserverIs(EntryObserver observer) {
    observer_ = std::move(observer);
    for (const auto& [position, engine] : tables_) {
        engine->entryObserverIs(observer_);
    }
}

void Chip::faultsClear() {
    for (const auto& [position, engine] : tables_) {
        engine->faultsClear();
    }
}

std::shared_ptr<Chip> chipFactory(const ProfileCapabilities& profile) {
    return std::make_shared<Chip>(profile);
}

std::shared_ptr<TableEngine> openTable(const TableDesc& desc,
                                       MbbMirraKey::MirraKeyManager* keyManager,
                                       VyrTableStatusManager::StatusManager* statusManager,
                                       DeviceHandle handle, std::uint32_t, std::uint8_t,
                                       std::uint16_t, const std::string&) {
    VYR_CHIP_CHECK(handle);
    if (keyManager) {
        keyManager->tableCountInc();
    }
    if (statusManager) {
        statusManager->tableCreatedIs(desc.name);
    }
    return handle->tableEngineIs(desc);
}

} // namespace VyrP4

#include "host/Hubdb.h"

#include "host/Assert.h"

namespace Hubdb {

namespace {
std::map<std::string, EntityFactory>& registry() {
    static std::map<std::string, EntityFactory> r = [] {
        std::map<std::string, EntityFactory> m;
        m[Ert::Dir::kTypeName] = [](const std::string& n) { return Ert::make<Ert::Dir>(n); };
        return m;
    }();
    return r;
}
} // namespace

void entityTypeIs(const std::string& typeName, EntityFactory factory) {
    registry()[typeName] = std::move(factory);
}

bool entityTypeKnown(const std::string& typeName) {
    return registry().count(typeName) != 0;
}

bool mountFlagsValid(const std::string& flags) {
    return flags == "r" || flags == "w" || flags == "ri" || flags == "rci" || flags == "wci";
}

void MountGroup::doMount(const std::string& path, const std::string& typeName,
                         const std::string& flags) {
    VYR_ASSERT(!closed_);
    mounts_.push_back({path, typeName, flags});
}

void MountGroup::doClose(bool, const std::string&, double) {
    VYR_ASSERT(!closed_);
    closed_ = true;
    status_ = em_.complete(mounts_);
}

Ert::Ptr<Ert::Entity> EntityManager::entity(const std::string& path) const {
    auto it = store_.find(path);
    return it == store_.end() ? nullptr : it->second;
}

Ert::Ptr<Ert::Entity> EntityManager::getEntity(const std::string& path) const {
    auto it = mounted_.find(path);
    return it == mounted_.end() ? nullptr : it->second;
}

void EntityManager::connectionReset() {
    mounted_.clear();
    completed_.clear();
    completeHandler_ = nullptr;
    completionReported_ = false;
    reportedStatus_ = {};
}

MountStatus EntityManager::complete(const std::vector<Mount>& mounts) {
    MountStatus status;
    auto fail = [&status](const std::string& why) {
        if (status.success) {
            status = {false, why};
        }
    };
    for (const Mount& m : mounts) {
        if (!mountFlagsValid(m.flags)) {
            fail("invalid mount flags '" + m.flags + "' for " + m.path);
            continue;
        }
        Ert::Ptr<Ert::Entity> e = entity(m.path);
        if (e && m.typeName != e->typeName()) {
            fail(m.path + " holds a " + e->typeName() + ", not a " + m.typeName);
            continue;
        }
        if (!e) {
            auto it = registry().find(m.typeName);
            if (it == registry().end()) {
                fail("unknown entity type " + m.typeName + " for " + m.path);
                continue;
            }
            e = it->second(m.path);
            store_[m.path] = e;
        }
        mounted_[m.path] = e;
        completed_.push_back(m);
    }
    if (completeHandler_ && !completionReported_) {
        completionReported_ = true;
        reportedStatus_ = status;
        Tasking::EventLoop::current().post(this, [this] { completeHandler_(reportedStatus_); });
    }
    return status;
}

} // namespace Hubdb

namespace Mirra {

Ert::Ptr<Ert::Entity> Service::mount(const MountDesc& desc) {
    mounts_.push_back(desc);
    auto group = store_->mountGroup();
    group->doMount(desc.path, desc.typeName, desc.role == Role::writer ? "w" : "r");
    group->doClose(false, "", 0);
    return group->status().success ? store_->getEntity(desc.path) : nullptr;
}

uint32_t Service::collectionSize(const std::string& path, const std::string& collection) const {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
        if (it->path != path || it->role != Role::writer) {
            continue;
        }
        for (const auto& [name, size] : it->collectionSizes) {
            if (name == collection) {
                return size;
            }
        }
    }
    return 0;
}

} // namespace Mirra

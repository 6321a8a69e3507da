#pragma once
// The state database: entities by path, mounted in groups. A group's mounts all complete at
// once when it is closed; the first group closed on an entity manager reports completion to the
// manager's completion handler (the agent's doMountsComplete), later groups complete silently.

#include "host/Entity.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Hubdb {

struct MountStatus {
    bool success = true;
    std::string error; // what failed, when !success
};

// Entity types known to the database, by host type name.
using EntityFactory = std::function<Ert::Ptr<Ert::Entity>(const std::string& name)>;
void entityTypeIs(const std::string& typeName, EntityFactory factory);
bool entityTypeKnown(const std::string& typeName);
template <class T> void registerEntityType() {
    entityTypeIs(T::kTypeName, [](const std::string& name) { return Ert::make<T>(name); });
}

// Flag strings a mount may carry: read, write, and their immediate/create variants.
bool mountFlagsValid(const std::string& flags);

struct Mount {
    std::string path;
    std::string typeName;
    std::string flags;
};

class EntityManager;

class MountGroup : public Ert::RefCounted {
public:
    explicit MountGroup(EntityManager& em) : em_(em) {}
    void doMount(const std::string& path, const std::string& typeName, const std::string& flags);
    // Completes every mount of the group. The arguments are the host's wait flag, reason and
    // time-out; mounts here complete at once, so they are only kept for inspection.
    void doClose(bool wait, const std::string& reason, double timeoutSeconds);
    const std::vector<Mount>& mounts() const { return mounts_; }
    bool closed() const { return closed_; }
    // How the group's mounts completed; meaningful once closed.
    const MountStatus& status() const { return status_; }

private:
    EntityManager& em_;
    std::vector<Mount> mounts_;
    MountStatus status_;
    bool closed_ = false;
};

class EntityManager : public Ert::RefCounted {
public:
    explicit EntityManager(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    // The database contents, seeded by the host before the agent mounts them.
    void entityIs(const std::string& path, Ert::Ptr<Ert::Entity> e) { store_[path] = std::move(e); }
    Ert::Ptr<Ert::Entity> entity(const std::string& path) const;

    Ert::Ptr<MountGroup> mountGroup() { return Ert::make<MountGroup>(*this); }
    void mountsCompleteHandlerIs(std::function<void(const MountStatus&)> h) {
        completeHandler_ = std::move(h);
    }

    // A mounted entity; null when the path is not mounted.
    Ert::Ptr<Ert::Entity> getEntity(const std::string& path) const;
    // A mounted entity of type T; null when not mounted or of another type.
    template <class T> Ert::Ptr<T> getEntity(const std::string& path) const {
        return Ert::ptrCast<T>(getEntity(path));
    }

    // A new process connects: the old one's mounts and completion handler go, the contents stay.
    void connectionReset();

    // Every mount completed so far, in the order requested.
    const std::vector<Mount>& mounts() const { return completed_; }
    bool mounted(const std::string& path) const { return mounted_.count(path) != 0; }

private:
    friend class MountGroup;
    MountStatus complete(const std::vector<Mount>& mounts);

    std::string name_;
    std::map<std::string, Ert::Ptr<Ert::Entity>> store_;
    std::map<std::string, Ert::Ptr<Ert::Entity>> mounted_;
    std::vector<Mount> completed_;
    std::function<void(const MountStatus&)> completeHandler_;
    bool completionReported_ = false;
    MountStatus reportedStatus_;
};

} // namespace Hubdb

// Shared-memory tables: mounted by path and type as a reader or a writer; a writer gives the
// sizes of the named collections it publishes.
namespace Mirra {

enum class Role { reader, writer };

struct MountDesc {
    std::string path;
    std::string typeName;
    Role role = Role::reader;
    std::vector<std::pair<std::string, uint32_t>> collectionSizes;
};

class Service : public Ert::RefCounted {
public:
    Service() : store_(Ert::make<Hubdb::EntityManager>("mirra")) {}
    // The table's entity; null when the type is unknown or differs from the one published.
    Ert::Ptr<Ert::Entity> mount(const MountDesc& desc);
    const std::vector<MountDesc>& mounts() const { return mounts_; }
    // The size a writer gave a collection of the table at `path`; 0 when not given.
    uint32_t collectionSize(const std::string& path, const std::string& collection) const;
    Hubdb::EntityManager& store() { return *store_; }

private:
    Ert::Ptr<Hubdb::EntityManager> store_;
    std::vector<MountDesc> mounts_;
};

} // namespace Mirra

// The connection-mapping shared memory is reached through an entity manager of its own.
namespace Pelago {
using EntityManager = Hubdb::EntityManager;
}

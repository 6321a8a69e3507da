#include "host/Hubdb.h"

#include <gtest/gtest.h>

namespace {

class Config : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Test::Config")
};

class Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Test::Status")
};

struct Registered {
    Registered() {
        Hubdb::registerEntityType<Config>();
        Hubdb::registerEntityType<Status>();
    }
} registered;

TEST(Hubdb, GroupMountsCompleteOnceOnTheLoopWithSeededAndCreatedEntities) {
    Tasking::EventLoop loop;
    auto em = Ert::make<Hubdb::EntityManager>("sysdb");
    auto seeded = Ert::make<Config>("test/config");
    em->entityIs("test/config", seeded);

    int calls = 0;
    Hubdb::MountStatus seen;
    em->mountsCompleteHandlerIs([&](const Hubdb::MountStatus& s) {
        ++calls;
        seen = s;
    });
    auto group = em->mountGroup();
    group->doMount("test/config", "Test::Config", "r");
    group->doMount("test/status", "Test::Status", "w");
    group->doMount("test/dir", "Ert::Dir", "rci");
    EXPECT_EQ(em->getEntity("test/config"), nullptr) << "nothing is mounted before the close";
    group->doClose(false, "", 0);
    EXPECT_EQ(calls, 0) << "completion is reported on the loop";
    loop.runPending();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(seen.success) << seen.error;

    EXPECT_EQ(em->getEntity<Config>("test/config"), seeded);
    EXPECT_NE(em->getEntity<Status>("test/status"), nullptr);
    EXPECT_NE(em->getEntity<Ert::Dir>("test/dir"), nullptr);
    // Asking for another type yields null, not a wrong object.
    EXPECT_EQ(em->getEntity<Status>("test/config"), nullptr);

    // A later group completes without a second report.
    auto second = em->mountGroup();
    second->doMount("test/other", "Test::Status", "r");
    second->doClose(false, "", 0);
    loop.runPending();
    EXPECT_EQ(calls, 1);
    EXPECT_NE(em->getEntity<Status>("test/other"), nullptr);
}

TEST(Hubdb, BadMountsFailTheStatusAndMountNothingForThem) {
    Tasking::EventLoop loop;
    auto em = Ert::make<Hubdb::EntityManager>("sysdb");
    em->entityIs("test/config", Ert::make<Config>("test/config"));
    std::vector<std::string> errors;
    em->mountsCompleteHandlerIs([&](const Hubdb::MountStatus& s) {
        EXPECT_FALSE(s.success);
        errors.push_back(s.error);
    });
    auto group = em->mountGroup();
    group->doMount("test/config", "Test::Status", "r"); // published with another type
    group->doMount("test/a", "Test::Status", "rw");     // not a flag string
    group->doMount("test/b", "No::Such", "r");
    group->doMount("test/c", "Test::Status", "wci");
    group->doClose(false, "", 0);
    loop.runPending();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("holds a Test::Config, not a Test::Status"), std::string::npos);
    EXPECT_EQ(em->getEntity("test/config"), nullptr);
    EXPECT_EQ(em->getEntity("test/a"), nullptr);
    EXPECT_EQ(em->getEntity("test/b"), nullptr);
    EXPECT_NE(em->getEntity("test/c"), nullptr);
    for (const char* f : {"", "x", "rc", "wr", "R"}) {
        EXPECT_FALSE(Hubdb::mountFlagsValid(f)) << f;
    }
}

TEST(Mirra, ReaderAndWriterShareTheTableAndTheWriterSizesItsCollections) {
    Tasking::EventLoop loop;
    auto mirra = Ert::make<Mirra::Service>();
    auto writer = mirra->mount(
        {"shm/status", "Test::Status", Mirra::Role::writer, {{"entries", 4096}, {"counter", 128}}});
    auto reader = mirra->mount({"shm/status", "Test::Status", Mirra::Role::reader, {}});
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer, reader);
    EXPECT_EQ(mirra->collectionSize("shm/status", "entries"), 4096u);
    EXPECT_EQ(mirra->collectionSize("shm/status", "counter"), 128u);
    EXPECT_EQ(mirra->collectionSize("shm/status", "other"), 0u);
    EXPECT_EQ(mirra->mount({"shm/status", "Test::Config", Mirra::Role::reader, {}}), nullptr);
}

} // namespace

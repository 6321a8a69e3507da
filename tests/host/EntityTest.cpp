#include "host/Entity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Ert::Ptr;

class Port : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Test::Port")
    Ert::Attr<int> speed{this, "speed"};
    Ert::Attr<std::string> descr{this, "descr"};
    Ert::Collection<int, std::string> vlans{this, "vlans"};
};

// Writes what it hears into a log; optionally changes the port it follows from a handler.
class PortReactor : public Ert::Reactor<Port> {
public:
    explicit PortReactor(std::vector<std::string>& log, Ptr<Port> p = nullptr) : log_(log) {
        onChange(&Port::speed, [this] {
            log_.push_back("speed=" + std::to_string(entity()->speed()));
            if (bumpTo_ && entity()->speed() < bumpTo_) {
                entity()->speed.set(entity()->speed() + 1);
            }
        });
        onChange(&Port::descr, [this] { log_.push_back("descr=" + entity()->descr()); });
        onEntry(&Port::vlans, [this](const int& v) {
            const std::string* name = entity()->vlans.find(v);
            log_.push_back("vlan" + std::to_string(v) + (name ? "=" + *name : " gone"));
        });
        follow(p);
    }
    int bumpTo_ = 0;

private:
    std::vector<std::string>& log_;
};

TEST(Entity, ReactorsHearEachRealChangeInOrderOnTheLoop) {
    Tasking::EventLoop loop;
    auto port = Ert::make<Port>("Ethernet1");
    std::vector<std::string> log;
    PortReactor r(log, port);

    EXPECT_TRUE(port->speed.set(10));
    EXPECT_FALSE(port->descr.set("")); // unchanged: nobody is told
    port->vlans.set(5, "red");
    port->vlans.set(5, "red"); // same value
    port->vlans.set(5, "blue");
    port->descr.set("uplink");
    port->vlans.erase(5);
    port->vlans.erase(5); // already gone
    EXPECT_TRUE(log.empty()) << "notifications must wait for the loop";

    loop.runPending();
    // One call per real change, with its key; the handler reads the state as it is by then.
    EXPECT_EQ(log, (std::vector<std::string>{"speed=10", "vlan5 gone", "vlan5 gone", "descr=uplink",
                                             "vlan5 gone"}));

    // A clear tells of every entry, in key order.
    port->vlans.set(30, "c");
    port->vlans.set(10, "a");
    loop.runPending();
    log.clear();
    port->vlans.clear();
    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"vlan10 gone", "vlan30 gone"}));
}

TEST(Entity, HandlerChangingItsOwnEntityIsToldAfterwardsAndOnlyUntilStable) {
    Tasking::EventLoop loop;
    auto port = Ert::make<Port>("Ethernet2");
    std::vector<std::string> log;
    PortReactor r(log, port);
    r.bumpTo_ = 3;
    port->speed.set(1);
    port->descr.set("x");
    loop.runPending();
    // Each bump is queued behind what was already pending, and stops once the value holds.
    EXPECT_EQ(log, (std::vector<std::string>{"speed=1", "descr=x", "speed=2", "speed=3"}));
}

TEST(Entity, RetargetDetachAndDestroyDropWhatWasQueued) {
    Tasking::EventLoop loop;
    auto a = Ert::make<Port>("a");
    auto b = Ert::make<Port>("b");
    std::vector<std::string> log;
    PortReactor r(log, a);
    PortReactor other(log, a);

    a->speed.set(7);
    r.follow(b); // the queued change of a no longer concerns r
    b->speed.set(8);
    a->descr.set("only other");
    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"speed=7", "speed=8", "descr=only other"}));

    log.clear();
    b->vlans.set(1, "v");
    r.follow(nullptr);
    loop.runPending();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(b->reactorCount(), 0u);

    // A reactor keeps its entity alive; destroying the reactor drops what was queued for it.
    Port* raw = b.get();
    {
        PortReactor last(log, b);
        b.reset();
        EXPECT_EQ(raw->refCount(), 1u);
        raw->speed.set(3);
        EXPECT_EQ(loop.pendingCount(), 1u);
    }
    loop.runPending();
    EXPECT_TRUE(log.empty());
}

} // namespace

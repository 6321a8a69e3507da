#include "chip/P4Tables.h"
#include "host/Agent.h"
#include "host/HitBitService.h"
#include "host/HitBitSm.h"
#include "host/LogMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace VyrSystem {
namespace {

using namespace std::chrono_literals;
using VyrP4::VyrSdkEntryHandle;

// Mounts what the NAT agent mounts of the hit-bit service.
class HitBitAgent : public VyrAgentLib::VyrAgent {
public:
    HitBitAgent() : VyrAgent("HitBitTest") {}
    void doInit() override {
        auto group = entityManager()->mountGroup();
        group->doMount(hitBitConfigPath(kNatHitBitClient), HitBitConfig::kTypeName, "wci");
        group->doMount(kHitBitStatusDir, Ert::Dir::kTypeName, "rci");
        group->doClose(false, "", 0);
    }
};

// Polls the tables it is given; records what it is told.
class PollingSm : public VyrHitBitSm {
public:
    PollingSm(Ert::Ptr<HitBitConfig> config, std::shared_ptr<VyrP4::ResourceInfo> info,
              Mirra::Service& mirra)
        : VyrHitBitSm("testHitBitSm", std::move(config), std::move(info), 2s), mirra_(mirra) {}
    void initializeTables() override {
        log.push_back("init");
        hitBitTablesMount(mirra_);
    }
    void scheduleHitBitPolling() override {
        log.push_back("poll@" + std::to_string(int(Tasking::EventLoop::current().nowSeconds())));
        for (std::uint32_t t : tables) {
            hitBitScanRequestIs(t);
        }
    }
    void handleHitBitPollingComplete(std::uint32_t tableId) override {
        log.push_back("done " + std::to_string(tableId));
    }
    void handleHitBitPollingComplete() override { log.push_back("batch"); }

    std::vector<std::uint32_t> tables;
    std::vector<std::string> log;

private:
    Mirra::Service& mirra_;
};

// The NAT agent's host with a two-pipe chip, and two tables with hit bits on it.
struct HitBitHost : ::testing::Test {
    HitBitHost() {
        runner.environment().chip = chip;
        runner.start(Ert::make<HitBitAgent>());
        loop.runPending();
        config = runner.sysdb().getEntity<HitBitConfig>(hitBitConfigPath(kNatHitBitClient));
        status = service().status();
    }
    static VyrP4::ProfileCapabilities twoPipes() {
        VyrP4::ProfileCapabilities p = *VyrP4::namedProfile("default");
        p.pipesIs(2);
        return p;
    }
    HitBitService& service() { return *runner.hitBitService(); }
    // Entry i of a table (NAT profile i), installed; its handle.
    template <class T> static typename T::MatchSpec match(std::uint32_t i) {
        typename T::MatchSpec m;
        m.ingMdNatProfileIdIs(i);
        return m;
    }
    template <class T> static VyrSdkEntryHandle entry(T& table, std::uint32_t i) {
        table.entryIs(match<T>(i), typename T::Action{});
        return table.entryHandle(match<T>(i));
    }
    template <class T> static void hit(T& table, std::uint32_t i, std::uint32_t pipe) {
        ASSERT_TRUE(table.packetIs(match<T>(i), pipe));
    }
    // What the shared tables say of an entry, pipe by pipe: "10" is hit on pipe 0 only.
    std::string shared(std::uint32_t tableId, VyrSdkEntryHandle h) {
        std::string s;
        for (const auto& t : service().pipeTables()) {
            s += t->read(tableId, h) ? "1" : "0";
        }
        return s;
    }
    template <class T> static bool chipHit(T& table, VyrSdkEntryHandle h) {
        bool hit = false;
        EXPECT_EQ(table.hitBit(h, hit), VyrP4::ChipError::ok);
        return hit;
    }

    Tasking::EventLoop loop;
    std::shared_ptr<VyrP4::Chip> chip = VyrP4::chipFactory(twoPipes());
    std::shared_ptr<VyrP4::ResourceInfo> info = VyrP4::resourceInfoFactory(chip->profile());
    Host::AgentRunner runner;
    Ert::Ptr<HitBitConfig> config;
    Ert::Ptr<HitBitStatus> status;
    std::shared_ptr<VyrP4::DynamicAddrOnlySnatTable> snat =
        VyrP4::dynamicAddrOnlySnatTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "t");
    std::shared_ptr<VyrP4::DynamicAddrOnlyDnatTable> dnat =
        VyrP4::dynamicAddrOnlyDnatTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "t");
    const std::uint32_t snatId = info->tableIndex("dynamicAddrOnlySnat");
    const std::uint32_t dnatId = info->tableIndex("dynamicAddrOnlyDnat");
};

TEST_F(HitBitHost, ARequestScansThatTableOnEveryPipeAndClearsTheChip) {
    ASSERT_NE(config, nullptr);
    ASSERT_EQ(service().pipeTables().size(), 2u);
    EXPECT_EQ(runner.environment().mirra->store().entity("hardware/vyr/hitBit/table/pipe1").get(),
              service().pipeTables()[1].get());
    const VyrSdkEntryHandle a = entry(*snat, 1), b = entry(*snat, 2), idle = entry(*snat, 3);
    const VyrSdkEntryHandle c = entry(*dnat, 1);
    hit(*snat, 1, 0);
    hit(*snat, 2, 1);
    hit(*snat, 2, 0);
    hit(*dnat, 1, 1);

    config->scanRequestIs(snatId, 1); // as the agent writes it
    loop.runPending();
    EXPECT_EQ(status->scanCompleteNumber(snatId), 1u);
    EXPECT_EQ(shared(snatId, a), "10");
    EXPECT_EQ(shared(snatId, b), "11");
    EXPECT_EQ(shared(snatId, idle), "00");
    EXPECT_FALSE(chipHit(*snat, a) || chipHit(*snat, b));
    // The other table is left alone, in the chip and in the shared tables.
    EXPECT_TRUE(chipHit(*dnat, c));
    EXPECT_EQ(shared(dnatId, c), "00");
    EXPECT_EQ(status->scanCompleteNumber(dnatId), 0u);

    // The next scan replaces the table's bits.
    hit(*snat, 3, 1);
    config->scanRequestIs(snatId, 2);
    loop.runPending();
    EXPECT_EQ(status->scanCompleteNumber(snatId), 2u);
    EXPECT_EQ(shared(snatId, a) + shared(snatId, b) + shared(snatId, idle), "000001");
    EXPECT_EQ(service().scanCount(), 2u);
}

TEST_F(HitBitHost, RequestsBeforeTheScanRunsAreOneScanOfTheLatestNumber) {
    const VyrSdkEntryHandle a = entry(*snat, 1);
    hit(*snat, 1, 1);
    config->scanRequestIs(snatId, 1);
    config->scanRequestIs(snatId, 2);
    config->scanRequestIs(dnatId, 5);
    loop.runPending();
    EXPECT_EQ(service().scanCount(), 2u);
    EXPECT_EQ(status->scanCompleteNumber(snatId), 2u);
    EXPECT_EQ(status->scanCompleteNumber(dnatId), 5u);
    EXPECT_EQ(shared(snatId, a), "01");

    // A table the chip cannot scan is refused in the log but reported, so nobody waits on it.
    const Log::Message* refused = Log::findMessage("VYR_HITBIT_SCAN_REFUSED");
    ASSERT_NE(refused, nullptr);
    const std::uint64_t raised = refused->raisedCount();
    config->scanRequestIs(info->tableIndex("staticSnatAcl"), 3); // no hit bits
    config->scanRequestIs(VyrP4::ResourceInfo::kInvalidTableIndex, 4);
    loop.runPending();
    EXPECT_EQ(refused->raisedCount(), raised + 2);
    EXPECT_EQ(status->scanCompleteNumber(VyrP4::ResourceInfo::kInvalidTableIndex), 4u);

    // A withdrawn request takes its bits and report with it.
    config->scanRequestDel(snatId);
    loop.runPending();
    EXPECT_EQ(shared(snatId, a), "00");
    EXPECT_EQ(status->scanCompleteNumber(snatId), 0u);
}

// The whole round trip: the timer polls, the machine asks, the host scans and reports, the
// watcher calls back, and the machine reads the bits of either pipe.
TEST_F(HitBitHost, PollingMachineAsksAndHearsOfItsScansOnItsPeriod) {
    auto sm = Ert::make<PollingSm>(config, info, *runner.environment().mirra);
    auto statusDir = runner.sysdb().getEntity<Ert::Dir>(kHitBitStatusDir);
    ASSERT_NE(statusDir, nullptr);
    VyrHitBitStatusWatcherSm watcher("testWatcher", statusDir, sm.get(),
                                     runner.environment().entityManager);
    sm->tables = {snatId, dnatId};
    const VyrSdkEntryHandle a = entry(*snat, 1), b = entry(*snat, 2), idle = entry(*snat, 3);
    const VyrSdkEntryHandle c = entry(*dnat, 1), dnatIdle = entry(*dnat, 2);
    hit(*snat, 1, 0);
    hit(*snat, 2, 1);
    hit(*dnat, 1, 1);
    sm->initialize();
    ASSERT_EQ(sm->hitBitTable.size(), 2u);

    loop.advance(1999ms);
    EXPECT_EQ(sm->log, (std::vector<std::string>{"init"}));
    loop.advance(1ms);
    const std::vector<std::string> firstPoll = {"init", "poll@2", "done " + std::to_string(snatId),
                                                "done " + std::to_string(dnatId), "batch"};
    EXPECT_EQ(sm->log, firstPoll);
    EXPECT_TRUE(sm->readHitBit(snatId, a));
    EXPECT_TRUE(sm->readHitBit(snatId, b)); // pipe 1 only
    EXPECT_TRUE(sm->readHitBit(dnatId, c));
    EXPECT_FALSE(sm->readHitBit(snatId, idle));
    EXPECT_FALSE(sm->readHitBit(dnatId, dnatIdle));

    // A scan someone else asked for is not this machine's.
    config->scanRequestIs(info->tableIndex("dynamicDnat1"), 9);
    loop.runPending();
    EXPECT_EQ(sm->log, firstPoll);

    loop.advance(2s); // the bits were cleared by the first scan
    EXPECT_EQ(sm->log.size(), firstPoll.size() + 4);
    EXPECT_EQ(sm->log[5], "poll@4");
    EXPECT_FALSE(sm->readHitBit(snatId, a) || sm->readHitBit(snatId, b));

    sm->hasNotificationActiveIs(false);
    loop.advance(10s);
    EXPECT_EQ(sm->log.size(), firstPoll.size() + 4);
    sm->hasNotificationActiveIs(true);
    loop.advance(2s);
    EXPECT_EQ(sm->log.back(), "batch");
    EXPECT_EQ(sm->log[sm->log.size() - 4], "poll@16");

    const std::size_t polled = sm->log.size();
    sm->pollingPeriodIs(5s);
    loop.advance(4999ms);
    EXPECT_EQ(sm->log.size(), polled);
    loop.advance(1ms);
    EXPECT_EQ(sm->log.at(polled), "poll@21");
}

} // namespace
} // namespace VyrSystem

#include "host/HitBitService.h"

#include "host/Assert.h"
#include "host/LogMessage.h"
#include "host/Trace.h"

#include <algorithm>

namespace VyrSystem {

namespace {

Trace::Handle hitBitTrace("HitBitService");

Log::Message& scanRefused = Log::registerMessage(
    {"VYR_HITBIT_SCAN_REFUSED", 3, "Hit-bit scan of table %d asked by client %s refused: %s",
     "A hit-bit client asked for the scan of a table that the chip cannot scan. The client's "
     "entries of that table never read as hit.",
     "Report the message with the agent's name to support.", 60, 1.0});

template <class T> Ert::Ptr<T> foundOrMade(Hubdb::EntityManager& em, const std::string& path) {
    if (Ert::Ptr<Ert::Entity> e = em.entity(path)) {
        Ert::Ptr<T> t = Ert::ptrCast<T>(e);
        VYR_CHECK(t, path + " holds a " + e->typeName() + ", not a " + T::kTypeName);
        return t;
    }
    auto t = Ert::make<T>(path);
    em.entityIs(path, t);
    return t;
}

} // namespace

HitBitService::HitBitService(std::shared_ptr<VyrP4::Chip> chip, Ert::Ptr<HitBitConfig> config,
                             Ert::Ptr<HitBitStatus> status,
                             std::vector<Ert::Ptr<HitBitTable>> pipeTables)
    : chip_(std::move(chip)), resourceInfo_(chip_->profile()), config_(std::move(config)),
      status_(std::move(status)), pipeTables_(std::move(pipeTables)) {
    VYR_ASSERT(config_ && status_);
    VYR_ASSERT(pipeTables_.size() == chip_->profile().pipes());
    onEntry(&HitBitConfig::scanRequest, [this](const std::uint32_t& t) { scanRequestChanged(t); });
    follow(config_);
    // Requests written while no service ran are served now.
    for (const auto& [tableId, request] : config_->scanRequest) {
        if (status_->scanCompleteNumber(tableId) != request) {
            scanRequestChanged(tableId);
        }
    }
}

HitBitService::~HitBitService() {
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->cancel(static_cast<const void*>(this));
    }
}

void HitBitService::scanRequestChanged(std::uint32_t tableId) {
    if (pending_.empty()) {
        Tasking::EventLoop::current().post(static_cast<const void*>(this),
                                           [this] { scanPending(); });
    }
    pending_.insert(tableId);
}

void HitBitService::scanPending() {
    std::set<std::uint32_t> tables;
    tables.swap(pending_);
    for (std::uint32_t tableId : tables) {
        const std::uint32_t request = config_->scanRequestNumber(tableId);
        if (request == 0) {
            // A withdrawn request takes the table's bits and report with it.
            for (const auto& t : pipeTables_) {
                t->hitsIs(tableId, {});
            }
            status_->scanCompleteDel(tableId);
        } else if (request != status_->scanCompleteNumber(tableId)) {
            scan(tableId, request);
        }
    }
}

void HitBitService::scan(std::uint32_t tableId, std::uint32_t request) {
    ++scans_;
    std::vector<HitBitTable::Hits> hits(pipeTables_.size());
    const std::optional<VyrP4::TableInfo> info = resourceInfo_.tableInfo(tableId);
    if (!info || !info->hitBitSupported) {
        // Reported all the same, so that the client does not wait for it forever.
        Log::raise(scanRefused, tableId, hitBitClient(config_->name()),
                   info ? "the table has no hit bits" : "the chip has no such table");
    } else if (VyrP4::TableEngine* table = chip_->tableByIndex(tableId)) {
        table->hitBitsScan(hits); // handles come sorted, as the readers need them
    }
    std::size_t total = 0;
    for (std::size_t p = 0; p < hits.size(); ++p) {
        total += hits[p].size();
        pipeTables_[p]->hitsIs(tableId, hits[p]);
    }
    status_->scanCompleteIs(tableId, request);
    VTRACE(hitBitTrace, 5,
           "table " << tableId << " request " << request << ": " << total << " hits");
}

std::unique_ptr<HitBitService> hitBitServiceIs(Hubdb::EntityManager& sysdb,
                                               Hubdb::EntityManager& sharedMemory,
                                               std::shared_ptr<VyrP4::Chip> chip,
                                               const std::string& client) {
    foundOrMade<Ert::Dir>(sysdb, kHitBitStatusDir);
    auto config = foundOrMade<HitBitConfig>(sysdb, hitBitConfigPath(client));
    auto status = foundOrMade<HitBitStatus>(sysdb, hitBitStatusPath(client));
    std::vector<Ert::Ptr<HitBitTable>> tables;
    for (std::uint32_t p = 0; p < chip->profile().pipes(); ++p) {
        tables.push_back(foundOrMade<HitBitTable>(sharedMemory, hitBitTablePath(p)));
    }
    return std::make_unique<HitBitService>(std::move(chip), std::move(config), std::move(status),
                                           std::move(tables));
}

} // namespace VyrSystem

#pragma once
// The host process's side of the hit-bit service for one client: follows the client's
// HitBitConfig and, for each table whose request number changed, scans the table's hit bits of
// every pipe into the per-pipe HitBitTables, clears them in the chip and reports the request in
// the client's HitBitStatus.
//
// Scans run from a call posted on the event loop, not in the reactor's callback: requests
// written before it runs are served by one scan of each table, with the latest number.

#include "chip/Chip.h"
#include "chip/ResourceInfo.h"
#include "host/HitBit.h"
#include "host/Hubdb.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace VyrSystem {

class HitBitService : public Ert::Reactor<HitBitConfig> {
public:
    // `pipeTables` holds one table per pipe of the chip.
    HitBitService(std::shared_ptr<VyrP4::Chip> chip, Ert::Ptr<HitBitConfig> config,
                  Ert::Ptr<HitBitStatus> status, std::vector<Ert::Ptr<HitBitTable>> pipeTables);
    ~HitBitService() override;

    const Ert::Ptr<HitBitConfig>& config() const { return config_; }
    const Ert::Ptr<HitBitStatus>& status() const { return status_; }
    const std::vector<Ert::Ptr<HitBitTable>>& pipeTables() const { return pipeTables_; }
    // Table scans run so far.
    std::uint64_t scanCount() const { return scans_; }

private:
    void scanRequestChanged(std::uint32_t tableId);
    void scanPending();
    void scan(std::uint32_t tableId, std::uint32_t request);

    std::shared_ptr<VyrP4::Chip> chip_;
    VyrP4::ResourceInfo resourceInfo_;
    Ert::Ptr<HitBitConfig> config_;
    Ert::Ptr<HitBitStatus> status_;
    std::vector<Ert::Ptr<HitBitTable>> pipeTables_;
    std::set<std::uint32_t> pending_; // tables to scan when the posted call runs
    std::uint64_t scans_ = 0;
};

// The service of `client` on `chip`: its config and status in `sysdb` and the per-pipe tables in
// the shared-memory store, each found where the host left it or created there.
std::unique_ptr<HitBitService> hitBitServiceIs(Hubdb::EntityManager& sysdb,
                                               Hubdb::EntityManager& sharedMemory,
                                               std::shared_ptr<VyrP4::Chip> chip,
                                               const std::string& client);

} // namespace VyrSystem

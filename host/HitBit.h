#pragma once
// The host's hit-bit service as a client sees it. A client (the NAT agent: "nat") asks for a
// table's scan by changing the table's request number in its HitBitConfig; the host scans the
// chip's hit bits of that table on every pipe into the per-pipe shared-memory HitBitTables,
// clears them in the chip, and reports the request number it answered in the client's
// HitBitStatus.

#include "chip/Engine.h"
#include "host/Entity.h"

#include <cstdint>
#include <string>
#include <vector>

namespace VyrSystem {

// Where the service's entities live: configs and statuses in the state database, by client
// name, and the hit-bit tables in the shared memory, by pipe.
inline constexpr const char* kHitBitConfigDir = "hardware/vyr/hitBit/config";
inline constexpr const char* kHitBitStatusDir = "hardware/vyr/hitBit/status";
inline constexpr const char* kHitBitTableDir = "hardware/vyr/hitBit/table";
inline constexpr const char* kNatHitBitClient = "nat";

inline std::string hitBitConfigPath(const std::string& client) {
    return std::string(kHitBitConfigDir) + "/" + client;
}
inline std::string hitBitStatusPath(const std::string& client) {
    return std::string(kHitBitStatusDir) + "/" + client;
}
inline std::string hitBitTableName(std::uint32_t pipe) {
    return "pipe" + std::to_string(pipe);
}
inline std::string hitBitTablePath(std::uint32_t pipe) {
    return std::string(kHitBitTableDir) + "/" + hitBitTableName(pipe);
}
// The client a config or status entity belongs to: the last part of its path.
inline std::string hitBitClient(const std::string& entityName) {
    return entityName.substr(entityName.rfind('/') + 1);
}

class HitBitConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSystem::HitBitConfig")

    // Table id (the resource information's table index) -> request number; a new number asks
    // for a scan. 0 is never a request.
    Ert::Collection<std::uint32_t, std::uint32_t> scanRequest{this, "scanRequest"};
    void scanRequestIs(std::uint32_t tableId, std::uint32_t request) {
        scanRequest.set(tableId, request);
    }
    void scanRequestDel(std::uint32_t tableId) { scanRequest.erase(tableId); }
    // 0 when the table has no request.
    std::uint32_t scanRequestNumber(std::uint32_t tableId) const {
        const std::uint32_t* n = scanRequest.find(tableId);
        return n ? *n : 0;
    }
};

class HitBitStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSystem::HitBitStatus")

    // Table id -> the request number its last finished scan answered.
    Ert::Collection<std::uint32_t, std::uint32_t> scanComplete{this, "scanComplete"};
    void scanCompleteIs(std::uint32_t tableId, std::uint32_t request) {
        scanComplete.set(tableId, request);
    }
    void scanCompleteDel(std::uint32_t tableId) { scanComplete.erase(tableId); }
    // 0 when no scan of the table finished.
    std::uint32_t scanCompleteNumber(std::uint32_t tableId) const {
        const std::uint32_t* n = scanComplete.find(tableId);
        return n ? *n : 0;
    }
};

// The entries one pipe hit, per table, as the table's last scan found them.
class HitBitTable : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSystem::HitBitTable")

    // The handles of the entries a scan found hit.
    using Hits = std::vector<VyrP4::VyrSdkEntryHandle>;
    // By slot, the version of the entry hit there; 0 where none was. A reader finds an entry's
    // bit in one step, which a poll of a million connections needs.
    using HitSlots = std::vector<std::uint32_t>;
    Ert::Collection<std::uint32_t, HitSlots> hits{this, "hits"};
    // A scan replaces the table's hits whole.
    void hitsIs(std::uint32_t tableId, const Hits& found);
    // Whether the last scan of the table found the entry hit on this pipe. Handles compare
    // with their version, so an entry that took a scanned entry's slot since reads as not hit.
    bool read(std::uint32_t tableId, VyrP4::VyrSdkEntryHandle handle) const;
};

} // namespace VyrSystem

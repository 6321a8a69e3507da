#include "tables/dynamic/VyrNatHitBitSm.h"

#include "host/Assert.h"
#include "host/SystemStatus.h"
#include "host/Trace.h"
#include "tables/HitBitTables.h"

#include <cstdio>

namespace VyrNat {

namespace {

Trace::Handle hitBitTrace("VyrNatHitBitSm");

// "dynamicDnatPartition3" for bank 3.
std::string partitionName(const char* prefix, uint32_t bank) {
    char name[48];
    std::snprintf(name, sizeof name, "%s%u", prefix, bank);
    return name;
}

} // namespace

VyrNatHitBitSm::VyrNatHitBitSm(std::string name, Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                               std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
                               VyrP4::ProfileCapabilities profileCapabilities,
                               Mirra::Service* mirra)
    : VyrHitBitSm(std::move(name), std::move(hitBitConfig), std::move(resourceInfo)),
      caps_(std::move(profileCapabilities)), mirra_(mirra) {
    initialize();
}

uint32_t VyrNatHitBitSm::learnTable(const std::string& name, const char* attr) const {
    return hitBitTableIndex(resourceInfo().get(), name, attr, hitBitTrace);
}

void VyrNatHitBitSm::initializeTables() {
    const auto fixed = [&](Watched& w, const char* name, const char* attr, uint32_t size) {
        if (size != 0) {
            w.tableId = learnTable(name, attr);
            w.pollingRunning = false;
        }
    };
    fixed(dnat1_, "dynamicDnat1", "dynDnat1TableId", caps_.dnat1TableSize());
    fixed(dnat2_, "dynamicDnat2", "dynDnat2TableId", caps_.dnat2TableSize());
    fixed(snat1_, "dynamicSnat1", "dynSnat1TableId", caps_.snat1TableSize());
    fixed(snat2_, "dynamicSnat2", "dynSnat2TableId", caps_.snat2TableSize());
    fixed(addrOnlySnat_, "dynamicAddrOnlySnat", "dynAddrOnlySnatTableId",
          caps_.dynamicAddrOnlySnatTableSize());
    fixed(addrOnlyDnat_, "dynamicAddrOnlyDnat", "dynAddrOnlyDnatTableId",
          caps_.dynamicAddrOnlyDnatTableSize());
    const auto partitions = [&](std::map<uint8_t, Watched>& out, const char* prefix,
                                const char* attr, const std::vector<uint32_t>& banks) {
        for (uint32_t bank = 0; bank < banks.size(); ++bank) {
            const VyrSystem::TableBankId id(bank); // banks of 32 and above are a range error
            if (banks[bank] != 0) {
                out[uint8_t(id.value())] = {learnTable(partitionName(prefix, bank), attr), false};
            }
        }
    };
    partitions(dnatPartition_, "dynamicDnatPartition", "dynDnatPartitionTableId",
               caps_.dnatPartitionBankSize());
    partitions(snatPartition_, "dynamicSnatPartition", "dynSnatPartitionTableId",
               caps_.snatPartitionBankSize());
    if (caps_.dynFullConeDnatSupported()) {
        fullConeDnat_ = {learnTable("dynamicFullConeDnat", "dynFullConeDnatTableId"), false};
    }
    if (mirra_) {
        hitBitTablesMount(*mirra_);
    }
}

void VyrNatHitBitSm::request(Watched& w) {
    if (w.tableId == 0) {
        return; // the profile has no such table
    }
    const uint32_t current = hitBitConfig()->scanRequestNumber(w.tableId);
    VTRACE(hitBitTrace, 7, "Current scan request for table " << w.tableId << ": " << current);
    hitBitScanRequestIs(w.tableId);
    w.pollingRunning = true;
}

void VyrNatHitBitSm::scheduleHitBitPolling() {
    VYR_CHECK(hitBitConfig(), "hitBitConfig()");
    request(dnat1_);
    request(dnat2_);
    if (caps_.dynFullConeDnatSupported()) {
        request(fullConeDnat_);
    }
    request(snat1_);
    request(snat2_);
    request(addrOnlySnat_);
    request(addrOnlyDnat_);
    for (auto& [id, w] : dnatPartition_) {
        request(w);
    }
    for (auto& [id, w] : snatPartition_) {
        request(w);
    }
}

void VyrNatHitBitSm::handleHitBitPollingComplete(std::uint32_t tableId) {
    for (Watched* w :
         {&dnat1_, &dnat2_, &fullConeDnat_, &snat1_, &snat2_, &addrOnlySnat_, &addrOnlyDnat_}) {
        if (w->tableId != 0 && w->tableId == tableId) {
            w->pollingRunning = false;
            return;
        }
    }
    for (auto* partitions : {&dnatPartition_, &snatPartition_}) {
        for (auto& [id, w] : *partitions) {
            if (w.tableId == tableId) {
                w.pollingRunning = false;
                return;
            }
        }
    }
}

void VyrNatHitBitSm::handleHitBitPollingComplete() {
    VTRACE(hitBitTrace, 7, "handleHitBitPollingComplete");
}

uint32_t VyrNatHitBitSm::partitionTableId(const std::map<uint8_t, Watched>& partitions,
                                          uint8_t partitionId, const char* check) const {
    auto it = partitions.find(partitionId);
    VYR_CHECK(it != partitions.end(), check);
    return it->second.tableId;
}

bool VyrNatHitBitSm::getSnatHitBit(DynamicSnatTable table, uint8_t partitionId,
                                   VyrP4::VyrSdkEntryHandle handle) const {
    using S = DynamicSnatTable;
    uint32_t tableId = 0;
    switch (table) {
    case S::dynDnat1Snat:
        tableId = dnat1_.tableId;
        break;
    case S::dynSnat1:
        tableId = snat1_.tableId;
        break;
    case S::dynSnat2:
        tableId = snat2_.tableId;
        break;
    case S::dynAddrOnlySnat:
        tableId = addrOnlySnat_.tableId;
        break;
    case S::dynSnatPartition:
        tableId = partitionTableId(snatPartition_, partitionId,
                                   "dynSnatPartitionTableIdHas( partitionId )");
        break;
    default:
        VYR_FAIL("getSnatHitBit of an unknown table");
    }
    return readHitBit(tableId, handle);
}

bool VyrNatHitBitSm::getDnatHitBit(DynamicDnatTable table, uint8_t partitionId,
                                   VyrP4::VyrSdkEntryHandle handle) const {
    using D = DynamicDnatTable;
    uint32_t tableId = 0;
    switch (table) {
    case D::dynDnat1Dnat:
        tableId = dnat1_.tableId;
        break;
    case D::dynDnat2:
        tableId = dnat2_.tableId;
        break;
    case D::dynAddrOnlyDnat:
        tableId = addrOnlyDnat_.tableId;
        break;
    case D::dynDnatPartition:
        tableId = partitionTableId(dnatPartition_, partitionId,
                                   "dynDnatPartitionTableIdHas( partitionId )");
        break;
    case D::dynFullConeDnat:
        tableId = fullConeDnat_.tableId;
        break;
    default:
        VYR_FAIL("getDnatHitBit of an unknown table");
    }
    return readHitBit(tableId, handle);
}

} // namespace VyrNat

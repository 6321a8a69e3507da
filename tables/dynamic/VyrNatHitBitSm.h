#pragma once
// The dynamic manager's link to the host's hit-bit service: learns the hardware index of every
// dynamic table, asks the service for a scan of each on the polling period, follows which scans
// are outstanding, and reads a connection entry's bit from the tables the scans filled.

#include "chip/Profile.h"
#include "host/HitBitSm.h"
#include "tables/dynamic/DynamicNatTypes.h"

#include <cstdint>
#include <map>

namespace VyrNat {

class VyrNatHitBitSm : public VyrSystem::VyrHitBitSm {
public:
    ERT_ENTITY_TYPE("VyrNat::VyrNatHitBitSm")

    // `mirra`, when given, is where the per-pipe hit-bit tables are mounted from.
    VyrNatHitBitSm(std::string name, Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                   std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
                   VyrP4::ProfileCapabilities profileCapabilities, Mirra::Service* mirra);

    const VyrP4::ProfileCapabilities& profileCapabilities() const { return caps_; }

    void initializeTables() override;
    void scheduleHitBitPolling() override;
    void handleHitBitPollingComplete(std::uint32_t tableId) override;
    void handleHitBitPollingComplete() override;

    bool getSnatHitBit(DynamicSnatTable table, uint8_t partitionId,
                       VyrP4::VyrSdkEntryHandle handle) const;
    bool getDnatHitBit(DynamicDnatTable table, uint8_t partitionId,
                       VyrP4::VyrSdkEntryHandle handle) const;

    // A fixed table's hardware index and its outstanding-scan flag.
    struct Watched {
        uint32_t tableId = 0;
        bool pollingRunning = false;
    };
    const Watched& dynDnat1() const { return dnat1_; }
    const Watched& dynDnat2() const { return dnat2_; }
    const Watched& dynFullConeDnat() const { return fullConeDnat_; }
    const Watched& dynSnat1() const { return snat1_; }
    const Watched& dynSnat2() const { return snat2_; }
    const Watched& dynAddrOnlySnat() const { return addrOnlySnat_; }
    const Watched& dynAddrOnlyDnat() const { return addrOnlyDnat_; }
    // Partition id -> its table's index and flag.
    const std::map<uint8_t, Watched>& dynDnatPartition() const { return dnatPartition_; }
    const std::map<uint8_t, Watched>& dynSnatPartition() const { return snatPartition_; }

private:
    // The index of a table the profile has; traced. `attr` names it in the checks.
    uint32_t learnTable(const std::string& name, const char* attr) const;
    void request(Watched& w);
    uint32_t partitionTableId(const std::map<uint8_t, Watched>& partitions, uint8_t partitionId,
                              const char* check) const;

    VyrP4::ProfileCapabilities caps_;
    Mirra::Service* mirra_;
    Watched dnat1_, dnat2_, fullConeDnat_, snat1_, snat2_, addrOnlySnat_, addrOnlyDnat_;
    std::map<uint8_t, Watched> dnatPartition_;
    std::map<uint8_t, Watched> snatPartition_;
};

} // namespace VyrNat

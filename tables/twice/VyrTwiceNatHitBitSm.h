#pragma once
// The twice manager's link to the host's hit-bit service. Every twice-NAT packet passes the
// rewrite table, so its entries' bits tell whether a translation is in use; translations that
// rewrite alike share an entry and so share a bit.

#include "host/HitBitSm.h"

#include <cstdint>

namespace VyrNat {

class VyrTwiceNatHitBitSm : public VyrSystem::VyrHitBitSm {
public:
    ERT_ENTITY_TYPE("VyrNat::VyrTwiceNatHitBitSm")

    // `mirra`, when given, is where the per-pipe hit-bit tables are mounted from.
    VyrTwiceNatHitBitSm(std::string name, Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                        std::shared_ptr<VyrP4::ResourceInfo> resourceInfo, Mirra::Service* mirra);

    void initializeTables() override;
    void scheduleHitBitPolling() override;
    void handleHitBitPollingComplete(std::uint32_t tableId) override;
    void handleHitBitPollingComplete() override;

    bool getTwiceNatHitBit(VyrP4::VyrSdkEntryHandle handle) const;

    uint32_t twiceNatRewriteTableId() const { return tableId_; }
    bool twiceNatRewritePollingRunning() const { return pollingRunning_; }

private:
    Mirra::Service* mirra_;
    uint32_t tableId_ = 0;
    bool pollingRunning_ = false;
};

} // namespace VyrNat

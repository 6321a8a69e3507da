#include "tables/twice/VyrTwiceNatHitBitSm.h"

#include "host/Assert.h"
#include "host/Trace.h"
#include "tables/HitBitTables.h"

namespace VyrNat {

namespace {
Trace::Handle twiceHitBitTrace("VyrTwiceNatHitBitSm");
} // namespace

VyrTwiceNatHitBitSm::VyrTwiceNatHitBitSm(std::string name,
                                         Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                                         std::shared_ptr<VyrP4::ResourceInfo> resourceInfo,
                                         Mirra::Service* mirra)
    : VyrHitBitSm(std::move(name), std::move(hitBitConfig), std::move(resourceInfo)),
      mirra_(mirra) {
    initialize();
}

void VyrTwiceNatHitBitSm::initializeTables() {
    tableId_ = hitBitTableIndex(resourceInfo().get(), "twiceNatRewrite", "twiceNatRewriteTableId",
                                twiceHitBitTrace);
    if (mirra_) {
        hitBitTablesMount(*mirra_);
    }
}

void VyrTwiceNatHitBitSm::scheduleHitBitPolling() {
    if (pollingRunning_) {
        VTRACE(twiceHitBitTrace, 7, "Hit bit polling still in progress?");
    }
    VYR_CHECK(hitBitConfig(), "hitBitConfig()");
    hitBitScanRequestIs(tableId_);
    pollingRunning_ = true;
}

void VyrTwiceNatHitBitSm::handleHitBitPollingComplete(std::uint32_t tableId) {
    if (tableId == tableId_) {
        pollingRunning_ = false;
    }
}

void VyrTwiceNatHitBitSm::handleHitBitPollingComplete() {
    VTRACE(twiceHitBitTrace, 7, "handleHitBitPollingComplete");
}

bool VyrTwiceNatHitBitSm::getTwiceNatHitBit(VyrP4::VyrSdkEntryHandle handle) const {
    return readHitBit(tableId_, handle);
}

} // namespace VyrNat

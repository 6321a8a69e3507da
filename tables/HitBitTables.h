#pragma once
// What the dynamic and the twice-NAT hit-bit state machines share: finding a scanned table's
// index, and the pair of a manager's machine and its status watcher.

#include "chip/ResourceInfo.h"
#include "host/HitBitSm.h"
#include "host/Trace.h"

#include <cstdint>
#include <memory>
#include <string>

namespace VyrNat {

// The hardware index of a table whose hit bits are scanned: the profile must have the table,
// with hit bits; `attr` names the index in the checks. Traced "Table <name>, index: <id>".
uint32_t hitBitTableIndex(const VyrP4::ResourceInfo* resourceInfo, const std::string& name,
                          const char* attr, Trace::Handle& trace);

// A manager's hit-bit state machine and the watcher that reports its finished scans. The
// watcher calls the machine, so it never outlives it; a machine dropped is switched off first.
template <class Sm> class HitBitMachines {
public:
    HitBitMachines() = default;
    HitBitMachines(const HitBitMachines&) = delete;
    HitBitMachines& operator=(const HitBitMachines&) = delete;
    ~HitBitMachines() { smDel(); }

    // The machine of this name, configuration and resource information: the existing one when
    // it matches, else a new one built from them and `more`.
    template <class... More>
    const Ert::Ptr<Sm>& smIs(const std::string& name, Ert::Ptr<VyrSystem::HitBitConfig> config,
                             std::shared_ptr<VyrP4::ResourceInfo> resourceInfo, More&&... more) {
        if (sm_ && sm_->name() == name && sm_->hitBitConfig() == config &&
            sm_->resourceInfo() == resourceInfo) {
            return sm_;
        }
        smDel();
        sm_ = Ert::make<Sm>(name, std::move(config), std::move(resourceInfo),
                            std::forward<More>(more)...);
        return sm_;
    }
    void smDel() {
        watcherDel();
        if (sm_) {
            sm_->hasNotificationActiveIs(false);
            sm_ = nullptr;
        }
    }
    const Ert::Ptr<Sm>& sm() const { return sm_; }

    // Watches `statusDir` for the machine's finished scans; null without a machine.
    const VyrSystem::VyrHitBitStatusWatcherSm*
    watcherIs(const std::string& name, Ert::Ptr<Ert::Dir> statusDir,
              Ert::Ptr<Hubdb::EntityManager> entityManager) {
        watcherDel();
        if (sm_ && statusDir && entityManager) {
            watcher_ = std::make_unique<VyrSystem::VyrHitBitStatusWatcherSm>(
                name, std::move(statusDir), sm_.get(), std::move(entityManager));
        }
        return watcher_.get();
    }
    void watcherDel() { watcher_.reset(); }
    const VyrSystem::VyrHitBitStatusWatcherSm* watcher() const { return watcher_.get(); }

private:
    Ert::Ptr<Sm> sm_;
    std::unique_ptr<VyrSystem::VyrHitBitStatusWatcherSm> watcher_;
};

} // namespace VyrNat

#pragma once
// Table manager of static translations on the chip's egress pipeline: address-only and
// address-and-port SNAT and DNAT keyed by NAT profile, address and (for address-and-port) port
// and protocol, the fragment companion of every address-and-port translation, the drop entry of
// every address-and-port DNAT, and the two NAT profile tables of the egress pipeline.
//
// An address entry that the chip refuses is kept and written again by the retry machine every
// retry delay until it is in hardware or deleted. Address-and-port entries are not retried: a
// refused one is not recorded and its translation reports false.
//
// Owns its six table objects, its records and the retry machine; the owner and the
// configuration are not owned.

#include "chip/P4Tables.h"
#include "common/NatCliCommands.h"
#include "host/EventLoop.h"
#include "host/NatConfig.h"
#include "host/TableService.h"
#include "tables/NatTableManager.h"
#include "tables/egress/EgressStaticRecords.h"
#include "tables/egress/RetrySm.h"

#include <cstdint>
#include <map>
#include <memory>

namespace VyrNat {

struct EgrSnatTraits;
struct EgrDnatTraits;

class VyrNatTableMgrEgressStatic : public NatTableManager {
public:
    VyrNatTableMgrEgressStatic(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig);
    ~VyrNatTableMgrEgressStatic() override;

    void handleInitialized();
    std::vector<RecordCount> recordCounts() const override;

    // --- Show commands, written to the request socket `fd` ---
    // The VLAN bindings of the two NAT profile tables of the egress pipeline.
    void showProfiles(int fd) const;
    // The address-and-port and address entries of the kinds `cmd` selects, of the sides `snat`
    // and `dnat` select (neither: both); "unprogrammed" lists those not in hardware.
    void showEntries(int fd, bool snat, bool dnat, StaticCliCommand cmd) const;

    // Translations. Port 0 in `oldSrc`/`oldDst` means address-only. `update` says the host
    // changes a translation it added before. True: the translation is in hardware. False for an
    // address-only translation: it is recorded and retried. False for an address-and-port one:
    // the chip refused it and nothing new was recorded (a programmed one keeps its old
    // translation). An address-only translation of an address that another one translates to
    // another new address is refused with false. A DNAT to 0.0.0.0 drops the address.
    bool updateStaticSnat(uint16_t profileId, IpAndPort oldSrc, IpAndPort newSrc, uint8_t proto,
                          bool update);
    bool updateStaticDnat(uint16_t profileId, IpAndPort oldDst, IpAndPort newDst, uint8_t proto,
                          bool update);
    // Deleting a translation that is not there changes nothing.
    void deleteStaticSnat(uint16_t profileId, IpAndPort oldSrc, uint8_t proto);
    void deleteStaticDnat(uint16_t profileId, IpAndPort oldDst, uint8_t proto);

    // The entries under the translations. An address entry is shared by reference count: the
    // address-only translations of the address, the fragment companion of each address-and-port
    // translation of it and, for DNAT, the drop entry of each address-and-port DNAT (new
    // address 0). A drop or DNAT fragment request on an entry in use only adds its reference
    // and reports true.
    bool updateStaticAddrSnat(uint16_t profileId, IpAddr oldIp, IpAddr newIp, bool update,
                              bool frag);
    bool updateStaticAddrDnat(uint16_t profileId, IpAddr oldIp, IpAddr newIp, bool update,
                              bool frag);
    bool updateStaticAddrPortSnat(uint16_t profileId, IpAndPort oldSrc, IpAndPort newSrc,
                                  uint8_t proto);
    bool updateStaticAddrPortDnat(uint16_t profileId, IpAndPort oldDst, IpAndPort newDst,
                                  uint8_t proto, bool update);
    // Releases one reference of the address entry; at the last one the entry goes.
    void cleanupAddrSnat(uint16_t profileId, IpAddr oldIp, bool frag);
    // Releases the address-only translation of `oldIp` or, `fromAddrPortDnat`, the drop entry
    // and the fragment companion of one address-and-port DNAT of it.
    void cleanupAddrDnat(uint16_t profileId, IpAddr oldIp, bool fromAddrPortDnat);

    // NAT profile tables of the egress pipeline, by VLAN. False: the chip refused the entry and
    // the VLAN keeps what it had.
    bool updateIngNatProfileTable(uint16_t vlan, uint16_t profile);
    bool updateEgrNatProfileTable(uint16_t vlan, uint16_t profile);
    void deleteIngNatProfileTable(uint16_t vlan);
    void deleteEgrNatProfileTable(uint16_t vlan);

    // One retry pass over the profiles from `bookmark` on; returns where the next pass resumes
    // (0 after a full walk).
    uint16_t retrySnatPass(uint16_t bookmark, Tasking::TaskScheduler& scheduler);
    uint16_t retryDnatPass(uint16_t bookmark, Tasking::TaskScheduler& scheduler);

    // Test hook: fails the next writes as if the table were full.
    void forceEntryFail();
    uint32_t forceEntryInstallFail() const { return forceEntryInstallFail_; }
    void forceEntryInstallFailIs(uint32_t n) { forceEntryInstallFail_ = n; }
    double retryDelay() const { return retryDelay_; }
    void retryDelayIs(double seconds) { retryDelay_ = seconds; }

    const Ert::Ptr<Config>& vyrNatConfig() const { return vyrNatConfig_; }
    bool initialized() const { return initialized_; }
    RetrySm* retrySm() const { return retrySm_.get(); }

    const std::shared_ptr<VyrP4::EgrAddrSnatTable>& egrAddrSnatTable() const {
        return egrAddrSnatTable_;
    }
    const std::shared_ptr<VyrP4::EgrAddrPortSnatTable>& egrAddrPortSnatTable() const {
        return egrAddrPortSnatTable_;
    }
    const std::shared_ptr<VyrP4::EgrAddrDnatTable>& egrAddrDnatTable() const {
        return egrAddrDnatTable_;
    }
    const std::shared_ptr<VyrP4::EgrAddrPortDnatTable>& egrAddrPortDnatTable() const {
        return egrAddrPortDnatTable_;
    }
    const std::shared_ptr<VyrP4::IngressNatProfileEgressPipeTable>& ingNatProfileTable() const {
        return ingNatProfileTable_;
    }
    const std::shared_ptr<VyrP4::EgressNatProfileEgressPipeTable>& egrNatProfileTable() const {
        return egrNatProfileTable_;
    }

    const std::map<uint16_t, EgrHwStaticSnat>& hwStaticSnatEntries() const {
        return hwStaticSnatEntries_;
    }
    const std::map<uint16_t, EgrHwStaticDnat>& hwStaticDnatEntries() const {
        return hwStaticDnatEntries_;
    }
    const std::map<uint16_t, VyrP4::IngressNatProfileEgressPipeMatchSpec>&
    hwIngNatProfileEntries() const {
        return hwIngNatProfileEntries_;
    }
    const std::map<uint16_t, VyrP4::EgressNatProfileEgressPipeMatchSpec>&
    hwEgrNatProfileEntries() const {
        return hwEgrNatProfileEntries_;
    }

private:
    friend struct EgrSnatTraits;
    friend struct EgrDnatTraits;

    template <class T>
    bool updateStatic(uint16_t profileId, IpAndPort oldIp, IpAndPort newIp, uint8_t proto,
                      bool update);
    template <class T> void deleteStatic(uint16_t profileId, IpAndPort oldIp, uint8_t proto);
    // What a user of an address entry is: an address-only translation of the address, the drop
    // entry of an address-and-port DNAT of it, or the fragment companion of one.
    enum class AddrUse : uint8_t { translation, drop, fragment };
    template <class T>
    bool updateAddr(uint16_t profileId, IpAddr oldIp, IpAddr newIp, bool update, AddrUse use);
    template <class T>
    bool updateAddrPort(uint16_t profileId, IpAndPort oldIp, IpAndPort newIp, uint8_t proto);
    // Writes the entry with its new address; false when the chip refused it.
    template <class T>
    bool writeAddr(uint16_t profileId, const typename T::AddrKey& key,
                   typename T::AddrEntry& entry);
    // writeAddr, keeping the retry list to the entries not programmed.
    template <class T>
    bool programAddr(typename T::Hw& hw, const typename T::AddrKey& key,
                     typename T::AddrEntry& entry);
    // Drops one user of the entry under `key`; false when the entry has no such user.
    template <class T>
    bool releaseAddr(typename T::Hw& hw, const typename T::AddrKey& key, AddrUse use);
    template <class T> void eraseIfEmpty(uint16_t profileId);
    template <class T> uint16_t retryPass(uint16_t bookmark, Tasking::TaskScheduler& scheduler);
    template <class T> void retryProfile(typename T::Hw& hw);

    Ert::Ptr<Config> vyrNatConfig_;

    std::shared_ptr<VyrP4::EgrAddrSnatTable> egrAddrSnatTable_;
    std::shared_ptr<VyrP4::EgrAddrPortSnatTable> egrAddrPortSnatTable_;
    std::shared_ptr<VyrP4::EgrAddrDnatTable> egrAddrDnatTable_;
    std::shared_ptr<VyrP4::EgrAddrPortDnatTable> egrAddrPortDnatTable_;
    std::shared_ptr<VyrP4::IngressNatProfileEgressPipeTable> ingNatProfileTable_;
    std::shared_ptr<VyrP4::EgressNatProfileEgressPipeTable> egrNatProfileTable_;

    std::map<uint16_t, EgrHwStaticSnat> hwStaticSnatEntries_;
    std::map<uint16_t, EgrHwStaticDnat> hwStaticDnatEntries_;
    std::map<uint16_t, VyrP4::IngressNatProfileEgressPipeMatchSpec> hwIngNatProfileEntries_;
    std::map<uint16_t, VyrP4::EgressNatProfileEgressPipeMatchSpec> hwEgrNatProfileEntries_;

    double retryDelay_ = 1.0;
    uint32_t forceEntryInstallFail_ = 0;
    bool initialized_ = false;
    // Last: its tasks call into the records above, so it goes first.
    Ert::Ptr<RetrySm> retrySm_;
};

Ert::Ptr<VyrNatTableMgrEgressStatic>
vyrNatTableMgrEgressStaticFactory(VyrAgentLib::VyrTableMgr* tableMgr,
                                  Ert::Ptr<Config> vyrNatConfig);

} // namespace VyrNat

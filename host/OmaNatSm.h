#pragma once
// The host ASIC layer's NAT state machine: it follows the NAT status and calls the hardware
// helper for every static translation, VLAN profile binding, per-VRF translation and policer
// that must be added, changed or removed, and publishes what is programmed in the NAT hardware
// status and in its own status object.

#include "host/NatConfig.h"
#include "host/NatStatus.h"
#include "host/NextHopMap.h"
#include "host/PlatformState.h"

#include <map>
#include <memory>
#include <string>

namespace Oma {

// Next-hop information handed to the helper with a destination translation.
class NatNextHopInfo {
public:
    virtual ~NatNextHopInfo() = default;
};

// Multicast data of a destination translation (the hardware helper does not use it).
struct NatMulticastData {};

} // namespace Oma

namespace VyrNat {

// The platform's next-hop information: bit 31 of the word marks an ECMP group.
class NatNextHopInfo : public Oma::NatNextHopInfo {
public:
    explicit NatNextHopInfo(uint32_t word) : nextHop(word) {}
    uint32_t nextHop;
};

} // namespace VyrNat

namespace OmaHelper {

// What the NAT state machine asks of the hardware. Results are true when the translation is
// in hardware.
class OmaHelperNat : public Ert::RefCounted {
public:
    explicit OmaHelperNat(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    virtual bool addStaticSrcIpTranslation(Ip::IpAndPort oldSrc, Ip::IpAndPort newSrc,
                                           Ip::IpAddrWithFullMask dst, uint8_t protocol,
                                           uint16_t profileId, const Ip::Nat::StaticKey& key,
                                           bool egressPipe, Ip::VrfId vrfId) = 0;
    virtual bool addStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                           Ip::IpAddrWithFullMask src, uint8_t protocol,
                                           uint16_t profileId, const Ip::Nat::StaticKey& key,
                                           const Oma::NatNextHopInfo* nextHopInfo,
                                           const Oma::NatMulticastData* multicastData,
                                           bool egressPipe, Ip::VrfId vrfId) = 0;
    virtual bool updateStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                              Ip::IpAddrWithFullMask src, uint8_t protocol,
                                              uint16_t profileId, const Ip::Nat::StaticKey& key,
                                              const Oma::NatNextHopInfo* nextHopInfo,
                                              const Oma::NatMulticastData* multicastData,
                                              bool egressPipe, Ip::VrfId vrfId) = 0;
    virtual void deleteStaticIpTranslations(const std::string& intfId,
                                            const Ip::Nat::NatStaticConnection& conn,
                                            uint16_t profileId, const Ip::Nat::StaticKey& key,
                                            Ip::VrfId vrfId) = 0;

    virtual bool addStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                              uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool deleteStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                                 uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool addStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                              uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool deleteStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                                 uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool updateVrfSourcePolicer(uint32_t insideVrfId, uint32_t rate, uint32_t burst) = 0;

    // Why the last call that returned false did not program its translation; empty when no
    // reason is known.
    virtual const std::string& refusal() const = 0;

    // False when a table refused the binding; what was written of it stays until cleared.
    virtual bool setNatProfile(uint16_t vlan, uint16_t profile, const std::string& vrfName) = 0;
    virtual void clearNatProfile(uint16_t vlan) = 0;
    virtual void commitHwTranslations() = 0;

private:
    std::string name_;
};

} // namespace OmaHelper

namespace Oma {

// One static translation on its interface.
struct StaticTranslationId {
    std::string intf;
    Ip::Nat::StaticKey key;
    auto operator<=>(const StaticTranslationId&) const = default;
};

// An address entry of the egress static tables: its direction, NAT profile and untranslated
// address.
struct EgressAddrId {
    bool dnat = false;
    uint16_t profile = 0;
    Ip::IpAddr addr;
    auto operator<=>(const EgressAddrId&) const = default;
};

// The state machine's own account of what it programmed.
class NatSmStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::NatSmStatus")
    Ert::Collection<StaticTranslationId, bool> staticTranslation{this, "staticTranslation"};
    // Address entries that the egress static manager wrote on a retry, after their
    // translations were reported not programmed: the state machine marks those programmed.
    Ert::Collection<EgressAddrId, bool> egressAddrRetried{this, "egressAddrRetried"};
    Ert::Attr<uint32_t> staticProgrammed{this, "staticProgrammed"};
    Ert::Attr<uint32_t> staticNotProgrammed{this, "staticNotProgrammed"};
};

class NatSm : public Ert::RefCounted {
public:
    NatSm(Ert::Ptr<OmaCommonSmData> acsd, Ert::Ptr<Ip::Nat::Status> natStatus,
          Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
          Ert::Ptr<Ip::Nat::HwCapabilities> natHwCapabilities,
          Ert::Ptr<NextHopMapStatus> nhMapStatus, Ert::Ptr<OmaHelper::OmaHelperNat> helper);
    ~NatSm() override;

    // Whether this state machine was built from these inputs.
    bool builtFrom(const Ert::Ptr<OmaCommonSmData>& acsd,
                   const Ert::Ptr<Ip::Nat::Status>& natStatus,
                   const Ert::Ptr<Ip::Nat::HwStatus>& natHwStatus,
                   const Ert::Ptr<Ip::Nat::HwCapabilities>& natHwCapabilities,
                   const Ert::Ptr<NextHopMapStatus>& nhMapStatus,
                   const Ert::Ptr<OmaHelper::OmaHelperNat>& helper) const {
        return acsd == acsd_ && natStatus == natStatus_ && natHwStatus == natHwStatus_ &&
               natHwCapabilities == natHwCapabilities_ && nhMapStatus == nhMapStatus_ &&
               helper == helper_;
    }

    void hwConnEntryRqrdOnDeleteIs(bool v) { hwConnEntryRqrdOnDelete_ = v; }
    bool hwConnEntryRqrdOnDelete() const { return hwConnEntryRqrdOnDelete_; }
    // Once initialized, the state machine programs what the status holds and follows it.
    void initializedIs(bool v);
    bool initialized() const { return initialized_; }

    const Ert::Ptr<NatSmStatus>& status() const { return status_; }
    const Ert::Ptr<OmaHelper::OmaHelperNat>& helper() const { return helper_; }
    const Ert::Ptr<Ip::Nat::Status>& natStatus() const { return natStatus_; }

    // The NAT profile of a NAT profile interface ("NatProfile<id>"); nullopt for other names.
    static std::optional<uint16_t> profileOfIntf(const std::string& intf);

private:
    class StatusReactor;
    class IntfReactor;
    class VrfReactor;
    class NextHopReactor;
    class OwnStatusReactor;
    struct Applied;
    struct AppliedVrf;

    void syncIntf(const std::string& intf);
    void syncStatic(const std::string& intf, const Ip::Nat::StaticKey& key);
    bool programStatic(const std::string& intf, const Ip::Nat::StaticKey& key,
                       const Ip::Nat::NatStaticConnection& conn, Ip::VrfId vrfId, uint32_t nextHop);
    void unprogramStatic(const StaticTranslationId& id);
    void nextHopChanged(Ip::IpAddr addr);
    void egressAddrRetried(const EgressAddrId& id);
    void syncVlan(uint16_t vlan);
    void syncVrf(const std::string& vrf);
    // The translation's hardware status: programmed or not (with why), or none once withdrawn.
    void publish(const StaticTranslationId& id, std::optional<bool> programmed,
                 const std::string& reason = {});
    Ert::Ptr<Ip::Nat::HwIntfStatus> hwIntf(const std::string& intf);
    Ert::Ptr<Ip::Nat::HwVrfStatus> hwVrf(const std::string& vrf);
    uint32_t nextHopOf(Ip::IpAddr addr) const;

    Ert::Ptr<OmaCommonSmData> acsd_;
    Ert::Ptr<Ip::Nat::Status> natStatus_;
    Ert::Ptr<Ip::Nat::HwStatus> natHwStatus_;
    Ert::Ptr<Ip::Nat::HwCapabilities> natHwCapabilities_;
    Ert::Ptr<NextHopMapStatus> nhMapStatus_;
    Ert::Ptr<OmaHelper::OmaHelperNat> helper_;
    Ert::Ptr<NatSmStatus> status_;
    bool hwConnEntryRqrdOnDelete_ = false;
    bool initialized_ = false;

    std::unique_ptr<StatusReactor> statusReactor_;
    std::unique_ptr<NextHopReactor> nextHopReactor_;
    std::unique_ptr<OwnStatusReactor> ownStatusReactor_;
    std::map<std::string, std::unique_ptr<IntfReactor>> intfReactors_;
    std::map<std::string, std::unique_ptr<VrfReactor>> vrfReactors_;
    std::map<StaticTranslationId, Applied> applied_;
    std::map<uint16_t, Ip::Nat::NatProfileBinding> appliedVlans_;
    std::map<std::string, AppliedVrf> appliedVrfs_;
};

} // namespace Oma

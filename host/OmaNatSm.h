#pragma once
// The host ASIC layer's NAT state machine: it follows the NAT status and calls the hardware
// helper for every static translation, VLAN profile binding, per-VRF translation and policer
// that must be added, changed or removed, and publishes what is programmed in the NAT hardware
// status and in its own status object.

#include "host/EventLoop.h"
#include "host/NatConfig.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"
#include "host/NextHopMap.h"
#include "host/OmaHelperNat.h"
#include "host/PlatformState.h"

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>

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

// Whether a static translation is in hardware, and where the CLI lists it.
struct StaticTranslationState {
    bool programmed = false;
    bool egressPipe = false; // its entries belong to the egress pipeline
    bool dnat = false;       // a destination translation
    bool operator==(const StaticTranslationState&) const = default;
};

// A CPU trap rule the hardware does not hold: its NAT profile interface, ACL and group.
struct TrapRuleId {
    std::string intf;
    std::string acl;
    uint32_t group = 0;
    auto operator<=>(const TrapRuleId&) const = default;
};

// The state machine's own account of what it programmed.
class NatSmStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::NatSmStatus")
    Ert::Collection<StaticTranslationId, StaticTranslationState> staticTranslation{
        this, "staticTranslation"};
    // Address entries that the egress static manager wrote on a retry, after their
    // translations were reported not programmed: the state machine marks those programmed.
    Ert::Collection<EgressAddrId, bool> egressAddrRetried{this, "egressAddrRetried"};
    Ert::Attr<uint32_t> staticProgrammed{this, "staticProgrammed"};
    Ert::Attr<uint32_t> staticNotProgrammed{this, "staticNotProgrammed"};
    Ert::Attr<uint32_t> dynamicProgrammed{this, "dynamicProgrammed"};
    Ert::Attr<uint32_t> dynamicNotProgrammed{this, "dynamicNotProgrammed"};
    Ert::Attr<uint32_t> twiceProgrammed{this, "twiceProgrammed"};
    Ert::Attr<uint32_t> twiceNotProgrammed{this, "twiceNotProgrammed"};
    Ert::Attr<uint32_t> flowProgrammed{this, "flowProgrammed"};
    Ert::Attr<uint32_t> flowNotProgrammed{this, "flowNotProgrammed"};
    Ert::Attr<uint32_t> trapRuleProgrammed{this, "trapRuleProgrammed"};
    Ert::Attr<uint32_t> trapRuleNotProgrammed{this, "trapRuleNotProgrammed"};
    // What the hardware does not hold, as it was asked for: the managers' show commands list it.
    Ip::Nat::ConnectionCollection<Ip::Nat::DynamicConnection> dynamicUnprogrammed{
        this, "dynamicUnprogrammed"};
    Ert::Collection<Ip::Nat::TwiceNatKey, Ip::Nat::TwiceNatTranslation> twiceUnprogrammed{
        this, "twiceUnprogrammed"};
    Ert::Collection<TrapRuleId, bool> trapRuleUnprogrammed{this, "trapRuleUnprogrammed"};
};

// What the NAT state machine is built from. It follows the NAT status, the dynamic connection
// status and the next hops; the other inputs are the host's, handed over for what it may read
// of them later.
struct NatSmInputs {
    Ert::Ptr<OmaCommonSmData> acsd;
    Ert::Ptr<Ip::Nat::Status> natStatus;
    Ert::Ptr<Ip::Nat::HwStatus> natHwStatus;
    Ert::Ptr<Ip::Nat::DynamicConnectionStatus> dynamicConnectionStatus;
    Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus> dynamicConnectionHwStatus;
    Ert::Ptr<Ip::Nat::DynamicConnectionMappingStatus> connectionMappingStatus;
    Ert::Ptr<Ip::Nat::HwCapabilities> natHwCapabilities;
    // The period of the activity polls; the default period without it.
    Ert::Ptr<Ip::Nat::Config> natConfig;
    Ert::Ptr<NextHopMapConfig> nhMapConfig;
    Ert::Ptr<NextHopMapStatus> nhMapStatus;
    Ert::Ptr<Routing::Hardware::RouteStatus> routeStatus;
    Ert::Ptr<OmaHelper::OmaHelperNat> helper;
    Ert::Ptr<MrouteLib::StaticNatInfo> staticNatInfo;
    Ert::Ptr<OmaL3Intf::Table> l3IntfTable;
    Ert::Ptr<L3Status> l3Status;
    bool operator==(const NatSmInputs&) const = default;
};

class NatSm : public Ert::RefCounted {
public:
    explicit NatSm(NatSmInputs inputs);
    ~NatSm() override;

    // Whether this state machine was built from these inputs.
    bool builtFrom(const NatSmInputs& inputs) const { return inputs == in_; }

    void hwConnEntryRqrdOnDeleteIs(bool v) { hwConnEntryRqrdOnDelete_ = v; }
    bool hwConnEntryRqrdOnDelete() const { return hwConnEntryRqrdOnDelete_; }
    // Once initialized, the state machine programs what the status holds and follows it.
    void initializedIs(bool v);
    bool initialized() const { return initialized_; }

    const Ert::Ptr<NatSmStatus>& status() const { return status_; }
    const Ert::Ptr<OmaHelper::OmaHelperNat>& helper() const { return in_.helper; }
    const Ert::Ptr<Ip::Nat::Status>& natStatus() const { return in_.natStatus; }

    // The NAT profile of a NAT profile interface ("NatProfile<id>"); nullopt for other names.
    static std::optional<uint16_t> profileOfIntf(const std::string& intf);
    // The NAT profile interface of a profile id.
    static std::string profileIntf(uint32_t profile);

    // --- CLI ---
    // What is programmed and the dynamic connections handled since the counters were cleared.
    void showSummary(int fd) const;
    void initDynamicStats();
    struct DynamicStats {
        uint64_t added = 0;   // connections the helper programmed
        uint64_t refused = 0; // connections it refused
        uint64_t deleted = 0; // programmed connections removed
    };
    const DynamicStats& dynamicStats() const { return dynamicStats_; }

private:
    class StatusReactor;
    class IntfReactor;
    class VrfReactor;
    class NextHopReactor;
    class OwnStatusReactor;
    class DynamicReactor;
    struct Applied;
    struct AppliedTrap;
    using DynamicRuleId = std::pair<std::string, Ip::Nat::DynamicKey>;
    struct AppliedVrf;
    // What the state machine asked of the helper for a connection, a twice-NAT translation or
    // a flow, and whether the hardware holds it.
    template <class V> struct AppliedAs {
        V value;
        bool programmed = false;
    };

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

    void followDynamic();
    void syncConnection(const Ip::Nat::DynamicConnectionKey& key);
    bool addConnection(const Ip::Nat::DynamicConnectionKey& key,
                       const Ip::Nat::DynamicConnection& conn, bool update);
    void deleteConnection(const Ip::Nat::DynamicConnectionKey& key,
                          const Ip::Nat::DynamicConnection& conn);
    void publishConnection(const Ip::Nat::DynamicConnectionKey& key, std::optional<bool> programmed,
                           const std::string& reason = {});
    // Why the last connection was not programmed: the state machine's own reason, else the
    // helper's.
    const std::string& refusal() const {
        return refusal_.empty() ? in_.helper->refusal() : refusal_;
    }
    // Every poll period: each programmed connection and dynamic twice-NAT translation that the
    // hardware saw used since the last poll gets its last-active time in the hardware status,
    // from which connection tracking ages it.
    void pollActivity();
    void scheduleActivityPoll();
    void lastActiveIs(const Ip::Nat::DynamicConnectionKey& key, std::optional<bool> programmed);
    void lastActiveIs(const Ip::Nat::TwiceNatKey& key, std::optional<bool> programmed,
                      bool dynamic);
    void syncTwice(const Ip::Nat::TwiceNatKey& key);
    void deleteTwice(const Ip::Nat::TwiceNatKey& key, const Ip::Nat::TwiceNatTranslation& t);
    void syncFlow(const Ip::Nat::NatFlowKey& key);
    // CPU trap rules: a dynamic NAT rule's ACL, installed whole or not at all.
    void syncTrapRule(const std::string& intf, const Ip::Nat::DynamicKey& key);
    void syncTrapRulesNaming(const std::string& acl, const std::string& pool);
    bool installTrapRule(const Ip::Nat::DynamicKey& key, const AppliedTrap& t);
    void publishTrapRule(const DynamicRuleId& id, std::optional<bool> programmed,
                         const std::string& reason = {});
    Ert::Ptr<Ip::Nat::HwVrfStatus> hwVrf(const std::string& vrf);
    uint32_t nextHopOf(Ip::IpAddr addr) const;

    const NatSmInputs in_;
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
    std::unique_ptr<DynamicReactor> dynamicReactor_;
    std::unordered_map<Ip::Nat::DynamicConnectionKey, AppliedAs<Ip::Nat::DynamicConnection>>
        appliedConns_;
    std::map<Ip::Nat::TwiceNatKey, AppliedAs<Ip::Nat::TwiceNatTranslation>> appliedTwice_;
    std::map<Ip::Nat::NatFlowKey, AppliedAs<Ip::Nat::NatFlowEntry>> appliedFlows_;
    std::map<DynamicRuleId, AppliedTrap> appliedTraps_;
    // Address-only entries match no VRF: the programmed connection holding each (tuple,
    // direction, profile), which connections of other VRFs cannot share.
    std::map<std::tuple<Ip::ConnTuple, Ip::Nat::NatTarget, uint16_t>, Ip::Nat::DynamicConnectionKey>
        addrOnlyHolders_;
    // Twice-NAT translations as the chip matches them (ports evened out, no protocol, no
    // profile): the published translation that holds each.
    std::map<Ip::Nat::TwiceNatKey, Ip::Nat::TwiceNatKey> twiceHolders_;
    std::string refusal_;
    DynamicStats dynamicStats_;
    Ert::Ptr<Tasking::TimerTask> activityPoll_;
};

} // namespace Oma

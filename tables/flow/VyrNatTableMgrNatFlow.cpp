#include "tables/flow/VyrNatTableMgrNatFlow.h"

#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "host/Trace.h"

#include <limits>

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatTableMgrNatFlow");

// The table matches the low byte of the 16-bit profile field.
constexpr uint16_t kProfileMask = 0x00ff;

Ip::Prefix masked(Ip::Prefix p) {
    return {Ip::IpAddr(p.addr.value & Ip::IpAddrWithFullMask::maskOfLength(p.len)), p.len};
}

} // namespace

const HwNatFlowKey VyrNatTableMgrNatFlow::kDefaultOwner;

VyrNatTableMgrNatFlow::VyrNatTableMgrNatFlow(VyrAgentLib::VyrTableMgr* tableMgr,
                                             Ert::Ptr<Config> vyrNatConfig,
                                             Ert::Ptr<Ert::Dir> vyrMcastConfigDir,
                                             Ert::Ptr<VyrSystem::SystemStatus> systemStatus)
    : NatTableManager(tableMgr, th), vyrNatConfig_(std::move(vyrNatConfig)),
      vyrMcastConfigDir_(std::move(vyrMcastConfigDir)), systemStatus_(std::move(systemStatus)) {
    tables_.add("natFlow", natFlowTable_, VyrP4::natFlowTableFactory);
    tables_.onCreated("natFlow", [this](const TableCreation&) { initNatFlowTable(); });
    handleInitialized();
}

void VyrNatTableMgrNatFlow::handleInitialized() {
    const auto& caps = tableMgr()->profileCapabilities();
    VYR_ASSERT(caps.natFlowSupported());
    natFlowTableSize_ = caps.natFlowTableSize();
    VTRACE(th, 0, "Nat flow table size: " << natFlowTableSize_);
    if (natFlowTable_) {
        initNatFlowTable();
    }
}

std::vector<RecordCount> VyrNatTableMgrNatFlow::recordCounts() const {
    return {{" tmnf->hwNatFlowEntrys() ", hwNatFlowEntry_.size()}};
}

HwNatFlowMatchSpecKey VyrNatTableMgrNatFlow::defaultEntryKey() {
    HwNatFlowMatchSpecKey k;
    k.ucMcMask = 1;
    return k;
}

VyrP4::NatFlowMatchSpec VyrNatTableMgrNatFlow::natFlowMatchSpec(const HwNatFlowMatchSpecKey& key,
                                                                int32_t priority) {
    VyrP4::NatFlowMatchSpec ms;
    ms.ingMdNatProfileIdIs(key.profile, kProfileMask);
    ms.l3InfoUnicastIs(key.uc, key.ucMcMask);
    ms.l3InfoMulticastIs(key.mc, key.ucMcMask);
    ms.outerIpv4HdrSipIs(key.sip.addr.value, Ip::IpAddrWithFullMask::maskOfLength(key.sip.len));
    ms.outerIpv4HdrDipIs(key.dip.addr.value, Ip::IpAddrWithFullMask::maskOfLength(key.dip.len));
    ms.l4PortHdrSrcPortIs(key.srcPort, key.srcPortMask);
    ms.l4PortHdrDstPortIs(key.dstPort, key.dstPortMask);
    ms.outerIpv4HdrProtocolIs(key.protocol, key.protocol ? 0xff : 0);
    ms.priorityIs(priority);
    return ms;
}

VyrP4::NatFlowMatchSpec VyrNatTableMgrNatFlow::defaultEntryMatchSpec() {
    // Neither unicast nor multicast, and nothing else: priority 0, below every flow.
    VyrP4::NatFlowMatchSpec ms;
    ms.l3InfoUnicastIs(0, 1);
    ms.l3InfoMulticastIs(0, 1);
    return ms;
}

void VyrNatTableMgrNatFlow::initNatFlowTable() {
    const VyrP4::NatFlowMatchSpec ms = defaultEntryMatchSpec();
    const WriteRefusal refused =
        tableWriteRefused([&] { natFlowTable_->entryIs(ms, VyrP4::OnMissActionSpec()); });
    VYR_CHECK(!refused, "the natFlow table takes its default entry");
    hwEntries_.insert_or_assign(defaultEntryKey(), &kDefaultOwner);
    VTRACE(th, 0, "Added default entry: " << ms);
}

const char* VyrNatTableMgrNatFlow::unfit(uint32_t result, Ip::Prefix src, Ip::Prefix dst,
                                         uint16_t srcPortStart, uint16_t srcPortEnd,
                                         uint16_t dstPortStart, uint16_t dstPortEnd,
                                         uint32_t priority, uint16_t profile, uint8_t uc,
                                         uint8_t mc, uint8_t ucMcMask) {
    if (result > 0xffff) {
        return "result beyond the table's 16-bit result field";
    }
    // The entry priority is one above the flow's, in the chip's signed 32-bit priority word.
    if (priority >= uint32_t(std::numeric_limits<int32_t>::max())) {
        return "priority beyond the table's priority range";
    }
    if (profile > kProfileMask) {
        return "profile beyond the 8 bits the table matches";
    }
    if (uc > 1 || mc > 1 || ucMcMask > 1) {
        return "unicast or multicast bit other than 0 or 1";
    }
    if (src.len > 32 || dst.len > 32) {
        return "prefix longer than 32 bits";
    }
    if (srcPortEnd < srcPortStart || dstPortEnd < dstPortStart) {
        return "port range ending below its start";
    }
    return nullptr;
}

bool VyrNatTableMgrNatFlow::createNatFlowTable(const HwNatFlowKey& key, uint32_t result,
                                               Ip::Prefix src, Ip::Prefix dst,
                                               uint16_t srcPortStart, uint16_t srcPortEnd,
                                               uint16_t dstPortStart, uint16_t dstPortEnd,
                                               uint8_t protocol, uint32_t priority, uint8_t uc,
                                               uint8_t mc, uint8_t ucMcMask) {
    VTRACE(th, 5,
           "createNatFlowTable"
               << ", key: " << key.str() << ", result: " << result << ", src: " << src.toString()
               << ", dst: " << dst.toString() << ", srcPorts: " << srcPortStart << "-" << srcPortEnd
               << ", dstPorts: " << dstPortStart << "-" << dstPortEnd << ", protocol: "
               << unsigned(protocol) << ", priority: " << priority << ", uc: " << unsigned(uc)
               << ", mc: " << unsigned(mc) << ", ucMcMask: " << unsigned(ucMcMask));
    if (const char* why = unfit(result, src, dst, srcPortStart, srcPortEnd, dstPortStart,
                                dstPortEnd, priority, key.profile, uc, mc, ucMcMask)) {
        VTRACE(th, 1, "Flow refused: " << why);
        refusalIs(why);
        return false;
    }
    if (!natFlowTable_) {
        VTRACE(th, 1, "Nat flow table not initialized");
        refusalIs("the natFlow table is not initialized");
        return false;
    }
    const PortMaskSet srcMasks = portRangeToMasks(srcPortStart, srcPortEnd);
    const PortMaskSet dstMasks = portRangeToMasks(dstPortStart, dstPortEnd);

    // One key, its ports set pair by pair.
    HwNatFlowMatchSpecKey hk;
    hk.uc = uint8_t(uc & ucMcMask);
    hk.mc = uint8_t(mc & ucMcMask);
    hk.ucMcMask = ucMcMask;
    hk.profile = key.profile;
    hk.sip = masked(src);
    hk.dip = masked(dst);
    hk.protocol = protocol;
    auto forEachPair = [&](auto&& fn) {
        for (const PortMask& s : srcMasks) {
            hk.srcPort = s.port;
            hk.srcPortMask = s.mask;
            for (const PortMask& d : dstMasks) {
                hk.dstPort = d.port;
                hk.dstPortMask = d.mask;
                if (!fn()) {
                    return false;
                }
            }
        }
        return true;
    };

    // Nothing is written unless every entry is new.
    const bool fresh = forEachPair([&] {
        auto held = hwEntries_.find(hk);
        if (held == hwEntries_.end()) {
            return true;
        }
        const HwNatFlowKey& owner = *held->second;
        VTRACE(th, 1, "Duplicate entry detected. Key: " << key.str() << ", flow: " << hk.str());
        Log::raise(natFlowRangeOverlap(), std::to_string(key.profile), owner.policy, owner.match,
                   key.policy, key.match, hk.str());
        refusalIs("overlaps flow " + owner.policy + "/" + owner.match);
        return false;
    });
    if (!fresh) {
        return false;
    }

    auto flow = hwNatFlowEntry_.try_emplace(key).first;
    HwNatFlowEntry& entry = flow->second;
    const std::size_t pairs = srcMasks.size() * dstMasks.size();
    entry.entryReserve(pairs);
    hwEntries_.reserve(hwEntries_.size() + pairs);
    VyrP4::SetNatFlowResultActionSpec resultSpec;
    resultSpec.natFlowResultIs(result);
    const VyrP4::NatFlowTable::Action action = resultSpec;
    const int32_t entryPriority = int32_t(priority + 1);
    WriteRefusal refused;
    forEachPair([&] {
        const VyrP4::NatFlowMatchSpec ms = natFlowMatchSpec(hk, entryPriority);
        refused = tableWriteRefused([&] { natFlowTable_->entryIs(ms, action); });
        if (refused) {
            return false;
        }
        entry.entryIs(hk, ms);
        hwEntries_.emplace(hk, &flow->first);
        VTRACE(th, 7, "Added entry: " << hk.str());
        return true;
    });
    if (refused) {
        VTRACE(th, 1, "Nat flow table error: " << refused.name());
        refusalIs(refused);
        // A flow whose first entry was refused holds nothing: it is not kept as a record.
        if (entry.entry().empty()) {
            hwNatFlowEntry_.erase(flow);
        }
        return false;
    }
    VTRACE(th, 5,
           "Flow entries; " << entry.entry().size() << ", hw entries total: " << hwEntries_.size());
    return true;
}

bool VyrNatTableMgrNatFlow::deleteNatFlowTable(const HwNatFlowKey& key) {
    VTRACE(th, 5,
           "deleteNatFlowTable"
               << ", key: " << key.str());
    auto flow = hwNatFlowEntry_.find(key);
    if (flow == hwNatFlowEntry_.end()) {
        VTRACE(th, 1, "NAT flow entry not found");
        return false;
    }
    for (const auto& [hk, ms] : flow->second.entry()) {
        natFlowTable_->entryDel(ms);
        hwEntries_.erase(hk);
        VTRACE(th, 7, "Deleted entry: " << hk.str());
    }
    hwNatFlowEntry_.erase(flow);
    VTRACE(th, 5,
           "Flow entries: " << hwNatFlowEntry_.size()
                            << ", Hw entries left: " << hwEntries_.size());
    return true;
}

Ert::Ptr<VyrNatTableMgrNatFlow>
vyrNatTableMgrNatFlowFactory(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                             Ert::Ptr<Ert::Dir> vyrMcastConfigDir,
                             Ert::Ptr<VyrSystem::SystemStatus> systemStatus) {
    return Ert::make<VyrNatTableMgrNatFlow>(tableMgr, std::move(vyrNatConfig),
                                            std::move(vyrMcastConfigDir), std::move(systemStatus));
}

} // namespace VyrNat

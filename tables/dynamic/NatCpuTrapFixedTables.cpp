// The fixed trap tables, written once as the table service builds each: the TCP control packets
// of new connections that go to the CPU, their reason codes, and the header a trapped packet
// carries.

#include "common/TableWrite.h"
#include "host/Assert.h"
#include "host/Trace.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <ios>

namespace VyrNat {

namespace {

constexpr uint8_t kTcpFin = 0x01;
constexpr uint8_t kTcpSyn = 0x02;
constexpr uint8_t kTcpRst = 0x04;
constexpr uint8_t kTcpAck = 0x10;

// Nothing else is in these tables yet, so a refused write is a fault of the program.
template <class Write> void writeFixed(const char* what, Write&& write) {
    const WriteRefusal refused = tableWriteRefused(std::forward<Write>(write));
    VYR_CHECK(!refused, std::string(what) + ": " + refused.reason());
}

} // namespace

void VyrNatTableMgrDynamic::initTrapTablesOnCreation() {
    tables_.onCreated("natTcpFlags", [this](const TableCreation&) { initNatTcpFlagsTable(); });
    tables_.onCreated("natCpuReasonCode",
                      [this](const TableCreation&) { initNatCpuReasonCodeTable(); });
    tables_.onCreated("egressNatCpuTrapHeader",
                      [this](const TableCreation&) { initEgressNatCpuTrapHeaderTable(); });
}

void VyrNatTableMgrDynamic::initNatTcpFlagsTable() {
    // The configuration as it is now: a change of it restarts the agent.
    natTcpSynAckTrapped_ = natConfig_ && natConfig_->natTcpSynAckRequired();
    VTRACE(dynamicTrace, 0, "initNatTcpFlagsTable synAck: " << natTcpSynAckTrapped_);
    addNatTcpFlagsEntry(kTcpFin);
    addNatTcpFlagsEntry(kTcpFin | kTcpAck);
    addNatTcpFlagsEntry(kTcpSyn);
    if (natTcpSynAckTrapped_) {
        addNatTcpFlagsEntry(kTcpSyn | kTcpAck);
    }
    addNatTcpFlagsEntry(kTcpRst);
    addNatTcpFlagsEntry(kTcpRst | kTcpAck);
}

void VyrNatTableMgrDynamic::addNatTcpFlagsEntry(uint8_t flags) {
    VTRACE(dynamicTrace, 5,
           "addNatTcpFlagsEntry"
               << ", flags: 0x" << std::hex << unsigned(flags) << std::dec);
    VYR_ASSERT(natTcpFlagsTable());
    VyrP4::NatTcpFlagsMatchSpec ms;
    ms.tcpHdrFlagsIs(flags);
    writeFixed("addNatTcpFlagsEntry",
               [&] { natTcpFlags_->entryIs(ms, VyrP4::SetNatTcpFlagsActionSpec()); });
}

void VyrNatTableMgrDynamic::initNatCpuReasonCodeTable() {
    VYR_ASSERT(natCpuReasonCodeTable());
    for (uint8_t flagClass : {kTcpSyn, kTcpFin, kTcpRst}) {
        VTRACE(dynamicTrace, 5,
               "initNatCpuReasonCodeTable"
                   << ", flags: 0x" << std::hex << unsigned(flagClass) << std::dec);
        VyrP4::NatCpuReasonCodeMatchSpec ms;
        ms.ingMdNatTcpFlagsIs(flagClass, flagClass);
        ms.ingMdNatCpuTrapIs(1, 1);
        writeFixed("initNatCpuReasonCodeTable", [&] {
            natCpuReasonCode_->entryIs(ms, VyrP4::SetTcpFlagsCpuReasonCodeActionSpec());
        });
    }
}

void VyrNatTableMgrDynamic::initEgressNatCpuTrapHeaderTable() {
    VYR_ASSERT(egressNatCpuTrapHeaderTable());
    initEgressNatCpuTrapHeaderEntry(1, 0, VyrP4::SetNatCpuHeaderSnatActionSpec());
    initEgressNatCpuTrapHeaderEntry(0, 1, VyrP4::SetNatCpuHeaderDnatActionSpec());
    initEgressNatCpuTrapHeaderEntry(1, 1, VyrP4::SetNatCpuHeaderTwiceActionSpec());
}

void VyrNatTableMgrDynamic::initEgressNatCpuTrapHeaderEntry(
    uint8_t aclHi, uint8_t aclLo, const VyrP4::EgressNatCpuTrapHeaderTable::Action& action) {
    static constexpr const char* kActions[] = {"SetNatCpuHeaderSnat", "SetNatCpuHeaderDnat",
                                               "SetNatCpuHeaderTwice"};
    VTRACE(dynamicTrace, 5,
           "initEgressNatCpuTrapHeaderEntry"
               << ", aclHi: " << unsigned(aclHi) << ", aclLo: " << unsigned(aclLo)
               << ", action: " << kActions[action.index()]);
    VyrP4::EgressNatCpuTrapHeaderMatchSpec ms;
    ms.aclHiIs(aclHi);
    ms.aclLoIs(aclLo);
    writeFixed("initEgressNatCpuTrapHeaderEntry",
               [&] { egressNatCpuTrapHeader_->entryIs(ms, action); });
}

} // namespace VyrNat

#pragma once
// What the owner asks of every NAT table manager. A manager declares its tables once in
// `tables_`; listing them, building each when the table service brings it up and the figures of
// the show commands all come from that list. The owner, reached as the host's table-manager
// base, is not owned.

#include "common/TableList.h"
#include "common/TableWrite.h"
#include "host/OmaNatSm.h"
#include "host/Ptr.h"
#include "host/TableService.h"
#include "host/Trace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace VyrNat {

// A collection holding programmed state, under the label the clean-state check prints.
struct RecordCount {
    const char* label;
    std::size_t count;
    // False for records that the agent's clean-state check leaves out; tests still count them.
    bool cleanStateChecked = true;
};

class NatTableManager : public Ert::RefCounted {
public:
    // Lists the tables the profile has with the table service; returns how many.
    uint8_t updateTableList() { return tables_.listWith(tableMgr_); }
    // Builds the table object of `tableKey`'s name; false for a name not of this manager.
    bool initializeTable(const VyrP4::TableKey& tableKey, VyrP4::DeviceHandle handle,
                         const VyrDriver::VyrDevProfile& profile, uint32_t count,
                         MbbMirraKey::MirraKeyManager* keyManager,
                         VyrTableStatusManager::StatusManager* statusManager);

    // The NAT state machine's status object, where managers that keep unprogrammed entries
    // record them; handed over when the state machines start.
    const Ert::Ptr<Oma::NatSmStatus>& omaNatSmStatus() const { return omaNatSmStatus_; }
    void omaNatSmStatusIs(Ert::Ptr<Oma::NatSmStatus> s) { omaNatSmStatus_ = std::move(s); }

    // The collections that hold programmed state, with their sizes; all 0 once everything the
    // manager programmed is released.
    virtual std::vector<RecordCount> recordCounts() const = 0;

    // The manager's part of "showNatSummary", written to the request socket `fd`.
    virtual void showSummary(int fd) const;

    VyrAgentLib::VyrTableMgr* tableMgr() const { return tableMgr_; }
    const TableList& tables() const { return tables_; }

    // Why the manager last refused a translation ("duplicate", "Table full in addrOnlySnat",
    // ...): the NAT helper passes it on with its false. Set only on a refusal, so that the
    // operations that succeed pay nothing for it.
    const std::string& refusal() const { return refusal_; }
    void refusalIs(std::string why) { refusal_ = std::move(why); }
    void refusalIs(const WriteRefusal& refused) { refusal_ = refused.reason(); }
    void refusalDel() { refusal_.clear(); }

protected:
    // `tableMgr` is the owner, which owns this manager; `trace` is the manager's trace handle.
    NatTableManager(VyrAgentLib::VyrTableMgr* tableMgr, Trace::Handle& trace);

    TableList tables_;

private:
    VyrAgentLib::VyrTableMgr* tableMgr_; // not owned
    Trace::Handle& trace_;
    Ert::Ptr<Oma::NatSmStatus> omaNatSmStatus_;
    std::string refusal_;
};

} // namespace VyrNat

// The NAT helper's part of the CLI and of the agent's clean-state check.

#include "helper/VyrNatHelper.h"

#include <cinttypes>
#include <cstdio>

namespace VyrNat {

void NatHelper::showSummary(int fd) const {
    dprintf(fd, "NAT helper\n");
    dprintf(fd, "----------\n");
    dprintf(fd,
            "Dynamic translations added: %" PRIu64 " sNAT, %" PRIu64 " dNAT (%" PRIu64
            " dNAT updates)\n",
            dynSrcAdd(), dynDstAdd(), dynDstUpd());
    dprintf(fd, "Dynamic translations deleted: %" PRIu64 " sNAT, %" PRIu64 " dNAT\n", dynSrcDel(),
            dynDstDel());
    dprintf(fd, "CPU trap rules: %zu (ACL priorities mapped: %zu, respreads: %u)\n",
            hwNatCpuTrapAclKeyToPrio_.size(), trapPrio_.prioToHwPriorityMapped().size(),
            redistributeTrapRulesHwPriorityCount_);
    dprintf(fd, "Overload reverse trap profiles: %zu\n", overloadRvsEntries_.size());
    if (natHelperSm_) {
        natHelperSm_->showLearningRates(fd);
    }
    dprintf(fd, "\n");
}

std::vector<RecordCount> NatHelper::recordCounts() const {
    return {{" prioToHwPriorityMappeds() ", trapPrio_.prioToHwPriorityMapped().size()},
            {" prioToTrapRulePrioAndNames() ", trapPrio_.prioToTrapRulePrioAndName().size()},
            {" hwNatCpuTrapAclKeyToPrios() ", hwNatCpuTrapAclKeyToPrio_.size()}};
}

} // namespace VyrNat

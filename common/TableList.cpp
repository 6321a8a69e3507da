#include "common/TableList.h"

#include "host/Assert.h"

namespace VyrNat {

void TableList::onCreated(const char* name, Then then) {
    for (Decl& d : decls_) {
        if (std::string_view(d.name) == name) {
            d.then = std::move(then);
            return;
        }
    }
    VYR_FAIL(std::string("onCreated for an undeclared table ") + name);
}

uint8_t TableList::listWith(VyrAgentLib::VyrTableMgr* owner) const {
    uint8_t count = 0;
    for (const Decl& d : decls_) {
        if (!d.listed || d.listed()) {
            owner->hwTablesIs(d.name, d.scope, true, true, false, owner);
            ++count;
        }
    }
    return count;
}

bool TableList::create(const TableCreation& c) const {
    for (const Decl& d : decls_) {
        if (c.tableKey.name == d.name) {
            d.create(c);
            if (d.then) {
                d.then(c);
            }
            return true;
        }
    }
    return false;
}

std::vector<TableList::Built> TableList::built() const {
    std::vector<Built> out;
    for (const Decl& d : decls_) {
        if (const VyrP4::TableEngine* e = d.engine()) {
            out.push_back({d.name, e});
        }
    }
    return out;
}

std::size_t TableList::entryCount() const {
    std::size_t n = 0;
    for (const Built& b : built()) {
        n += b.engine->entryCount();
    }
    return n;
}

} // namespace VyrNat

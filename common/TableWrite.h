#pragma once
// Table writes the service may refuse. A full table or exhausted chip resources come as an
// exception; the managers catch it where they write and turn it into a result, so that nothing
// is recorded for an entry the chip does not hold.

#include "chip/Engine.h"

#include <string>
#include <utility>

namespace VyrNat {

// Why the table service refused a write; false when it did not.
class WriteRefusal {
public:
    WriteRefusal() = default;
    WriteRefusal(VyrP4::ChipError error, const char* table) : error_(error), table_(table) {}

    explicit operator bool() const { return error_ != VyrP4::ChipError::ok; }
    VyrP4::ChipError error() const { return error_; }
    // The fault's short name: "tableFull", "noSysResources".
    const char* name() const { return VyrP4::chipErrorStr(error_); }
    // As traces say it: "Table full", "No system resources", "Entry exists".
    const char* text() const {
        switch (error_) {
        case VyrP4::ChipError::noSysResources:
            return "No system resources";
        case VyrP4::ChipError::entryExists:
            return "Entry exists";
        default:
            return "Table full";
        }
    }
    // The table is out of room or resources, as opposed to holding the entry already.
    bool outOfResource() const {
        return error_ == VyrP4::ChipError::tableFull || error_ == VyrP4::ChipError::noSysResources;
    }
    // What the host reports of a translation refused for it: "Table full in addrOnlySnat".
    std::string reason() const { return std::string(text()) + " in " + table_; }

private:
    VyrP4::ChipError error_ = VyrP4::ChipError::ok;
    const char* table_ = ""; // static, as table names are
};

// Runs `write`; returns the refusal when the service refused it. Any other fault of the table
// service passes on.
template <class Write> WriteRefusal tableWriteRefused(Write&& write) {
    try {
        std::forward<Write>(write)();
        return {};
    } catch (const VyrP4::TableError& e) {
        return WriteRefusal(e.error(), e.table());
    }
}

} // namespace VyrNat

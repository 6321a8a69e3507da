#pragma once
// Table writes that may be refused for lack of room. The table service reports a full table or
// exhausted chip resources by exception; managers turn either into a result.

#include "chip/Engine.h"

#include <utility>

namespace VyrNat {

// Runs `write`; returns null when it succeeded, else the refusal's name ("tableFull" or
// "noSysResources"). Any other fault of the table service passes on.
template <class Write> const char* tableWriteRefused(Write&& write) {
    try {
        std::forward<Write>(write)();
        return nullptr;
    } catch (const VyrP4::TableFull& e) {
        return e.name();
    } catch (const VyrP4::NoSysResources& e) {
        return e.name();
    }
}

} // namespace VyrNat

#pragma once
// The host's hit-bit service as the agent sees it: the scan configuration it writes.

#include "host/Entity.h"

namespace VyrSystem {

class HitBitConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSystem::HitBitConfig")
};

} // namespace VyrSystem

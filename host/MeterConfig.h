#pragma once
// The shared meter configuration: meter tables registered by name, and the meters of every pipe.

#include "host/Entity.h"

#include <cstdint>
#include <string>

namespace VyrSharedState {

// Where a meter table is programmed: one pipe of the chip.
struct DeviceTarget {
    uint8_t pipe = 0;
    bool operator==(const DeviceTarget&) const = default;
};

// A meter table registered by the table manager that uses it.
struct MeterTableReg {
    DeviceTarget deviceTarget;
    bool active = false;
    uint32_t scope = 0; // meter scope; 0: the meters are indexed across the whole table
    bool operator==(const MeterTableReg&) const = default;
};

// One meter: rate and burst as the policer asks for them.
struct MeterConfig {
    uint32_t rate = 0;
    uint32_t burst = 0;
    bool flag = false;
    bool operator==(const MeterConfig&) const = default;
};

// The meters of one pipe, by meter index.
class MeterPipeConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSharedState::MeterPipeConfig")
    Ert::Collection<uint32_t, MeterConfig> config{this, "config"};
    void configIs(uint32_t index, uint32_t rate, uint32_t burst, bool flag) {
        config.set(index, MeterConfig{rate, burst, flag});
    }
    void configDel(uint32_t index) { config.erase(index); }
};

// The shared meter configuration: the meter tables registered by name, and the meters of every
// pipe. The emulated chip has one pipe; a test adds more with pipeConfigIs.
class MeterTableConfig : public Ert::Entity {
public:
    explicit MeterTableConfig(std::string name = {}) : Entity(std::move(name)) { pipeConfigIs(0); }
    ERT_ENTITY_TYPE("VyrSharedState::MeterTableConfig")

    Ert::Collection<std::string, MeterTableReg> meterTable{this, "meterTable"};
    Ert::Collection<uint8_t, Ert::Ptr<MeterPipeConfig>> pipeConfig{this, "pipeConfig"};

    void configIs(DeviceTarget target, bool active, const std::string& name, uint32_t scope) {
        meterTable.set(name, MeterTableReg{target, active, scope});
    }
    // The meters of `pipe`, made on first use.
    const Ert::Ptr<MeterPipeConfig>& pipeConfigIs(uint8_t pipe) {
        if (!pipeConfig.has(pipe)) {
            pipeConfig.set(pipe, Ert::make<MeterPipeConfig>(name() + "/" + std::to_string(pipe)));
        }
        return *pipeConfig.find(pipe);
    }
};

} // namespace VyrSharedState

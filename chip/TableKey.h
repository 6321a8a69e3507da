#pragma once
// The small types the hardware table service hands to every table factory.

#include <cstdint>
#include <set>
#include <string>

namespace VyrP4 {

class Chip;

// The device a table is made on (not owned; the chip outlives the service's use of it).
using DeviceHandle = Chip*;

// Identifies one table the service brings up: its name and two values of the service's own
// (for example the pipe and the table's slot), passed through to the factory.
struct TableKey {
    std::string name;
    std::uint8_t key8 = 0;
    std::uint16_t key16 = 0;
    bool operator==(const TableKey&) const = default;
    auto operator<=>(const TableKey&) const = default;
    std::string str() const {
        return name + "/" + std::to_string(key8) + "/" + std::to_string(key16);
    }
};

} // namespace VyrP4

namespace MbbMirraKey {

// The service's key manager. The emulated chip needs no keys of its own; it counts the tables
// made under it so that a test can see the service passed it on.
class MirraKeyManager {
public:
    std::uint32_t tableCount() const { return tableCount_; }
    void tableCountInc() { ++tableCount_; }

private:
    std::uint32_t tableCount_ = 0;
};

} // namespace MbbMirraKey

namespace VyrTableStatusManager {

// The service's status manager: remembers which tables were made.
class StatusManager {
public:
    void tableCreatedIs(const std::string& name) { created_.insert(name); }
    bool tableCreated(const std::string& name) const { return created_.count(name) != 0; }
    std::size_t tableCreatedCount() const { return created_.size(); }

private:
    std::set<std::string> created_;
};

} // namespace VyrTableStatusManager

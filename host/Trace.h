#pragma once
// Levelled trace, one handle per source unit, levels 0 to 9. The environment variable
// VYRNAT_TRACE switches handles on, e.g. "VyrNatHelper/0-9,VyrNatTableMgr*/0-3"; lines go to
// the file named by VYRNAT_TRACE_FILE, or to stderr. A line whose level is off costs one test of
// the handle's mask and formats nothing.

#include <cstdint>
#include <iosfwd>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace Trace {

class Handle {
public:
    explicit Handle(const char* name);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const char* name() const { return name_; }
    bool enabled(int level) const { return (mask_ >> level) & 1u; }
    uint16_t mask() const { return mask_; }
    void maskIs(uint16_t mask) { mask_ = mask; }

private:
    const char* name_;
    uint16_t mask_ = 0;
};

// Applies a setting to every handle, present and later ones, replacing the previous setting.
// Grammar: items separated by ','; an item is a name pattern ('*' matches any run of
// characters) optionally followed by '/' and a level ("5") or level range ("0-3"); without
// levels all ten are on. Returns an error text, empty on success; a bad setting changes nothing.
std::string configure(std::string_view setting);

// The patterns of the setting in force that match no handle registered so far.
std::vector<std::string> unmatched();
// Says on stderr which patterns of the setting in force match no handle, once per setting.
// Handles register as their units are loaded: those of a library only when it is loaded, so a
// setting read at start-up cannot be checked then. The host calls this when it starts an agent,
// when every handle the agent has exists; configure() does not, as its caller may load more.
void reportUnmatched();

// Reads VYRNAT_TRACE and VYRNAT_TRACE_FILE again (done once at start-up). A bad value is
// reported on stderr and returned; it leaves the previous setting in force.
std::string applyEnvironment();

// Sends lines to `os` (null: back to stderr). Tests use this to capture trace.
void streamIs(std::ostream* os);
// Sends lines to a file; returns an error text, empty on success.
std::string fileIs(const std::string& path);

void write(int level, const char* function, std::string_view text);

// Collects one line and writes it when destroyed.
class Line {
public:
    Line(int level, const char* function) : level_(level), function_(function) {
        os << std::boolalpha;
    }
    ~Line() { write(level_, function_, os.str()); }
    std::ostringstream os;

private:
    int level_;
    const char* function_;
};

} // namespace Trace

// VTRACE(handle, level, "Nat: " << nat << ", intf nat: " << intfNat)
#define VTRACE(handle, level, expr)                                                                \
    do {                                                                                           \
        if ((handle).enabled(level)) [[unlikely]] {                                                \
            ::Trace::Line vtraceLine_((level), __func__);                                          \
            vtraceLine_.os << expr;                                                                \
        }                                                                                          \
    } while (0)

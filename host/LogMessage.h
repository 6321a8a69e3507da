#pragma once
// The host's log messages. Each kind is registered once, at library load, with its texts and the
// least interval between two messages written; a kind raised again within its interval is
// counted as suppressed instead of written. Times come from the current event loop.

#include "host/Format.h"

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace Log {

// The host's standard recommended action for messages that need none.
extern const char* const kNoActionRequired;

struct MessageDef {
    const char* name;
    int severity;
    const char* format;
    const char* explanation;
    const char* recommendedAction;
    double minIntervalSeconds;
    double further; // the host's further value, registered beside the interval
};

class Message {
public:
    const MessageDef& def() const { return def_; }
    uint64_t raisedCount() const { return raised_; }
    uint64_t suppressedCount() const { return suppressed_; }

private:
    friend Message& registerMessage(const MessageDef&);
    friend void raiseFormatted(Message&, std::span<const Host::FmtArg>);
    friend void reset();
    explicit Message(const MessageDef& d) : def_(d) {}
    MessageDef def_;
    uint64_t raised_ = 0;
    uint64_t suppressed_ = 0;
    bool everWritten_ = false;
    double lastWritten_ = 0;
};

// Registers a kind; registering the same name again returns the existing one.
Message& registerMessage(const MessageDef& def);
const Message* findMessage(const std::string& name);

void raiseFormatted(Message& m, std::span<const Host::FmtArg> args);
template <class... A> void raise(Message& m, const A&... args) {
    const Host::FmtArg list[] = {Host::FmtArg(args)..., Host::FmtArg(0)};
    raiseFormatted(m, std::span<const Host::FmtArg>(list, sizeof...(A)));
}

// What was written, for tests and the host tool.
struct Written {
    std::string name;
    int severity;
    std::string text;
    double time;
};
const std::vector<Written>& written();
// Forgets what was written and every kind's counts and last time (kinds stay registered).
void reset();
// Lines also go to this stream (null: nowhere), as "%NAME-SEVERITY: text".
void streamIs(std::ostream* os);

} // namespace Log

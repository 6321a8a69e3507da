#include "host/LogMessage.h"

#include "host/EventLoop.h"

#include <map>
#include <memory>
#include <ostream>

namespace Log {

const char* const kNoActionRequired = "No action is required.";

namespace {
struct Registry {
    std::map<std::string, std::unique_ptr<Message>> messages;
    std::vector<Written> written;
    std::ostream* out = nullptr;
};
Registry& registry() {
    static Registry r;
    return r;
}
} // namespace

Message& registerMessage(const MessageDef& def) {
    auto& slot = registry().messages[def.name];
    if (!slot) {
        slot.reset(new Message(def));
    }
    return *slot;
}

const Message* findMessage(const std::string& name) {
    auto& ms = registry().messages;
    auto it = ms.find(name);
    return it == ms.end() ? nullptr : it->second.get();
}

void raiseFormatted(Message& m, std::span<const Host::FmtArg> args) {
    ++m.raised_;
    auto* loop = Tasking::EventLoop::currentOrNull();
    const double now = loop ? loop->nowSeconds() : 0.0;
    if (m.everWritten_ && now - m.lastWritten_ < m.def_.minIntervalSeconds) {
        ++m.suppressed_;
        return;
    }
    m.everWritten_ = true;
    m.lastWritten_ = now;
    Registry& r = registry();
    r.written.push_back(
        {m.def_.name, m.def_.severity, Host::formatPrintf(m.def_.format, args), now});
    if (r.out) {
        *r.out << '%' << m.def_.name << '-' << m.def_.severity << ": " << r.written.back().text
               << '\n';
    }
}

const std::vector<Written>& written() {
    return registry().written;
}
void reset() {
    Registry& r = registry();
    r.written.clear();
    for (auto& [name, m] : r.messages) {
        m->raised_ = 0;
        m->suppressed_ = 0;
        m->everWritten_ = false;
        m->lastWritten_ = 0;
    }
}
void streamIs(std::ostream* os) {
    registry().out = os;
}

} // namespace Log

#include "host/Entity.h"

#include <algorithm>

namespace Ert {

AttrBase::AttrBase(Entity* owner, const char* name) : owner_(owner), name_(name) {}

Entity::~Entity() {
    // Reactors hold their entity, so none can be left here.
    VYR_ASSERT(reactors_.empty());
}

ReactorBase::~ReactorBase() {
    attach(nullptr);
}

void ReactorBase::attach(Ptr<Entity> e) {
    if (e == entity_) {
        return;
    }
    if (entity_) {
        auto& list = entity_->reactors_;
        list.erase(std::find(list.begin(), list.end(), this));
    }
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->cancel(this);
    }
    entity_ = std::move(e);
    if (entity_) {
        entity_->reactors_.push_back(this);
    }
}

} // namespace Ert

#pragma once
// Entities of the state database: reference-counted objects with named attributes and keyed
// collections. Reactors follow an entity and are told of every change of an attribute or of a
// collection entry, one at a time on the event loop, in the order of the changes, and only when
// a value really changes.

#include "host/Assert.h"
#include "host/EventLoop.h"
#include "host/Ptr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

namespace Ert {

class Entity;
class ReactorBase;

// Gives an entity class its host type name, e.g. ERT_ENTITY_TYPE("Ip::Nat::Config").
#define ERT_ENTITY_TYPE(nameText)                                                                  \
    static constexpr const char* kTypeName = nameText;                                             \
    const char* typeName() const override {                                                        \
        return kTypeName;                                                                          \
    }

class AttrBase {
public:
    AttrBase(Entity* owner, const char* name);
    AttrBase(const AttrBase&) = delete;
    AttrBase& operator=(const AttrBase&) = delete;
    const char* name() const { return name_; }
    Entity& owner() const { return *owner_; }

protected:
    // Queue a notification for every reactor that handles this attribute.
    void notify() const;
    template <class K> void notifyKey(const K& key) const;

private:
    template <class MakeCall> void postToHandlers(MakeCall makeCall) const;

    Entity* owner_;
    const char* name_;
};

class Entity : public RefCounted {
public:
    explicit Entity(std::string name = {}) : name_(std::move(name)) {}
    ~Entity() override;

    virtual const char* typeName() const = 0;
    const std::string& name() const { return name_; }
    std::size_t reactorCount() const { return reactors_.size(); }

private:
    friend class AttrBase;
    friend class ReactorBase;
    std::string name_;
    std::vector<ReactorBase*> reactors_;
};

// A directory entity: a typed placeholder for a state-database directory.
class Dir : public Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ert::Dir")
};

// A single-valued attribute. T needs operator==; an Attr<Ptr<X>> compares identity.
template <class T> class Attr : public AttrBase {
public:
    Attr(Entity* owner, const char* name, T initial = T{})
        : AttrBase(owner, name), value_(std::move(initial)) {}

    const T& operator()() const { return value_; }
    const T& get() const { return value_; }
    // Returns whether the value changed (and followers were told).
    bool set(const T& v) {
        if (value_ == v) {
            return false;
        }
        value_ = v;
        notify();
        return true;
    }

private:
    T value_;
};

// A keyed collection, by default with a stable (ordered) iteration; a hashed map suits
// collections of many entries whose order nobody reads.
template <class K, class V, class M = std::map<K, V>> class Collection : public AttrBase {
public:
    using Map = M;
    Collection(Entity* owner, const char* name) : AttrBase(owner, name) {}

    std::size_t size() const { return map_.size(); }
    bool empty() const { return map_.empty(); }
    bool has(const K& k) const { return map_.count(k) != 0; }
    const V* find(const K& k) const {
        auto it = map_.find(k);
        return it == map_.end() ? nullptr : &it->second;
    }
    typename Map::const_iterator begin() const { return map_.begin(); }
    typename Map::const_iterator end() const { return map_.end(); }

    // Adds or replaces; followers hear of it only when the entry is new or its value differs.
    bool set(const K& k, const V& v) {
        auto [it, added] = map_.try_emplace(k, v);
        if (!added) {
            if (it->second == v) {
                return false;
            }
            it->second = v;
        }
        notifyKey(k);
        return true;
    }
    bool erase(const K& k) {
        if (map_.erase(k) == 0) {
            return false;
        }
        notifyKey(k);
        return true;
    }
    void clear() {
        while (!map_.empty()) {
            K k = map_.begin()->first;
            map_.erase(map_.begin());
            notifyKey(k);
        }
    }

private:
    Map map_;
};

// Untyped part of a reactor: the followed entity, the registered handlers, and the bookkeeping
// that drops queued notifications when the reactor is re-targeted, detached or destroyed.
class ReactorBase {
public:
    ReactorBase() = default;
    ReactorBase(const ReactorBase&) = delete;
    ReactorBase& operator=(const ReactorBase&) = delete;
    virtual ~ReactorBase();

    Entity* followedEntity() const { return entity_.get(); }

protected:
    void attach(Ptr<Entity> e);

    struct Handler {
        // Says whether `attr` is the attribute this handler was registered for on `e`.
        std::function<bool(const Entity& e, const AttrBase& attr)> matches;
        // Called with a pointer to the key, or null for single-valued attributes.
        std::function<void(const void* key)> call;
    };
    std::vector<Handler> handlers_;

private:
    friend class AttrBase;
    Ptr<Entity> entity_;
};

template <class MakeCall> void AttrBase::postToHandlers(MakeCall makeCall) const {
    Tasking::EventLoop* loop = nullptr;
    for (ReactorBase* r : owner_->reactors_) {
        for (std::size_t i = 0; i < r->handlers_.size(); ++i) {
            if (!r->handlers_[i].matches(*owner_, *this)) {
                continue;
            }
            if (!loop) {
                loop = &Tasking::EventLoop::current();
            }
            loop->post(r, makeCall(r, i));
        }
    }
}

inline void AttrBase::notify() const {
    postToHandlers(
        [](ReactorBase* r, std::size_t i) { return [r, i] { r->handlers_[i].call(nullptr); }; });
}

template <class K> void AttrBase::notifyKey(const K& key) const {
    postToHandlers([&key](ReactorBase* r, std::size_t i) {
        return [r, i, key] { r->handlers_[i].call(&key); };
    });
}

// Follows an entity of type E. Derived classes register handlers in their constructor, then
// call follow(); following another entity (or null) drops what was queued for the old one.
template <class E> class Reactor : public ReactorBase {
public:
    E* entity() const { return static_cast<E*>(followedEntity()); }
    void follow(Ptr<E> e) { attach(Ptr<Entity>(e.get())); }

protected:
    template <class T> void onChange(Attr<T> E::*member, std::function<void()> fn) {
        handlers_.push_back({[member](const Entity& e, const AttrBase& a) {
                                 return &(static_cast<const E&>(e).*member) == &a;
                             },
                             [fn = std::move(fn)](const void*) { fn(); }});
    }
    template <class K, class V, class M>
    void onEntry(Collection<K, V, M> E::*member,
                 std::type_identity_t<std::function<void(const K&)>> fn) {
        handlers_.push_back(
            {[member](const Entity& e, const AttrBase& a) {
                 return &(static_cast<const E&>(e).*member) == &a;
             },
             [fn = std::move(fn)](const void* key) { fn(*static_cast<const K*>(key)); }});
    }
};

} // namespace Ert

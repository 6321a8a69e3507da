#pragma once
// Intrusive reference counting for host and system objects. Everything runs on one event loop,
// so the count is a plain integer.

#include <cstdint>
#include <utility>

namespace Ert {

class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    uint32_t refCount() const { return refs_; }
    void ref() const { ++refs_; }
    void unref() const {
        if (--refs_ == 0) {
            delete this;
        }
    }

protected:
    virtual ~RefCounted() = default;

private:
    mutable uint32_t refs_ = 0;
};

template <class T> class Ptr {
public:
    Ptr() = default;
    Ptr(std::nullptr_t) {}
    Ptr(T* p) : p_(p) { acquire(); }
    Ptr(const Ptr& o) : p_(o.p_) { acquire(); }
    Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U> Ptr(const Ptr<U>& o) : p_(o.get()) { acquire(); }
    ~Ptr() { release(); }

    Ptr& operator=(Ptr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { Ptr().swap(*this); }
    void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }

    friend bool operator==(const Ptr& a, const Ptr& b) { return a.p_ == b.p_; }
    friend bool operator==(const Ptr& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    void acquire() {
        if (p_) {
            p_->ref();
        }
    }
    void release() {
        if (p_) {
            p_->unref();
        }
    }
    T* p_ = nullptr;
};

template <class T, class... Args> Ptr<T> make(Args&&... args) {
    return Ptr<T>(new T(std::forward<Args>(args)...));
}

template <class T, class U> Ptr<T> ptrCast(const Ptr<U>& p) {
    return Ptr<T>(dynamic_cast<T*>(p.get()));
}

} // namespace Ert

#pragma once
// Attribute setters that build an object keep the one they hold when it was built from the
// same arguments. Objects built this way keep their construction arguments as a tuple.

#include "host/Ptr.h"

#include <tuple>
#include <utility>

namespace VyrNat {

template <class... A> class BuiltFrom {
public:
    using Args = std::tuple<A...>;
    explicit BuiltFrom(Args args) : builtFrom_(std::move(args)) {}
    const Args& builtFrom() const { return builtFrom_; }

private:
    Args builtFrom_;
};

// Builds T from `args` into `slot` unless it already holds one built from equal arguments.
// Returns whether a new object was built.
template <class T, class... A> bool rebuildUnlessSame(Ert::Ptr<T>& slot, A&&... args) {
    if (slot && slot->builtFrom() == typename T::Args(args...)) {
        return false;
    }
    slot = Ert::make<T>(std::forward<A>(args)...);
    return true;
}

} // namespace VyrNat

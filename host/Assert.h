#pragma once
// Internal checks. A failed check stops the process with the condition's text; tests install a
// handler that throws instead, so they can observe the failure.

#include <functional>
#include <stdexcept>
#include <string>

namespace Host {

[[noreturn]] void assertFailed(const std::string& text, const char* file, int line);

// Thrown by the test handler.
struct AssertionFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The handler must not return; null restores the default (print and abort).
using AssertHandler = std::function<void(const std::string& text)>;
void assertHandlerIs(AssertHandler handler);

// Restores the previous handler when it goes out of scope; installs one that throws
// AssertionFailure with the condition's text.
class ThrowOnAssert {
public:
    ThrowOnAssert();
    ~ThrowOnAssert();
    ThrowOnAssert(const ThrowOnAssert&) = delete;
    ThrowOnAssert& operator=(const ThrowOnAssert&) = delete;

private:
    AssertHandler previous_;
};

} // namespace Host

#define VYR_ASSERT(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) [[unlikely]] {                                                                \
            ::Host::assertFailed(#cond, __FILE__, __LINE__);                                       \
        }                                                                                          \
    } while (0)

// A check whose text is given, for code shared by twins (the SNAT and DNAT sides of a manager)
// where the condition as written would not name the side that failed.
#define VYR_CHECK(cond, text)                                                                      \
    do {                                                                                           \
        if (!(cond)) [[unlikely]] {                                                                \
            ::Host::assertFailed((text), __FILE__, __LINE__);                                      \
        }                                                                                          \
    } while (0)

// For faults whose message is built at run time (for example an unknown table name).
#define VYR_FAIL(text) ::Host::assertFailed((text), __FILE__, __LINE__)

#include "host/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace Host {

namespace {
AssertHandler& handler() {
    static AssertHandler h;
    return h;
}
} // namespace

void assertFailed(const std::string& text, const char* file, int line) {
    if (handler()) {
        handler()(text);
    }
    std::fprintf(stderr, "assertion failed: %s (%s:%d)\n", text.c_str(), file, line);
    std::fflush(stderr);
    std::abort();
}

void assertHandlerIs(AssertHandler h) {
    handler() = std::move(h);
}

ThrowOnAssert::ThrowOnAssert() : previous_(handler()) {
    handler() = [](const std::string& text) { throw AssertionFailure(text); };
}

ThrowOnAssert::~ThrowOnAssert() {
    handler() = std::move(previous_);
}

} // namespace Host

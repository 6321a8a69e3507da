#pragma once
// Internal checks of the emulated chip: a failed check is a programming error of the caller or
// of the chip, never bad input. It throws InternalError with the condition's text, so that tests
// can observe it and a process without a handler stops with that text.

#include <stdexcept>
#include <string>

namespace VyrP4 {

struct InternalError : std::logic_error {
    using std::logic_error::logic_error;
};

[[noreturn]] inline void checkFailed(const char* text, const char* file, int line) {
    throw InternalError(std::string(text) + " (" + file + ":" + std::to_string(line) + ")");
}

} // namespace VyrP4

#define VYR_CHIP_CHECK(cond)                                                                       \
    do {                                                                                           \
        if (!(cond)) [[unlikely]] {                                                                \
            ::VyrP4::checkFailed(#cond, __FILE__, __LINE__);                                       \
        }                                                                                          \
    } while (0)

#pragma once
// One message to both the trace and the ring trace.

#include "host/Format.h"
#include "host/Ringlog.h"
#include "host/Trace.h"

#define DUOLOG(handle, level, fmt, ...)                                                            \
    do {                                                                                           \
        if ((handle).enabled(level)) {                                                             \
            ::Trace::write((level), __func__, ::Host::format((fmt)__VA_OPT__(, ) __VA_ARGS__));    \
        }                                                                                          \
        ::Ringlog::log((level), (fmt)__VA_OPT__(, ) __VA_ARGS__);                                  \
    } while (0)

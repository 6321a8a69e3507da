// Ring trace files as the decoder may be handed them: any bytes are decoded within the file or
// refused with the reason.

#include "host/Ringlog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // The reader takes a path; a memory file gives the bytes one.
    const int fd = ::memfd_create("fuzz-rlog", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    std::string error;
    const auto records = Ringlog::readFile("/proc/self/fd/" + std::to_string(fd), error);
    ::close(fd);
    if (!records && error.empty()) {
        std::abort();
    }
    if (records) {
        for (const Ringlog::Record& r : *records) {
            if (Ringlog::recordLine(r).empty()) {
                std::abort();
            }
        }
    }
    return 0;
}

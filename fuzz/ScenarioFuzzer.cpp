// Scenario files as a user may write them: any text is checked and refused with its file and
// line, or taken; nothing else may happen.

#include "tools/scenario/Scenario.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto scenario = Scenario::parse(text, "fuzz.yaml", error);
    // A refusal always names the file and a line.
    if (!scenario && error.rfind("fuzz.yaml:", 0) != 0) {
        std::abort();
    }
    return 0;
}

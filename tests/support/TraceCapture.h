#pragma once
// The trace lines of the handles a setting switches on, captured for one test.

#include "host/Trace.h"

#include <sstream>
#include <string>
#include <vector>

namespace TestSupport {

class TraceCapture {
public:
    explicit TraceCapture(const char* setting = "VyrNat*/0-9") {
        Trace::configure(setting);
        Trace::streamIs(&out_);
    }
    ~TraceCapture() {
        Trace::configure("");
        Trace::streamIs(nullptr);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::string text() const { return out_.str(); }
    bool has(const std::string& s) const { return text().find(s) != std::string::npos; }
    // The lines that contain `containing`, in order.
    std::vector<std::string> lines(const std::string& containing) const {
        std::vector<std::string> found;
        std::istringstream in(out_.str());
        for (std::string line; std::getline(in, line);) {
            if (line.find(containing) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

private:
    std::ostringstream out_;
};

} // namespace TestSupport

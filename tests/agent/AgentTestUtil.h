#pragma once
// Small helpers of the agent tests: environment variables and trace captured for one test, and
// scenarios on a named chip profile with some fields changed.

#include "host/Trace.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

namespace AgentTest {

// Sets (or, with null, clears) an environment variable and restores it when it goes.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        set(value);
    }
    ~EnvVar() { set(old_ ? old_->c_str() : nullptr); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    void set(const char* value) { value ? ::setenv(name_, value, 1) : ::unsetenv(name_); }

    const char* name_;
    std::optional<std::string> old_;
};

using TestSupport::TraceCapture;

// A named profile with fields set from text, as a scenario's "fields" would.
inline Scenario::Scenario
scenarioWith(const std::string& profile,
             std::initializer_list<std::pair<const char*, const char*>> fields = {}) {
    return TestSupport::BootedAgent::scenarioFor(profile, fields);
}

} // namespace AgentTest

#pragma once
// Small helpers of the agent tests: environment variables and trace captured for one test, and
// scenarios on a named chip profile with some fields changed.

#include "host/Trace.h"
#include "tests/support/AgentFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvVar() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A new empty directory, removed with its contents.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vyrnat-test-XXXXXX");
        path_ = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Every level of the agent's trace handles, captured.
class TraceCapture {
public:
    TraceCapture() {
        Trace::configure("VyrNat*/0-9");
        Trace::streamIs(&out_);
    }
    ~TraceCapture() {
        Trace::configure("");
        Trace::streamIs(nullptr);
    }
    std::string text() const { return out_.str(); }
    bool has(const std::string& s) const { return text().find(s) != std::string::npos; }

private:
    std::ostringstream out_;
};

// A named profile with fields set from text, as a scenario's "fields" would.
inline Scenario::Scenario
scenarioWith(const std::string& profile,
             std::initializer_list<std::pair<const char*, const char*>> fields = {}) {
    Scenario::Scenario s = TestSupport::BootedAgent::scenarioFor(profile);
    for (const auto& [field, value] : fields) {
        std::string error;
        EXPECT_TRUE(s.profile.fieldIs(field, value, error)) << error;
    }
    return s;
}

} // namespace AgentTest

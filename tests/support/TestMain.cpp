// The main of every test binary: the agent's ring trace is off unless a test switches it on,
// so that no run leaves ring-trace files behind.

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("RINGLOG_DISABLE", "1", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The host tool as a user runs it: options, exit codes, what it prints.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Result {
    int code = -1;
    std::string out; // stdout and stderr together
};

// Runs the tool from the source tree, as `make run` does, with `env` ("NAME=value ...").
Result host(const std::string& args, const std::string& env = "") {
    const std::string cmd = std::string("cd '") + VYRNAT_SOURCE_DIR + "' && RINGLOG_DISABLE=1 " +
                            env + " '" + VYRNAT_HOST + "' " + args + " 2>&1";
    Result r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        return r;
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    const int status = ::pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// A scenario file in the temp directory, removed afterwards.
class ScenarioFile {
public:
    ScenarioFile(const std::string& name, const std::string& text)
        : path_((std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + "-" + name))
                    .string()) {
        std::ofstream(path_) << text;
    }
    ~ScenarioFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

bool has(const Result& r, const std::string& s) {
    return r.out.find(s) != std::string::npos;
}

TEST(HostTool, HelpExplainsEveryOption) {
    const Result r = host("--help");
    EXPECT_EQ(r.code, 0) << r.out;
    for (const char* option :
         {"SCENARIO", "--library", "--virtual-time", "--real-time", "--dump", "--check", "-h,",
          "--help", "scenarios/REFERENCE.md", "VYRNAT_TRACE ", "VYRNAT_TRACE_FILE", "RINGLOGDIR",
          "RINGLOG_DISABLE", "VYRNAT_SEED", "Exit code"}) {
        EXPECT_TRUE(has(r, option)) << option << " in:\n" << r.out;
    }
    EXPECT_EQ(host("-h").out, r.out);
}

TEST(HostTool, BadCommandLinesAndScenariosExitTwoWithTheReason) {
    Result r = host("--bogus");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, "unknown option '--bogus'")) << r.out;

    r = host("--library");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, "--library needs a path")) << r.out;

    r = host("scenarios/demo.yaml scenarios/demo.yaml");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, "one scenario")) << r.out;

    ScenarioFile bad("vyrnat-host-bad.yaml", "chip:\n  profile: fancy\n");
    r = host("'" + bad.path() + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, bad.path() + ":2: unknown chip profile 'fancy'")) << r.out;
    EXPECT_FALSE(has(r, "agent started")) << r.out;

    r = host("/nonexistent/scenario.yaml");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, "/nonexistent/scenario.yaml: cannot read")) << r.out;

    // Regression: /dev/zero was read until the memory ran out.
    r = host("--check /dev/zero");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, "/dev/zero: larger than 16 MiB")) << r.out;
    r = host("--check scenarios");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r, "scenarios: is a directory")) << r.out;

    r = host("--library /nonexistent/libVyrNat.so");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r, "cannot load /nonexistent/libVyrNat.so")) << r.out;
}

TEST(HostTool, TheDemoProgramsStaticNatAndEndsOnAnEmptyChip) {
    const Result r = host("");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(has(r, "chip profile \"default\", scenario scenarios/demo.yaml")) << r.out;
    for (const char* table :
         {"staticSnatAcl", "staticDnatAcl", "addrOnlySnat", "addrPortSnat", "addrOnlyDnat",
          "addrPortDnat", "egressNatProfile", "dynamicEgressNatProfile"}) {
        EXPECT_TRUE(has(r, std::string("  ") + table + " ")) << table << " in:\n" << r.out;
    }
    // The typical translation, its duplicate, the egress-target rule on a chip without egress
    // tables, and the full table.
    EXPECT_TRUE(has(r, "NatProfile3  source 10.0.0.5:80 <-> 192.0.2.7:8080: programmed")) << r.out;
    EXPECT_TRUE(has(r, "log  %VYR_NAT_DUPLICATE_ENTRY-6: Found unexpected duplicate NAT rules "
                       "for address 10.0.0.5:80"))
        << r.out;
    EXPECT_TRUE(has(r, "acl WEB-BACKUP: NOT programmed")) << r.out;
    EXPECT_TRUE(has(r, "(egress tables): NOT programmed")) << r.out;
    EXPECT_TRUE(has(r, "10.0.1.4:80 <-> 192.0.2.44:8080: NOT programmed")) << r.out;
    EXPECT_TRUE(has(r, "end: the chip's tables are empty\n"
                       "summary: 9 of 9 steps played, 21 entries written, 20 removed, "
                       "7 translations programmed, 3 not, faults: 1 write refused, "
                       "1 log message, 0 agent exits\n"))
        << r.out;
    EXPECT_FALSE(has(r, "agent exited")) << r.out;

    const Result dump = host("--dump scenarios/demo.yaml");
    EXPECT_EQ(dump.code, 0);
    EXPECT_TRUE(has(dump, "(every table is empty)")) << dump.out;

    const Result check = host("--check");
    EXPECT_EQ(check.code, 0);
    EXPECT_TRUE(has(check, "scenarios/demo.yaml: valid scenario, 9 steps")) << check.out;
}

// What a step sets off, its trace included, comes under its header; text from the file reaches
// the terminal escaped.
TEST(HostTool, EachStepIsHeadedBeforeItRunsAndFileTextIsEscaped) {
    ScenarioFile f("vyrnat-host-order.yaml",
                   "chip:\n  profile: default\nsteps:\n"
                   "  - at: 0\n    say: \"bind \\e[2J\"\n    vlanProfile: {100: 3}\n"
                   "  - at: 1\n    say: translate\n    static:\n"
                   "      - {intf: NatProfile3, local: \"10.0.0.5:80\", global: \"192.0.2.7:80\","
                   " acl: \"A\\e[31m\", protocol: tcp}\n");
    const Result r = host("'" + f.path() + "'", "VYRNAT_TRACE=VyrNatHelper,NoSuchHandle");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_TRUE(has(r, "no trace handle is named 'NoSuchHandle'")) << r.out;
    // The step at 0 is its own, after the start.
    const std::size_t tablesUp = r.out.find("tables up:");
    const std::size_t step1 = r.out.find("== t=0.0s  step 1: bind \\x1b[2J\n");
    const std::size_t bound = r.out.find("+ egressNatProfile  ingMdVlanId=100");
    const std::size_t step2 = r.out.find("== t=1.0s  step 2: translate\n");
    const std::size_t traced = r.out.find("addStaticSrcIpTranslation: ");
    const std::size_t programmed =
        r.out.find("NatProfile3  source 10.0.0.5:80 <-> 192.0.2.7:80 acl A\\x1b[31m: programmed");
    for (std::size_t at : {tablesUp, step1, bound, step2, traced, programmed}) {
        ASSERT_NE(at, std::string::npos) << r.out;
    }
    EXPECT_LT(tablesUp, step1);
    EXPECT_LT(step1, bound);
    EXPECT_LT(bound, step2);
    EXPECT_LT(step2, traced);
    EXPECT_LT(traced, programmed);
}

TEST(HostTool, GoingDownAndRestartingEndWithExitCodeZero) {
    ScenarioFile noNat("vyrnat-host-nonat.yaml", "chip:\n  profile: noNat\n");
    Result r = host("'" + noNat.path() + "'");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(has(r, "agent exited with code 0")) << r.out;

    ScenarioFile restart("vyrnat-host-restart.yaml", "chip:\n  profile: default\n"
                                                     "natConfig:\n  natTcpSynAckRequired: false\n"
                                                     "steps:\n"
                                                     "  - at: 1\n    say: unchanged\n"
                                                     "    natConfig:\n"
                                                     "      natTcpSynAckRequired: false\n"
                                                     "  - at: 2\n    say: trap SYN-ACK\n"
                                                     "    natConfig:\n"
                                                     "      natTcpSynAckRequired: true\n");
    r = host("'" + restart.path() + "'");
    EXPECT_EQ(r.code, 0) << r.out;
    const std::size_t step1 = r.out.find("step 1: unchanged");
    const std::size_t exited = r.out.find("== t=2.0s  agent exited with code 0");
    ASSERT_NE(step1, std::string::npos) << r.out;
    ASSERT_NE(exited, std::string::npos) << r.out;
    EXPECT_LT(step1, exited);
}

} // namespace

// The host tool as a user runs it: options, exit codes, what it prints.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

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
    for (const char* option : {"SCENARIO",
                               "--library",
                               "--virtual-time",
                               "--real-time",
                               "--dump",
                               "--check",
                               "-h,",
                               "--help",
                               "--listen PATH",
                               "scenarios/REFERENCE.md",
                               "VYRNAT_TRACE ",
                               "VYRNAT_TRACE_FILE",
                               "RINGLOGDIR",
                               "RINGLOG_DISABLE",
                               "VYRNAT_SEED",
                               "Exit code",
                               "--trace-packet",
                               "--pcap-in",
                               "--pcap-out",
                               "--pcap-vrf",
                               "--pcap-pipe"}) {
        EXPECT_TRUE(has(r, option)) << option << " in:\n" << r.out;
    }
    EXPECT_EQ(host("-h").out, r.out);
}

// Nothing starts an agent before the command line, the scenario and the library are good.
TEST(HostTool, BadCommandLinesScenariosAndLibrariesExitWithTheReason) {
    ScenarioFile bad("vyrnat-host-bad.yaml", "chip:\n  profile: fancy\n");
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"--bogus", 2, "unknown option '--bogus'"},
        {"--library", 2, "--library needs a path"},
        {"scenarios/demo.yaml scenarios/demo.yaml", 2, "one scenario"},
        {"'" + bad.path() + "'", 2, bad.path() + ":2: unknown chip profile 'fancy'"},
        {"/nonexistent/scenario.yaml", 2, "/nonexistent/scenario.yaml: cannot read"},
        // Regression: /dev/zero was read until the memory ran out.
        {"--check /dev/zero", 2, "/dev/zero: larger than 16 MiB"},
        {"--check scenarios", 2, "scenarios: is a directory"},
        {"--library /nonexistent/libVyrNat.so", 1, "cannot load /nonexistent/libVyrNat.so"},
        {"--check", 0, "scenarios/demo.yaml: valid scenario, 9 steps"},
    };
    for (const auto& [args, code, says] : cases) {
        const Result r = host(args);
        EXPECT_EQ(r.code, code) << args;
        EXPECT_TRUE(has(r, says)) << args << ":\n" << r.out;
        EXPECT_FALSE(has(r, "agent started")) << args << ":\n" << r.out;
    }
}

// Packets and captures go through the tables the scenario left; a bad one is refused before
// anything starts.
TEST(HostTool, PacketsTracedAfterTheScenarioAndBadPacketsRefused) {
    ScenarioFile s("vyrnat-host-packet.yaml",
                   "chip: {profile: default}\nsteps:\n  - at: 1\n    vlanProfile: {100: 3}\n"
                   "    static:\n      - {intf: NatProfile3, local: \"10.0.0.5:80\", global: "
                   "\"192.0.2.7:8080\", protocol: tcp, filter: [0.0.0.0/0]}\n");
    ScenarioFile badStep("vyrnat-host-bad-packet.yaml",
                         "chip: {profile: default}\nsteps:\n  - at: 1\n    packet:\n"
                         "      - \"tcp 10.0.0.5:1 > 10.0.0.6:2\"\n      - \"tcp 10.0.0.5 > "
                         "10.0.0.6\"\n");
    const std::string file = "'" + s.path() + "' ";
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"--trace-packet 'tcp 10.0.0.5:80 > 198.51.100.1:443 vlan 100' " + file, 0,
         "  leaves  tcp 192.0.2.7:8080 > 198.51.100.1:443 vlan 100\n"},
        {"--trace-packet 'tcp 10.0.0.5:81 > 198.51.100.1:443 vlan 100' " + file, 0,
         "  leaves  tcp 10.0.0.5:81 > 198.51.100.1:443 vlan 100\n"},
        {"--trace-packet 'tcp 10.0.0.5 > 198.51.100.1'", 2,
         "--trace-packet 'tcp 10.0.0.5 > 198.51.100.1': a tcp or udp packet needs SRC:PORT"},
        {"--trace-packet 'udp 10.0.0.5:1 > 10.0.0.6:2 pipe 1'", 2,
         "on pipe 1, but the chip profile has 1 pipes"},
        {"--trace-packet", 2, "--trace-packet needs a value"},
        {"--pcap-in /nonexistent.pcap", 2, "--pcap-in and --pcap-out go together"},
        {"--pcap-in /nonexistent.pcap --pcap-out /dev/null " + file, 2,
         "cannot read the capture /nonexistent.pcap"},
        {"--pcap-in " + file + "--pcap-out /dev/null " + file, 2, "cannot read the capture"},
        {"--pcap-vrf 65535", 2, "--pcap-vrf needs a number 0 to 65534, not '65535'"},
        {"--check '" + badStep.path() + "'", 2,
         ":6: packet 'tcp 10.0.0.5 > 10.0.0.6': a tcp or udp packet needs SRC:PORT"},
    };
    for (const auto& [args, code, says] : cases) {
        const Result r = host(args);
        EXPECT_EQ(r.code, code) << args;
        EXPECT_TRUE(has(r, says)) << args << ":\n" << r.out;
        EXPECT_EQ(has(r, "agent started"), code == 0) << args << ":\n" << r.out;
    }
}

TEST(HostTool, TheDemoProgramsStaticNatAndEndsWithTheChipAsItStarted) {
    const Result r = host("--dump");
    EXPECT_EQ(r.code, 0) << r.out;
    // The tables up, the dump, the typical translation, its duplicate, the egress-target rule on a
    // chip without egress tables, the full table and the summary.
    for (const char* expected :
         {"chip profile \"default\", scenario scenarios/demo.yaml", "  staticSnatAcl ",
          "  staticDnatAcl ", "  addrOnlySnat ", "  addrPortSnat ", "  addrOnlyDnat ",
          "  addrPortDnat ", "  egressNatProfile ", "  dynamicEgressNatProfile ",
          "  + twiceNatResultCheck  (22 more entries; --dump lists them)\n",
          "\nnatFlow: 1 of 2048 entries\n", "\naddrPortSnat: 1 of 4 entries\n",
          "NatProfile3  source 10.0.0.5:80 <-> 192.0.2.7:8080: programmed",
          "log  %VYR_NAT_DUPLICATE_ENTRY-6: Found unexpected duplicate NAT rules for address "
          "10.0.0.5:80",
          "acl WEB-BACKUP: NOT programmed", "(egress tables): NOT programmed",
          "10.0.1.4:80 <-> 192.0.2.44:8080: NOT programmed",
          "end: the chip's tables hold only the 36 fixed entries written at start-up\nsummary: 9 "
          "of 9 steps played, 57 entries written, 20 removed, 7 translations programmed, 3 not, "
          "faults: 1 write refused, 1 log message, 0 agent exits\n"}) {
        EXPECT_TRUE(has(r, expected)) << expected << " in:\n" << r.out;
    }
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
    std::size_t at = 0;
    for (const char* expected :
         {"tables up:", "== t=0.0s  step 1: bind \\x1b[2J\n", "+ egressNatProfile  ingMdVlanId=100",
          "== t=1.0s  step 2: translate\n", "addStaticSrcIpTranslation: ",
          "NatProfile3  source 10.0.0.5:80 <-> 192.0.2.7:80 acl A\\x1b[31m: programmed"}) {
        at = r.out.find(expected, at);
        ASSERT_NE(at, std::string::npos) << expected << " in order in:\n" << r.out;
    }
}

} // namespace

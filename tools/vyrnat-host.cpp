// The host process: loads the NAT agent library, builds the emulated chip and the host's state
// from a scenario, and drives the agent through the scenario on the event loop.

#include "host/Format.h"
#include "tools/HostListen.h"
#include "tools/scenario/PacketTrace.h"
#include "tools/scenario/Player.h"

#include <charconv>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <iostream>
#include <string>

namespace {

bool number(const std::string& s, std::uint32_t max, std::uint32_t& out) {
    std::uint32_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v > max) {
        return false;
    }
    out = v;
    return true;
}

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vyrnat-host [options] [SCENARIO]\n"
                 "Plays SCENARIO (default: scenarios/demo.yaml) with the NAT agent on the\n"
                 "emulated chip and prints, step by step, what changed in the chip's tables and\n"
                 "in the NAT hardware status, then a summary line. scenarios/REFERENCE.md\n"
                 "describes the scenario format.\n"
                 "\n"
                 "  --library PATH   the agent library to load (default: the libVyrNat.so of\n"
                 "                   this build)\n"
                 "  --virtual-time   run on a virtual clock, as fast as possible (the default)\n"
                 "  --real-time      run in real time, waiting for each step's time\n"
                 "  --dump           also print every table's contents after each step\n"
                 "  --check          only check the scenario and exit (0 when it is valid)\n"
                 "  --listen PATH    after the scenario, keep the agent running in real time and\n"
                 "                   answer CLI requests (vyrnat-cli -s PATH ...) on a Unix\n"
                 "                   domain socket at PATH, usable by this user only, until\n"
                 "                   SIGINT or SIGTERM; the socket is removed then. A socket\n"
                 "                   file nobody answers on is replaced; a live one is an error\n"
                 "  --trace-packet P after the scenario's steps, send the packet P through the\n"
                 "                   chip's tables and print, stage by stage, the entries it\n"
                 "                   hits and how it leaves; may be given more than once.\n"
                 "                   P: 'PROTO SRC > DST [vlan N] [vrf N] [pipe N] [flags FSRPAU]\n"
                 "                   [frag OFFSET] [mf] [len N] [nocsum]', e.g.\n"
                 "                   'tcp 10.0.0.5:80 > 198.51.100.1:443 vlan 100'\n"
                 "  --pcap-in FILE   after the scenario's steps, send every frame of the\n"
                 "                   Ethernet capture FILE through the chip's tables (VLAN from\n"
                 "                   the frame's tag) ...\n"
                 "  --pcap-out FILE  ... and write the frames that leave to FILE (both needed)\n"
                 "  --pcap-vrf N     the VRF the capture's packets arrive in (default 0)\n"
                 "  --pcap-pipe N    the pipe they arrive through (default 0)\n"
                 "  -h, --help       this text\n"
                 "\n"
                 "Environment:\n"
                 "  VYRNAT_TRACE       trace handles to switch on, e.g. 'VyrNatHelper/0-9,\n"
                 "                     VyrNatTableMgr*/0-3' ('*' matches any run of characters;\n"
                 "                     no levels: all of 0 to 9)\n"
                 "  VYRNAT_TRACE_FILE  write trace lines to this file instead of stderr\n"
                 "  RINGLOGDIR         directory of the ring trace file VyrNat.rlog (default:\n"
                 "                     /tmp/VyrNat-<pid>.rlog); print it with vyr-ringlog-decode\n"
                 "  RINGLOG_DISABLE    set to any value: no ring trace file\n"
                 "  VYRNAT_SEED        (tests) the seed of the randomized tests\n"
                 "\n"
                 "When the agent exits, it is started again and the scenario plays on, as on a\n"
                 "switch; after 3 exits with no step played in between it is not.\n"
                 "\n"
                 "Exit code: the first non-zero code the agent exited with (0 when it only went\n"
                 "down or restarted cleanly), 1 when the library cannot be loaded, 2 for a bad\n"
                 "command line or scenario, 3 when --listen cannot take its socket.\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string library = VYRNAT_DEFAULT_LIBRARY;
    std::string scenarioPath = "scenarios/demo.yaml";
    Scenario::PlayOptions options;
    bool checkOnly = false;
    std::vector<VyrP4::PacketNotation> tracePackets;
    std::string pcapIn, pcapOut;
    VyrP4::IngressMeta pcapMeta;
    bool scenarioGiven = false;
    std::string listenPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--library") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vyrnat-host: --library needs a path\n");
                return 2;
            }
            library = argv[++i];
        } else if (a == "--virtual-time") {
            options.mode = Tasking::EventLoop::Mode::virtualTime;
        } else if (a == "--real-time") {
            options.mode = Tasking::EventLoop::Mode::realTime;
        } else if (a == "--listen") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "vyrnat-host: --listen needs a socket path\n");
                return 2;
            }
            listenPath = argv[++i];
        } else if (a == "--dump") {
            options.dump = true;
        } else if (a == "--check") {
            checkOnly = true;
        } else if (a == "--trace-packet" || a == "--pcap-in" || a == "--pcap-out" ||
                   a == "--pcap-vrf" || a == "--pcap-pipe") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vyrnat-host: %s needs a value\n", a.c_str());
                return 2;
            }
            const std::string v = argv[++i];
            std::string why;
            if (a == "--trace-packet") {
                VyrP4::PacketNotation n;
                if (!VyrP4::packetNotationParse(v, n, why)) {
                    std::fprintf(stderr, "vyrnat-host: --trace-packet '%s': %s\n",
                                 Host::printable(v).c_str(), Host::printable(why).c_str());
                    return 2;
                }
                tracePackets.push_back(n);
            } else if (a == "--pcap-in" || a == "--pcap-out") {
                (a == "--pcap-in" ? pcapIn : pcapOut) = v;
            } else if (!number(v, a == "--pcap-vrf" ? 0xfffe : VyrP4::kMaxPipes - 1,
                               a == "--pcap-vrf" ? pcapMeta.vrf : pcapMeta.pipe)) {
                std::fprintf(stderr, "vyrnat-host: %s needs a number 0 to %u, not '%s'\n",
                             a.c_str(), a == "--pcap-vrf" ? 0xfffeu : VyrP4::kMaxPipes - 1,
                             Host::printable(v).c_str());
                return 2;
            }
        } else if (!a.empty() && a[0] != '-') {
            if (scenarioGiven) {
                std::fprintf(stderr, "vyrnat-host: one scenario at a time ('%s' is a second)\n",
                             Host::printable(a).c_str());
                return 2;
            }
            scenarioPath = a;
            scenarioGiven = true;
        } else {
            std::fprintf(stderr, "vyrnat-host: unknown option '%s' (see --help)\n",
                         Host::printable(a).c_str());
            return 2;
        }
    }

    if (pcapIn.empty() != pcapOut.empty()) {
        std::fprintf(stderr, "vyrnat-host: --pcap-in and --pcap-out go together\n");
        return 2;
    }
    std::string error;
    auto scenario = Scenario::loadFile(scenarioPath, error);
    if (!scenario) {
        std::fprintf(stderr, "vyrnat-host: %s\n", Host::printable(error).c_str());
        return 2;
    }
    for (const auto& packet : tracePackets) {
        if (packet.meta.pipe >= scenario->profile.pipes()) {
            std::fprintf(
                stderr,
                "vyrnat-host: --trace-packet on pipe %u, but the chip profile has %u pipes\n",
                packet.meta.pipe, scenario->profile.pipes());
            return 2;
        }
    }
    if (!pcapIn.empty() && pcapMeta.pipe >= scenario->profile.pipes()) {
        std::fprintf(stderr, "vyrnat-host: --pcap-pipe %u, but the chip profile has %u pipes\n",
                     pcapMeta.pipe, scenario->profile.pipes());
        return 2;
    }
    if (!pcapIn.empty() && !Scenario::pcapReadable(pcapIn, error)) {
        std::fprintf(stderr, "vyrnat-host: %s\n", Host::printable(error).c_str());
        return 2;
    }
    if (checkOnly) {
        std::printf("%s: valid scenario, %zu steps\n", Host::printable(scenarioPath).c_str(),
                    scenario->steps.size());
        return 0;
    }

    std::unique_ptr<HostTool::Listener> listener;
    if (!listenPath.empty() && !(listener = HostTool::Listener::open(listenPath, error))) {
        std::fprintf(stderr, "vyrnat-host: %s\n", Host::printable(error).c_str());
        return 3;
    }

    void* lib = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "vyrnat-host: cannot load %s: %s\n", Host::printable(library).c_str(),
                     Host::printable(::dlerror()).c_str());
        return 1;
    }
    using Factory = VyrAgentLib::VyrAgent* (*)(const char*);
    auto factory = reinterpret_cast<Factory>(::dlsym(lib, "vyrNatAgentFactory"));
    if (!factory) {
        std::fprintf(stderr, "vyrnat-host: %s exports no vyrNatAgentFactory\n",
                     Host::printable(library).c_str());
        return 1;
    }
    int code = 0;
    {
        Scenario::Player player(std::move(*scenario), options, std::cout);
        if (listener) {
            listener->stopOnSignals(player);
        }
        code =
            player.play([factory] { return Ert::Ptr<VyrAgentLib::VyrAgent>(factory("VyrNat")); });
        if (!tracePackets.empty()) {
            std::cout << "== after the scenario: packets through the chip's tables\n";
        }
        for (const auto& packet : tracePackets) {
            std::cout << Scenario::tracePacket(player.chip(), packet);
        }
        if (!pcapIn.empty()) {
            Scenario::PcapTotals totals;
            if (!Scenario::pcapThrough(player.chip(), pcapIn, pcapOut, pcapMeta, totals, error)) {
                std::fprintf(stderr, "vyrnat-host: %s\n", Host::printable(error).c_str());
                return 2;
            }
            std::cout << "== after the scenario: " << Host::printable(pcapIn) << " -> "
                      << Host::printable(pcapOut) << ": " << totals.str() << "\n";
        }
        if (listener) {
            const int served = listener->serve(player, std::cout);
            code = code ? code : served;
            // Before the player's loop goes: the listener unwatches its descriptors on it.
            listener.reset();
        }
    }
    // The library stays loaded: objects of the agent may be released by the host's statics.
    return code;
}

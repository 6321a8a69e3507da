// The host process: loads the NAT agent library, builds the emulated chip and the host's state
// from a scenario, and drives the agent through the scenario on the event loop.

#include "tools/scenario/Player.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <iostream>
#include <string>

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vyrnat-host [options] [SCENARIO]\n"
                 "Plays SCENARIO (default: scenarios/demo.yaml) with the NAT agent on the\n"
                 "emulated chip and prints what changed in the chip's tables after each step.\n"
                 "\n"
                 "  --library PATH   the agent library to load (default: the libVyrNat.so of\n"
                 "                   this build)\n"
                 "  --virtual-time   run on a virtual clock, as fast as possible (the default)\n"
                 "  --real-time      run in real time, waiting for each step's time\n"
                 "  --dump           also print every table's contents after each step\n"
                 "  --check          only check the scenario and exit (0 when it is valid)\n"
                 "  -h, --help       this text\n"
                 "\n"
                 "Exit code: the agent's (0 after it went down cleanly), 1 when the library\n"
                 "cannot be loaded, 2 for a bad command line or scenario.\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string library = VYRNAT_DEFAULT_LIBRARY;
    std::string scenarioPath = "scenarios/demo.yaml";
    Scenario::PlayOptions options;
    bool checkOnly = false;
    bool scenarioGiven = false;
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
        } else if (a == "--dump") {
            options.dump = true;
        } else if (a == "--check") {
            checkOnly = true;
        } else if (!a.empty() && a[0] != '-') {
            if (scenarioGiven) {
                std::fprintf(stderr, "vyrnat-host: one scenario at a time ('%s' is a second)\n",
                             a.c_str());
                return 2;
            }
            scenarioPath = a;
            scenarioGiven = true;
        } else {
            std::fprintf(stderr, "vyrnat-host: unknown option '%s' (see --help)\n", a.c_str());
            return 2;
        }
    }

    std::string error;
    auto scenario = Scenario::loadFile(scenarioPath, error);
    if (!scenario) {
        std::fprintf(stderr, "vyrnat-host: %s\n", error.c_str());
        return 2;
    }
    if (checkOnly) {
        std::printf("%s: valid scenario, %zu steps\n", scenarioPath.c_str(),
                    scenario->steps.size());
        return 0;
    }

    void* lib = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "vyrnat-host: cannot load %s: %s\n", library.c_str(), ::dlerror());
        return 1;
    }
    using Factory = VyrAgentLib::VyrAgent* (*)(const char*);
    auto factory = reinterpret_cast<Factory>(::dlsym(lib, "vyrNatAgentFactory"));
    if (!factory) {
        std::fprintf(stderr, "vyrnat-host: %s exports no vyrNatAgentFactory\n", library.c_str());
        return 1;
    }
    int code = 0;
    {
        Scenario::Player player(std::move(*scenario), options, std::cout);
        code =
            player.play([factory] { return Ert::Ptr<VyrAgentLib::VyrAgent>(factory("VyrNat")); });
    }
    // The library stays loaded: objects of the agent may be released by the host's statics.
    return code;
}

// The host process: loads the NAT agent library and drives it on the event loop.

#include "host/Agent.h"
#include "host/EventLoop.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vyrnat-host [--library PATH] [--real-time | --virtual-time]\n"
                 "  --library PATH   the agent library to load (default: libVyrNat.so beside\n"
                 "                   this program's build tree)\n"
                 "  --virtual-time   run the event loop on a virtual clock, as fast as possible\n"
                 "                   (the default)\n"
                 "  --real-time      run the event loop in real time\n"
                 "  --help           this text\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string library = VYRNAT_DEFAULT_LIBRARY;
    auto mode = Tasking::EventLoop::Mode::virtualTime;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--library" && i + 1 < argc) {
            library = argv[++i];
        } else if (a == "--virtual-time") {
            mode = Tasking::EventLoop::Mode::virtualTime;
        } else if (a == "--real-time") {
            mode = Tasking::EventLoop::Mode::realTime;
        } else {
            std::fprintf(stderr, "vyrnat-host: unknown option '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }

    Tasking::EventLoop loop(mode);
    Host::AgentRunner runner;
    void* lib = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "vyrnat-host: cannot load %s: %s\n", library.c_str(), ::dlerror());
        return 1;
    }
    std::printf("loaded %s\n", library.c_str());
    using Factory = VyrAgentLib::VyrAgent* (*)(const char*);
    auto factory = reinterpret_cast<Factory>(::dlsym(lib, "vyrNatAgentFactory"));
    if (!factory) {
        std::printf("the library exports no vyrNatAgentFactory yet: nothing to start\n");
        std::printf("host framework up: event loop (%s time), state database '%s', "
                    "shared memory, command requests\n",
                    mode == Tasking::EventLoop::Mode::virtualTime ? "virtual" : "real",
                    runner.sysdb().name().c_str());
        return 0;
    }
    runner.start(Ert::Ptr<VyrAgentLib::VyrAgent>(factory("VyrNat")));
    if (mode == Tasking::EventLoop::Mode::virtualTime) {
        loop.runUntilStopped(Tasking::seconds(60));
    } else {
        loop.run();
    }
    return runner.process().code().value_or(0);
}

#include "tools/HostListen.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace HostTool {

namespace {

// The handler only leaves a byte in a pipe that the event loop watches.
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t caughtSignal = 0;

extern "C" void onSignal(int sig) {
    caughtSignal = sig;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

std::unique_ptr<Listener> Listener::open(const std::string& path, std::string& error) {
    std::string note;
    auto socket = Host::CommandSocket::open(path, error, note);
    if (!socket) {
        return nullptr;
    }
    if (!note.empty()) {
        std::fprintf(stderr, "vyrnat-host: %s\n", note.c_str());
    }
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot make the signal pipe: ") + std::strerror(errno);
        return nullptr;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    // A client that hangs up early must not end the host.
    ::signal(SIGPIPE, SIG_IGN);
    return std::unique_ptr<Listener>(new Listener(std::move(socket)));
}

Listener::Listener(std::unique_ptr<Host::CommandSocket> socket) : socket_(std::move(socket)) {}

Listener::~Listener() {
    // The socket goes first: it unwatches its descriptors on the loop.
    socket_.reset();
    if (loop_) {
        loop_->unwatch(signalPipe[0]);
    }
}

void Listener::stopOnSignals(Scenario::Player& player) {
    loop_ = &player.loop();
    Tasking::EventLoop* loop = loop_;
    loop->watchReadable(signalPipe[0], [loop] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        loop->stop();
    });
}

int Listener::serve(Scenario::Player& player, std::ostream& out) {
    Tasking::EventLoop& loop = player.loop();
    if (!caughtSignal && !player.runner().process().code()) {
        loop.continueInRealTime();
        socket_->serve(loop, player.runner().environment().commandRequestDirSm);
        out << "listening on " << socket_->path() << " (SIGINT or SIGTERM stops)\n" << std::flush;
        loop.resume();
        loop.run();
    }
    int code = 0;
    if (const auto exited = player.runner().process().code()) {
        code = *exited;
        out << "the agent exited with code " << code << "; no more requests are answered\n";
    }
    out << "stopped listening";
    if (caughtSignal) {
        out << " on " << ::strsignal(caughtSignal);
    }
    out << ": " << socket_->answered() << " requests answered, " << socket_->refused()
        << " refused\n"
        << std::flush;
    return code;
}

} // namespace HostTool

#include "host/CommandSocket.h"

#include "host/Format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Host {

namespace {

bool addressOf(const std::string& path, sockaddr_un& addr, std::string& error) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path ||
        path.find('\0') != std::string::npos) {
        error = "'" + printable(path) + "' cannot name a socket: it must be 1 to " +
                std::to_string(sizeof addr.sun_path - 1) + " bytes";
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

// Whether a process accepts connections on the socket file at `path`.
enum class Probe { listening, stale, unknown };
Probe probe(const sockaddr_un& addr, std::string& why) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return Probe::unknown;
    }
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int err = errno;
    ::close(fd);
    if (rc == 0) {
        return Probe::listening;
    }
    why = std::strerror(err);
    return err == ECONNREFUSED ? Probe::stale : Probe::unknown;
}

} // namespace

std::unique_ptr<CommandSocket> CommandSocket::open(const std::string& path, std::string& error,
                                                   std::string& note) {
    sockaddr_un addr;
    if (!addressOf(path, addr, error)) {
        return nullptr;
    }
    const std::string shown = printable(path);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = shown + " exists and is not a socket; it is left alone";
            return nullptr;
        }
        std::string why;
        switch (probe(addr, why)) {
        case Probe::listening:
            error = shown + " is in use: another process answers on it";
            return nullptr;
        case Probe::unknown:
            error = shown + " exists and cannot be checked (" + why + "); it is left alone";
            return nullptr;
        case Probe::stale:
            if (::unlink(path.c_str()) != 0) {
                error = "cannot remove the stale socket " + shown + ": " + std::strerror(errno);
                return nullptr;
            }
            note = "replaced the stale socket " + shown + " (nobody answered on it)";
            break;
        }
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return nullptr;
    }
    // Created owner-only from the start: no other user may connect, not even for a moment.
    const mode_t mask = ::umask(077);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int bindErrno = errno;
    ::umask(mask);
    // Read and write are all a client needs; execute means nothing on a socket.
    if (bound != 0 || ::chmod(path.c_str(), 0600) != 0 ||
        ::listen(fd, static_cast<int>(kMaxPending)) != 0 || ::stat(path.c_str(), &st) != 0) {
        const int err = bound != 0 ? bindErrno : errno;
        error = "cannot listen on " + shown + ": " +
                (err == EADDRINUSE ? std::string("it is in use") : std::strerror(err));
        if (bound == 0) {
            ::unlink(path.c_str());
        }
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CommandSocket>(new CommandSocket(path, fd, st.st_dev, st.st_ino));
}

CommandSocket::CommandSocket(std::string path, int fd, dev_t dev, ino_t ino)
    : path_(std::move(path)), fd_(fd), dev_(dev), ino_(ino) {}

CommandSocket::~CommandSocket() {
    while (!pending_.empty()) {
        drop(pending_.begin()->first, false);
    }
    if (loop_) {
        loop_->unwatch(fd_);
    }
    ::close(fd_);
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
        ::unlink(path_.c_str());
    }
}

void CommandSocket::serve(Tasking::EventLoop& loop,
                          Ert::Ptr<Agent::AgentCommandRequestDirSm> requests) {
    loop_ = &loop;
    requests_ = std::move(requests);
    loop.watchReadable(fd_, [this] { accept(); });
}

void CommandSocket::accept() {
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return; // EAGAIN: every waiting connection is taken
        }
        ucred peer{};
        socklen_t len = sizeof peer;
        if (pending_.size() >= kMaxPending ||
            ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 ||
            peer.uid != ::geteuid()) {
            ::close(fd);
            ++refused_;
            continue;
        }
        Pending& p = pending_[fd];
        p.timeout = Ert::make<Tasking::TimerTask>(loop_->scheduler("commandSocket"), 0,
                                                  "commandTimeout", [this, fd] { drop(fd, true); });
        p.timeout->scheduleTaskDelay(kIoSeconds);
        loop_->watchReadable(fd, [this, fd] { readRequest(fd); });
    }
}

void CommandSocket::readRequest(int fd) {
    Pending& p = pending_.at(fd);
    char buf[1024];
    // A line end or the client closing its side ends the request.
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            p.line.append(buf, static_cast<std::size_t>(n));
            if (const std::size_t end = p.line.find('\n'); end != std::string::npos) {
                p.line.resize(end);
                break;
            }
            if (p.line.size() > kMaxRequest) {
                drop(fd, true);
                return;
            }
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        } else if (errno != EINTR) {
            drop(fd, true);
            return;
        }
    }
    if (p.line.size() > kMaxRequest) {
        drop(fd, true);
        return;
    }
    std::string command = std::move(p.line);
    if (!command.empty() && command.back() == '\r') {
        command.pop_back();
    }
    if (command.empty()) {
        // Nothing asked: a client that only checked whether anyone listens.
        drop(fd, false);
        return;
    }
    pending_.erase(fd);
    loop_->unwatch(fd);
    answer(fd, command);
}

void CommandSocket::answer(int fd, const std::string& command) {
    // The callback writes its reply as it goes: blocking writes, but never stuck on a client
    // that does not read.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const timeval limit{static_cast<time_t>(kIoSeconds), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (requests_->request(fd, command)) {
        ++answered_;
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

void CommandSocket::drop(int fd, bool refused) {
    loop_->unwatch(fd);
    pending_.erase(fd);
    ::close(fd);
    refused_ += refused;
}

} // namespace Host

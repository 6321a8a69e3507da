#pragma once
// Command requests over a Unix domain socket: a client connects, writes one request line and
// reads the reply, which the agent's command callback writes straight to the connection, until
// the host closes it. The socket file is the owner's alone and is removed when the host stops.

#include "host/Agent.h"
#include "host/EventLoop.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>

namespace Host {

class CommandSocket {
public:
    // The longest request line taken; a longer one is refused unanswered.
    static constexpr std::size_t kMaxRequest = 4096;
    // Connections waiting for their request line at once; more are closed at once.
    static constexpr std::size_t kMaxPending = 16;
    // How long a connection may take to send its request line, and a reply to be taken.
    static constexpr double kIoSeconds = 5.0;

    // Binds and listens at `path`. A socket file nobody listens on any more is replaced, and
    // `note` says so; a live listener, another kind of file or a bad path is an error.
    static std::unique_ptr<CommandSocket> open(const std::string& path, std::string& error,
                                               std::string& note);
    ~CommandSocket();
    CommandSocket(const CommandSocket&) = delete;
    CommandSocket& operator=(const CommandSocket&) = delete;

    // Answers requests on `loop` (in real time) through `requests` from now on.
    void serve(Tasking::EventLoop& loop, Ert::Ptr<Agent::AgentCommandRequestDirSm> requests);
    const std::string& path() const { return path_; }
    std::size_t answered() const { return answered_; }
    // Requests refused: too long, from another user, or not sent in time.
    std::size_t refused() const { return refused_; }

private:
    struct Pending {
        std::string line;
        Ert::Ptr<Tasking::TimerTask> timeout;
    };

    CommandSocket(std::string path, int fd, dev_t dev, ino_t ino);
    void accept();
    void readRequest(int fd);
    void answer(int fd, const std::string& command);
    void drop(int fd, bool refused);

    std::string path_;
    int fd_;
    // The file bound, so that only it is removed, not one that replaced it.
    dev_t dev_;
    ino_t ino_;
    Tasking::EventLoop* loop_ = nullptr;
    Ert::Ptr<Agent::AgentCommandRequestDirSm> requests_;
    std::map<int, Pending> pending_;
    std::size_t answered_ = 0;
    std::size_t refused_ = 0;
};

} // namespace Host

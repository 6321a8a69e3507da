#pragma once
// `vyrnat-host --listen`: after the scenario, the agent goes on in real time and answers command
// requests on a Unix domain socket until SIGINT or SIGTERM.

#include "host/CommandSocket.h"
#include "tools/scenario/Player.h"

#include <memory>
#include <ostream>
#include <string>

namespace HostTool {

class Listener {
public:
    // Takes the socket at `path` before anything plays; nullptr with `error` when it cannot.
    static std::unique_ptr<Listener> open(const std::string& path, std::string& error);
    ~Listener();

    // Stops the player's loop on SIGINT or SIGTERM from now on, the scenario's play included.
    void stopOnSignals(Scenario::Player& player);
    // After the play: answers requests until a signal or an agent exit. Returns the agent's exit
    // code, or 0.
    int serve(Scenario::Player& player, std::ostream& out);

private:
    explicit Listener(std::unique_ptr<Host::CommandSocket> socket);
    std::unique_ptr<Host::CommandSocket> socket_;
    Tasking::EventLoop* loop_ = nullptr;
};

} // namespace HostTool

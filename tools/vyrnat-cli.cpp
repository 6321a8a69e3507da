// Asks a running NAT agent one CLI command over the socket of `vyrnat-host --listen` and prints
// the reply. The agent reports a wrong argument only in its trace and answers it with nothing,
// the same as an empty table, so commands are checked here before they are sent.

#include "common/NatCliCommands.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using Words = std::vector<std::string>;

// The words of an argument, as the agent knows them.
template <class T, std::size_t N> Words wordsOf(const std::pair<const char*, T> (&table)[N]) {
    Words out;
    for (const auto& [word, value] : table) {
        out.emplace_back(word);
    }
    return out;
}

// The agent's answers to a request it cannot serve at all.
const char* const kRefusals[] = {VyrNat::kCliNotInitialized, VyrNat::kCliNotSupported};

const Words kStaticTypes = wordsOf(VyrNat::kStaticCliTypes);
const Words kEgressTypes = wordsOf(VyrNat::kEgressCliTypes);
const Words kTwiceTypes = wordsOf(VyrNat::kTwiceCliTypes);
const Words kDynamicTypes = [] {
    Words w = wordsOf(VyrNat::kDynamicCliTypes);
    w.insert(w.end(), {"snat", "dnat"});
    return w;
}();
const Words kSnatTables = wordsOf(VyrNat::kSnatCliTables);
const Words kDnatTables = wordsOf(VyrNat::kDnatCliTables);
const Words kKinds = {"snat", "dnat"};

constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kNoConnection = 3;
constexpr int kReplySeconds = 60;

std::string joined(const Words& w, const char* sep = "|") {
    std::string out;
    for (const auto& s : w) {
        out += (out.empty() ? "" : sep) + s;
    }
    return out;
}

// Checks args[at] against `allowed`; `why` says what is wrong.
bool word(const Words& args, std::size_t at, const char* what, const Words& allowed,
          std::string& why) {
    if (at >= args.size()) {
        why = std::string("missing ") + what + " (" + joined(allowed) + ")";
        return false;
    }
    for (const auto& a : allowed) {
        if (args[at] == a) {
            return true;
        }
    }
    why = std::string("unknown ") + what + " '" + args[at] + "' (" + joined(allowed) + ")";
    return false;
}

bool count(const Words& args, std::size_t n, std::string& why) {
    if (args.size() > n) {
        why = "unexpected '" + args[n] + "'";
        return false;
    }
    return true;
}

bool staticArgs(const Words& a, std::string& why) {
    if (a.empty()) {
        why = "missing DIRECTION (ingress, egress, or another word for both)";
        return false;
    }
    if (a.size() > 1 && a[1] == "unprogrammed") {
        return count(a, 2, why);
    }
    return word(a, 1, "KIND", {"snat", "dnat", "unprogrammed"}, why) &&
           word(a, 2, "TYPE", kStaticTypes, why) && count(a, 3, why);
}

bool dynamicArgs(const Words& a, std::string& why) {
    if (!word(a, 0, "TYPE", kDynamicTypes, why)) {
        return false;
    }
    if (a[0] == "snat" || a[0] == "dnat") {
        return word(a, 1, "TABLE", a[0] == "snat" ? kSnatTables : kDnatTables, why) &&
               count(a, 2, why);
    }
    return count(a, 1, why);
}

bool addressArgs(const Words& a, std::string& why) {
    in_addr addr;
    if (a.empty() || ::inet_pton(AF_INET, a[0].c_str(), &addr) != 1) {
        why = a.empty() ? "missing ADDRESS" : "'" + a[0] + "' is not an IPv4 address";
        return false;
    }
    return count(a, 1, why);
}

struct Command {
    const char* keyword;
    const char* args;
    const char* what;
    bool (*check)(const Words& args, std::string& why);
};

const Command kCommands[] = {
    {"showNatSummary", "", "every NAT table's use and the counters",
     [](const Words& a, std::string& why) { return count(a, 0, why); }},
    {"clearNatCounters", "", "clear the dynamic NAT counters",
     [](const Words& a, std::string& why) { return count(a, 0, why); }},
    {"showNatProfiles", "", "the NAT profiles of the static tables",
     [](const Words& a, std::string& why) { return count(a, 0, why); }},
    {"showNatStatic", "DIRECTION KIND [TYPE]", "static translations", staticArgs},
    {"showNatEgress", "KIND TYPE", "egress static translations",
     [](const Words& a, std::string& why) {
         return word(a, 0, "KIND", kKinds, why) && word(a, 1, "TYPE", kEgressTypes, why) &&
                count(a, 2, why);
     }},
    {"showNatTwice", "TYPE", "twice-NAT translations",
     [](const Words& a, std::string& why) {
         return word(a, 0, "TYPE", kTwiceTypes, why) && count(a, 1, why);
     }},
    {"showNatDynamic", "TYPE [TABLE]", "dynamic connections", dynamicArgs},
    {"showNatAddress", "ADDRESS", "every translation of one address", addressArgs},
    {"showNatFlowMatch", "", "NAT flows",
     [](const Words& a, std::string& why) { return count(a, 0, why); }},
};

void usage(FILE* out) {
    std::fprintf(out, "usage: vyrnat-cli -s PATH COMMAND [ARGS]\n"
                      "Sends one CLI command to the NAT agent of `vyrnat-host --listen PATH` and\n"
                      "prints its reply. The command may also be given as one quoted argument.\n"
                      "\n"
                      "Commands:\n");
    for (const Command& c : kCommands) {
        const std::string line = std::string(c.keyword) + (*c.args ? " " : "") + c.args;
        std::fprintf(out, "  %-38s %s\n", line.c_str(), c.what);
    }
    std::fprintf(
        out,
        "\nArguments:\n"
        "  DIRECTION  ingress, egress, or another word for both\n"
        "  KIND       snat, dnat; showNatStatic also takes unprogrammed (then no TYPE)\n"
        "  TYPE       showNatStatic: %s\n"
        "             showNatEgress: %s\n"
        "             showNatTwice:  %s\n"
        "             showNatDynamic: all|cpu|unprogrammed, or snat|dnat with a TABLE\n"
        "  TABLE      after snat: %s\n"
        "             after dnat: %s\n"
        "  ADDRESS    an IPv4 address, such as 192.0.2.7\n"
        "\n"
        "Exit code: 0 when the agent answered (an empty reply is an empty listing), 1 when\n"
        "it refused the command (not initialized yet, or a chip profile without NAT),\n"
        "2 for an unknown command or argument (nothing is sent), 3 when the socket\n"
        "cannot be reached.\n",
        joined(kStaticTypes).c_str(), joined(kEgressTypes).c_str(), joined(kTwiceTypes).c_str(),
        joined(kSnatTables).c_str(), joined(kDnatTables).c_str());
}

Words split(const std::string& text) {
    Words out;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        out.push_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

// Sends `request` and reads the reply until the host closes; the exit code on failure.
int ask(const std::string& path, const std::string& request, std::string& reply) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "vyrnat-cli: '%s' cannot name a socket\n", path.c_str());
        return kUsage;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        const char* hint = err == ENOENT         ? " (is `vyrnat-host --listen` running?)"
                           : err == ECONNREFUSED ? " (nobody answers on it any more)"
                                                 : "";
        std::fprintf(stderr, "vyrnat-cli: cannot connect to %s: %s%s\n", path.c_str(),
                     std::strerror(err), hint);
        if (fd >= 0) {
            ::close(fd);
        }
        return kNoConnection;
    }
    const timeval limit{kReplySeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const std::string line = request + "\n";
    bool sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
    ::shutdown(fd, SHUT_WR);
    char buf[65536];
    ssize_t n = 0;
    while (sent && (n = ::read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno != EINTR) {
            sent = false;
            break;
        }
        reply.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
    const int err = errno;
    ::close(fd);
    if (!sent) {
        std::fprintf(stderr, "vyrnat-cli: no complete reply from %s: %s\n", path.c_str(),
                     err == EAGAIN ? "timed out" : std::strerror(err));
        return kNoConnection;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    std::string text;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (text.empty() && (a == "-h" || a == "--help")) {
            usage(stdout);
            return 0;
        }
        if (text.empty() && (a == "-s" || a == "--socket")) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vyrnat-cli: %s needs the socket's path\n", a.c_str());
                return kUsage;
            }
            path = argv[++i];
        } else if (text.empty() && !a.empty() && a[0] == '-') {
            std::fprintf(stderr, "vyrnat-cli: unknown option '%s' (see --help)\n", a.c_str());
            return kUsage;
        } else {
            text += (text.empty() ? "" : " ") + a;
        }
    }
    if (path.empty() || text.empty()) {
        std::fprintf(stderr, "vyrnat-cli: %s (see --help)\n",
                     path.empty() ? "-s PATH names the agent's socket" : "no command given");
        return kUsage;
    }
    Words words = split(text);
    const Command* command = nullptr;
    for (const Command& c : kCommands) {
        if (!words.empty() && words[0] == c.keyword) {
            command = &c;
        }
    }
    if (!command) {
        std::fprintf(stderr, "vyrnat-cli: unknown command '%s' (see --help)\n",
                     words.empty() ? "" : words[0].c_str());
        return kUsage;
    }
    const Words args(words.begin() + 1, words.end());
    if (std::string why; !command->check(args, why)) {
        std::fprintf(stderr, "vyrnat-cli: %s %s: %s\n", command->keyword, command->args,
                     why.c_str());
        return kUsage;
    }
    std::string reply;
    const std::string request =
        std::string(command->keyword) + (args.empty() ? "" : " " + joined(args, " "));
    if (const int failed = ask(path, request, reply)) {
        return failed;
    }
    for (const char* refusal : kRefusals) {
        if (reply == refusal) {
            std::fprintf(stderr, "vyrnat-cli: the agent refused %s: %s\n", command->keyword,
                         refusal);
            return kRefused;
        }
    }
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    return 0;
}

#pragma once

#include <string>

namespace zelkor::testing {

// A loopback TCP socket bound to a port the system chose (in `port`), made to
// take connections with `listening`; -1 when it cannot be made.
int LoopbackSocket(int& port, bool listening);

// Whether something takes connections on loopback port `port`.
bool LoopbackAccepts(int port);

// A loopback port that takes connections (the system's backlog accepts them)
// and never answers a byte: a server that hangs.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    int Port() const { return port_; }
    std::string Url() const;

private:
    int socket_ = -1;
    int port_ = 0;
};

// A loopback port that nobody listens on: connections to it are refused.
int RefusingPort();

}  // namespace zelkor::testing

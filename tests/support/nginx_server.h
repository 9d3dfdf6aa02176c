#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zelkor::testing {

class StartedProgram;
class TempDir;

// Debian's nginx, started for one test as a cache server on a free loopback
// port, with its configuration, files and logs in a temporary directory, and
// stopped on destruction. It serves GET and takes PUT (the WebDAV module) below
// /; with a user, only with basic authentication as that user; /failing/
// answers 500 to everything.
//
// Started() is false when it could not start, and Failure() says why (nginx not
// installed, its own error log): a test asserts on it and fails, never passes.
class NginxServer {
public:
    struct Options {
        std::string user;  // empty: no authentication
        std::string password;
    };
    NginxServer();
    explicit NginxServer(const Options& options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    bool Started() const { return failure_.empty(); }
    const std::string& Failure() const { return failure_; }

    int Port() const { return port_; }
    // "http://127.0.0.1:PORT/PATH".
    std::string Url(const std::string& path = "cache") const;
    // The directory it serves: /cache/XX/KEY is Root() / "cache" / XX / KEY.
    std::filesystem::path Root() const;
    // The requests served so far, "METHOD PATH STATUS" each, in order.
    std::vector<std::string> Requests() const;

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<StartedProgram> process_;
    int port_ = 0;
    std::string failure_;
};

}  // namespace zelkor::testing

#include "support/nginx_server.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/loopback_ports.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zelkor::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* Nginx = "/usr/sbin/nginx";

std::string Configuration(const fs::path& dir, int port, const NginxServer::Options& options)
{
    const std::string d = dir.string();
    std::ostringstream conf;
    // One process, that of the test's user: nothing to orphan, nothing to
    // switch users for.
    conf << "daemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "  log_format requests '$request_method $uri $status';\n"
         << "  access_log " << d << "/access.log requests;\n";
    for (const char* temporary : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf << "  " << temporary << "_temp_path " << d << "/temp;\n";
    conf << "  client_max_body_size 0;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << ";\n"
         << "    root " << d << "/root;\n"
         << "    location / {\n"
         << "      dav_methods PUT;\n"
         << "      create_full_put_path on;\n";
    if (!options.user.empty())
        conf << "      auth_basic cache;\n      auth_basic_user_file " << d << "/users;\n";
    conf << "    }\n"
         << "    location /failing/ { return 500; }\n"
         << "  }\n"
         << "}\n";
    return conf.str();
}

}  // namespace

NginxServer::NginxServer() : NginxServer(Options{}) {}

NginxServer::NginxServer(const Options& options) : dir_(std::make_unique<TempDir>())
{
    if (::access(Nginx, X_OK) != 0) {
        failure_ = std::string(Nginx) + " is not installed (scripts/bootstrap nginx installs it)";
        return;
    }
    fs::create_directories(*dir_ / "root");
    fs::create_directories(*dir_ / "temp");
    if (!options.user.empty())
        dir_->Write("users", options.user + ":{PLAIN}" + options.password + "\n");
    // The port is free when chosen; another process may take it before nginx
    // binds it, so a few tries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int probe = LoopbackSocket(port_, false);
        if (probe < 0) {
            failure_ = "no free loopback port";
            return;
        }
        ::close(probe);
        dir_->Write("nginx.conf", Configuration(dir_->path(), port_, options));
        process_ = std::make_unique<StartedProgram>(
            Nginx,
            std::vector<std::string>{"-p", dir_->path().string(), "-e", (*dir_ / "error.log").string(), "-c",
                                     (*dir_ / "nginx.conf").string()},
            dir_->path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline && !LoopbackAccepts(port_)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (::kill(process_->Pid(), 0) != 0)
                break;
        }
        if (LoopbackAccepts(port_)) {
            failure_.clear();
            return;
        }
        process_->Signal(SIGKILL);
        const ToolRun ended = process_->Wait();
        std::string log;
        try {
            log = ReadFile(*dir_ / "error.log");
        } catch (const std::exception&) {
        }
        failure_ = "nginx did not start: " + ended.err + log;
        process_.reset();
    }
}

NginxServer::~NginxServer()
{
    if (process_) {
        // Fast shutdown; StartedProgram kills what is left and waits.
        process_->Signal(SIGTERM);
        process_->Wait();
    }
}

std::string NginxServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

fs::path NginxServer::Root() const
{
    return *dir_ / "root";
}

std::vector<std::string> NginxServer::Requests() const
{
    std::vector<std::string> requests;
    std::ifstream log(*dir_ / "access.log");
    for (std::string line; std::getline(log, line);)
        requests.push_back(line);
    return requests;
}

}  // namespace zelkor::testing

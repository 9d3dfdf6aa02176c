#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>

namespace zelkor {

// One HTTP client connection (a libcurl handle), kept open from one request to
// the next, for the remote compression cache: whole-body GET and PUT, nothing
// else. Redirects are not followed, so credentials never go to another host.
//
// Used by one thread at a time. Builds without libcurl have no connections:
// Make gives nothing.
class HttpConnection {
public:
    struct Options {
        std::chrono::milliseconds connectTimeout{1000};
        std::chrono::milliseconds requestTimeout{10000};
        // Sent as "Authorization: Bearer TOKEN" when not empty.
        std::string bearerToken;
        // When it turns true, a request under way ends (as a failure) within
        // about a second, and none starts.
        const std::atomic<bool>* abandon = nullptr;
    };

    enum class Outcome {
        Ok,        // 200 for a GET; 200, 201 or 204 for a PUT
        NotFound,  // 404
        Oversized, // a body larger than was allowed: cut off unread
        Failed,    // refused, timed out, cut short, TLS, any other status
    };

    // Nothing when this build has no HTTP client, or it cannot be set up.
    static std::unique_ptr<HttpConnection> Make(const Options& options);
    // Whether this build has an HTTP client at all.
    static bool Available();

    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Gives room of at least `size` bytes, called at most once per request.
    using Room = std::function<std::span<std::uint8_t>(std::size_t size)>;

    // GETs `url`. On Ok, the body (at most `maxSize` bytes) is at the start of the
    // room asked for, and `size` says how much of it.
    Outcome Get(const std::string& url, std::uint64_t maxSize, const Room& room, std::size_t& size);

    // PUTs `pieces`, one after the other, as the body of `url`.
    Outcome Put(const std::string& url, std::initializer_list<std::span<const std::uint8_t>> pieces);

    struct State;

private:
    explicit HttpConnection(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace zelkor

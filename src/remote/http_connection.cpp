#include "remote/http_connection.h"

#include <cstring>
#include <exception>
#include <mutex>
#include <vector>

#if ZELKOR_HAVE_CURL
#include <curl/curl.h>
#endif

namespace zelkor {

#if ZELKOR_HAVE_CURL

namespace {

// Larger pieces than libcurl's default 16 KiB: fewer calls per entry, whose
// bodies run to megabytes.
constexpr long TransferBuffer = 256 * 1024;

bool StartLibrary()
{
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return started;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    bool Add(const std::string& line)
    {
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (!longer)
            return false;
        list = longer;
        return true;
    }
};

}  // namespace

struct HttpConnection::State {
    CURL* handle = nullptr;
    Options options;
    HeaderList getHeaders;
    HeaderList putHeaders;

    // The request under way.
    std::uint64_t maxSize = 0;
    const Room* room = nullptr;
    std::span<std::uint8_t> body;
    std::size_t received = 0;
    bool bodyWanted = false;
    bool statusKnown = false;
    bool oversized = false;
    std::exception_ptr error;
    std::span<const std::span<const std::uint8_t>> pieces;
    std::size_t piece = 0;
    std::size_t pieceAt = 0;

    ~State()
    {
        if (handle)
            curl_easy_cleanup(handle);
    }

    void Begin()
    {
        body = {};
        received = 0;
        bodyWanted = false;
        statusKnown = false;
        oversized = false;
        error = nullptr;
        piece = 0;
        pieceAt = 0;
    }

    long Status() const
    {
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // A body is taken only from a 200; any other status's body (an error page) is
    // read and dropped.
    std::size_t Write(const char* data, std::size_t size)
    {
        if (!statusKnown) {
            statusKnown = true;
            bodyWanted = room && Status() == 200;
        }
        if (!bodyWanted)
            return size;
        try {
            if (body.data() == nullptr) {
                curl_off_t length = -1;
                curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
                if (length >= 0 && static_cast<std::uint64_t>(length) > maxSize) {
                    oversized = true;
                    return 0;
                }
                const std::uint64_t wanted = length >= 0 ? static_cast<std::uint64_t>(length) : maxSize;
                body = (*room)(static_cast<std::size_t>(wanted)).first(static_cast<std::size_t>(wanted));
            }
            if (size > body.size() - received) {
                oversized = true;
                return 0;
            }
            std::memcpy(body.data() + received, data, size);
            received += size;
            return size;
        } catch (...) {
            // No exception may pass through the library; it is thrown again once
            // the request has ended.
            error = std::current_exception();
            return 0;
        }
    }

    std::size_t Read(char* out, std::size_t size)
    {
        std::size_t given = 0;
        while (given < size && piece < pieces.size()) {
            const std::span<const std::uint8_t> current = pieces[piece];
            const std::size_t n = std::min(size - given, current.size() - pieceAt);
            std::memcpy(out + given, current.data() + pieceAt, n);
            given += n;
            pieceAt += n;
            if (pieceAt == current.size()) {
                ++piece;
                pieceAt = 0;
            }
        }
        return given;
    }

    static std::size_t OnWrite(char* data, std::size_t, std::size_t size, void* self)
    {
        return static_cast<State*>(self)->Write(data, size);
    }
    static std::size_t OnRead(char* out, std::size_t, std::size_t size, void* self)
    {
        return static_cast<State*>(self)->Read(out, size);
    }
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        const std::atomic<bool>* abandon = static_cast<State*>(self)->options.abandon;
        return abandon && abandon->load() ? 1 : 0;
    }

    bool Abandoned() const { return options.abandon && options.abandon->load(); }
};

bool HttpConnection::Available()
{
    return true;
}

std::unique_ptr<HttpConnection> HttpConnection::Make(const Options& options)
{
    if (!StartLibrary())
        return nullptr;
    auto state = std::make_unique<State>();
    state->options = options;
    state->handle = curl_easy_init();
    if (!state->handle)
        return nullptr;
    // A bearer token with a line break would add headers of its own.
    if (options.bearerToken.find_first_of("\r\n") != std::string::npos)
        return nullptr;
    if (!options.bearerToken.empty()) {
        const std::string line = "Authorization: Bearer " + options.bearerToken;
        if (!state->getHeaders.Add(line) || !state->putHeaders.Add(line))
            return nullptr;
    }
    // Without this, libcurl waits up to a second for "100 Continue" before the
    // body of a large PUT.
    if (!state->putHeaders.Add("Expect:"))
        return nullptr;
    CURL* handle = state->handle;
    const bool set =
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count())) ==
            CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options.requestTimeout.count())) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
#if LIBCURL_VERSION_NUM >= 0x075500
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
#else
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)) ==
            CURLE_OK &&
#endif
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, TransferBuffer) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &State::OnWrite) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, state.get()) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, &State::OnRead) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_READDATA, state.get()) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &State::OnProgress) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, state.get()) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!set)
        return nullptr;
#if LIBCURL_VERSION_NUM >= 0x073e00
    curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, TransferBuffer);
#endif
    return std::unique_ptr<HttpConnection>(new HttpConnection(std::move(state)));
}

HttpConnection::Outcome HttpConnection::Get(const std::string& url, std::uint64_t maxSize, const Room& room,
                                            std::size_t& size)
{
    State& s = *state_;
    size = 0;
    if (s.Abandoned())
        return Outcome::Failed;
    s.Begin();
    s.maxSize = maxSize;
    s.room = &room;
    if (curl_easy_setopt(s.handle, CURLOPT_URL, url.c_str()) != CURLE_OK ||
        curl_easy_setopt(s.handle, CURLOPT_HTTPGET, 1L) != CURLE_OK ||
        curl_easy_setopt(s.handle, CURLOPT_HTTPHEADER, s.getHeaders.list) != CURLE_OK)
        return Outcome::Failed;
    const CURLcode result = curl_easy_perform(s.handle);
    s.room = nullptr;
    if (s.error)
        std::rethrow_exception(s.error);
    if (s.oversized)
        return Outcome::Oversized;
    if (result != CURLE_OK)
        return Outcome::Failed;
    switch (s.Status()) {
    case 200:
        size = s.received;
        return Outcome::Ok;
    case 404:
        return Outcome::NotFound;
    default:
        return Outcome::Failed;
    }
}

HttpConnection::Outcome HttpConnection::Put(const std::string& url,
                                            std::initializer_list<std::span<const std::uint8_t>> pieces)
{
    State& s = *state_;
    if (s.Abandoned())
        return Outcome::Failed;
    s.Begin();
    s.room = nullptr;
    s.pieces = std::span(pieces.begin(), pieces.size());
    curl_off_t total = 0;
    for (const std::span<const std::uint8_t> piece : pieces)
        total += static_cast<curl_off_t>(piece.size());
    const bool set = curl_easy_setopt(s.handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
                     curl_easy_setopt(s.handle, CURLOPT_UPLOAD, 1L) == CURLE_OK &&
                     curl_easy_setopt(s.handle, CURLOPT_INFILESIZE_LARGE, total) == CURLE_OK &&
                     curl_easy_setopt(s.handle, CURLOPT_HTTPHEADER, s.putHeaders.list) == CURLE_OK;
    const CURLcode result = set ? curl_easy_perform(s.handle) : CURLE_FAILED_INIT;
    s.pieces = {};
    if (result != CURLE_OK)
        return Outcome::Failed;
    const long status = s.Status();
    return status == 200 || status == 201 || status == 204 ? Outcome::Ok : Outcome::Failed;
}

#else  // no libcurl in this build

struct HttpConnection::State {};

bool HttpConnection::Available()
{
    return false;
}

std::unique_ptr<HttpConnection> HttpConnection::Make(const Options&)
{
    return nullptr;
}

HttpConnection::Outcome HttpConnection::Get(const std::string&, std::uint64_t, const Room&, std::size_t& size)
{
    size = 0;
    return Outcome::Failed;
}

HttpConnection::Outcome HttpConnection::Put(const std::string&, std::initializer_list<std::span<const std::uint8_t>>)
{
    return Outcome::Failed;
}

#endif

HttpConnection::HttpConnection(std::unique_ptr<State> state) : state_(std::move(state)) {}

HttpConnection::~HttpConnection() = default;

}  // namespace zelkor

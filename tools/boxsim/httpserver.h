#pragma once

#include "faults.h"
#include "net.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace boxsim {

struct HttpRequest {
    std::string line; // the request line exactly as received
    std::string method;
    std::string target; // may hold raw blanks: everything between the method and " HTTP/x.y"
    std::string version;
    std::string path;                           // target before the first '?'
    std::string query;                          // target after the first '?', not decoded
    std::map<std::string, std::string> headers; // names in lower case
    std::string peer;                           // the client's address, as text
    std::string header(const std::string& name) const;
};

// Writes an endless stream body; stops at the drop limit, on shut-down or when the peer is gone.
class StreamWriter {
public:
    StreamWriter(int fd, const Lifetime& life, long long dropAfter);
    bool write(const char* data, size_t size);
    bool sleepMs(long long ms) const { return m_life.sleepMs(ms); }
    bool stopping() const { return m_life.stopping(); }
    long long written() const { return m_written; }

private:
    int m_fd;
    const Lifetime& m_life;
    long long m_dropAfter; // < 0: never
    long long m_written = 0;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When set, only the header is sent (no Content-Length) and this writes the body until it returns.
    std::function<void(StreamWriter&)> stream;
};

std::string statusText(int status);
std::string serializeResponse(const HttpResponse& response, const std::string& version);

// A small HTTP/1.0 and 1.1 server on POSIX sockets: one thread per connection, one answer per
// connection (Connection: close), request targets with raw blanks accepted. The fault table
// spoils answers; the request log records every request line. Accept loop on its own thread.
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpServer(std::string service, Lifetime& life, FaultTable& faults, RequestLog& log, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Requests under this prefix go to the control handler: no faults, no log, no auth.
    void setControl(std::string prefix, Handler handler);
    // Basic auth for every other request when user is not empty. bareChallenge: refuse as nhttpd
    // 3.x does, with the realm's closing quote missing and no body.
    void setAuth(std::string user, std::string password, bool bareChallenge = false);
    // Requests refused for want of the right credentials.
    int denied() const { return m_denied.load(); }

    bool listen(const std::string& address, int port, std::string* error);
    // Closes or reopens the listening socket, so clients see a refused connection meanwhile.
    bool setListening(bool on, std::string* error);
    bool isListening() const;
    void stop();

private:
    void acceptLoop();
    void serve(int fd);
    void answer(int fd, const HttpRequest& req, HttpResponse resp);

    std::string m_service;
    Lifetime& m_life;
    FaultTable& m_faults;
    RequestLog& m_log;
    Handler m_handler;
    std::string m_controlPrefix;
    Handler m_control;
    std::string m_authUser;
    std::string m_authPassword;
    bool m_bareChallenge = false;
    std::atomic<int> m_denied{0};
    std::string m_address;
    int m_port = 0;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    std::thread m_thread;
};

std::string base64Encode(const std::string& in);

} // namespace boxsim

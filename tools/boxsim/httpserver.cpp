#include "httpserver.h"

#include "textutil.h"

#include <arpa/inet.h>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace boxsim {

namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr int kHeadTimeoutMs = 10000;

std::string randomBytes(size_t n) {
    static thread_local std::mt19937 gen{std::random_device{}()};
    std::string out(n, '\0');
    for (char& c : out)
        c = char(gen() & 0xff);
    return out;
}

// windowBits 15 + 16 makes zlib write a gzip member (header 1F 8B 08 00 00000000 00 03).
std::string deflateBytes(const std::string& in, int windowBits) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::string();
    std::string out(deflateBound(&zs, uLong(in.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = uInt(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

bool readHead(int fd, const Lifetime& life, std::string* head) {
    char buf[4096];
    int waitedMs = 0;
    while (head->size() < kMaxHead) {
        if (head->find("\r\n\r\n") != std::string::npos || head->find("\n\n") != std::string::npos)
            return true;
        if (life.stopping() || waitedMs >= kHeadTimeoutMs)
            return false;
        if (!waitReadable(fd, 200)) {
            waitedMs += 200;
            continue;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return !head->empty() && head->find('\n') != std::string::npos;
        head->append(buf, size_t(n));
    }
    return false;
}

std::string peerAddress(int fd) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    char text[INET6_ADDRSTRLEN] = {};
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return std::string();
    if (sa.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&sa)->sin_addr, text, sizeof text);
    else if (sa.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&sa)->sin6_addr, text, sizeof text);
    return text;
}

bool parseHead(const std::string& head, HttpRequest* req) {
    const size_t eol = head.find('\n');
    std::string line = head.substr(0, eol);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    req->line = line;
    const size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0)
        return false;
    req->method = line.substr(0, sp);
    std::string rest = line.substr(sp + 1);
    // The target runs to the last " HTTP/": the client puts raw blanks into it.
    const size_t ver = rest.rfind(" HTTP/");
    if (ver != std::string::npos) {
        req->version = rest.substr(ver + 1);
        rest.resize(ver);
    } else {
        req->version = "HTTP/1.0";
    }
    req->target = rest;
    const size_t q = rest.find('?');
    req->path = rest.substr(0, q);
    req->query = q == std::string::npos ? std::string() : rest.substr(q + 1);
    size_t pos = eol == std::string::npos ? head.size() : eol + 1;
    while (pos < head.size()) {
        size_t end = head.find('\n', pos);
        if (end == std::string::npos)
            end = head.size();
        std::string h = head.substr(pos, end - pos);
        pos = end + 1;
        if (!h.empty() && h.back() == '\r')
            h.pop_back();
        if (h.empty())
            break;
        const size_t colon = h.find(':');
        if (colon != std::string::npos)
            req->headers[toLower(trim(h.substr(0, colon)))] = trim(h.substr(colon + 1));
    }
    return !req->target.empty();
}

} // namespace

std::string HttpRequest::header(const std::string& name) const {
    const auto it = headers.find(toLower(name));
    return it == headers.end() ? std::string() : it->second;
}

StreamWriter::StreamWriter(int fd, const Lifetime& life, long long dropAfter)
    : m_fd(fd)
    , m_life(life)
    , m_dropAfter(dropAfter) {}

bool StreamWriter::write(const char* data, size_t size) {
    if (m_life.stopping())
        return false;
    if (m_dropAfter >= 0 && m_written + (long long)size >= m_dropAfter) {
        const size_t part = size_t(m_dropAfter - m_written);
        sendAll(m_fd, data, part);
        m_written += (long long)part;
        return false;
    }
    if (!sendAll(m_fd, data, size))
        return false;
    m_written += (long long)size;
    return true;
}

std::string statusText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 304:
        return "Not Modified";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

std::string serializeResponse(const HttpResponse& response, const std::string& version) {
    std::string out = (version == "HTTP/1.1" ? "HTTP/1.1 " : "HTTP/1.0 ") + std::to_string(response.status) + " " +
                      statusText(response.status) + "\r\n";
    out += "Server: boxsim\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    for (const auto& [name, value] : response.headers)
        out += name + ": " + value + "\r\n";
    if (!response.stream)
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    if (!response.stream)
        out += response.body;
    return out;
}

std::string base64Encode(const std::string& in) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    while (i + 2 < in.size()) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += table[v >> 18 & 63];
        out += table[v >> 12 & 63];
        out += table[v >> 6 & 63];
        out += table[v & 63];
        i += 3;
    }
    if (i + 1 == in.size()) {
        const unsigned v = (unsigned char)in[i] << 16;
        out += table[v >> 18 & 63];
        out += table[v >> 12 & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += table[v >> 18 & 63];
        out += table[v >> 12 & 63];
        out += table[v >> 6 & 63];
        out += '=';
    }
    return out;
}

HttpServer::HttpServer(std::string service, Lifetime& life, FaultTable& faults, RequestLog& log, Handler handler)
    : m_service(std::move(service))
    , m_life(life)
    , m_faults(faults)
    , m_log(log)
    , m_handler(std::move(handler)) {}

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::setControl(std::string prefix, Handler handler) {
    m_controlPrefix = std::move(prefix);
    m_control = std::move(handler);
}

void HttpServer::setAuth(std::string user, std::string password, bool bareChallenge) {
    m_authUser = std::move(user);
    m_authPassword = std::move(password);
    m_bareChallenge = bareChallenge;
}

bool HttpServer::listen(const std::string& address, int port, std::string* error) {
    m_address = address;
    m_port = port;
    if (!setListening(true, error))
        return false;
    m_thread = std::thread([this] { acceptLoop(); });
    return true;
}

bool HttpServer::setListening(bool on, std::string* error) {
    std::lock_guard lock(m_mutex);
    if (!on) {
        closeFd(m_fd);
        m_fd = -1;
        return true;
    }
    if (m_fd >= 0)
        return true;
    m_fd = listenTcp(m_address, m_port, error);
    return m_fd >= 0;
}

bool HttpServer::isListening() const {
    std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

void HttpServer::stop() {
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    closeFd(m_fd);
    m_fd = -1;
}

void HttpServer::acceptLoop() {
    while (!m_life.stopping()) {
        int listenFd;
        {
            std::lock_guard lock(m_mutex);
            listenFd = m_fd;
        }
        if (listenFd < 0) {
            m_life.sleepMs(100);
            continue;
        }
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        std::lock_guard lock(m_mutex);
        if (m_fd != listenFd)
            continue; // closed meanwhile by setListening(false)
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        m_life.threadStarted();
        std::thread([this, fd] {
            serve(fd);
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            m_life.threadEnded();
        }).detach();
    }
}

void HttpServer::serve(int fd) {
    std::string head;
    if (!readHead(fd, m_life, &head))
        return;
    HttpRequest req;
    req.peer = peerAddress(fd);
    if (!parseHead(head, &req)) {
        HttpResponse bad;
        bad.status = 400;
        bad.body = "bad request";
        sendAll(fd, serializeResponse(bad, "HTTP/1.0"));
        return;
    }
    if (m_control && !m_controlPrefix.empty() && startsWith(req.path, m_controlPrefix)) {
        sendAll(fd, serializeResponse(m_control(req), req.version));
        return;
    }
    m_log.add(m_service, req.line);
    if (!m_authUser.empty()) {
        const std::string expected = "Basic " + base64Encode(m_authUser + ":" + m_authPassword);
        if (req.header("Authorization") != expected) {
            ++m_denied;
            if (m_bareChallenge) {
                sendAll(fd, (req.version == "HTTP/1.1" ? std::string("HTTP/1.1") : std::string("HTTP/1.0")) +
                                " 401 Unauthorized\r\nServer: yhttpd\r\n"
                                "WWW-Authenticate: Basic realm=\"yhhtpd\r\nConnection: close\r\n\r\n");
                return;
            }
            HttpResponse denied;
            denied.status = 401;
            denied.contentType = "text/html";
            denied.headers.emplace_back("WWW-Authenticate", "Basic realm=\"Neutrino HTTPD\"");
            denied.body = "<html><body><h1>401 Unauthorized</h1></body></html>";
            sendAll(fd, serializeResponse(denied, req.version));
            return;
        }
    }
    answer(fd, req, m_handler(req));
}

void HttpServer::answer(int fd, const HttpRequest& req, HttpResponse resp) {
    const std::optional<Fault> fault = m_faults.take(m_service, req.path, req.target);
    const FaultMode mode = fault ? fault->mode : FaultMode::None;
    const auto arg = [&](long long fallback) { return fault->argOr(fallback); };
    switch (mode) {
    case FaultMode::None:
        break;
    case FaultMode::Slow:
        if (!m_life.sleepMs(arg(2000)))
            return;
        break;
    case FaultMode::Silent:
        // Keep the connection open and unanswered until the peer gives up.
        while (!m_life.stopping()) {
            if (waitReadable(fd, 200)) {
                char buf[1024];
                if (::recv(fd, buf, sizeof buf, 0) <= 0)
                    return;
            }
        }
        return;
    case FaultMode::Trickle: {
        const std::string bytes = serializeResponse(resp, req.version);
        for (char c : bytes) {
            if (!sendAll(fd, &c, 1) || !m_life.sleepMs(arg(1000)))
                return;
        }
        return;
    }
    case FaultMode::Garbage:
        sendAll(fd, randomBytes(size_t(arg(4096))));
        return;
    case FaultMode::GarbageBody:
        resp.stream = nullptr;
        resp.body = randomBytes(size_t(arg(4096)));
        resp.contentType = "application/octet-stream";
        break;
    case FaultMode::Huge: {
        const long long total = arg(50LL * 1024 * 1024);
        HttpResponse h;
        h.headers.emplace_back("Content-Length", std::to_string(total));
        h.stream = [](StreamWriter&) {};
        if (!sendAll(fd, serializeResponse(h, req.version)))
            return;
        std::string chunk;
        while (chunk.size() < 64 * 1024)
            chunk += "huge answer line, repeated to fill the body\r\n";
        long long left = total;
        while (left > 0 && !m_life.stopping()) {
            const size_t n = size_t(std::min<long long>(left, (long long)chunk.size()));
            if (!sendAll(fd, chunk.data(), n))
                return;
            left -= (long long)n;
        }
        return;
    }
    case FaultMode::Close:
        return;
    case FaultMode::Empty:
        resp = HttpResponse();
        break;
    case FaultMode::Gzip:
        if (!resp.stream) {
            resp.body = deflateBytes(resp.body, 15 + 16);
            resp.headers.emplace_back("Content-Encoding", "gzip");
        }
        break;
    case FaultMode::GzipMarker:
        if (!resp.stream)
            resp.body = std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8) + deflateBytes(resp.body, 15);
        break;
    case FaultMode::TimeoutText:
        resp = HttpResponse();
        resp.body = "timeout";
        break;
    case FaultMode::Drop:
        if (!resp.stream) {
            const std::string bytes = serializeResponse(resp, req.version);
            sendAll(fd, bytes.data(), std::min(bytes.size(), size_t(arg(0))));
            return;
        }
        break;
    case FaultMode::Status:
        resp.stream = nullptr;
        resp.status = int(arg(500));
        resp.body = statusText(resp.status);
        break;
    }
    // One write for header and body, as the receiver's web server does.
    if (!sendAll(fd, serializeResponse(resp, req.version)) || !resp.stream)
        return;
    StreamWriter writer(fd, m_life, mode == FaultMode::Drop ? arg(0) : -1);
    resp.stream(writer);
}

} // namespace boxsim

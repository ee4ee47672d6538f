#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace boxsim {

// How one answer is spoiled on purpose.
enum class FaultMode {
    None,
    Slow,        // wait arg ms (default 2000), then answer normally
    Silent,      // read the request and never answer
    Trickle,     // send the answer one byte per arg ms (default 1000)
    Garbage,     // random bytes (arg, default 4096) instead of any HTTP answer, then close
    GarbageBody, // a valid 200 header whose body is arg random bytes
    Huge,        // a 200 answer with a body of arg bytes (default 50 MiB)
    Close,       // close the connection without a byte
    Empty,       // 200 with an empty body
    Gzip,        // the body as a real gzip stream with Content-Encoding: gzip
    GzipMarker,  // the eight bytes 1F 8B 08 00 00 00 00 00 followed by a zlib stream, no header flag
    TimeoutText, // the body "timeout"
    Drop,        // close after arg bytes of the answer (streams: after arg body bytes)
    Status,      // answer with HTTP status arg (default 500)
};

struct Fault {
    FaultMode mode = FaultMode::None;
    long long arg = -1; // -1: the mode's default
    int count = 0;      // answers left to spoil; 0 means until cleared
    long long argOr(long long fallback) const { return arg < 0 ? fallback : arg; }
};

std::optional<FaultMode> faultModeFromName(const std::string& name);
std::string faultModeName(FaultMode mode);

// Endpoint-keyed fault knobs, shared by every service; thread-safe.
// An endpoint is a box web path ("/control/zapto", matched against the path before '?'),
// a full target with a query ("/control/zapto?getallpids", matched as a prefix of the target),
// "*" (every box web request), or a service name: tv, radio, udp, vlc, vlcstream.
class FaultTable {
public:
    void set(const std::string& endpoint, const Fault& fault);
    void clear(const std::string& endpoint);
    void clearAll();
    // Parses "ENDPOINT=MODE[:ARG[:COUNT]]" as given on the command line.
    bool setFromText(const std::string& text, std::string* error);
    // Returns the fault for this request (most specific first) and uses up one of its count.
    std::optional<Fault> take(const std::string& service, const std::string& path, const std::string& target);
    std::string describe() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, Fault> m_faults;
};

// Every request line received, per service, in arrival order; thread-safe.
class RequestLog {
public:
    void add(const std::string& service, const std::string& line);
    std::vector<std::string> lines(const std::string& service) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<std::string>> m_lines;
};

} // namespace boxsim

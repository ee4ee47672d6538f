#pragma once

#include "faults.h"
#include "httpserver.h"
#include "net.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace boxsim {

constexpr size_t kTsPacket = 188;
constexpr size_t kTsChunk = 7 * kTsPacket; // one UDP datagram, the receiver's usual unit

// How a looped file goes on as one stream: every pass after the first has its clock and time
// stamps moved on by the file's length and its continuity counters carried on, as a receiver's
// endless stream has. A remuxing player (the remote VLC) stalls on time stamps that jump back.
struct TsLoop {
    long long periodTicks = 0;                   // the file's length in 90 kHz ticks
    std::array<unsigned char, 8192> ccAdvance{}; // per PID: payload packets in the file, mod 16

    static TsLoop measure(const std::string& bytes, double fallbackSeconds);
    // Rewrites whole packets of the pass'th pass (0: the file as it is) in place.
    void restamp(char* data, size_t size, long long pass) const;
};

// The looped transport streams the stream services send; read-only after load. The TV stream
// (picture and audio tracks) goes to the TV port and UDP; radio channels get the audio-only
// stream from the file beside it ("x.ts" -> "x-radio.ts"), or the TV stream when there is none.
class TsSource {
public:
    // Loads a .ts file that plays for seconds; falls back to generated packets when it is unusable.
    void load(const std::string& path, double seconds);
    const std::string& bytes() const { return m_bytes; }
    double bytesPerSecond() const { return m_rate; }
    bool fromFile() const { return m_fromFile; }
    bool radioFromFile() const { return !m_radioBytes.empty(); }

    // Sends the loop, paced at about real time, until write() refuses or keepGoing() turns false.
    template <typename Write, typename KeepGoing>
    void pump(Write write, KeepGoing keepGoing, bool radio = false) const;

private:
    std::string m_bytes;
    double m_rate = 250000.0;
    bool m_fromFile = false;
    std::string m_radioBytes;
    double m_radioRate = 0.0;
    TsLoop m_loop;
    TsLoop m_radioLoop;
};

// The receiver's HTTP stream answer ("/0,<pids>" on the TV port, "/<pids>" on the radio port);
// a path without the leading "0," is a radio request and gets the audio-only stream.
HttpResponse tsStreamResponse(const TsSource& source, const HttpRequest& req);

// UDP streams started by "exec?api udp_stream start": one sender thread per target, loopback only.
class UdpStreams {
public:
    UdpStreams(const TsSource& source, FaultTable& faults, RequestLog& log);
    ~UdpStreams();
    UdpStreams(const UdpStreams&) = delete;
    UdpStreams& operator=(const UdpStreams&) = delete;

    // Returns false (and sends nothing) for a target outside 127.0.0.0/8 or a bad port.
    bool start(const std::string& ip, int port, const std::string& pids, std::string* error);
    void killAll();
    int running() const;
    long long datagramsSent() const { return m_datagrams.load(); }

private:
    struct Sender {
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        std::thread thread;
    };
    void run(Sender* s, std::string ip, int port, long long dropAfter);

    const TsSource& m_source;
    FaultTable& m_faults;
    RequestLog& m_log;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Sender>> m_senders;
    std::atomic<long long> m_datagrams{0};
};

template <typename Write, typename KeepGoing>
void TsSource::pump(Write write, KeepGoing keepGoing, bool radio) const {
    const bool own = radio && !m_radioBytes.empty();
    const std::string& bytes = own ? m_radioBytes : m_bytes;
    const double rate = own ? m_radioRate : m_rate;
    const TsLoop& loop = own ? m_radioLoop : m_loop;
    const auto start = std::chrono::steady_clock::now();
    long long sent = 0;
    long long pass = 0;
    size_t offset = 0;
    char chunk[kTsChunk];
    while (keepGoing()) {
        if (offset >= bytes.size()) {
            offset = 0;
            ++pass;
        }
        const size_t n = std::min(kTsChunk, bytes.size() - offset);
        std::copy_n(bytes.data() + offset, n, chunk);
        loop.restamp(chunk, n, pass);
        if (!write(chunk, n))
            return;
        offset += n;
        sent += (long long)n;
        const auto due = start + std::chrono::microseconds((long long)(double(sent) * 1e6 / rate));
        while (keepGoing() && std::chrono::steady_clock::now() < due)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                due - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
    }
}

} // namespace boxsim

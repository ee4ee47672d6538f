#include "streams.h"

#include "textutil.h"

#include <arpa/inet.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace boxsim {

namespace {

// A minimal but well-formed stream: PAT, PMT and null packets with running continuity counters.
std::string generatedTs() {
    std::string out;
    for (int i = 0; i < 2100; ++i) {
        std::string p(kTsPacket, '\xff');
        const int pid = i % 50 == 0 ? 0 : (i % 50 == 1 ? 0x100 : 0x1fff);
        p[0] = 0x47;
        p[1] = char((pid == 0 || pid == 0x100 ? 0x40 : 0) | (pid >> 8));
        p[2] = char(pid & 0xff);
        p[3] = char(0x10 | (i & 0x0f));
        out += p;
    }
    return out;
}

// Whole datagrams only, so every UDP packet and HTTP chunk is exactly 7 TS packets; empty when unusable.
std::string readTs(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    data.resize(data.size() - data.size() % kTsChunk);
    if (data.size() < kTsChunk || data[0] != 0x47)
        return std::string();
    return data;
}

constexpr long long kTicksWrap = 1ll << 33; // PCR base, PTS and DTS are 33-bit 90 kHz counts

struct TsPacketView {
    const unsigned char* p;
    int pid() const { return ((p[1] & 0x1f) << 8) | p[2]; }
    bool hasPayload() const { return (p[3] & 0x10) != 0; }
    // Offset of the PCR in the adaptation field, or 0 when there is none.
    size_t pcrAt() const {
        if ((p[3] & 0x20) == 0 || p[4] < 7 || (p[5] & 0x10) == 0)
            return 0;
        return 6;
    }
    size_t payloadAt() const { return (p[3] & 0x20) != 0 ? 5 + size_t(p[4]) : 4; }
};

long long readPcrBase(const unsigned char* b) {
    return ((long long)(b[0]) << 25) | ((long long)(b[1]) << 17) | ((long long)(b[2]) << 9) | ((long long)(b[3]) << 1) |
           (b[4] >> 7);
}

void writePcrBase(unsigned char* b, long long v) {
    b[0] = (unsigned char)(v >> 25);
    b[1] = (unsigned char)(v >> 17);
    b[2] = (unsigned char)(v >> 9);
    b[3] = (unsigned char)(v >> 1);
    b[4] = (unsigned char)((b[4] & 0x7f) | ((v & 1) << 7));
}

// A PTS or DTS field: 4 bits of prefix, then 33 bits split 3/15/15 around marker bits.
long long readStamp(const unsigned char* b) {
    return ((long long)((b[0] >> 1) & 0x07) << 30) | ((long long)(b[1]) << 22) | ((long long)(b[2] >> 1) << 15) |
           ((long long)(b[3]) << 7) | (b[4] >> 1);
}

void writeStamp(unsigned char* b, long long v) {
    b[0] = (unsigned char)((b[0] & 0xf1) | ((v >> 29) & 0x0e));
    b[1] = (unsigned char)(v >> 22);
    b[2] = (unsigned char)(((v >> 14) & 0xfe) | 1);
    b[3] = (unsigned char)(v >> 7);
    b[4] = (unsigned char)(((v << 1) & 0xfe) | 1);
}

} // namespace

TsLoop TsLoop::measure(const std::string& bytes, double fallbackSeconds) {
    TsLoop loop;
    std::array<int, 8192> payloads{};
    long long first = -1, last = -1, pcrs = 0;
    int pcrPid = -1;
    for (size_t at = 0; at + kTsPacket <= bytes.size(); at += kTsPacket) {
        const TsPacketView v{reinterpret_cast<const unsigned char*>(bytes.data() + at)};
        if (v.p[0] != 0x47)
            continue;
        if (v.hasPayload())
            ++payloads[size_t(v.pid())];
        const size_t pcr = v.pcrAt();
        if (pcr == 0 || (pcrPid >= 0 && v.pid() != pcrPid))
            continue;
        pcrPid = v.pid();
        last = readPcrBase(v.p + pcr);
        if (first < 0)
            first = last;
        ++pcrs;
    }
    for (size_t pid = 0; pid < payloads.size(); ++pid)
        loop.ccAdvance[pid] = (unsigned char)(payloads[pid] & 0x0f);
    // The span of the clock plus one clock interval: the next pass's first clock follows on.
    if (pcrs >= 2) {
        const long long span = ((last - first) % kTicksWrap + kTicksWrap) % kTicksWrap;
        loop.periodTicks = span + span / (pcrs - 1);
    } else {
        loop.periodTicks = (long long)(std::max(0.1, fallbackSeconds) * 90000.0);
    }
    return loop;
}

void TsLoop::restamp(char* data, size_t size, long long pass) const {
    if (pass <= 0)
        return;
    const long long shift = (pass % kTicksWrap) * (periodTicks % kTicksWrap) % kTicksWrap;
    for (size_t at = 0; at + kTsPacket <= size; at += kTsPacket) {
        auto* p = reinterpret_cast<unsigned char*>(data + at);
        const TsPacketView v{p};
        if (p[0] != 0x47)
            continue;
        if (v.hasPayload())
            p[3] = (unsigned char)((p[3] & 0xf0) | ((p[3] + pass * ccAdvance[size_t(v.pid())]) & 0x0f));
        if (const size_t pcr = v.pcrAt())
            writePcrBase(p + pcr, (readPcrBase(p + pcr) + shift) % kTicksWrap);
        const size_t pes = v.payloadAt();
        // A PES header at the start of a payload: 00 00 01, stream id, length, two flag bytes,
        // the header length, then PTS and DTS as the flags say.
        if ((p[1] & 0x40) == 0 || !v.hasPayload() || pes + 19 > kTsPacket || p[pes] != 0 || p[pes + 1] != 0 ||
            p[pes + 2] != 1 || (p[pes + 6] & 0xc0) != 0x80)
            continue;
        const int flags = p[pes + 7] >> 6;
        if (flags & 2)
            writeStamp(p + pes + 9, (readStamp(p + pes + 9) + shift) % kTicksWrap);
        if (flags == 3)
            writeStamp(p + pes + 14, (readStamp(p + pes + 14) + shift) % kTicksWrap);
    }
}

void TsSource::load(const std::string& path, double seconds) {
    m_bytes.clear();
    m_radioBytes.clear();
    m_fromFile = false;
    if (!path.empty()) {
        m_bytes = readTs(path);
        m_fromFile = !m_bytes.empty();
        if (!m_fromFile)
            std::cerr << "boxsim: no usable transport stream in '" << path << "', sending generated packets\n";
        const size_t dot = path.rfind(".ts");
        if (m_fromFile && dot != std::string::npos && dot + 3 == path.size()) {
            std::ifstream probe(path.substr(0, dot) + "-radio.ts");
            if (probe)
                m_radioBytes = readTs(path.substr(0, dot) + "-radio.ts");
        }
    }
    if (m_bytes.empty()) {
        m_bytes = generatedTs();
        seconds = 2.0;
    }
    m_rate = double(m_bytes.size()) / std::max(0.1, seconds);
    m_radioRate = double(m_radioBytes.size()) / std::max(0.1, seconds);
    m_loop = TsLoop::measure(m_bytes, seconds);
    m_radioLoop = TsLoop::measure(m_radioBytes, seconds);
}

HttpResponse tsStreamResponse(const TsSource& source, const HttpRequest& req) {
    HttpResponse resp;
    if (req.path.size() < 2) {
        resp.status = 404;
        resp.body = "no pids given";
        return resp;
    }
    resp.contentType = "video/mpeg";
    const TsSource* src = &source;
    const bool radio = req.path.rfind("/0,", 0) != 0;
    resp.stream = [src, radio](StreamWriter& w) {
        src->pump([&w](const char* d, size_t n) { return w.write(d, n); }, [&w] { return !w.stopping(); }, radio);
    };
    return resp;
}

UdpStreams::UdpStreams(const TsSource& source, FaultTable& faults, RequestLog& log)
    : m_source(source)
    , m_faults(faults)
    , m_log(log) {}

UdpStreams::~UdpStreams() {
    killAll();
}

bool UdpStreams::start(const std::string& ip, int port, const std::string& pids, std::string* error) {
    in_addr a{};
    if (inet_pton(AF_INET, ip.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127) {
        *error = "udp target must be a loopback address: " + ip;
        return false;
    }
    if (port <= 0 || port > 65535) {
        *error = "bad udp port";
        return false;
    }
    m_log.add("udp", "start " + ip + " " + std::to_string(port) + " " + pids);
    const std::optional<Fault> f = m_faults.take("udp", "", "");
    const long long dropAfter = f && f->mode == FaultMode::Drop ? f->argOr(0) : -1;
    std::lock_guard lock(m_mutex);
    auto s = std::make_unique<Sender>();
    Sender* raw = s.get();
    s->thread = std::thread([this, raw, ip, port, dropAfter] { run(raw, ip, port, dropAfter); });
    m_senders.push_back(std::move(s));
    return true;
}

void UdpStreams::killAll() {
    std::vector<std::unique_ptr<Sender>> senders;
    {
        std::lock_guard lock(m_mutex);
        senders.swap(m_senders);
    }
    if (!senders.empty())
        m_log.add("udp", "kill_all_streams");
    for (auto& s : senders)
        s->stop = true;
    for (auto& s : senders) {
        if (s->thread.joinable())
            s->thread.join();
    }
}

int UdpStreams::running() const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto& s : m_senders)
        n += s->done ? 0 : 1;
    return n;
}

void UdpStreams::run(Sender* s, std::string ip, int port, long long dropAfter) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    long long sent = 0;
    m_source.pump(
        [&](const char* d, size_t n) {
            if (dropAfter >= 0 && sent + (long long)n > dropAfter)
                return false;
            // A refused datagram (no listener yet) is normal for UDP; keep sending.
            ::sendto(fd, d, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            sent += (long long)n;
            ++m_datagrams;
            return true;
        },
        [s] { return !s->stop.load(); });
    ::close(fd);
    s->done = true;
}

} // namespace boxsim

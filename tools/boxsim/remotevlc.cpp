#include "remotevlc.h"

#include "textutil.h"

#include <vlc/vlc.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace boxsim {

namespace {

constexpr const char* kRelayHost = "127.0.0.1";
constexpr int kRelayConnectMs = 10000;

std::string htmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A free TCP port on the relay address, for libvlc's HTTP output.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, kRelayHost, &sa.sin_addr);
    socklen_t len = sizeof sa;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    ::close(fd);
    return port;
}

int connectRelay(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, kRelayHost, &sa.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Options of the old player that libvlc 3 accepts without a word and without effect.
bool isGoneOption(const std::string& o) {
    for (const char* gone :
         {":vout-filter=", ":access-filter=", ":timeshift-force", ":timeshift-granularity=", ":timeshift-dir="}) {
        if (startsWith(o, gone))
            return true;
    }
    return false;
}

// The sout chain with its HTTP output moved to the relay port; ASF becomes TS, which a player
// can join at any packet.
std::string mapChain(const std::string& chain, int port, TranscodeJob& job) {
    std::string out = chain;
    const size_t asf = out.find("mux=asf");
    if (asf != std::string::npos) {
        out.replace(asf, 7, "mux=ts");
        job.notes.push_back("mux=asf -> mux=ts");
    }
    size_t from = 0;
    while ((from = out.find("dst=", from)) != std::string::npos) {
        const size_t value = from + 4;
        if (out.compare(value, 4, "std{") == 0 || out.compare(value, 7, "display") == 0) {
            from = value;
            continue;
        }
        size_t end = out.find_first_of(",}", value);
        if (end == std::string::npos)
            end = out.size();
        job.requestedDst = out.substr(value, end - value);
        const std::string relay = std::string(kRelayHost) + ":" + std::to_string(port);
        job.notes.push_back("dst=" + job.requestedDst + " -> " + relay + " (relayed on the stream port)");
        out.replace(value, end - value, relay);
        break;
    }
    return out;
}

} // namespace

TranscodeJob mapItem(const std::string& item, int internalPort, const std::string& ownAddress) {
    TranscodeJob job;
    for (const std::string& word : split(item, ' ')) {
        if (word.empty())
            continue;
        if (job.mrl.empty()) {
            job.mrl = word;
            if (startsWith(word, "udp://@:") && !ownAddress.empty()) {
                job.mrl = "udp://@" + ownAddress + word.substr(7);
                job.notes.push_back(word + " -> " + job.mrl);
            }
            continue;
        }
        bool mapped = false;
        for (const char* old : {":http-caching=", ":udp-caching="}) {
            if (startsWith(word, old)) {
                const std::string now = ":network-caching=" + word.substr(std::strlen(old));
                job.notes.push_back(word + " -> " + now);
                job.options.push_back(now);
                mapped = true;
            }
        }
        if (mapped)
            continue;
        if (startsWith(word, ":sout=")) {
            job.options.push_back(":sout=" + mapChain(word.substr(6), internalPort, job));
        } else if (isGoneOption(word)) {
            job.notes.push_back(word + ": ignored by libvlc 3");
        } else {
            job.options.push_back(word);
        }
    }
    return job;
}

// One libvlc 3 instance and player running an item; stopping may take a moment on a stalled source.
class Transcoder {
public:
    bool start(const TranscodeJob& job, std::string* error) {
        const char* const args[] = {"--no-xlib",  "--vout=dummy", "--aout=dummy", "--no-video-title-show",
                                    "--no-stats", "--quiet"};
        m_instance = libvlc_new(int(sizeof args / sizeof *args), args);
        if (!m_instance) {
            *error = "libvlc_new failed";
            return false;
        }
        libvlc_media_t* media = libvlc_media_new_location(m_instance, job.mrl.c_str());
        if (!media) {
            *error = "libvlc cannot open " + job.mrl;
            return false;
        }
        for (const std::string& o : job.options)
            libvlc_media_add_option(media, o.c_str());
        m_player = libvlc_media_player_new_from_media(media);
        libvlc_media_release(media);
        if (!m_player || libvlc_media_player_play(m_player) != 0) {
            *error = "libvlc cannot play " + job.mrl;
            return false;
        }
        m_version = libvlc_get_version();
        return true;
    }
    ~Transcoder() {
        if (m_player) {
            libvlc_media_player_stop(m_player);
            libvlc_media_player_release(m_player);
        }
        if (m_instance)
            libvlc_release(m_instance);
    }
    const std::string& version() const { return m_version; }

private:
    libvlc_instance_t* m_instance = nullptr;
    libvlc_media_player_t* m_player = nullptr;
    std::string m_version;
};

RemoteVlc::RemoteVlc(const TsSource& source)
    : m_source(source) {}

RemoteVlc::~RemoteVlc() {
    restartTranscoder(-1, std::string());
}

void RemoteVlc::restartTranscoder(int item, const std::string& ownAddress) {
    std::lock_guard serial(m_transcodeMutex);
    m_transcoder.reset();
    std::string text;
    {
        std::lock_guard lock(m_mutex);
        m_internalPort = 0;
        if (item < 0 || item >= int(m_playlist.size()) || m_playing != item)
            return;
        text = m_playlist[size_t(item)];
    }
    const int port = freePort();
    TranscodeJob job = mapItem(text, port, ownAddress);
    // Without an HTTP output the item would serve nothing; the stream port then relays the box stream.
    if (job.requestedDst.empty())
        job.notes.push_back("no :sout HTTP output; serving the box stream as it is");
    std::string notes;
    for (const std::string& n : job.notes) {
        std::cerr << "boxsim vlc: " << n << "\n";
        notes += (notes.empty() ? "" : "; ") + n;
    }
    std::string chain;
    for (const std::string& o : job.options)
        chain += (chain.empty() ? "" : " ") + o;
    auto t = std::make_unique<Transcoder>();
    std::string error;
    const bool ok = port != 0 && !job.requestedDst.empty() && t->start(job, &error);
    if (!ok && !job.requestedDst.empty())
        std::cerr << "boxsim vlc: " << (error.empty() ? "no free relay port" : error)
                  << "; serving the box stream untranscoded\n";
    std::lock_guard lock(m_mutex);
    m_lastNotes = notes;
    m_lastChain = job.mrl + " " + chain;
    m_engineText = ok ? "libvlc " + t->version() : "none";
    if (ok && m_playing == item) {
        m_internalPort = port;
        m_transcoder = std::move(t);
    }
}

HttpResponse RemoteVlc::handleControl(const HttpRequest& req) {
    HttpResponse resp;
    resp.contentType = "text/html";
    if (req.path != "/" && req.path != "/index.html") {
        resp.status = 404;
        resp.body = "<html><body>Not found</body></html>";
        return resp;
    }
    const std::map<std::string, std::string> params = parseQuery(req.query);
    const auto control = params.find("control");
    bool restart = false;
    int item = -1;
    std::string host = req.header("host");
    host = host.substr(0, host.rfind(':'));
    if (host.empty() || host.find_first_not_of("0123456789.") != std::string::npos)
        host.clear(); // only a literal IPv4 address narrows a UDP listen
    if (control != params.end()) {
        std::lock_guard lock(m_mutex);
        const std::string& c = control->second;
        if (c == "stop" || c == "empty") {
            if (c == "empty")
                m_playlist.clear();
            restart = m_playing >= 0;
            m_playing = -1;
            ++m_generation;
        } else if (c == "add") {
            // The MRL and its options come with raw blanks and may hold '&'; take all after "mrl=".
            const size_t p = req.query.find("mrl=");
            if (p != std::string::npos)
                m_playlist.push_back(trim(percentDecode(req.query.substr(p + 4))));
        } else if (c == "play") {
            const auto it = params.find("item");
            const long long n = it == params.end() ? -1 : toNumber(it->second, -1);
            if (n >= 0 && n < (long long)m_playlist.size()) {
                m_playing = int(n);
            } else if (n < 0 && !m_playlist.empty() && it == params.end()) {
                m_playing = 0;
            }
            if (m_playing >= 0) {
                ++m_generation;
                restart = true;
                item = m_playing;
            }
        }
    }
    if (restart)
        restartTranscoder(item, host);
    std::lock_guard lock(m_mutex);
    resp.body = page();
    return resp;
}

std::string RemoteVlc::page() const {
    std::ostringstream out;
    out << "<html><head><title>VLC media player</title></head><body>\n";
    out << "<h1>VLC media player</h1>\n";
    out << "<p>State: " << (m_playing >= 0 ? "playing" : "stop") << "</p>\n<h2>Playlist</h2>\n<ul>\n";
    for (size_t i = 0; i < m_playlist.size(); ++i) {
        out << "<li><a href=\"?control=play&amp;item=" << i << "\">" << htmlEscape(m_playlist[i]) << "</a>"
            << (int(i) == m_playing ? " <b>(playing)</b>" : "") << "</li>\n";
    }
    out << "</ul>\n<p><a href=\"?control=stop\">Stop</a> <a href=\"?control=empty\">Empty</a></p>\n";
    out << "</body></html>\n";
    return out.str();
}

bool RemoteVlc::stillPlaying(unsigned generation) const {
    std::lock_guard lock(m_mutex);
    return m_playing >= 0 && m_generation == generation;
}

HttpResponse RemoteVlc::handleStream(const HttpRequest&) {
    HttpResponse resp;
    unsigned generation;
    int port;
    {
        std::lock_guard lock(m_mutex);
        if (m_playing < 0) {
            resp.status = 404;
            resp.body = "nothing is playing";
            return resp;
        }
        generation = m_generation;
        port = m_internalPort;
    }
    resp.contentType = "video/mpeg";
    if (port == 0) {
        resp.stream = [this, generation](StreamWriter& w) {
            m_source.pump([&w](const char* d, size_t n) { return w.write(d, n); },
                          [this, &w, generation] { return !w.stopping() && stillPlaying(generation); });
        };
        return resp;
    }
    // Relays libvlc's output; libvlc opens it only once the transcoder has its first frames.
    resp.stream = [this, generation, port](StreamWriter& w) {
        const auto going = [&] { return !w.stopping() && stillPlaying(generation); };
        int fd = -1;
        for (int waited = 0; going() && waited < kRelayConnectMs; waited += 100) {
            fd = connectRelay(port);
            if (fd >= 0)
                break;
            w.sleepMs(100);
        }
        if (fd < 0)
            return;
        const std::string get = "GET / HTTP/1.0\r\n\r\n";
        bool inBody = false;
        std::string head;
        char buf[16384];
        if (sendAll(fd, get)) {
            while (going()) {
                if (!waitReadable(fd, 200))
                    continue;
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                if (inBody) {
                    if (!w.write(buf, size_t(n)))
                        break;
                    continue;
                }
                head.append(buf, size_t(n));
                const size_t end = head.find("\r\n\r\n");
                if (end == std::string::npos) {
                    if (head.size() > 65536)
                        break;
                    continue;
                }
                inBody = true;
                if (head.size() > end + 4 && !w.write(head.data() + end + 4, head.size() - end - 4))
                    break;
            }
        }
        ::close(fd);
    };
    return resp;
}

std::string RemoteVlc::stateText() const {
    std::lock_guard lock(m_mutex);
    std::ostringstream out;
    out << "vlc_playing=" << m_playing << "\n";
    out << "vlc_items=" << m_playlist.size() << "\n";
    for (size_t i = 0; i < m_playlist.size(); ++i)
        out << "vlc_item" << i << "=" << m_playlist[i] << "\n";
    out << "vlc_engine=" << m_engineText << "\n";
    out << "vlc_transcode=" << m_lastChain << "\n";
    out << "vlc_mapped=" << m_lastNotes << "\n";
    return out.str();
}

} // namespace boxsim

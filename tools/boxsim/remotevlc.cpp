#include "remotevlc.h"

#include "textutil.h"

#include <vlc/vlc.h>

#include <algorithm>
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

bool parseVlcVersion(const std::string& text, VlcVersion* out) {
    if (text == "0.8.4")
        *out = VlcVersion::V084;
    else if (text == "0.8.5")
        *out = VlcVersion::V085;
    else if (text == "0.8.6")
        *out = VlcVersion::V086;
    else if (text == "plain")
        *out = VlcVersion::Plain;
    else
        return false;
    return true;
}

namespace {

constexpr int kGeneralNode = 3;

// VLC 0.8's reading of one query value: the text after "name=" (at the start or after '&') up to
// the next '&', with %XX and '+' decoded.
std::string uriValue(const std::string& query, const std::string& name) {
    size_t at = 0;
    while ((at = query.find(name + "=", at)) != std::string::npos) {
        if (at == 0 || query[at - 1] == '&')
            break;
        at += name.size();
    }
    if (at == std::string::npos)
        return std::string();
    const size_t from = at + name.size() + 1;
    std::string value = query.substr(from, query.find('&', from) - from);
    for (char& c : value) {
        if (c == '+')
            c = ' ';
    }
    return percentDecode(value);
}

// VLC 0.8's atoi: leading digits, 0 for none.
int leadingNumber(const std::string& text) {
    const std::string t = trim(text);
    long long n = 0;
    for (char c : t) {
        if (c < '0' || c > '9' || n > 100000000)
            break;
        n = n * 10 + (c - '0');
    }
    return int(n);
}

std::string forbiddenPage(const std::string& url) {
    return "<?xml version=\"1.0\" encoding=\"ascii\" ?>\n"
           "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
           "\"http://www.w3.org/TR/xhtml10/DTD/xhtml10strict.dtd\">\n"
           "<html lang=\"en\">\n<head>\n<title>Error 403</title>\n</head>\n<body>\n<h1>403 Forbidden (" +
           htmlEscape(url) + ")</h1>\n<hr />\n<a href=\"http://www.videolan.org\">VideoLAN</a>\n</body>\n</html>\n";
}

} // namespace

RemoteVlc::RemoteVlc(const TsSource& source, VlcVersion version, std::vector<std::string> hosts)
    : m_source(source)
    , m_version(version)
    , m_hosts(std::move(hosts)) {
    if (m_version == VlcVersion::Plain)
        m_nextId = 0;
}

RemoteVlc::~RemoteVlc() {
    restartTranscoder(-1, std::string());
}

const RemoteVlc::Item* RemoteVlc::findItem(int id) const {
    for (const std::vector<Item>* list : {&m_playlist, &m_sap}) {
        for (const Item& item : *list) {
            if (item.id == id)
                return &item;
        }
    }
    return nullptr;
}

void RemoteVlc::restartTranscoder(int id, const std::string& ownAddress) {
    std::lock_guard serial(m_transcodeMutex);
    m_transcoder.reset();
    std::string text;
    {
        std::lock_guard lock(m_mutex);
        m_internalPort = 0;
        const Item* item = findItem(id);
        if (!item || m_playing != id)
            return;
        text = item->name;
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
    if (ok && m_playing == id) {
        m_internalPort = port;
        m_transcoder = std::move(t);
    }
}

bool RemoteVlc::allowed(const std::string& peer) const {
    if (m_version == VlcVersion::V084 || m_version == VlcVersion::Plain)
        return true;
    for (const std::string& h : m_hosts) {
        if (h == peer)
            return true;
    }
    return false;
}

bool RemoteVlc::setState(const std::string& key, const std::string& value) {
    std::lock_guard lock(m_mutex);
    if (key == "vlc_version")
        return parseVlcVersion(value, &m_version);
    if (key == "vlc_hosts") {
        m_hosts = split(value, ',');
        return true;
    }
    if (key == "vlc_add" && (value == "ok" || value == "fail")) {
        m_addFails = value == "fail";
        return true;
    }
    if (key == "vlc_sap") {
        const long long n = toNumber(value, -1);
        if (n < 0 || n > 100000)
            return false;
        m_sap.clear();
        m_sapNode = m_nextId++;
        for (long long i = 0; i < n; ++i) {
            const std::string uri = "udp://@239.255.12." + std::to_string(i % 250 + 1) + ":1234";
            m_sap.push_back(Item{m_nextId++, "SAP channel " + std::to_string(i + 1), uri});
        }
        return true;
    }
    return false;
}

HttpResponse RemoteVlc::handleControl(const HttpRequest& req) {
    HttpResponse resp;
    resp.contentType = "text/html";
    VlcVersion version;
    {
        std::lock_guard lock(m_mutex);
        version = m_version;
    }
    const bool plain = version == VlcVersion::Plain;
    // VLC 0.8 reads the request line's target up to the first blank: a raw blank cuts it there.
    const std::string target = plain ? req.target : req.target.substr(0, req.target.find(' '));
    const size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    const std::string query = q == std::string::npos ? std::string() : target.substr(q + 1);
    {
        std::lock_guard lock(m_mutex);
        if (!allowed(req.peer)) {
            resp.status = 403;
            resp.body = forbiddenPage(target);
            return resp;
        }
    }
    const bool v086 = version == VlcVersion::V086;
    const bool mainPage = path == "/" || path == "/index.html";
    const bool old = v086 && (path == "/old/" || path == "/old/index.html");
    if (v086 && path == "/requests/status.xml") {
        std::lock_guard lock(m_mutex);
        resp.contentType = "text/xml";
        resp.body = statusXml();
        return resp;
    }
    if (!mainPage && !old) {
        resp.status = 404;
        resp.body = "<html><body>Not found</body></html>";
        return resp;
    }
    std::string host = req.header("host");
    host = host.substr(0, host.rfind(':'));
    if (host.empty() || host.find_first_not_of("0123456789.") != std::string::npos)
        host.clear(); // only a literal IPv4 address narrows a UDP listen
    const std::string control = uriValue(query, "control");
    bool restart = false;
    int id = -1;
    {
        std::lock_guard lock(m_mutex);
        if (control == "stop" || control == "empty") {
            if (control == "empty") {
                m_playlist.clear();
                if (plain)
                    m_nextId = 0;
            }
            restart = m_playing >= 0;
            m_playing = -1;
            ++m_generation;
        } else if (control == "add") {
            // An empty MRL (a raw blank right after "mrl=") is dropped without a word, as VLC does.
            const std::string text = trim(uriValue(query, "mrl"));
            const std::vector<std::string> words = split(text, ' ');
            if (!text.empty() && !m_addFails)
                m_playlist.push_back(Item{m_nextId++, text, words.empty() ? text : words.front()});
        } else if (control == "play") {
            const int n = leadingNumber(uriValue(query, "item"));
            // Item 0 (or none) plays the current item; the node plays its first child.
            if (plain) {
                if (findItem(n))
                    id = n;
            } else if (n == 0 || n == kGeneralNode) {
                if (n == kGeneralNode || !findItem(m_playing))
                    id = m_playlist.empty() ? -1 : m_playlist.front().id;
                else
                    id = m_playing;
            } else if (findItem(n)) {
                id = n;
            }
            if (id >= 0) {
                m_playing = id;
                ++m_generation;
                restart = true;
            }
        }
    }
    if (restart)
        restartTranscoder(id, host);
    std::lock_guard lock(m_mutex);
    resp.body = v086 && mainPage ? newPage() : oldPage();
    return resp;
}

std::string RemoteVlc::oldPage() const {
    const auto link = [this](std::ostringstream& out, const Item& item) {
        const bool current = item.id == m_playing;
        out << "<li>\n<input type=\"checkbox\" name=\"item\" value=\"" << item.id << "\"/>\n"
            << (current ? "<strong>\n" : "") << "<a href=\"?control=play&amp;item=" << item.id << "\">\n"
            << htmlEscape(item.name) << (item.uri != item.name ? "  (" + htmlEscape(item.uri) + ")" : "") << "</a>\n"
            << (current ? "</strong>\n" : "") << "</li>\n";
    };
    const auto node = [](std::ostringstream& out, int id, const char* name, size_t children) {
        out << "<li>\n<img alt=\"[-]\" src=\"cone_minus.png\" onclick='changeMe(this)'/>\n"
            << "<input type=\"checkbox\" name=\"item\" value=\"" << id << "\"/>\n"
            << "<a href=\"?control=play&amp;item=" << id << "\">\n"
            << name << "\n</a>\n(" << children << "\nitem" << (children > 1 ? "s" : "") << ")\n"
            << (children ? "<ul>\n" : "</li>\n");
    };
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">\n"
        << "<head>\n<title>VLC media player</title>\n</head>\n<body>\n"
        << "<div class=\"sectitle\">Status</div>\nState: " << (m_playing >= 0 ? "playing" : "stop") << "\n"
        << "<h2 class=\"title\"><a href=\"http://www.videolan.org/\">VLC media player 0.8."
        << (m_version == VlcVersion::V084   ? 4
            : m_version == VlcVersion::V085 ? 5
                                            : 6)
        << "</a> (http interface)</h2>\n"
        << "<form method=\"get\" action=\"\">\n<ul id=\"playlist\">\n"
        << "<li>\n<img alt=\"Cone\" src=\"cone_plus.png\" />\nPlaylist\n(" << m_playlist.size() + m_sap.size()
        << " items)\n<ul>\n";
    if (m_version != VlcVersion::Plain)
        node(out, kGeneralNode, "General", m_playlist.size());
    for (const Item& item : m_playlist)
        link(out, item);
    if (!m_playlist.empty() && m_version != VlcVersion::Plain)
        out << "</ul></li>\n";
    if (!m_sap.empty()) {
        node(out, m_sapNode, "SAP", m_sap.size());
        for (const Item& item : m_sap)
            link(out, item);
        out << "</ul></li>\n";
    }
    out << "</ul></li>\n</ul>\n<input type=\"submit\" name=\"control\" value=\"delete\" />\n"
        << "<input type=\"submit\" name=\"control\" value=\"empty\" />\n</form>\n</body>\n</html>\n";
    return out.str();
}

std::string RemoteVlc::newPage() const {
    // The page of 0.8.6: controls and playlist are drawn by scripts from requests/*.xml.
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
           "<title>VLC media player - Web Interface</title>\n"
           "<script type=\"text/javascript\" src=\"js/functions.js\"></script>\n</head>\n"
           "<body onload=\"loop_refresh();\">\n<div id=\"main\">\n"
           "<button id=\"btn_open\" onclick=\"hide_menu('menu');toggle_show('input');\">Open</button>\n"
           "<button id=\"btn_stop\" onclick=\"in_stop();\">Stop</button>\n"
           "<button id=\"btn_play\" onclick=\"pl_play();\">Play</button>\n"
           "<div id=\"playtree\">(loading playlist...)</div>\n"
           "<a href=\"old/\">the old interface</a>\n</div>\n</body>\n</html>\n";
}

std::string RemoteVlc::statusXml() const {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>\n<root>\n<volume>256</volume>\n"
        << "<length>0</length>\n<time>0</time>\n<state>" << (m_playing >= 0 ? "playing" : "stop") << "</state>\n"
        << "<position>0</position>\n<fullscreen></fullscreen>\n<random>0</random>\n<loop>0</loop>\n"
        << "<repeat>0</repeat>\n<information></information>\n</root>\n";
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
        // An announced stream is listed and can be chosen, but there is nothing to fetch it from.
        const bool announced =
            std::any_of(m_sap.begin(), m_sap.end(), [this](const Item& i) { return i.id == m_playing; });
        if (m_playing < 0 || announced) {
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
    for (const Item& item : m_playlist)
        out << "vlc_item" << item.id << "=" << item.name << "\n";
    out << "vlc_engine=" << m_engineText << "\n";
    out << "vlc_transcode=" << m_lastChain << "\n";
    out << "vlc_mapped=" << m_lastNotes << "\n";
    return out.str();
}

} // namespace boxsim

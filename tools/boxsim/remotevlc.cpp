#include "remotevlc.h"

#include "textutil.h"

#include <sstream>

namespace boxsim {

namespace {
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
} // namespace

RemoteVlc::RemoteVlc(const TsSource& source)
    : m_source(source) {}

HttpResponse RemoteVlc::handleControl(const HttpRequest& req) {
    HttpResponse resp;
    resp.contentType = "text/html";
    std::lock_guard lock(m_mutex);
    if (req.path != "/" && req.path != "/index.html") {
        resp.status = 404;
        resp.body = "<html><body>Not found</body></html>";
        return resp;
    }
    const std::map<std::string, std::string> params = parseQuery(req.query);
    const auto control = params.find("control");
    if (control != params.end()) {
        const std::string& c = control->second;
        if (c == "stop") {
            m_playing = -1;
            ++m_generation;
        } else if (c == "empty") {
            m_playlist.clear();
            m_playing = -1;
            ++m_generation;
        } else if (c == "add") {
            // The MRL and its options come with raw blanks and may hold '&'; take all after "mrl=".
            const size_t p = req.query.find("mrl=");
            if (p != std::string::npos)
                m_playlist.push_back(trim(percentDecode(req.query.substr(p + 4))));
        } else if (c == "play") {
            const auto item = params.find("item");
            const long long n = item == params.end() ? -1 : toNumber(item->second, -1);
            if (n >= 0 && n < (long long)m_playlist.size()) {
                m_playing = int(n);
                ++m_generation;
            } else if (n < 0 && !m_playlist.empty() && item == params.end()) {
                m_playing = 0;
                ++m_generation;
            }
        }
    }
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
    {
        std::lock_guard lock(m_mutex);
        if (m_playing < 0) {
            resp.status = 404;
            resp.body = "nothing is playing";
            return resp;
        }
        generation = m_generation;
    }
    resp.contentType = "video/mpeg";
    resp.stream = [this, generation](StreamWriter& w) {
        m_source.pump([&w](const char* d, size_t n) { return w.write(d, n); },
                      [this, &w, generation] { return !w.stopping() && stillPlaying(generation); });
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
    return out.str();
}

} // namespace boxsim

#include "boxweb.h"

#include "screenpicture.h"
#include "textutil.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

namespace boxsim {

namespace {

long long nowSec() {
    return (long long)std::time(nullptr);
}

long long nowMsec() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::string httpDate(long long sec) {
    const std::time_t t = std::time_t(sec);
    std::tm tm{};
    gmtime_r(&t, &tm);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
                  months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// Seconds since 1970 of an HTTP date, -1 when it is none.
long long parseHttpDate(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return end && *end == '\0' ? (long long)timegm(&tm) : -1;
}

std::string clockText(long long sec, const char* format) {
    const std::time_t t = std::time_t(sec);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

std::string pid5(int pid) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%05u", unsigned(pid));
    return buf;
}

HttpResponse text(std::string body, int status = 200) {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

// The remote-control key names the receiver's key emulation knows.
const std::set<std::string>& keyNames() {
    static const std::set<std::string> names = {
        "KEY_0",        "KEY_1",          "KEY_2",           "KEY_3",      "KEY_4",         "KEY_5",
        "KEY_6",        "KEY_7",          "KEY_8",           "KEY_9",      "KEY_BACKSPACE", "KEY_HOME",
        "KEY_UP",       "KEY_PAGEUP",     "KEY_LEFT",        "KEY_RIGHT",  "KEY_DOWN",      "KEY_PAGEDOWN",
        "KEY_MUTE",     "KEY_VOLUMEDOWN", "KEY_VOLUMEUP",    "KEY_POWER",  "KEY_HELP",      "KEY_SETUP",
        "KEY_OK",       "KEY_RED",        "KEY_GREEN",       "KEY_YELLOW", "KEY_BLUE",      "KEY_TOPLEFT",
        "KEY_TOPRIGHT", "KEY_BOTTOMLEFT", "KEY_BOTTOMRIGHT", "KEY_ESC",    "KEY_ENTER",     "KEY_SPACE",
        "KEY_EXIT",     "KEY_MENU",
    };
    return names;
}

} // namespace

std::optional<Firmware> firmwareFromName(const std::string& name) {
    if (name == "3.x")
        return Firmware::V3x;
    if (name == "2.2")
        return Firmware::V22;
    return std::nullopt;
}

BoxWeb::BoxWeb(const DataSet& data, UdpStreams& udp, Firmware firmware)
    : m_data(data)
    , m_udp(udp)
    , m_firmware(firmware) {
    m_current = std::max(0, data.find(data.startChannel));
    m_radioMode = data.channels[size_t(m_current)].radio;
    m_standby = data.standby;
    m_spts = data.spts;
    if (data.recording)
        startRecording();
}

void BoxWeb::startRecording() {
    m_recording = true;
    m_recordTransponder = m_data.transponder(m_current);
}

bool BoxWeb::onRecordedTransponder(int channel) const {
    return !m_recording || m_data.transponder(channel) == m_recordTransponder;
}

HttpResponse BoxWeb::handle(const HttpRequest& req) {
    if (req.path == "/tmp/a.bmp")
        return screenFile(req);
    if (req.path == "/Y_Settings_nhttpd.yhtm") {
        HttpResponse r;
        r.contentType = "text/html";
        r.body = settingsPage();
        return r;
    }
    if (req.path == "/y/cgi")
        return text("ok");
    if (req.path == "/" || req.path == "/index.html") {
        HttpResponse r;
        r.contentType = "text/html";
        r.body = "<html><head><title>dbox2 - Neutrino</title></head><body>nhttpd</body></html>";
        return r;
    }
    if (startsWith(req.path, "/control/")) {
        int status = 200;
        HttpResponse r;
        const std::string cmd = req.path.substr(9);
        // The receiver answers a zap once it has tuned; other requests go on meanwhile.
        const bool tune = cmd == "zapto" && !req.query.empty() && req.query.rfind("get", 0) != 0 &&
                          req.query.rfind("stop", 0) != 0 && req.query.rfind("start", 0) != 0;
        if (tune && m_zapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_zapMs.load()));
        if (cmd == "epg") {
            r.body = epg(req.query, &r.contentType);
            return r;
        }
        r.body = control(cmd, req.query, &status);
        r.status = status;
        return r;
    }
    return text("<html><body>404 Not Found</body></html>", 404);
}

std::string BoxWeb::control(const std::string& cmd, const std::string& query, int* status) {
    const std::map<std::string, std::string> params = parseQuery(query);
    std::lock_guard lock(m_mutex);
    if (cmd == "gettime")
        return std::to_string(nowSec() + m_data.clockOffsetSec);
    if (cmd == "setmode") {
        if (query == "status")
            return m_recording ? "on" : "off";
        if (query == "tv" || query == "radio") {
            m_radioMode = query == "radio";
            return "ok";
        }
        return "error";
    }
    if (cmd == "getmode")
        return m_radioMode ? "radio" : "tv";
    if (cmd == "standby") {
        // nhttpd 3.x tells the state; 2.2 answers "ok" whatever it is.
        if (query.empty())
            return m_firmware == Firmware::V22 ? "ok" : (m_standby ? "on\r\n" : "off\r\n");
        if (query == "on" || query == "off") {
            m_standby = query == "on";
            return "ok";
        }
        return "error";
    }
    if (cmd == "system") {
        if (query == "getAViAExtPlayBack")
            return m_spts ? "1" : "0";
        const auto it = params.find("setAViAExtPlayBack");
        if (it != params.end() && (it->second == "spts" || it->second == "pes")) {
            m_spts = it->second == "spts";
            return "ok";
        }
        return "error";
    }
    if (cmd == "message") {
        // The web server decodes the value, then the message handler decodes it once more: a "+"
        // sent as "%2B" arrives as a blank. Raw blanks in the request line are taken as they came.
        const size_t p = query.find("nmsg=");
        if (p == std::string::npos && !startsWith(query, "popup="))
            return "error";
        const std::string raw = split(query.substr(p == std::string::npos ? 6 : p + 5), '&')[0];
        m_lastMessage = formDecode(formDecode(raw));
        ++m_messages;
        return "ok";
    }
    if (cmd == "rc") {
        if (query == "lock" || query == "unlock") {
            m_rcLocked = query == "lock";
            return "ok";
        }
        return "error";
    }
    if (cmd == "reboot") {
        ++m_reboots;
        return "ok";
    }
    if (cmd == "getbouquets")
        return bouquetList();
    if (cmd == "getbouquet") {
        if (params.count("actual"))
            return std::to_string(actualBouquet());
        return bouquetChannels(params);
    }
    if (cmd == "zapto")
        return zapto(query);
    if (cmd == "info") {
        if (query == "streaminfo")
            return streamInfo();
        if (query == "version" || query.empty())
            return "Neutrino simulated receiver (boxsim)";
        return "error";
    }
    if (cmd == "exec")
        return exec(percentDecode(query));
    if (cmd == "rcem") {
        const std::string key = split(query, '&')[0];
        if (!keyNames().count(key))
            return "error";
        m_lastKey = key;
        ++m_keys;
        pressKey(key);
        return "ok";
    }
    *status = 404;
    return "error";
}

std::vector<BoxWeb::Listed> BoxWeb::listedBouquets() const {
    // 2.2 numbers the bouquets as it stores them, hidden ones included, so the list has gaps;
    // 3.x numbers the ones it shows. Recording leaves gaps in both.
    std::vector<Listed> out;
    int shown = 0;
    for (size_t i = 0; i < m_data.bouquets.size(); ++i) {
        const Bouquet& b = m_data.bouquets[i];
        if (b.hidden)
            continue;
        const int number = m_firmware == Firmware::V22 ? int(i + 1) : ++shown;
        const auto tunable = [this](int idx) { return onRecordedTransponder(idx); };
        if (m_recording && std::none_of(b.tv.begin(), b.tv.end(), tunable) &&
            std::none_of(b.radio.begin(), b.radio.end(), tunable))
            continue;
        out.push_back({int(i), number});
    }
    return out;
}

std::string BoxWeb::bouquetList() {
    std::string out;
    for (const Listed& l : listedBouquets())
        out += std::to_string(l.number) + " " + m_data.bouquets[size_t(l.index)].name + "\n";
    return out;
}

std::string BoxWeb::bouquetChannels(const std::map<std::string, std::string>& params) {
    const auto b = params.find("bouquet");
    if (b == params.end())
        return "error";
    const long long nr = toNumber(b->second, 0);
    const std::vector<Listed> listed = listedBouquets();
    const auto found = std::find_if(listed.begin(), listed.end(), [nr](const Listed& l) { return l.number == nr; });
    if (found == listed.end())
        return std::string();
    const auto m = params.find("mode");
    bool radio = m_radioMode;
    if (m != params.end() && m->second == "TV")
        radio = false;
    if (m != params.end() && m->second == "RADIO")
        radio = true;
    const Bouquet& bq = m_data.bouquets[size_t(found->index)];
    std::string out;
    for (int idx : radio ? bq.radio : bq.tv) {
        if (!onRecordedTransponder(idx))
            continue;
        const Channel& ch = m_data.channels[size_t(idx)];
        out += std::to_string(ch.number) + " " + ch.id + " " + ch.name + "\n";
    }
    return out;
}

int BoxWeb::actualBouquet() const {
    // The place in the bouquet list of the first bouquet that holds the channel on air; 0 if none.
    int cur = m_current;
    if (m_data.channels[size_t(cur)].parent >= 0)
        cur = m_data.channels[size_t(cur)].parent;
    const std::vector<Listed> listed = listedBouquets();
    for (size_t i = 0; i < listed.size(); ++i) {
        const Bouquet& b = m_data.bouquets[size_t(listed[i].index)];
        const std::vector<int>& list = m_radioMode ? b.radio : b.tv;
        if (std::find(list.begin(), list.end(), cur) != list.end())
            return int(i + 1);
    }
    return 0;
}

std::string BoxWeb::zapto(const std::string& query) {
    const Channel& cur = m_data.channels[size_t(m_current)];
    if (query.empty())
        return cur.id;
    if (query == "getpids")
        return std::to_string(cur.videoPid) + "\n" + std::to_string(cur.audio.empty() ? 0 : cur.audio[0].pid) + "\n";
    if (query == "getallpids")
        return allPids();
    if (query == "getallsubchannels") {
        const Channel& portal = cur.parent >= 0 ? m_data.channels[size_t(cur.parent)] : cur;
        std::string out;
        for (int s : portal.subchannels)
            out += m_data.channels[size_t(s)].id + " " + m_data.channels[size_t(s)].name + "\n";
        return out;
    }
    if (query == "stopplayback" || query == "startplayback" || query == "stopsectionsd" || query == "startsectionsd")
        return "ok";
    // Zapping: the receiver answers "ok" whatever it does. It stays put for an id it does not
    // know, in standby, and for a radio id in TV mode or the reverse. While recording, a channel
    // on another transponder is taken as the current one, but nothing is tuned.
    const int idx = m_data.find(toLower(trim(query)));
    if (idx < 0) {
        std::cerr << "boxsim: zap to unknown channel '" << query << "'\n";
        return "ok";
    }
    if (m_standby || m_data.channels[size_t(idx)].radio != m_radioMode) {
        std::cerr << "boxsim: zap to '" << query << "' ignored\n";
        return "ok";
    }
    m_current = idx;
    m_tuned = onRecordedTransponder(idx);
    return "ok";
}

std::string BoxWeb::allPids() const {
    if (!m_tuned)
        return "00000\n0\n";
    const Channel& ch = m_data.channels[size_t(m_current)];
    std::string out = pid5(ch.videoPid) + "\n";
    for (const AudioPid& a : ch.audio)
        out += pid5(a.pid) + " " + a.name + "  \n";
    if (ch.audio.empty())
        out += "0\n";
    if (ch.vtxtPid)
        out += pid5(ch.vtxtPid) + " vtxt\n";
    if (ch.pmtPid)
        out += pid5(ch.pmtPid) + " pmt\n";
    return out;
}

std::string BoxWeb::streamInfo() const {
    if (!m_tuned)
        return "0\n0\n0\nunknown\nunknown\nunknown\n";
    const StreamInfo& i = m_data.channels[size_t(m_current)].info;
    // The third line is the MPEG bit-rate field (400 bit/s units) times 50: bytes per second.
    const long long bytesPerSec = i.bitrate / 400 * 50;
    return std::to_string(i.width) + "\n" + std::to_string(i.height) + "\n" + std::to_string(bytesPerSec) + "\n" +
           i.format + "\n" + i.fps + "\n" + i.audio + "\n";
}

std::string BoxWeb::exec(const std::string& query) {
    // "api udp_stream start <ip> <port> <0> <pmt> <video> <audio>..." and "api udp_stream kill_all_streams".
    std::vector<std::string> words;
    for (const std::string& w : split(query, ' ')) {
        if (!w.empty())
            words.push_back(w);
    }
    if (words.size() >= 3 && words[0] == "api" && words[1] == "udp_stream") {
        if (words[2] == "kill_all_streams") {
            m_udp.killAll();
            return "ok";
        }
        if (words[2] == "start" && words.size() >= 5) {
            std::string pids;
            for (size_t i = 5; i < words.size(); ++i)
                pids += (i > 5 ? " " : "") + words[i];
            std::string error;
            if (!m_udp.start(words[3], int(toNumber(words[4], 0)), pids, &error)) {
                std::cerr << "boxsim: " << error << "\n";
                return "error";
            }
            return "ok";
        }
    }
    return "error";
}

const Programme* BoxWeb::nowProgramme(const Channel& ch, long long now) const {
    for (const Programme& p : ch.epg) {
        if (p.startSec <= now && now < p.startSec + p.durationSec)
            return &p;
    }
    return nullptr;
}

std::string BoxWeb::epg(const std::string& query, std::string* contentType) {
    const std::map<std::string, std::string> params = parseQuery(query);
    std::lock_guard lock(m_mutex);
    const long long now = nowSec();
    if (params.count("xml")) {
        *contentType = "text/xml";
        return epgXml(params);
    }
    std::string out;
    if (query == "ext" || query.empty()) {
        for (const Channel& ch : m_data.channels) {
            const Programme* p = ch.parent < 0 ? nowProgramme(ch, now) : nullptr;
            if (!p)
                continue;
            if (query == "ext")
                out += ch.id + " " + std::to_string(p->startSec) + " " + std::to_string(p->durationSec) + " " +
                       std::to_string(p->eventId) + " " + p->title + "\n";
            else
                out += ch.id + " " + std::to_string(p->eventId) + " " + p->title + "\n";
        }
        return out;
    }
    // "epg?<channel id>": the channel's event list.
    const int idx = m_data.find(toLower(query));
    if (idx >= 0) {
        for (const Programme& p : m_data.channels[size_t(idx)].epg)
            out += std::to_string(p.eventId) + " " + std::to_string(p.startSec) + " " + std::to_string(p.durationSec) +
                   " " + p.title + "\n";
    }
    return out;
}

std::string BoxWeb::epgXml(const std::map<std::string, std::string>& params) {
    const auto id = params.find("channelid");
    const int idx = id == params.end() ? -1 : m_data.find(toLower(trim(id->second)));
    const bool details = params.count("details") && params.at("details") == "true";
    long long max = params.count("max") ? toNumber(params.at("max"), 500) : 500;
    const std::string encoding = m_data.encoding == "utf-8" ? "UTF-8" : "iso-8859-1";
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"" << encoding << "\"?>\n<epglist>\n";
    if (idx >= 0) {
        const Channel& ch = m_data.channels[size_t(idx)];
        out << "\t<channel_id>" << ch.id << "</channel_id>\n";
        out << "\t<channel_name><![CDATA[" << ch.name << "]]></channel_name>\n";
        const long long now = nowSec();
        for (const Programme& p : ch.epg) {
            if (p.startSec + p.durationSec <= now)
                continue; // the receiver lists from the running programme on
            if (max-- <= 0)
                break;
            const long long stop = p.startSec + p.durationSec;
            char hex[32];
            std::snprintf(hex, sizeof hex, "%llx", p.eventId);
            out << "\t<prog>\n";
            out << "\t\t<eventid>" << p.eventId << "</eventid>\n";
            out << "\t\t<eventid_hex>" << hex << "</eventid_hex>\n";
            out << "\t\t<start_sec>" << p.startSec << "</start_sec>\n";
            out << "\t\t<start_t>" << clockText(p.startSec, "%H:%M") << "</start_t>\n";
            out << "\t\t<date>" << clockText(p.startSec, "%d.%m.%Y") << "</date>\n";
            out << "\t\t<stop_sec>" << stop << "</stop_sec>\n";
            out << "\t\t<stop_t>" << clockText(stop, "%H:%M") << "</stop_t>\n";
            out << "\t\t<duration_min>" << p.durationSec / 60 << "</duration_min>\n";
            out << "\t\t<description><![CDATA[" << p.title << "]]></description>\n";
            if (details) {
                out << "\t\t<info1><![CDATA[" << p.info1 << "]]></info1>\n";
                out << "\t\t<info2><![CDATA[" << p.info2 << "]]></info2>\n";
            }
            out << "\t</prog>\n";
        }
    }
    out << "</epglist>\n";
    return out.str();
}

std::string BoxWeb::settingsPage() const {
    // Each value sits between value=" and a closing quote that is followed by " id=fNN title=".
    static const std::vector<std::pair<std::string, std::string>> fields = {
        {"authuser", "root"},
        {"authpassword", "dbox2"},
        {"noauthclient", ""},
        {"authenticate", "false"},
        {"port", "80"},
        {"threading", "true"},
        {"hosteddocumentroot", "/var/hosted"},
        {"ExtrasDocRoot", "/var/httpd"},
        {"ExtrasDocURL", "/extras"},
        {"no_keep_alive_ips", ""},
    };
    std::string out = "<html><head><title>nhttpd settings</title></head><body><form name=\"f\">\n";
    int n = 10;
    for (const auto& [name, value] : fields)
        out += "<input type=\"text\" name=\"" + name + "\" value=\"" + value + "\" id=f" + std::to_string(n++) +
               " title=\"" + name + "\"/>\n";
    out += "</form></body></html>\n";
    return out;
}

void BoxWeb::pressKey(const std::string& key) {
    using Bar = ScreenView::Bar;
    if (key == "KEY_SETUP" || key == "KEY_MENU") {
        m_menuOpen = !m_menuOpen;
        m_menuRow = 0;
        m_bar = int(Bar::None);
        return;
    }
    if (m_menuOpen) {
        if (key == "KEY_UP" || key == "KEY_DOWN")
            m_menuRow = (m_menuRow + (key == "KEY_UP" ? kMenuRows - 1 : 1)) % kMenuRows;
        else if (key == "KEY_EXIT" || key == "KEY_HOME" || key == "KEY_OK")
            m_menuOpen = false;
        return;
    }
    if (key == "KEY_VOLUMEUP" || key == "KEY_VOLUMEDOWN") {
        m_volume = std::clamp(m_volume + (key == "KEY_VOLUMEUP" ? 5 : -5), 0, 100);
        m_muted = false;
        m_bar = int(Bar::Volume);
    } else if (key == "KEY_MUTE") {
        m_muted = !m_muted;
        m_bar = int(Bar::Volume);
    } else if (key == "KEY_EXIT" || key == "KEY_HOME") {
        m_bar = int(Bar::None);
    } else {
        m_bar = int(Bar::Info);
    }
}

HttpResponse BoxWeb::screenFile(const HttpRequest& req) {
    HttpResponse r;
    r.contentType = "image/bmp";
    std::unique_lock lock(m_mutex);
    if (m_screenForm == ScreenForm::Plain) {
        lock.unlock();
        r.body = bitmap(ScreenForm::Plain);
        return r;
    }
    const long long nowMs = nowMsec();
    if (m_shotDueMs >= 0 && nowMs >= m_shotDueMs) {
        // Drawn now rather than when due: the screen has not changed in between in any test.
        m_shotWrittenSec = m_shotDueMs / 1000 + m_data.clockOffsetSec;
        m_shotDueMs = -1;
        lock.unlock();
        std::string file = bitmap(ScreenForm::Dboxshot);
        lock.lock();
        m_shotFile = std::move(file);
    }
    const long long now = nowMs / 1000 + m_data.clockOffsetSec;
    r.headers.emplace_back("Date", httpDate(now));
    if (m_shotFile.empty())
        return text("<html><body>404 Not Found</body></html>", 404);
    // As nhttpd serves a file: cacheable for a day, and not sent again to a client that has it.
    r.headers.emplace_back("Last-Modified", httpDate(m_shotWrittenSec));
    r.headers.emplace_back("Expires", httpDate(now + 24 * 3600));
    const long long since = parseHttpDate(req.header("if-modified-since"));
    if (since >= 0 && since >= m_shotWrittenSec) {
        r.status = 304;
        return r;
    }
    r.body = m_shotFile;
    return r;
}

std::string BoxWeb::bitmap(ScreenForm form) const {
    ScreenView view;
    {
        std::lock_guard lock(m_mutex);
        const long long now = nowSec() + m_data.clockOffsetSec;
        const Channel& ch = m_data.channels[size_t(m_current)];
        view.channel = std::to_string(ch.number > 0 ? ch.number : m_current + 1) + " " + ch.name;
        const Programme* p = nowProgramme(ch, now);
        view.programme = p ? p->title : std::string();
        view.latin1 = m_data.encoding == "latin1";
        view.clock = clockText(now, "%H:%M:%S");
        view.lastKey = m_lastKey;
        view.standby = m_standby;
        view.radio = m_radioMode;
        view.menuOpen = m_menuOpen;
        view.menuRow = m_menuRow;
        view.bar = ScreenView::Bar(m_bar);
        view.volume = m_volume;
        view.muted = m_muted;
    }
    return renderScreenBmp(view, form);
}

std::string BoxWeb::stateText() {
    std::lock_guard lock(m_mutex);
    const Channel& ch = m_data.channels[size_t(m_current)];
    std::ostringstream out;
    out << "channel=" << ch.id << "\n";
    out << "mode=" << (m_radioMode ? "radio" : "tv") << "\n";
    out << "standby=" << (m_standby ? "on" : "off") << "\n";
    out << "spts=" << (m_spts ? "on" : "off") << "\n";
    out << "recording=" << (m_recording ? "on" : "off") << "\n";
    out << "tuned=" << (m_tuned ? "on" : "off") << "\n";
    out << "firmware=" << (m_firmware == Firmware::V22 ? "2.2" : "3.x") << "\n";
    out << "rclock=" << (m_rcLocked ? "on" : "off") << "\n";
    out << "bouquet=" << actualBouquet() << "\n";
    out << "message=" << m_lastMessage << "\n";
    out << "messages=" << m_messages << "\n";
    out << "reboots=" << m_reboots << "\n";
    out << "screenshots=" << m_screenshots << "\n";
    out << "lastkey=" << m_lastKey << "\n";
    out << "keys=" << m_keys << "\n";
    out << "menu=" << (m_menuOpen ? "on" : "off") << "\n";
    out << "volume=" << (m_muted ? 0 : m_volume) << "\n";
    out << "udp_running=" << m_udp.running() << "\n";
    out << "udp_datagrams=" << m_udp.datagramsSent() << "\n";
    return out.str();
}

bool BoxWeb::setState(const std::string& key, const std::string& value) {
    std::lock_guard lock(m_mutex);
    const bool on = value == "on" || value == "1" || value == "true";
    if (key == "recording" && on)
        startRecording();
    else if (key == "recording") {
        m_recording = false;
        m_tuned = true; // the stored channel is tuned once the recording is over
    } else if (key == "standby")
        m_standby = on;
    else if (key == "spts")
        m_spts = on;
    else if (key == "rclock")
        m_rcLocked = on;
    else if (key == "screen" && (value == "dboxshot" || value == "plain"))
        m_screenForm = value == "plain" ? ScreenForm::Plain : ScreenForm::Dboxshot;
    else if (key == "shotdelay" && toNumber(value, -1) >= 0 && toNumber(value, -1) <= 60000)
        m_shotDelayMs = int(toNumber(value, -1));
    else if (key == "mode" && (value == "tv" || value == "radio"))
        m_radioMode = value == "radio";
    else if (key == "zap_ms" && !value.empty() && value.size() < 7 &&
             value.find_first_not_of("0123456789") == std::string::npos)
        m_zapMs = std::stoi(value);
    else if (key == "channel" && m_data.find(value) >= 0) {
        m_current = m_data.find(value);
        m_radioMode = m_data.channels[size_t(m_current)].radio;
        m_tuned = true;
    } else
        return false;
    return true;
}

void BoxWeb::noteReboot() {
    std::lock_guard lock(m_mutex);
    ++m_reboots;
}

void BoxWeb::noteScreenshot() {
    std::lock_guard lock(m_mutex);
    ++m_screenshots;
    m_shotDueMs = nowMsec() + m_shotDelayMs;
}

} // namespace boxsim

#include "simulator.h"

#include "textutil.h"

#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>

namespace boxsim {

Simulator::Simulator(SimOptions options)
    : m_options(std::move(options)) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    for (const std::string& f : m_options.faults) {
        if (!m_faults.setFromText(f, error))
            return false;
    }
    QByteArray json = DataSet::builtinJson();
    if (!m_options.dataFile.empty()) {
        std::ifstream in(m_options.dataFile, std::ios::binary);
        if (!in) {
            *error = "cannot read data file " + m_options.dataFile;
            return false;
        }
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        json = QByteArray::fromStdString(text);
    }
    if (!DataSet::load(json, (long long)std::time(nullptr), &m_data, error))
        return false;
    m_ts.load(m_options.tsFile, m_options.tsSeconds);

    m_udp = std::make_unique<UdpStreams>(m_ts, m_faults, m_log);
    m_box = std::make_unique<BoxWeb>(m_data, *m_udp, m_options.firmware);
    m_box->setZapMs(m_options.zapMs);
    m_vlc = std::make_unique<RemoteVlc>(m_ts, m_options.vlcVersion, m_options.vlcHosts);

    // Every object exists before the first accept thread starts, so handlers never see one half-built.
    m_web = std::make_unique<HttpServer>("http", m_life, m_faults, m_log,
                                         [this](const HttpRequest& r) { return m_box->handle(r); });
    m_web->setControl("/boxsim/", [this](const HttpRequest& r) { return control(r); });
    m_web->setAuth(m_options.user, m_options.password, m_options.firmware == Firmware::V3x);
    const auto ts = [this](const HttpRequest& r) { return tsStreamResponse(m_ts, r); };
    const auto make = [this](std::unique_ptr<HttpServer>& s, const char* name, int port, HttpServer::Handler h) {
        if (port != 0)
            s = std::make_unique<HttpServer>(name, m_life, m_faults, m_log, std::move(h));
    };
    make(m_tv, "tv", m_options.tvPort, ts);
    make(m_radio, "radio", m_options.radioPort, ts);
    make(m_vlcHttp, "vlc", m_options.vlcPort, [this](const HttpRequest& r) { return m_vlc->handleControl(r); });
    make(m_vlcStream, "vlcstream", m_options.vlcStreamPort,
         [this](const HttpRequest& r) { return m_vlc->handleStream(r); });
    if (m_options.telnetPort != 0) {
        TelnetHooks hooks;
        hooks.stopWeb = [this] {
            std::string e;
            m_web->setListening(false, &e);
        };
        hooks.startWeb = [this] {
            std::string e;
            if (!m_web->setListening(true, &e))
                std::cerr << "boxsim: " << e << "\n";
        };
        hooks.reboot = [this] { m_box->noteReboot(); };
        hooks.screenshot = [this] { m_box->noteScreenshot(); };
        m_telnet = std::make_unique<TelnetService>(m_life, m_log, m_options.telnetUser, m_options.telnetPassword,
                                                   std::move(hooks));
    }

    if (!m_web->listen(m_options.address, m_options.httpPort, error))
        return false;
    for (auto& [server, port] :
         {std::pair{m_tv.get(), m_options.tvPort}, std::pair{m_radio.get(), m_options.radioPort},
          std::pair{m_vlcHttp.get(), m_options.vlcPort}, std::pair{m_vlcStream.get(), m_options.vlcStreamPort}}) {
        if (server && !server->listen(m_options.address, port, error))
            return false;
    }
    if (m_telnet && !m_telnet->listen(m_options.address, m_options.telnetPort, error))
        return false;
    return true;
}

void Simulator::stop() {
    m_life.requestStop();
    if (m_udp)
        m_udp->killAll();
    for (auto* s : {&m_web, &m_tv, &m_radio, &m_vlcHttp, &m_vlcStream}) {
        if (*s)
            (*s)->stop();
    }
    if (m_telnet)
        m_telnet->stop();
    if (!m_life.waitThreads(3000))
        std::cerr << "boxsim: connection threads still running at exit\n";
}

bool Simulator::setState(const std::string& key, const std::string& value) {
    // "vlc" on/off: the remote VLC's interface and stream port go away (refused) and come back.
    if (key == "vlc" && (value == "on" || value == "off")) {
        std::string e;
        for (HttpServer* s : {m_vlcHttp.get(), m_vlcStream.get()}) {
            if (s && !s->setListening(value == "on", &e))
                std::cerr << "boxsim: " << e << "\n";
        }
        return true;
    }
    if (startsWith(key, "vlc_"))
        return m_vlc->setState(key, value);
    return m_box->setState(key, value);
}

HttpResponse Simulator::control(const HttpRequest& req) {
    HttpResponse resp;
    const std::map<std::string, std::string> p = parseQuery(req.query);
    const auto value = [&p](const std::string& key) {
        const auto it = p.find(key);
        return it == p.end() ? std::string() : it->second;
    };
    const std::string cmd = req.path.substr(8);
    if (cmd == "fault") {
        if (p.count("clear")) {
            m_faults.clearAll();
            resp.body = "ok";
            return resp;
        }
        const std::string endpoint = value("endpoint");
        const auto mode = faultModeFromName(value("mode"));
        if (endpoint.empty() || !mode) {
            resp.status = 400;
            resp.body = "usage: /boxsim/fault?endpoint=E&mode=M[&ms=N|&bytes=N|&code=N|&arg=N][&count=N]";
            return resp;
        }
        Fault f;
        f.mode = *mode;
        for (const char* key : {"arg", "ms", "bytes", "code"}) {
            if (p.count(key))
                f.arg = toNumber(value(key), -1);
        }
        f.count = int(toNumber(value("count"), 0));
        m_faults.set(endpoint, f);
        resp.body = "ok";
        return resp;
    }
    if (cmd == "faults") {
        resp.body = m_faults.describe();
        return resp;
    }
    if (cmd == "requests") {
        if (p.count("clear")) {
            m_log.clear();
            resp.body = "ok";
            return resp;
        }
        const std::string service = p.count("service") ? value("service") : "http";
        for (const std::string& line : m_log.lines(service))
            resp.body += line + "\n";
        return resp;
    }
    if (cmd == "state") {
        resp.body = m_box->stateText() + m_vlc->stateText() + "web=" + (m_web->isListening() ? "on" : "off") +
                    "\ndenied=" + std::to_string(m_web->denied()) +
                    "\ntelnet_password=" + (m_telnet ? m_telnet->password() : std::string()) + "\n";
        return resp;
    }
    if (cmd == "set") {
        bool ok = !p.empty();
        for (const auto& [k, v] : p)
            ok = ok && setState(k, v);
        resp.status = ok ? 200 : 400;
        resp.body = ok ? "ok" : "unknown state key or value";
        return resp;
    }
    resp.status = 404;
    resp.body = "boxsim control: fault, faults, requests, state, set";
    return resp;
}

} // namespace boxsim

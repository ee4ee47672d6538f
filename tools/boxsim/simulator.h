#pragma once

#include "boxweb.h"
#include "dataset.h"
#include "faults.h"
#include "httpserver.h"
#include "net.h"
#include "remotevlc.h"
#include "streams.h"
#include "telnetservice.h"

#include <memory>
#include <string>
#include <vector>

namespace boxsim {

struct SimOptions {
    std::string address = "127.0.0.1";
    int httpPort = 80;
    int tvPort = 31339;
    int radioPort = 31338;
    int vlcPort = 8080; // 0 turns a service off (except the web server)
    int vlcStreamPort = 31331;
    int telnetPort = 23;
    std::string dataFile; // empty: the built-in data set
    std::string tsFile;
    double tsSeconds = 5.0;
    std::vector<std::string> faults;
    std::string user; // web server basic auth; empty: none
    Firmware firmware = Firmware::V3x;
    std::string password;
    std::string telnetUser = "root";
    std::string telnetPassword;
    VlcVersion vlcVersion = VlcVersion::V084;
    std::vector<std::string> vlcHosts{"127.0.0.1", "::1"}; // the .hosts list of VLC 0.8.5 and later
    int zapMs = 0;                                         // a zap's tune time before its answer
};

// Owns every service of the simulated receiver and the control endpoint under /boxsim/.
class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();

    bool start(std::string* error);
    void stop();

private:
    HttpResponse control(const HttpRequest& req);
    bool setState(const std::string& key, const std::string& value);

    SimOptions m_options;
    Lifetime m_life;
    FaultTable m_faults;
    RequestLog m_log;
    DataSet m_data;
    TsSource m_ts;
    std::unique_ptr<UdpStreams> m_udp;
    std::unique_ptr<BoxWeb> m_box;
    std::unique_ptr<RemoteVlc> m_vlc;
    std::unique_ptr<HttpServer> m_web;
    std::unique_ptr<HttpServer> m_tv;
    std::unique_ptr<HttpServer> m_radio;
    std::unique_ptr<HttpServer> m_vlcHttp;
    std::unique_ptr<HttpServer> m_vlcStream;
    std::unique_ptr<TelnetService> m_telnet;
};

} // namespace boxsim

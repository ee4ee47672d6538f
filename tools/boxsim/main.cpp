// boxsim: a simulated d-box 2 receiver (Neutrino web control, stream servers, telnet shell) and a
// remote-VLC stand-in, on one loopback address, for Quoxel's tests and demos.
#include "simulator.h"
#include "textutil.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <pthread.h>

#ifndef BOXSIM_DEFAULT_TS
#define BOXSIM_DEFAULT_TS ""
#endif

namespace {

void usage() {
    std::cout << "usage: boxsim [options]\n"
                 "  --address A          loopback address to bind (default 127.0.0.1)\n"
                 "  --http-port N        receiver web server (default 80)\n"
                 "  --tv-port N          TV stream server (default 31339; 0 = off)\n"
                 "  --radio-port N       radio stream server (default 31338; 0 = off)\n"
                 "  --vlc-port N         remote VLC interface (default 8080; 0 = off)\n"
                 "  --vlc-stream-port N  remote VLC served stream (default 31331; 0 = off)\n"
                 "  --telnet-port N      telnet shell (default 23; 0 = off)\n"
                 "  --data FILE          JSON data set (default: built in)\n"
                 "  --ts FILE            transport stream to loop (default: the one built with boxsim)\n"
                 "  --ts-seconds S       play time of that file, for pacing (default 5)\n"
                 "  --fault E=MODE[:ARG[:COUNT]]  spoil answers of endpoint E (repeatable)\n"
                 "  --user U --password P         web server basic auth\n"
                 "  --firmware 3.x|2.2   web server generation to answer as (default 3.x)\n"
                 "  --telnet-user U --telnet-password P  telnet login (default root, no password)\n"
                 "  --vlc-version V      the remote VLC's release: 0.8.4 (default), 0.8.5, 0.8.6, or plain\n"
                 "  --vlc-hosts A,B      its .hosts list, from 0.8.5 on (default 127.0.0.1,::1)\n"
                 "  --zap-ms N           a zap to a channel answers after N ms, once tuned (default 0)\n";
}

bool parseArgs(int argc, char** argv, boxsim::SimOptions* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::cerr << "boxsim: " << a << " needs a value\n";
            return false;
        }
        const std::string v = argv[++i];
        const auto port = [&v, &a](int* out) {
            const long long n = boxsim::toNumber(v, -1);
            if (n < 0 || n > 65535) {
                std::cerr << "boxsim: bad port for " << a << ": " << v << "\n";
                return false;
            }
            *out = int(n);
            return true;
        };
        bool ok = true;
        if (a == "--address")
            o->address = v;
        else if (a == "--http-port")
            ok = port(&o->httpPort);
        else if (a == "--tv-port")
            ok = port(&o->tvPort);
        else if (a == "--radio-port")
            ok = port(&o->radioPort);
        else if (a == "--vlc-port")
            ok = port(&o->vlcPort);
        else if (a == "--vlc-stream-port")
            ok = port(&o->vlcStreamPort);
        else if (a == "--telnet-port")
            ok = port(&o->telnetPort);
        else if (a == "--data")
            o->dataFile = v;
        else if (a == "--ts")
            o->tsFile = v;
        else if (a == "--ts-seconds")
            o->tsSeconds = std::atof(v.c_str());
        else if (a == "--fault")
            o->faults.push_back(v);
        else if (a == "--user")
            o->user = v;
        else if (a == "--password")
            o->password = v;
        else if (a == "--vlc-version")
            ok = boxsim::parseVlcVersion(v, &o->vlcVersion);
        else if (a == "--vlc-hosts")
            o->vlcHosts = boxsim::split(v, ',');
        else if (a == "--firmware") {
            const std::optional<boxsim::Firmware> f = boxsim::firmwareFromName(v);
            if (!f) {
                std::cerr << "boxsim: --firmware takes 3.x or 2.2, not " << v << "\n";
                return false;
            }
            o->firmware = *f;
        } else if (a == "--telnet-user")
            o->telnetUser = v;
        else if (a == "--telnet-password")
            o->telnetPassword = v;
        else if (a == "--zap-ms")
            ok = port(&o->zapMs);
        else {
            std::cerr << "boxsim: unknown option " << a << "\n";
            return false;
        }
        if (!ok)
            return false;
    }
    if (o->httpPort == 0) {
        std::cerr << "boxsim: the web server needs a port\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    boxsim::SimOptions options;
    options.tsFile = BOXSIM_DEFAULT_TS;
    if (!parseArgs(argc, argv, &options)) {
        usage();
        return 2;
    }
    // Block the stop signals before any thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    boxsim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::cerr << "boxsim: " << error << "\n";
        sim.stop();
        return 1;
    }
    std::cout << "boxsim ready" << std::endl;
    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.stop();
    std::cerr << "boxsim: stopped on signal " << sig << "\n";
    return 0;
}

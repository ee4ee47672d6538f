#pragma once

#include <QByteArray>

#include <string>
#include <vector>

namespace boxsim {

struct Programme {
    unsigned long long eventId = 0;
    long long startSec = 0; // seconds since 1970, UTC
    int durationSec = 0;
    std::string title;
    std::string info1;
    std::string info2;
};

struct AudioPid {
    int pid = 0;
    std::string name;
};

struct StreamInfo {
    int width = 0;
    int height = 0;
    long long bitrate = 0; // bit/s
    std::string format;
    std::string fps;
    std::string audio;
};

struct Channel {
    std::string id; // lower-case hex without leading zeros, as the receiver writes it
    std::string name;
    bool radio = false;
    int number = 0;
    int parent = -1; // index of the portal channel for a sub-channel
    int videoPid = 0;
    int pmtPid = 0;
    int vtxtPid = 0;
    std::vector<AudioPid> audio;
    StreamInfo info;
    std::vector<int> subchannels; // indexes into DataSet::channels
    std::vector<Programme> epg;   // in time order, covering now
};

struct Bouquet {
    std::string name;
    bool hidden = false; // kept in the receiver's numbering, never listed
    std::vector<int> tv; // indexes into DataSet::channels
    std::vector<int> radio;
};

// The receiver's channels, bouquets and programme guide, with every text already in the
// receiver's encoding. Built once at start; read-only afterwards.
struct DataSet {
    std::string encoding = "latin1";
    long long clockOffsetSec = 0;
    bool recording = false;
    bool standby = false;
    bool spts = false;
    std::string startChannel;
    std::vector<Channel> channels;
    std::vector<Bouquet> bouquets;

    int find(const std::string& id) const;
    // The transponder a channel is broadcast on: its id without the service part (the last four
    // hex digits), as the receiver builds ids.
    std::string transponder(int channel) const;

    // Loads the JSON form; programme times are laid out around nowSec.
    static bool load(const QByteArray& json, long long nowSec, DataSet* out, std::string* error);
    static QByteArray builtinJson();
};

} // namespace boxsim

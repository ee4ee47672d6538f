#pragma once

#include "httpserver.h"
#include "streams.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace boxsim {

// One item as libvlc 3 gets it: the MRL, the options after mapping the old names, and what was
// mapped or is unknown to libvlc 3 (reported, never dropped in silence).
struct TranscodeJob {
    std::string mrl;
    std::vector<std::string> options;
    std::vector<std::string> notes; // "old -> new" or "old: ignored by libvlc 3"
    std::string requestedDst;       // the dst= of the sout chain as the client sent it
};

// Splits an item text ("MRL :opt :opt") and maps its options for libvlc 3; the sout chain's HTTP
// output goes to internalPort on 127.0.0.1, from where the stream port relays it. A UDP listen on
// every address ("udp://@:P") is narrowed to ownAddress, so parallel simulators never share a port.
TranscodeJob mapItem(const std::string& item, int internalPort, const std::string& ownAddress = std::string());

class Transcoder;

// Which VLC 0.8 release the stand-in's HTTP interface behaves as. All of them take the request
// target only up to its first raw blank, decode "mrl=" up to the next '&', list the node "General"
// (id 3) with its own play link before the items and never reuse an item id (the first item after
// a start is 4). 0.8.5 and later answer a client missing from the .hosts list with a 403 page;
// 0.8.6 serves a page without play links at "/" and the old page at "/old/".
// Plain: the interface as its own documentation draws it (the items alone, numbered from 0 after
// each empty, blanks in the request taken as they come); the others are the real releases.
enum class VlcVersion { V084, V085, V086, Plain };
bool parseVlcVersion(const std::string& text, VlcVersion* out);

// A stand-in for a remote VLC 0.8's HTTP interface: the main page with play links, a playlist that
// "?control=" commands change, and on play the item really run through libvlc 3 (fetching the
// box stream, transcoding with the given chain); the stream port relays the result. Without
// libvlc it serves the box stream itself. Thread-safe.
class RemoteVlc {
public:
    RemoteVlc(const TsSource& source, VlcVersion version, std::vector<std::string> hosts);
    ~RemoteVlc();
    RemoteVlc(const RemoteVlc&) = delete;
    RemoteVlc& operator=(const RemoteVlc&) = delete;

    HttpResponse handleControl(const HttpRequest& req);
    HttpResponse handleStream(const HttpRequest& req);
    std::string stateText() const;
    // vlc_version (0.8.4|0.8.5|0.8.6), vlc_hosts (a,b,...), vlc_add (ok|fail: adds are dropped as
    // VLC drops an MRL it cannot parse), vlc_sap (N announced streams under a node after
    // "General"). False for another key or a bad value.
    bool setState(const std::string& key, const std::string& value);

private:
    struct Item {
        int id = 0;
        std::string name; // the item text as added
        std::string uri;  // its first word
    };
    const Item* findItem(int id) const; // called with m_mutex held
    std::string oldPage() const;        // called with m_mutex held
    std::string newPage() const;
    std::string statusXml() const; // called with m_mutex held
    bool allowed(const std::string& peer) const;
    bool stillPlaying(unsigned generation) const;
    void restartTranscoder(int id, const std::string& ownAddress); // -1: stop; called without m_mutex

    const TsSource& m_source;
    mutable std::mutex m_mutex;
    VlcVersion m_version;
    std::vector<std::string> m_hosts;
    std::vector<Item> m_playlist;
    std::vector<Item> m_sap; // announced streams: listed and playable, but nothing to serve
    int m_sapNode = 0;
    int m_nextId = 4; // node "General" is 3; ids are never reused
    bool m_addFails = false;
    int m_playing = -1;          // item id
    unsigned m_generation = 0;   // changes on every play, stop and empty, ending served streams
    std::mutex m_transcodeMutex; // one start or stop of libvlc at a time
    std::unique_ptr<Transcoder> m_transcoder;
    int m_internalPort = 0;   // guarded by m_mutex
    std::string m_lastNotes;  // guarded by m_mutex
    std::string m_lastChain;  // guarded by m_mutex
    std::string m_engineText; // guarded by m_mutex
};

} // namespace boxsim

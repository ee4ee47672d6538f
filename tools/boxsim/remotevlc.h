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

// A stand-in for a remote VLC's HTTP interface: the main page with play links, a playlist that
// "?control=" commands change, and on play the item really run through libvlc 3 (fetching the
// box stream, transcoding with the given chain); the stream port relays the result. Without
// libvlc it serves the box stream itself. Thread-safe.
class RemoteVlc {
public:
    explicit RemoteVlc(const TsSource& source);
    ~RemoteVlc();
    RemoteVlc(const RemoteVlc&) = delete;
    RemoteVlc& operator=(const RemoteVlc&) = delete;

    HttpResponse handleControl(const HttpRequest& req);
    HttpResponse handleStream(const HttpRequest& req);
    std::string stateText() const;

private:
    std::string page() const; // called with m_mutex held
    bool stillPlaying(unsigned generation) const;
    void restartTranscoder(int item, const std::string& ownAddress); // -1: stop; called without m_mutex

    const TsSource& m_source;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_playlist;
    int m_playing = -1;
    unsigned m_generation = 0;   // changes on every play, stop and empty, ending served streams
    std::mutex m_transcodeMutex; // one start or stop of libvlc at a time
    std::unique_ptr<Transcoder> m_transcoder;
    int m_internalPort = 0;   // guarded by m_mutex
    std::string m_lastNotes;  // guarded by m_mutex
    std::string m_lastChain;  // guarded by m_mutex
    std::string m_engineText; // guarded by m_mutex
};

} // namespace boxsim

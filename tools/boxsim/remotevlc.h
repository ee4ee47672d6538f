#pragma once

#include "httpserver.h"
#include "streams.h"

#include <mutex>
#include <string>
#include <vector>

namespace boxsim {

// A stand-in for a remote VLC's HTTP interface: the main page with play links, a playlist that
// "?control=" commands change, and the served stream while an item plays. Thread-safe.
class RemoteVlc {
public:
    explicit RemoteVlc(const TsSource& source);

    HttpResponse handleControl(const HttpRequest& req);
    HttpResponse handleStream(const HttpRequest& req);
    std::string stateText() const;

private:
    std::string page() const; // called with m_mutex held
    bool stillPlaying(unsigned generation) const;

    const TsSource& m_source;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_playlist;
    int m_playing = -1;
    unsigned m_generation = 0; // changes on every play, stop and empty, ending served streams
};

} // namespace boxsim

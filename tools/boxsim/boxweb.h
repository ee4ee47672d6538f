#pragma once

#include "dataset.h"
#include "httpserver.h"
#include "screenpicture.h"
#include "streams.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace boxsim {

// The two generations of the receiver's web server: nhttpd 3.x (2007) and 2.2 (2006).
enum class Firmware { V3x, V22 };
std::optional<Firmware> firmwareFromName(const std::string& name);

// The receiver's web control interface (/control/..., /tmp/a.bmp, the settings page) and the
// receiver state behind it. Handlers run on connection threads; state is guarded by one mutex.
class BoxWeb {
public:
    BoxWeb(const DataSet& data, UdpStreams& udp, Firmware firmware = Firmware::V3x);

    HttpResponse handle(const HttpRequest& req);

    // "key=value" lines for the simulator's own control endpoint.
    std::string stateText();
    // Sets one state value from the control endpoint; false for an unknown key or value.
    bool setState(const std::string& key, const std::string& value);
    // How long a zap to a channel takes before the receiver answers, as zapit's tune does.
    void setZapMs(int ms) { m_zapMs = ms; }
    void noteReboot();
    void noteScreenshot();

private:
    // A bouquet as getbouquets lists it: its place in the data set and the number it is listed under.
    struct Listed {
        int index;
        int number;
    };
    // The bouquets the receiver lists now: hidden ones never; while it records, only those with a
    // channel on the recorded transponder, under the numbers they had. m_mutex held.
    std::vector<Listed> listedBouquets() const;
    // Whether the receiver can show this channel now (its lists shrink to the recorded transponder).
    bool onRecordedTransponder(int channel) const;
    void startRecording(); // m_mutex held
    std::string control(const std::string& cmd, const std::string& query, int* status);
    std::string bouquetList();
    std::string bouquetChannels(const std::map<std::string, std::string>& params);
    int actualBouquet() const;
    std::string zapto(const std::string& query);
    std::string allPids() const;
    std::string streamInfo() const;
    std::string exec(const std::string& query);
    std::string epg(const std::string& query, std::string* contentType);
    std::string epgXml(const std::map<std::string, std::string>& params);
    std::string settingsPage() const;
    std::string bitmap(ScreenForm form) const;
    // /tmp/a.bmp: the file the last screenshot wrote, as the receiver's web server serves a file.
    HttpResponse screenFile(const HttpRequest& req);
    // What a remote-control key does to the on-screen display; m_mutex held.
    void pressKey(const std::string& key);
    const Programme* nowProgramme(const Channel& ch, long long now) const;

    const DataSet& m_data;
    UdpStreams& m_udp;
    const Firmware m_firmware;
    std::atomic<int> m_zapMs{0};
    mutable std::mutex m_mutex;
    int m_current = 0;   // index into m_data.channels
    bool m_tuned = true; // false: a zap was stored while recording, but nothing is tuned
    std::string m_recordTransponder;
    bool m_radioMode = false;
    bool m_standby = false;
    bool m_spts = false;
    bool m_recording = false;
    bool m_rcLocked = false;
    std::string m_lastMessage;
    int m_messages = 0;
    int m_reboots = 0;
    int m_screenshots = 0;
    std::string m_lastKey;
    int m_keys = 0;
    // The on-screen display the keys drive, drawn into /tmp/a.bmp.
    bool m_menuOpen = false;
    int m_menuRow = 0;
    int m_bar = 0; // ScreenView::Bar
    int m_volume = 60;
    bool m_muted = false;
    // The screenshot file: written by dboxshot (shotDelayMs after the command), absent before.
    ScreenForm m_screenForm = ScreenForm::Dboxshot;
    int m_shotDelayMs = 0;
    long long m_shotDueMs = -1; // when the pending screenshot is written, -1: none pending
    std::string m_shotFile;
    long long m_shotWrittenSec = 0;
};

} // namespace boxsim

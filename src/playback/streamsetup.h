#pragma once

#include "box/records.h"
#include "core/options.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

class BoxClient;
class SettingsStore;

// What the receiver broadcasts after a zap: picture, rates, audio and the PIDs. A plain value;
// every field is text, numbers in decimal.
class TStreamInfo {
public:
    static constexpr int kAudioSlots = 11;

    QString Resolution;
    QString Format;
    QString VideoRate;
    QString FrameRate;
    QString Audio;
    QString VideoPid = QStringLiteral("0");
    std::array<QString, kAudioSlots> AudioPids{QStringLiteral("0")};
    std::array<QString, kAudioSlots> AudioNames;
    QString TeletextPid;
    QString PmtPid = QStringLiteral("0");
    // Slots 0 .. AudioSlotsUsed-1 came from the receiver's PID list (PID "0" included).
    int AudioSlotsUsed = 0;
};

// The settings the stream setup and the remote VLC read beyond TOptions, as the options dialog
// holds them. Mode, stream type, PC address and UDP targets come from Options.
struct StreamSettings {
    QString VCodec = QStringLiteral("h264");
    QString VBitrate = QStringLiteral("400");
    QString VScale = QStringLiteral("0.3");
    QString ACodec = QStringLiteral("mp3");
    QString ABitrate = QStringLiteral("64");
    QString VlcIp;
    QString StreamPortHttp = QStringLiteral("31331");
    QString CacheOnline = QStringLiteral("3000");
    QString CacheLive = QStringLiteral("1000");

    static StreamSettings fromStore(const SettingsStore& store);
};

// One entry of the "Audio" menu: caption and check mark. Its position is the audio track.
struct TAudioMenuItem {
    QString Caption;
    bool Checked = false;
    int Slot = 0; // the AudioPids slot it stands for
};

// "0x" and four upper-case hex digits of a decimal PID text; nothing for text that is not a PID
// (0 .. 8191).
std::optional<QString> hex4(const QString& decimalPid);

// Online mode shows the transcoded size: round((vscale + 0.01111111) * n), ties to even.
std::optional<int> scaledDimension(const QString& vscale, const QString& dimension);

// The answers of "info?streaminfo" and "zapto?getallpids" read into a record. Never fails: what
// could not be read keeps its initial value. `menu` is set only when the PID answer had lines.
struct ParsedStreamInfo {
    TStreamInfo info;
    std::optional<QList<TAudioMenuItem>> menu;
    bool pidsComplete = false; // every PID line was read; false leaves the stream address empty
};
ParsedStreamInfo parseStreamInfo(const QString& streamInfoAnswer, const QString& pidsAnswer, AppMode mode,
                                 const StreamSettings& settings);

// The stream address (HTTP) or the receiver's UDP start command for a record, or nothing when a
// PID cannot be written. Uses Options (stream type, box addresses, UDP targets) and logs
// "LiveURL: ..." as it goes.
std::optional<QString> buildLiveURL(const TStreamInfo& info, TChannelMode channelMode, AppMode mode, int streamType);

// The window parts that the stream setup moves. UI thread; every default does nothing.
class StreamSetupView {
public:
    virtual ~StreamSetupView() = default;
    virtual void processPendingEvents() {}
    virtual void setBusyCursor(bool /*busy*/) {}
    // TV: hide the black background panel. Radio: show it and put the video panel behind the
    // other controls (in the video-only view also behind channel box, volume bar, play button).
    virtual void showRadioBackground(bool /*radio*/) {}
    virtual bool isSptsChecked() const { return false; }
    virtual void setSptsChecked(bool /*checked*/) {}
    virtual void setUdpStreamChecked(bool /*checked*/) {}
    // VLC_Stop twice, the second result logged.
    virtual void stopEngineTwice() {}
    virtual bool hasChannelSelection() const { return false; }
    // SwitchChannel for the selected channel of the channel box.
    virtual void switchToSelectedChannel() {}
};

// Stream setup of the main window: owns LiveURL, the current StreamInfo and the Audio menu.
// UI thread; requests go through the main BoxClient.
class StreamSetup {
public:
    StreamSetup(BoxClient& box, StreamSetupView& view);

    void setSettings(const StreamSettings& settings) { m_settings = settings; }
    const StreamSettings& settings() const { return m_settings; }

    // Asks the receiver for stream information and PIDs, rebuilds LiveURL and the Audio menu and
    // returns the new record (also kept as StreamInfo).
    TStreamInfo GetStreamInfo(TChannelMode channelMode);
    // The fast zap asks the receiver elsewhere: what the view holds before, and shows after.
    bool sptsChecked() const { return m_view.isSptsChecked(); }
    void showChannelMode(bool radio, bool sptsSet, bool pesSet) {
        m_view.showRadioBackground(radio);
        if (sptsSet || pesSet)
            m_view.setSptsChecked(sptsSet);
    }
    // The same from answers asked for elsewhere (the fast zap's worker).
    TStreamInfo takeStreamInfo(const QString& info, const QString& pids, TChannelMode channelMode);
    // TV or radio mode and SPTS or PES playback for a channel, before the zap.
    void SetDboxMode(const TChannel& channel);
    // "UDP Stream": swaps HTTP and UDP streaming (in memory) and switches again.
    void UDPStream1Click(TChannelMode aktChannelMode);
    // "Copy Stream URL": the text for the clipboard, nothing without a selected channel.
    std::optional<QString> CopyLiveURL1Click() const;
    // Checks the clicked Audio menu item only.
    void checkAudioItem(int index);

    QString LiveURL;
    std::optional<TStreamInfo> StreamInfo;
    QList<TAudioMenuItem> AudioMenu;

private:
    BoxClient& m_box;
    StreamSetupView& m_view;
    StreamSettings m_settings;
};

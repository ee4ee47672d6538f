#pragma once

#include <QString>

#include <cstdint>

// How the stream reaches this PC: from the receiver ("live"), through a remote VLC that re-serves it
// ("online"), or from another Quoxel on the LAN ("quoxel"). The values are the ini's item indexes.
enum class AppMode : uint8_t { Live = 0, Online = 1, Quoxel = 2 };

// The settings record every part of the program reads. Filled by the settings store;
// only the telnet session (TelnetLoggedIn) and the start-up (BoxTimeOffset) write it elsewhere.
class TOptions {
public:
    QString SoutVideo;
    QString SoutAudio;
    QString IpPc;
    QString QuoxelAddress;
    QString BoxAddress;
    QString IpLan;
    QString VlcAddress;
    QString OnlineStreamAddress;
    QString StreamPortUdp;
    QString UdpTargetPc;
    QString UdpTargetVlc;
    QString StreamPortProv;
    QString OsdShowTime;
    QString WebUser;
    QString WebPass;
    QString TelnetPort;
    QString TelnetUser;
    QString TelnetPass;
    QString TelnetNhttpd;
    QString Priority;
    bool AutoSpts = false;
    bool RememberState = false;
    bool ProvideStream = false;
    bool Fullscreen = false;
    bool AlwaysOnTop = false;
    bool VideoOnly = false;
    bool LockRc = false;
    bool HideTaskbar = false;
    bool ShowEpgInfo = false;
    bool ShowMessage = false;
    bool TelnetAutoLogin = false;
    bool CheckRecord = false;
    bool NoLogging = false;
    bool NoEpgData = false;
    bool FastZap = false;
    bool TelnetLoggedIn = false;
    bool RecordWatch = true; // [Extras] recordwatch: look whether the receiver records on every clock tick
    // [Extras] guideallbouquets, guidedescriptions: the programme guide's two check boxes; read at
    // start, written at the close.
    bool GuideAllBouquets = false;
    bool GuideDescriptions = false;
    int32_t WinHeight = 0;
    int32_t WinWidth = 0;
    int32_t WinLeft = 0;
    int32_t WinTop = 0;
    int32_t BoxTimeOffset = 0; // minutes, receiver clock minus PC clock
    AppMode Mode = AppMode::Live;
    uint8_t StreamType = 0;
};

// The program's one settings record.
extern TOptions Options;

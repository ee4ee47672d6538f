#pragma once

#include <QStringList>

#include <array>

// Every key of "Quoxel.ini" in the order it is read. Loading, saving, the masked copy in the log
// and the round-trip tests all walk this one table.
enum class SettingId {
    IpInet,
    IpPc,
    IpQuoxel,
    Mode,
    StreamType,
    Priority,
    ProvideStream,
    RememberState,
    AutoSpts,
    Fullscreen,
    LockRc,
    HideTaskbar,
    ShowEpgInfo,
    ShowMessage,
    TelnetAutoLogin,
    CheckRecord,
    NoLogging,
    NoEpgData,
    OsdShowTime,
    StreamPortProv,
    IpLan,
    DboxPort,
    VlcIp,
    VlcPort,
    StreamPortHttp,
    StreamPortUdp,
    CacheOnline,
    CacheLive,
    VCodec,
    VBitrate,
    VScale,
    ACodec,
    ABitrate,
    AChannels,
    WebUser,
    WebPass,
    WinHeight,
    WinWidth,
    WinLeft,
    WinTop,
    WinAlwaysOnTop,
    WinVideoOnly,
    TelnetPort,
    TelnetUser,
    TelnetPass,
    TelnetNhttpd,
    VlcPassword,
    RecordWatch,
    GuideAllBouquets,
    GuideDescriptions,
    FastZap,
    Count
};

enum class SettingType {
    Text,       // free text
    Secret,     // free text never shown in the log
    Number,     // integer as text; the dialog field accepts non-negative numbers
    Decimal,    // decimal as text; may hold a comma
    List,       // one item of a fixed list, stored as the item's text
    Flag,       // a check mark, "1"/"0": an item of the flag list, or a check box of its own (flagIndex -1)
    WindowInt,  // main window geometry, only with "remember state"
    WindowBool, // main window view state, only with "remember state"
};

struct SettingDef {
    SettingId id;
    const char* section;
    const char* key;
    SettingType type;
    const char* absent;     // value when the key is missing
    const char* firstStart; // what the first-start dialog offers; nullptr: not written then
    const char* control;    // the options dialog control that shows it
    int flagIndex;          // position in the flag list, or -1
    int saveOrder;          // position in the save sequence; 0: not saved by the dialog
};

inline constexpr int kSettingCount = static_cast<int>(SettingId::Count);

const std::array<SettingDef, kSettingCount>& settingsTable();
const SettingDef& settingDef(SettingId id);

// The items of a list-valued key, in list order; empty for other keys.
const QStringList& settingItems(SettingId id);

// The ids in the order the options dialog writes them.
const std::array<SettingId, kSettingCount>& settingsSaveOrder();
int settingsSaveCount();

// Captions of the flag list, by flag index.
const QStringList& flagCaptions();

// The three operating mode names, indexed by the mode setting.
extern const std::array<const char*, 3> ModeNames;

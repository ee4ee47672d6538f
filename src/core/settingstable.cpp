#include "core/settingstable.h"

#include <algorithm>

namespace {

using T = SettingType;
using S = SettingId;

// clang-format off
constexpr std::array<SettingDef, kSettingCount> kTable{{
    {S::IpInet,          "General",       "ip_inet",          T::Text,       "",       "",       "EdtIPInet",         -1,  1},
    {S::IpPc,            "General",       "ip_pc",            T::Text,       "",       "",       "EdtIPPc",           -1,  2},
    {S::IpQuoxel,        "General",       "ip_quoxel",        T::Text,       "",       "",       "EdtIPQuoxel",       -1,  3},
    {S::Mode,            "General",       "mode",             T::List,       "live",   "live",   "CmbMode",           -1,  5},
    {S::StreamType,      "General",       "streamtype",       T::List,       "http",   "http",   "CmbStreamType",     -1,  6},
    {S::Priority,        "General",       "priority",         T::List,       "NORMAL", "NORMAL", "CmbPriority",       -1,  8},
    {S::ProvideStream,   "General",       "providestream",    T::Flag,       "0",      "0",      "",                   0,  9},
    {S::RememberState,   "General",       "rememberstate",    T::Flag,       "0",      "0",      "",                   1, 10},
    {S::AutoSpts,        "General",       "autospts",         T::Flag,       "0",      "0",      "",                   2, 11},
    {S::Fullscreen,      "General",       "fullscreen",       T::Flag,       "0",      "0",      "",                   3, 12},
    {S::LockRc,          "General",       "lock_rc",          T::Flag,       "0",      "0",      "",                   4, 13},
    {S::HideTaskbar,     "General",       "hide_taskbar",     T::Flag,       "0",      "0",      "",                   5, 14},
    {S::ShowEpgInfo,     "General",       "show_epginfo",     T::Flag,       "0",      "0",      "",                   6, 15},
    {S::ShowMessage,     "General",       "show_message",     T::Flag,       "0",      "0",      "",                   7, 16},
    {S::TelnetAutoLogin, "General",       "telnet_autologin", T::Flag,       "0",      "0",      "",                   8, 17},
    {S::CheckRecord,     "General",       "check_record",     T::Flag,       "0",      "0",      "",                   9, 18},
    {S::NoLogging,       "General",       "no_logging",       T::Flag,       "0",      "0",      "",                  10, 19},
    {S::NoEpgData,       "General",       "no_epgdata",       T::Flag,       "0",      "0",      "",                  11, 20},
    {S::OsdShowTime,     "General",       "osdshowtime",      T::Number,     "3000",   "3000",   "EdtOsdTime",        -1,  7},
    {S::StreamPortProv,  "General",       "streamport_prov",  T::Number,     "0",      "31329",  "EdtOwnStreamPort",  -1,  4},
    {S::IpLan,           "D-Box2",        "ip_lan",           T::Text,       "",       "",       "EdtIPLan",          -1, 21},
    {S::DboxPort,        "D-Box2",        "dboxport",         T::Number,     "0",      "80",     "EdtDboxPort",       -1, 22},
    {S::VlcIp,           "VLC",           "vlcip",            T::Text,       "",       "",       "EdtVlcIp",          -1, 23},
    {S::VlcPort,         "VLC",           "vlcport",          T::Number,     "0",      "8080",   "EdtVLCPort",        -1, 24},
    {S::StreamPortHttp,  "VLC",           "streamport_http",  T::Number,     "0",      "31331",  "EdtStreamPortHttp", -1, 25},
    {S::StreamPortUdp,   "VLC",           "streamport_udp",   T::Number,     "0",      "31330",  "EdtStreamPortUdp",  -1, 26},
    {S::CacheOnline,     "VLC",           "cacheonline",      T::Number,     "3000",   "3000",   "EdtCacheOnline",    -1, 27},
    {S::CacheLive,       "VLC",           "cachelive",        T::Number,     "1000",   "1000",   "EdtCacheLive",      -1, 28},
    {S::VCodec,          "Online Stream", "vcodec",           T::List,       "h264",   "h264",   "CmbVCodec",         -1, 29},
    {S::VBitrate,        "Online Stream", "vbitrate",         T::Number,     "400",    "400",    "EdtVBitrate",       -1, 30},
    {S::VScale,          "Online Stream", "vscale",           T::Decimal,    "0.3",    "0,3",    "EdtVScale",         -1, 31},
    {S::ACodec,          "Online Stream", "acodec",           T::List,       "mp3",    "mp3",    "CmbACodec",         -1, 32},
    {S::ABitrate,        "Online Stream", "abitrate",         T::Number,     "64",     "64",     "EdtABitrate",       -1, 33},
    {S::AChannels,       "Online Stream", "achannels",        T::Number,     "2",      "2",      "EdtAChannels",      -1, 34},
    {S::WebUser,         "Webserver",     "user",             T::Text,       "",       "",       "EdtHttpUser",       -1, 35},
    {S::WebPass,         "Webserver",     "pass",             T::Secret,     "",       "",       "EdtHttpPass",       -1, 36},
    {S::WinHeight,       "Window",        "height",           T::WindowInt,  "0",      nullptr,  "",                  -1,  0},
    {S::WinWidth,        "Window",        "width",            T::WindowInt,  "0",      nullptr,  "",                  -1,  0},
    {S::WinLeft,         "Window",        "left",             T::WindowInt,  "0",      nullptr,  "",                  -1,  0},
    {S::WinTop,          "Window",        "top",              T::WindowInt,  "0",      nullptr,  "",                  -1,  0},
    {S::WinAlwaysOnTop,  "Window",        "alwaysontop",      T::WindowBool, "0",      nullptr,  "",                  -1,  0},
    {S::WinVideoOnly,    "Window",        "videoonly",        T::WindowBool, "0",      nullptr,  "",                  -1,  0},
    {S::TelnetPort,      "Telnet",        "port",             T::Number,     "23",     "23",     "EdtTelnetPort",     -1, 37},
    {S::TelnetUser,      "Telnet",        "user",             T::Text,       "root",   "root",   "EdtTelnetUser",     -1, 38},
    {S::TelnetPass,      "Telnet",        "pass",             T::Secret,     "",       "",       "EdtTelnetPass",     -1, 39},
    {S::TelnetNhttpd,    "Telnet",        "nhttpd",           T::Text,       "nhttpd", "nhttpd", "EdtTelnetNhttpd",   -1, 40},
    // Beyond the original keys: the password of a VLC 2 or later Lua web interface.
    {S::VlcPassword,     "Extras",        "vlcpassword",      T::Secret,     "",       "",       "EdtVlcPassword",    -1, 41},
    // Beyond the options dialog: written by hand, kept by every save.
    {S::RecordWatch,     "Extras",        "recordwatch",      T::Flag,       "1",      nullptr,  "",                  -1,  0},
    // The programme guide's choices, remembered with the window state.
    {S::GuideAllBouquets,  "Extras",      "guideallbouquets", T::Flag,       "0",      nullptr,  "",                  -1,  0},
    {S::GuideDescriptions, "Extras",      "guidedescriptions", T::Flag,      "0",      nullptr,  "",                  -1,  0},
    // A switch that waits for the receiver's and the engine's events instead of fixed times.
    {S::FastZap,         "Extras",        "fastzap",          T::Flag,       "0",      "0",      "ChkFastZap",        -1, 42},
}};
// clang-format on

constexpr bool tableIsInIdOrder() {
    for (int i = 0; i < kSettingCount; ++i) {
        if (static_cast<int>(kTable[i].id) != i)
            return false;
    }
    return true;
}
static_assert(tableIsInIdOrder(), "the settings table must list every id once, in id order");

} // namespace

const std::array<const char*, 3> ModeNames{"live", "online", "quoxel"};

const std::array<SettingDef, kSettingCount>& settingsTable() {
    return kTable;
}

const SettingDef& settingDef(SettingId id) {
    return kTable[static_cast<int>(id)];
}

const QStringList& settingItems(SettingId id) {
    static const QStringList modes{QStringLiteral("live"), QStringLiteral("online"), QStringLiteral("quoxel")};
    static const QStringList streamTypes{QStringLiteral("http"), QStringLiteral("udp")};
    static const QStringList priorities{QStringLiteral("IDLE"), QStringLiteral("NORMAL"), QStringLiteral("HIGH")};
    static const QStringList vcodecs{QStringLiteral("mp1v"), QStringLiteral("mp2v"), QStringLiteral("mp4v"),
                                     QStringLiteral("DIV1"), QStringLiteral("DIV2"), QStringLiteral("DIV3"),
                                     QStringLiteral("H263"), QStringLiteral("h264"), QStringLiteral("WMV1"),
                                     QStringLiteral("WMV2"), QStringLiteral("MJPG"), QStringLiteral("theo")};
    static const QStringList acodecs{QStringLiteral("mpga"), QStringLiteral("mp2a"), QStringLiteral("mp3"),
                                     QStringLiteral("mp4a"), QStringLiteral("a52"),  QStringLiteral("vorb"),
                                     QStringLiteral("flac"), QStringLiteral("spx"),  QStringLiteral("s16l"),
                                     QStringLiteral("fl32")};
    static const QStringList none;
    switch (id) {
    case SettingId::Mode:
        return modes;
    case SettingId::StreamType:
        return streamTypes;
    case SettingId::Priority:
        return priorities;
    case SettingId::VCodec:
        return vcodecs;
    case SettingId::ACodec:
        return acodecs;
    default:
        return none;
    }
}

const std::array<SettingId, kSettingCount>& settingsSaveOrder() {
    static const std::array<SettingId, kSettingCount> order = [] {
        std::array<SettingId, kSettingCount> o{};
        std::array<const SettingDef*, kSettingCount> defs{};
        for (int i = 0; i < kSettingCount; ++i)
            defs[i] = &kTable[i];
        std::stable_sort(defs.begin(), defs.end(), [](const SettingDef* a, const SettingDef* b) {
            // Keys the dialog does not write go last.
            const int ra = a->saveOrder == 0 ? 1000 : a->saveOrder;
            const int rb = b->saveOrder == 0 ? 1000 : b->saveOrder;
            return ra < rb;
        });
        for (int i = 0; i < kSettingCount; ++i)
            o[i] = defs[i]->id;
        return o;
    }();
    return order;
}

int settingsSaveCount() {
    return static_cast<int>(
        std::count_if(kTable.begin(), kTable.end(), [](const SettingDef& d) { return d.saveOrder > 0; }));
}

const QStringList& flagCaptions() {
    static const QStringList captions{
        QStringLiteral("Provide HTTP Stream"), QStringLiteral("Remember Window State"),
        QStringLiteral("Auto SPTS Off"),       QStringLiteral("Start With Fullscreen"),
        QStringLiteral("Lock Remote Control"), QStringLiteral("Hide Taskbar Entry"),
        QStringLiteral("Auto Show EPG Info"),  QStringLiteral("Display Message On Start/Close"),
        QStringLiteral("Telnet Auto-Login"),   QStringLiteral("Prevent Start If Recording"),
        QStringLiteral("No Logging"),          QStringLiteral("No EPG Thread")};
    return captions;
}

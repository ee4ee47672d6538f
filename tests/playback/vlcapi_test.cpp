#include "playback/vlcapi.h"
#include "playback/vlcplayer.h"

#include "core/log.h"
#include "core/options.h"
#include "playback/vlctestsupport.h"

#include <gtest/gtest.h>

#include <QDir>

// A library file that does not exist: -1, read once, then 0; the load keeps failing without harm.
TEST(VlcLibraryTest, MissingFileGivesNotLoaded) {
    VlcLibrary lib(QStringLiteral("libquoxel-no-such-engine.so.5"));
    EXPECT_EQ(lib.VLD_Startup(), VlcLibrary::kNotLoaded);
    EXPECT_FALSE(lib.loaded());
    EXPECT_FALSE(lib.complete());
    EXPECT_TRUE(lib.loadError().contains(QStringLiteral("libquoxel-no-such-engine.so.5")))
        << lib.loadError().toStdString();
    EXPECT_EQ(lib.lastError(), VlcLibrary::kNotLoaded);
    EXPECT_EQ(lib.lastError(), 0); // the read resets it
    EXPECT_EQ(lib.VLD_Startup(), VlcLibrary::kNotLoaded);
}

// A real library without the engine's names: -2, every name reported, none bound.
TEST(VlcLibraryTest, ForeignLibraryGivesNameMissing) {
    VlcLibrary lib(QStringLiteral("libz.so.1"));
    EXPECT_EQ(lib.VLD_Startup(), VlcLibrary::kNameMissing);
    EXPECT_TRUE(lib.loaded());
    EXPECT_FALSE(lib.complete());
    EXPECT_EQ(lib.missingNames(), VlcLibrary::entryPointNames());
    // Bound again on every call, with the same outcome.
    EXPECT_EQ(lib.VLD_Startup(), VlcLibrary::kNameMissing);
    EXPECT_EQ(lib.lastError(), VlcLibrary::kNameMissing);
    EXPECT_EQ(lib.lastError(), 0);
}

// The installed libvlc binds completely, any number of times; the plugin folder exists.
TEST(VlcLibraryTest, InstalledEngineBinds) {
    EXPECT_EQ(VLD_Startup(), 0);
    EXPECT_EQ(VLD_Startup(), 0);
    EXPECT_TRUE(vlcLibrary().complete());
    EXPECT_TRUE(vlcLibrary().missingNames().isEmpty());
    const QString dir = VlcInstallDir();
    ASSERT_FALSE(dir.isEmpty());
    EXPECT_TRUE(dir.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QDir(dir).exists(QStringLiteral("access")));
}

// The engine start with a missing library: the fixed message, the splash hidden, nothing created,
// and a log line naming the file the loader tried and its reason.
TEST(VlcLibraryTest, PlayerWithoutEngineReportsAndDoesNotCrash) {
    Options = TOptions();
    VlcLibrary lib(QStringLiteral("libquoxel-no-such-engine.so.5"));
    RecordingView view;
    VLCPlayer player(view, lib);
    const qint64 from = logSize();
    EXPECT_FALSE(player.VLCInit(0, QSize(320, 240)));
    EXPECT_EQ(view.missing, 1);
    EXPECT_EQ(view.message, QStringLiteral("libvlc.dll not found !"));
    EXPECT_EQ(view.splashHidden, 1);
    EXPECT_EQ(player.VlcHandle(), 0);
    const QStringList lines = logLinesSince(from);
    bool named = false;
    for (const QString& l : lines)
        named = named || (l.contains(QStringLiteral("libvlc.dll not found !")) &&
                          l.contains(QStringLiteral("libquoxel-no-such-engine.so.5")) &&
                          l.contains(QStringLiteral("cannot open shared object file")));
    EXPECT_TRUE(named) << lines.join(QLatin1Char('\n')).toStdString();
    // The commands after a failed start do not reach a missing engine.
    player.Play(false);
    player.Stop();
    player.ImgVolOnClick();
    EXPECT_EQ(player.PlayState(), 2);
}

// A library lacking names is refused the same way.
TEST(VlcLibraryTest, PlayerWithIncompleteEngineReports) {
    VlcLibrary lib(QStringLiteral("libz.so.1"));
    RecordingView view;
    VLCPlayer player(view, lib);
    EXPECT_FALSE(player.VLCInit(0, QSize(320, 240)));
    EXPECT_EQ(view.message, QStringLiteral("libvlc.dll not found !"));
}

struct MappingCase {
    const char* name;
    QStringList options;
    QStringList media;
    QString deinterlace;
    QStringList dropped;
};

class OptionMappingTest : public ::testing::TestWithParam<MappingCase> {};

// Every old option name becomes what libvlc 3 understands, or is left out and named.
TEST_P(OptionMappingTest, Maps) {
    const MappingCase& c = GetParam();
    const VlcTargetOptions out = mapTargetOptions(c.options, QStringLiteral("/var/cache/q"));
    EXPECT_EQ(out.mediaOptions, c.media);
    EXPECT_EQ(out.deinterlaceMode, c.deinterlace);
    EXPECT_EQ(out.dropped, c.dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionMappingTest,
    ::testing::Values(
        MappingCase{"HttpCaching", {":http-caching=1000"}, {":network-caching=1000"}, "", {}},
        MappingCase{"UdpCaching", {":udp-caching=250"}, {":network-caching=250"}, "", {}},
        MappingCase{"CachingNotANumber", {":http-caching=abc"}, {}, "", {":http-caching=abc"}},
        MappingCase{"CachingHugeIsCapped", {":http-caching=99999999999"}, {":network-caching=600000"}, "", {}},
        MappingCase{"MeanAtFullHeight", {":vout-filter=deinterlace", ":deinterlace-mode=mean"}, {}, "blend", {}},
        MappingCase{"OtherModeKept", {":vout-filter=deinterlace", ":deinterlace-mode=bob"}, {}, "bob", {}},
        MappingCase{
            "DeinterlaceModeAloneNeverFiltered", {":deinterlace-mode=mean"}, {}, "", {":deinterlace-mode=mean"}},
        MappingCase{"TimeshiftBuiltIn",
                    {":access-filter=timeshift", ":timeshift-force=1"},
                    {},
                    "",
                    {":access-filter=timeshift", ":timeshift-force=1"}},
        MappingCase{"TimeshiftDirIsOurs", {":timeshift-dir=c:\\"}, {":input-timeshift-path=/var/cache/q"}, "", {}},
        MappingCase{
            "GranularityInBytes", {":timeshift-granularity=300"}, {":input-timeshift-granularity=314572800"}, "", {}},
        MappingCase{"GranularityTooBig", {":timeshift-granularity=4096"}, {}, "", {":timeshift-granularity=4096"}},
        MappingCase{"SoutPassesEmptySkipped",
                    {"", ":sout=#duplicate{dst=display,dst=std{access=http,mux=ts,dst=1.2.3.4:5}}", ""},
                    {":sout=#duplicate{dst=display,dst=std{access=http,mux=ts,dst=1.2.3.4:5}}"},
                    "",
                    {}}),
    [](const ::testing::TestParamInfo<MappingCase>& info) { return std::string(info.param.name); });

struct VolumeCase {
    int x;
    int width;
    int position;
};

class VolumeMappingTest : public ::testing::TestWithParam<VolumeCase> {};

// A click on the volume bar: (100 div width) * x + x, kept within 0..100.
TEST_P(VolumeMappingTest, Maps) {
    const VolumeCase& c = GetParam();
    EXPECT_EQ(VLCPlayer::volumeForClick(c.x, c.width), c.position);
}

INSTANTIATE_TEST_SUITE_P(Bar, VolumeMappingTest,
                         ::testing::Values(VolumeCase{10, 36, 30}, VolumeCase{34, 36, 100}, VolumeCase{0, 36, 0},
                                           VolumeCase{-5, 36, 0}, VolumeCase{50, 100, 100}, VolumeCase{99, 100, 100},
                                           VolumeCase{40, 101, 40}, VolumeCase{20, 0, 20}, VolumeCase{500, 0, 100}));

struct StatusCase {
    int streamType;
    bool radio;
    const char* text;
};

class PlayingStatusTest : public ::testing::TestWithParam<StatusCase> {};

// The playing status for HTTP TV, HTTP radio and UDP.
TEST_P(PlayingStatusTest, Text) {
    const PlayingFacts facts{QStringLiteral("720x576"), QStringLiteral("1500kbit"), QStringLiteral("stereo")};
    EXPECT_EQ(playingStatusText(facts, GetParam().streamType, GetParam().radio), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PlayingStatusTest,
                         ::testing::Values(StatusCase{0, false, "playing HTTP stream...(720x576/1500kbit/stereo)"},
                                           StatusCase{0, true, "playing HTTP stream...(1500kbit/stereo)"},
                                           StatusCase{1, false, "playing UDP stream...(720x576/1500kbit/stereo)"}));

// Result codes read as text in the log.
TEST(VlcErrorTest, Texts) {
    EXPECT_EQ(VLC_Error(VLC_SUCCESS), QStringLiteral("no error"));
    EXPECT_EQ(VLC_Error(VLC_EGENERIC), QStringLiteral("generic error"));
    EXPECT_EQ(VLC_Error(VLC_EBADVAR), QStringLiteral("bad variable value"));
    EXPECT_EQ(VLC_Error(12345), QStringLiteral("unknown error"));
}

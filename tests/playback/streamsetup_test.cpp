#include "playback/streamsetup.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/options.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"

#include <gtest/gtest.h>

namespace {

// Options of a PC at 192.168.0.10 watching a box at 10.0.0.9; restored after each test.
class OptionsScope {
public:
    OptionsScope() {
        Options.BoxAddress = QStringLiteral("10.0.0.9:80");
        Options.IpLan = QStringLiteral("10.0.0.9");
        Options.IpPc = QStringLiteral("192.168.0.10");
        Options.UdpTargetPc = QStringLiteral("192.168.0.10 31330");
        Options.UdpTargetVlc = QStringLiteral("10.0.0.20 31330");
        Options.Mode = AppMode::Live;
        Options.StreamType = 0;
    }
    OptionsScope(const OptionsScope&) = delete;
    OptionsScope& operator=(const OptionsScope&) = delete;

private:
    ScopedAppState m_state;
};

struct Hex4Case {
    const char* pid;
    const char* expected; // nullptr: not a PID
};

class Hex4Test : public ::testing::TestWithParam<Hex4Case> {};

struct UrlCase {
    const char* name;
    const char* pids;
    TChannelMode channel;
    int mode;
    int streamType;
    const char* expected;
};

class LiveUrlTest : public ::testing::TestWithParam<UrlCase> {
protected:
    OptionsScope m_options;
};

struct ScaleCase {
    const char* scale;
    const char* dimension;
    int expected; // -1: no value
};

class ScaleTest : public ::testing::TestWithParam<ScaleCase> {};

const char* const kDasErstePids = "255\n256 deutsch\n257 englisch\n32 vtxt\n100 pmt";
// The third line is bytes per second, as the receiver gives it (5000 kbit).
const char* const kDasErsteInfo = "720\n576\n625000\n4:3\n25\njoint stereo\n";

} // namespace

// PIDs are written as "0x" and exactly four upper-case hex digits; anything that is no PID is refused.
TEST_P(Hex4Test, Writes) {
    const Hex4Case& c = GetParam();
    const std::optional<QString> got = hex4(QString::fromLatin1(c.pid));
    if (c.expected) {
        ASSERT_TRUE(got.has_value()) << c.pid;
        EXPECT_EQ(*got, QString::fromLatin1(c.expected));
    } else {
        EXPECT_FALSE(got.has_value()) << c.pid << " gave " << got->toStdString();
    }
}
INSTANTIATE_TEST_SUITE_P(Pids, Hex4Test,
                         ::testing::Values(Hex4Case{"0", "0x0000"}, Hex4Case{"255", "0x00FF"},
                                           Hex4Case{"100", "0x0064"}, Hex4Case{"8191", "0x1FFF"},
                                           Hex4Case{"00255", "0x00FF"}, Hex4Case{" 256 ", "0x0100"},
                                           Hex4Case{"8192", nullptr}, Hex4Case{"-1", nullptr}, Hex4Case{"", nullptr},
                                           Hex4Case{"0x10", nullptr}, Hex4Case{"abc", nullptr},
                                           Hex4Case{"99999999999999999999", nullptr}));

// The stream address or UDP command for a PID answer, as the player and the receiver need it.
TEST_P(LiveUrlTest, Builds) {
    const UrlCase& c = GetParam();
    const ParsedStreamInfo parsed = parseStreamInfo(QString::fromLatin1(kDasErsteInfo), QString::fromUtf8(c.pids),
                                                    static_cast<AppMode>(c.mode), StreamSettings());
    std::optional<QString> url;
    if (parsed.pidsComplete)
        url = buildLiveURL(parsed.info, c.channel, static_cast<AppMode>(c.mode), c.streamType);
    EXPECT_EQ(url.value_or(QString()), QString::fromUtf8(c.expected));
}
INSTANTIATE_TEST_SUITE_P(
    Answers, LiveUrlTest,
    ::testing::Values(
        UrlCase{"TvHttp", kDasErstePids, mTV, 0, 0, "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100,0x0101"},
        UrlCase{"TvHttpCrLf", "00255\r\n00256 deutsch  \r\n00257 englisch  \r\n00032 vtxt\r\n00100 pmt\r\n", mTV, 0, 0,
                "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100,0x0101"},
        UrlCase{"RadioHttp", kDasErstePids, mRadio, 0, 0, "http://10.0.0.9:31338/0x0100,0x0101"},
        UrlCase{"RadioOverUdp", "0\n2314 deutsch\n2300 pmt", mRadio, 0, 1,
                "http://10.0.0.9:80/control/exec?api udp_stream start 192.168.0.10 31330 0 0x08FC 0x0000 0x090A"},
        UrlCase{"Udp", kDasErstePids, mTV, 0, 1,
                "http://10.0.0.9:80/control/exec?api udp_stream start 192.168.0.10 31330 0 0x0064 0x00FF 0x0100 "
                "0x0101"},
        UrlCase{"UdpOnlineGoesToRemoteVlc", kDasErstePids, mTV, 1, 1,
                "http://10.0.0.9:80/control/exec?api udp_stream start 10.0.0.20 31330 0 0x0064 0x00FF 0x0100 0x0101"},
        UrlCase{"NoTeletextLine", "255\n256 deutsch\n100 pmt", mTV, 0, 0,
                "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100"},
        UrlCase{"DummyAudioKeepsItsSlot", "160\n161 fr\n0 dummy\n163 deutsch\n1000 pmt", mTV, 0, 0,
                "http://10.0.0.9:31339/0,0x03E8,0x00A0,0x00A1,0x0000,0x00A3"},
        UrlCase{"Unavailable", "0\n0 unbekannt", mTV, 0, 0, "http://10.0.0.9:31339/0,0x0000,0x0000,0x0000"},
        UrlCase{"UnavailableUdp", "0\n0 unbekannt", mTV, 0, 1,
                "http://10.0.0.9:80/control/exec?api udp_stream start 192.168.0.10 31330 0 0x0000 0x0000 0x0000"},
        UrlCase{"NoAudioLine", "255\n100 pmt", mTV, 0, 0, "http://10.0.0.9:31339/0,0x0064,0x00FF,"},
        UrlCase{"EmptyAnswer", "", mTV, 0, 0, "http://10.0.0.9:31339/0,0x0000,0x0000,"},
        UrlCase{"TeletextLast", "255\n256 deutsch\n32 vtxt", mTV, 0, 0, ""},
        UrlCase{"HighestPid", "8191\n8190 a\n8189 pmt", mTV, 0, 0, "http://10.0.0.9:31339/0,0x1FFD,0x1FFF,0x1FFE"},
        UrlCase{"VideoPidGarbage", "\x01\xff video\n256 a\n100 pmt", mTV, 0, 0, ""},
        UrlCase{"AudioPidOutOfRange", "255\n70000 a\n100 pmt", mTV, 0, 0, ""},
        UrlCase{"TwelveAudioLinesKeepEleven",
                "1\n2 a\n3 a\n4 a\n5 a\n6 a\n7 a\n8 a\n9 a\n10 a\n11 a\n12 a\n13 a\n14 pmt", mTV, 0, 0,
                "http://10.0.0.9:31339/"
                "0,0x000E,0x0001,0x0002,0x0003,0x0004,0x0005,0x0006,0x0007,0x0008,0x0009,0x000A,0x000B,0x000C"}),
    [](const ::testing::TestParamInfo<UrlCase>& info) { return std::string(info.param.name); });

// The five-line answer of the receiver fills every PID field, names and the Audio menu.
TEST(StreamInfoParse, PidFieldsAndAudioMenu) {
    const ParsedStreamInfo p = parseStreamInfo(QString::fromLatin1(kDasErsteInfo), QString::fromLatin1(kDasErstePids),
                                               AppMode::Live, StreamSettings());
    EXPECT_TRUE(p.pidsComplete);
    EXPECT_EQ(p.info.VideoPid, QStringLiteral("255"));
    EXPECT_EQ(p.info.AudioPids[0], QStringLiteral("256"));
    EXPECT_EQ(p.info.AudioPids[1], QStringLiteral("257"));
    EXPECT_EQ(p.info.AudioPids[2], QString());
    EXPECT_EQ(p.info.AudioNames[0], QStringLiteral("deutsch"));
    EXPECT_EQ(p.info.AudioNames[1], QStringLiteral("englisch"));
    EXPECT_EQ(p.info.TeletextPid, QStringLiteral("32"));
    EXPECT_EQ(p.info.PmtPid, QStringLiteral("100"));
    EXPECT_EQ(p.info.Resolution, QStringLiteral("720x576"));
    EXPECT_EQ(p.info.VideoRate, QStringLiteral("5000kbit"));
    EXPECT_EQ(p.info.Format, QStringLiteral("4:3"));
    EXPECT_EQ(p.info.FrameRate, QStringLiteral("25fps"));
    EXPECT_EQ(p.info.Audio, QStringLiteral("joint stereo"));
    ASSERT_TRUE(p.menu.has_value());
    ASSERT_EQ(p.menu->size(), 2);
    EXPECT_EQ(p.menu->at(0).Caption, QStringLiteral("deutsch"));
    EXPECT_TRUE(p.menu->at(0).Checked);
    EXPECT_EQ(p.menu->at(1).Caption, QStringLiteral("englisch"));
    EXPECT_FALSE(p.menu->at(1).Checked);
}

struct RateCase {
    const char* line;
    const char* rate;
};
class StreamRateTest : public ::testing::TestWithParam<RateCase> {};

// The receiver's third line is the MPEG bit-rate field times 50, bytes per second: shown in kbit.
TEST_P(StreamRateTest, BytesPerSecondShownAsKbit) {
    const RateCase& c = GetParam();
    const QString info = QStringLiteral("720\n576\n") + QLatin1String(c.line) + QStringLiteral("\n4:3\n25\nstereo");
    EXPECT_EQ(parseStreamInfo(info, QString(), AppMode::Live, {}).info.VideoRate, QLatin1String(c.rate));
}
INSTANTIATE_TEST_SUITE_P(Answers, StreamRateTest,
                         ::testing::Values(RateCase{"625000", "5000kbit"}, RateCase{"50", "0kbit"},
                                           RateCase{"125", "1kbit"}, RateCase{"0", "0kbit"},
                                           RateCase{"2147483647", "17179869kbit"}, RateCase{"5 Mbit", ""},
                                           RateCase{"", ""}));

// A "0" audio PID takes its slot but gets no menu entry; a teletext line without a PMT after it
// leaves the PMT at its initial value.
TEST(StreamInfoParse, DummyAudioAndLoneTeletext) {
    const ParsedStreamInfo p =
        parseStreamInfo(QString(), QStringLiteral("160\n0 dummy\n163 deutsch\n32 vtxt"), AppMode::Live, {});
    EXPECT_FALSE(p.pidsComplete);
    EXPECT_EQ(p.info.AudioSlotsUsed, 2);
    ASSERT_TRUE(p.menu.has_value());
    ASSERT_EQ(p.menu->size(), 1);
    EXPECT_EQ(p.menu->at(0).Caption, QStringLiteral("deutsch"));
    EXPECT_EQ(p.menu->at(0).Slot, 1);
    EXPECT_EQ(p.info.TeletextPid, QStringLiteral("32"));
    EXPECT_EQ(p.info.PmtPid, QStringLiteral("0"));
}

// The receiver's zero-padded "00000" audio PID is a zero PID too: no menu entry, slot kept.
TEST(StreamInfoParse, PaddedZeroAudioPid) {
    const ParsedStreamInfo p =
        parseStreamInfo(QString(), QStringLiteral("00000\n00000 unbekannt  \n"), AppMode::Live, {});
    ASSERT_TRUE(p.menu.has_value());
    EXPECT_TRUE(p.menu->isEmpty());
    EXPECT_EQ(p.info.AudioSlotsUsed, 1);
}

// An empty PID answer leaves the Audio menu alone (no menu in the result) and the PIDs initial.
TEST(StreamInfoParse, EmptyPidAnswerKeepsMenu) {
    const ParsedStreamInfo p = parseStreamInfo(QString(), QString(), AppMode::Live, {});
    EXPECT_FALSE(p.menu.has_value());
    EXPECT_EQ(p.info.VideoPid, QStringLiteral("0"));
    EXPECT_EQ(p.info.AudioPids[0], QStringLiteral("0"));
    EXPECT_EQ(p.info.PmtPid, QStringLiteral("0"));
    EXPECT_EQ(p.info.AudioSlotsUsed, 0);
    EXPECT_TRUE(p.info.Resolution.isEmpty());
}

// Online mode shows the transcoded size and the transcode settings instead of the box's rates.
TEST(StreamInfoParse, OnlineScaling) {
    StreamSettings s;
    s.VScale = QStringLiteral("0.3");
    const ParsedStreamInfo p = parseStreamInfo(QString::fromLatin1(kDasErsteInfo), QString(), AppMode::Online, s);
    EXPECT_EQ(p.info.Resolution, QStringLiteral("224x179"));
    EXPECT_EQ(p.info.VideoRate, QStringLiteral("h264 400kbit"));
    EXPECT_EQ(p.info.Audio, QStringLiteral("mp3 64kbit"));
    EXPECT_EQ(p.info.FrameRate, QStringLiteral("25fps"));
    // A scale that is no number leaves only the size empty.
    s.VScale = QStringLiteral("x");
    const ParsedStreamInfo bad = parseStreamInfo(QString::fromLatin1(kDasErsteInfo), QString(), AppMode::Online, s);
    EXPECT_TRUE(bad.info.Resolution.isEmpty());
    EXPECT_EQ(bad.info.Format, QStringLiteral("4:3"));
    EXPECT_EQ(bad.info.Audio, QStringLiteral("mp3 64kbit"));
}

// The transcoded size: round((vscale + 0.01111111) * n), ties to even; comma decimals accepted.
TEST_P(ScaleTest, Scales) {
    const ScaleCase& c = GetParam();
    const std::optional<int> got = scaledDimension(QString::fromLatin1(c.scale), QString::fromLatin1(c.dimension));
    if (c.expected < 0)
        EXPECT_FALSE(got.has_value());
    else
        EXPECT_EQ(got.value_or(-1), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Sizes, ScaleTest,
                         ::testing::Values(ScaleCase{"0.3", "720", 224}, ScaleCase{"0.3", "576", 179},
                                           ScaleCase{"0,3", "576", 179}, ScaleCase{"0.5", "544", 278},
                                           ScaleCase{"1", "0", 0}, ScaleCase{"0.48888889", "1", 0},
                                           ScaleCase{"0.48888889", "3", 2}, ScaleCase{"0.48888889", "5", 2},
                                           ScaleCase{"", "720", -1}, ScaleCase{"0.3", "", -1},
                                           ScaleCase{"0.3", "12a", -1}, ScaleCase{"1e300", "720", -1}));

// Truncated, binary and oversized streaminfo answers give partial records, never a crash, and the
// PIDs still produce the address.
TEST(StreamInfoParse, HostileStreamInfo) {
    OptionsScope scope;
    const QString pids = QString::fromLatin1(kDasErstePids);
    const ParsedStreamInfo one = parseStreamInfo(QStringLiteral("720"), pids, AppMode::Live, {});
    EXPECT_TRUE(one.info.Resolution.isEmpty());
    EXPECT_EQ(one.info.PmtPid, QStringLiteral("100"));
    const ParsedStreamInfo three = parseStreamInfo(QStringLiteral("720\n576\nfast"), pids, AppMode::Live, {});
    EXPECT_EQ(three.info.Resolution, QStringLiteral("720x576"));
    EXPECT_TRUE(three.info.VideoRate.isEmpty());
    EXPECT_TRUE(three.info.Format.isEmpty());
    QString binary;
    for (int i = 0; i < 4096; ++i)
        binary += QChar(char16_t((i * 7919) % 0xD7FF));
    const ParsedStreamInfo garbage = parseStreamInfo(binary, pids, AppMode::Live, {});
    EXPECT_EQ(buildLiveURL(garbage.info, mTV, AppMode::Live, 0).value_or(QString()),
              QStringLiteral("http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100,0x0101"));
    const ParsedStreamInfo huge = parseStreamInfo(QString(2 * 1024 * 1024, QLatin1Char('9')), pids, AppMode::Live, {});
    EXPECT_TRUE(huge.info.Resolution.isEmpty());
    EXPECT_EQ(huge.info.VideoPid, QStringLiteral("255"));
}

// Answers as large as the receiver may send, in millions of lines: the streaminfo fields come from
// the first lines, the audio list is cut at the record's eleven slots, and the teletext and PMT
// lines are still found at the very end.
TEST(StreamInfoParse, MillionsOfLines) {
    OptionsScope scope;
    const QString line = QStringLiteral("256 dts\r\n");
    const qsizetype count = (16ll << 20) / line.size() / 2;
    QString pids = QStringLiteral("255\n");
    pids.reserve(pids.size() + count * line.size() + 32);
    for (qsizetype i = 0; i < count; ++i)
        pids += line;
    pids += QStringLiteral("512 vtxt\n100 pmt");
    QString info = QStringLiteral("720\n576\n5000000\n4:3\n25\nMPEG stereo\n");
    info.reserve(info.size() + count * line.size());
    for (qsizetype i = 0; i < count; ++i)
        info += line;

    const ParsedStreamInfo p = parseStreamInfo(info, pids, AppMode::Live, {});
    EXPECT_EQ(p.info.Resolution, QStringLiteral("720x576"));
    EXPECT_EQ(p.info.FrameRate, QStringLiteral("25fps"));
    EXPECT_EQ(p.info.Audio, QStringLiteral("MPEG stereo"));
    EXPECT_EQ(p.info.VideoPid, QStringLiteral("255"));
    EXPECT_EQ(p.info.AudioSlotsUsed, TStreamInfo::kAudioSlots);
    ASSERT_TRUE(p.menu.has_value());
    EXPECT_EQ(p.menu->size(), TStreamInfo::kAudioSlots);
    EXPECT_EQ(p.info.TeletextPid, QStringLiteral("512"));
    EXPECT_EQ(p.info.PmtPid, QStringLiteral("100"));
    EXPECT_TRUE(p.pidsComplete);

    // The same list without its end: the PMT stays unread, the audio list as far as it goes.
    pids.chop(QStringLiteral("512 vtxt\n100 pmt").size());
    const ParsedStreamInfo open = parseStreamInfo(QString(), pids, AppMode::Live, {});
    EXPECT_EQ(open.info.AudioSlotsUsed, TStreamInfo::kAudioSlots);
    EXPECT_EQ(open.info.PmtPid, TStreamInfo().PmtPid);
    EXPECT_TRUE(open.info.TeletextPid.isEmpty());
}

namespace {

class RecordingView : public StreamSetupView {
public:
    void showRadioBackground(bool radio) override { backgrounds.append(radio); }
    bool isSptsChecked() const override { return spts; }
    void setSptsChecked(bool checked) override { spts = checked; }
    void setUdpStreamChecked(bool checked) override { udpChecked = checked; }
    void stopEngineTwice() override { ++engineStops; }
    bool hasChannelSelection() const override { return selection; }
    void switchToSelectedChannel() override { ++switches; }

    QList<bool> backgrounds;
    bool spts = false;
    bool udpChecked = false;
    int engineStops = 0;
    bool selection = true;
    int switches = 0;
};

constexpr const char* kBoxAddress = "127.0.51.40";

// A receiver on its own loopback address with the built-in channels; Das Erste on air.
class BoxStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        Options.BoxAddress = QString::fromLatin1(kBoxAddress) + QStringLiteral(":80");
        Options.IpLan = QString::fromLatin1(kBoxAddress);
        ASSERT_TRUE(m_sim.start());
        ASSERT_TRUE(m_sim.clearRequests());
    }
    void TearDown() override { IsSwitching.store(false); }

    OptionsScope m_options;
    BoxSimProcess m_sim{
        QString::fromLatin1(kBoxAddress),
        {QStringLiteral("--telnet-port"), QStringLiteral("0"), QStringLiteral("--vlc-port"), QStringLiteral("0")}};
    TIEHTTP m_http;
    BoxClient m_box{m_http};
    RecordingView m_view;
    StreamSetup m_setup{m_box, m_view};
};

struct FaultCase {
    const char* name;
    const char* endpoint;
    const char* mode;
    qint64 arg;
    const char* liveUrl;
};

class StreamFaultTest : public BoxStreamTest, public ::testing::WithParamInterface<FaultCase> {};

struct ModeCase {
    const char* name;
    TChannelMode channel;
    const char* boxMode;
    bool sptsChecked;
    int mode;
    std::vector<const char*> targets;
    bool sptsAfter;
    const char* boxModeAfter;
};

class DboxModeTest : public BoxStreamTest, public ::testing::WithParamInterface<ModeCase> {};

} // namespace

// Two requests in this order, and the record, address and Audio menu of the channel on air.
TEST_F(BoxStreamTest, GetStreamInfoAsksTwice) {
    const TStreamInfo info = m_setup.GetStreamInfo(mTV);
    EXPECT_EQ(m_sim.requestTargets(),
              (QStringList{QStringLiteral("/control/info?streaminfo"), QStringLiteral("/control/zapto?getallpids")}));
    EXPECT_EQ(m_setup.LiveURL, QStringLiteral("http://127.0.51.40:31339/0,0x0064,0x00FF,0x0100,0x0101"));
    EXPECT_EQ(info.Resolution, QStringLiteral("720x576"));
    EXPECT_EQ(info.Audio, QStringLiteral("joint stereo"));
    ASSERT_TRUE(m_setup.StreamInfo.has_value());
    EXPECT_EQ(m_setup.StreamInfo->PmtPid, QStringLiteral("00100"));
    ASSERT_EQ(m_setup.AudioMenu.size(), 2);
    EXPECT_EQ(m_setup.AudioMenu[1].Caption, QStringLiteral("englisch"));
    m_setup.checkAudioItem(1);
    EXPECT_FALSE(m_setup.AudioMenu[0].Checked);
    EXPECT_TRUE(m_setup.AudioMenu[1].Checked);
    EXPECT_EQ(m_setup.CopyLiveURL1Click().value_or(QString()), m_setup.LiveURL);
    m_view.selection = false;
    EXPECT_FALSE(m_setup.CopyLiveURL1Click().has_value());
}

// The unavailable channel and the radio channel as the receiver lists them.
TEST_F(BoxStreamTest, UnavailableAndRadio) {
    ASSERT_TRUE(m_sim.setState(QStringLiteral("channel"), QStringLiteral("1000f0001")));
    m_setup.GetStreamInfo(mTV);
    EXPECT_TRUE(m_setup.LiveURL.contains(QLatin1String("0,0x0000,0x0000,0x0000"))) << m_setup.LiveURL.toStdString();
    EXPECT_TRUE(m_setup.AudioMenu.isEmpty());
    ASSERT_TRUE(m_sim.setState(QStringLiteral("channel"), QStringLiteral("44100016e54")));
    m_setup.GetStreamInfo(mRadio);
    EXPECT_EQ(m_setup.LiveURL, QStringLiteral("http://127.0.51.40:31338/0x090A"));
}

// Spoiled answers: a bad streaminfo answer costs only the description; a bad PID answer costs the
// address (empty answer: the initial PIDs; the previous Audio menu stays).
TEST_P(StreamFaultTest, KeepsRunning) {
    const FaultCase& c = GetParam();
    m_setup.GetStreamInfo(mTV);
    const QList<TAudioMenuItem> before = m_setup.AudioMenu;
    ASSERT_TRUE(m_sim.setFault(QString::fromLatin1(c.endpoint), QString::fromLatin1(c.mode), c.arg));
    m_setup.GetStreamInfo(mTV);
    EXPECT_EQ(m_setup.LiveURL, QString::fromLatin1(c.liveUrl));
    if (QByteArray(c.endpoint).contains("getallpids") && QByteArray(c.mode) != "garbage-body") {
        EXPECT_EQ(m_setup.AudioMenu.size(), before.size());
    }
}
INSTANTIATE_TEST_SUITE_P(Faults, StreamFaultTest,
                         ::testing::Values(FaultCase{"InfoGarbage", "/control/info?streaminfo", "garbage-body", 8192,
                                                     "http://127.0.51.40:31339/0,0x0064,0x00FF,0x0100,0x0101"},
                                           FaultCase{"InfoEmpty", "/control/info?streaminfo", "empty", -1,
                                                     "http://127.0.51.40:31339/0,0x0064,0x00FF,0x0100,0x0101"},
                                           FaultCase{"InfoClosed", "/control/info?streaminfo", "close", -1,
                                                     "http://127.0.51.40:31339/0,0x0064,0x00FF,0x0100,0x0101"},
                                           FaultCase{"InfoHuge", "/control/info?streaminfo", "huge", 3000000,
                                                     "http://127.0.51.40:31339/0,0x0064,0x00FF,0x0100,0x0101"},
                                           FaultCase{"InfoTimeoutText", "/control/info?streaminfo", "timeout-text", -1,
                                                     "http://127.0.51.40:31339/0,0x0064,0x00FF,0x0100,0x0101"},
                                           FaultCase{"PidsEmpty", "/control/zapto?getallpids", "empty", -1,
                                                     "http://127.0.51.40:31339/0,0x0000,0x0000,"},
                                           FaultCase{"PidsClosed", "/control/zapto?getallpids", "close", -1,
                                                     "http://127.0.51.40:31339/0,0x0000,0x0000,"},
                                           FaultCase{"PidsGarbage", "/control/zapto?getallpids", "garbage-body", 4096,
                                                     ""}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// TV or radio mode and the playback format, with exactly the receiver requests that need sending.
TEST_P(DboxModeTest, Sets) {
    const ModeCase& c = GetParam();
    ASSERT_TRUE(m_sim.setState(QStringLiteral("mode"), QString::fromLatin1(c.boxMode)));
    m_view.spts = c.sptsChecked;
    Options.Mode = static_cast<AppMode>(c.mode);
    TChannel channel;
    channel.Mode = c.channel;
    m_setup.SetDboxMode(channel);
    QStringList expected;
    for (const char* t : c.targets)
        expected.append(QString::fromLatin1(t));
    EXPECT_EQ(m_sim.requestTargets(), expected);
    EXPECT_EQ(m_view.spts, c.sptsAfter);
    EXPECT_EQ(m_view.backgrounds, QList<bool>{c.channel == mRadio});
    EXPECT_EQ(m_sim.state().value(QStringLiteral("mode")), QString::fromLatin1(c.boxModeAfter));
}
INSTANTIATE_TEST_SUITE_P(
    Modes, DboxModeTest,
    ::testing::Values(ModeCase{"TvFromRadio",
                               mTV,
                               "radio",
                               false,
                               0,
                               {"/control/getmode", "/control/setmode?tv", "/control/system?setAViAExtPlayBack=spts"},
                               true,
                               "tv"},
                      ModeCase{"TvAlreadySpts", mTV, "tv", true, 0, {"/control/getmode"}, true, "tv"},
                      ModeCase{"TvSptsOff",
                               mTV,
                               "tv",
                               false,
                               1,
                               {"/control/getmode", "/control/system?setAViAExtPlayBack=spts"},
                               true,
                               "tv"},
                      ModeCase{"RadioFromTv",
                               mRadio,
                               "tv",
                               true,
                               0,
                               {"/control/getmode", "/control/system?setAViAExtPlayBack=pes", "/control/setmode?radio"},
                               false,
                               "radio"},
                      ModeCase{"RadioAlready", mRadio, "radio", true, 0, {"/control/getmode"}, true, "radio"},
                      ModeCase{"QuoxelTv", mTV, "radio", false, 2, {}, false, "radio"},
                      ModeCase{"QuoxelRadio", mRadio, "tv", true, 2, {}, true, "tv"}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

// "UDP Stream": UDP to HTTP stops the engine and the receiver's UDP streams; HTTP to UDP only
// switches; a radio channel or a running switch changes nothing beyond the type.
TEST_F(BoxStreamTest, UdpToggle) {
    Options.StreamType = 1;
    m_setup.UDPStream1Click(mTV);
    EXPECT_EQ(Options.StreamType, 0);
    EXPECT_FALSE(m_view.udpChecked);
    EXPECT_EQ(m_view.engineStops, 1);
    EXPECT_EQ(m_view.switches, 1);
    EXPECT_EQ(m_sim.requestTargets(), QStringList{QStringLiteral("/control/exec?api%20udp_stream%20kill_all_streams")});
    m_setup.UDPStream1Click(mTV);
    EXPECT_EQ(Options.StreamType, 1);
    EXPECT_TRUE(m_view.udpChecked);
    EXPECT_EQ(m_view.switches, 2);
    EXPECT_EQ(m_sim.requestTargets().size(), 1);
    m_setup.UDPStream1Click(mRadio);
    EXPECT_EQ(Options.StreamType, 1);
    IsSwitching.store(true);
    m_setup.UDPStream1Click(mTV);
    EXPECT_EQ(Options.StreamType, 0);
    EXPECT_EQ(m_view.switches, 2);
}

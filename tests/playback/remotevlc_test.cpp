#include "playback/remotevlc.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "core/settingsstore.h"
#include "playback/streamsetup.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

struct PageCase {
    const char* name;
    const char* page;
    const char* item;
};

class PlayItemTest : public ::testing::TestWithParam<PageCase> {};

// A page of VLC 0.8: the node "General" (id 3) with its own play link, then the items.
#define NODE "<a href=\"?control=play&amp;item=3\">\nGeneral\n</a>\n(1 item)\n<ul>\n"
#define ITEM(id, text) "<li><a href=\"?control=play&amp;item=" id "\">\n" text "</a></li>\n"
const char* const kMrl = "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100";

struct AddCase {
    const char* name;
    const char* liveUrl;
    TChannelMode channel;
    int streamType;
    const char* expected;
};

class AddRequestTest : public ::testing::TestWithParam<AddCase> {
protected:
    void SetUp() override {
        Options.VlcAddress = QStringLiteral("inet.example:8080");
        Options.StreamPortUdp = QStringLiteral("31330");
        Options.SoutVideo = soutVideo(QStringLiteral("h264"), QStringLiteral("400"), QStringLiteral("0,3"),
                                      QStringLiteral("mp3"), QStringLiteral("64"), QStringLiteral("2"));
        Options.SoutAudio = soutAudio(QStringLiteral("mp3"), QStringLiteral("64"), QStringLiteral("2"));
        m_settings.VlcIp = QStringLiteral("192.168.0.20");
        m_settings.StreamPortHttp = QStringLiteral("31331");
        m_settings.CacheOnline = QStringLiteral("3000");
    }
    ScopedAppState m_state;
    StreamSettings m_settings;
};

const char* const kVideoChain = ":sout=#transcode{vcodec=h264,vb=400,scale=0.3,acodec=mp3,ab=64,channels=2}:duplicate{"
                                "dst=std{access=http,mux=asf,dst=192.168.0.20:31331}}";

} // namespace

// The play request's item: the link that shows the MRL just added, else the last play link, and
// never anything but a number.
TEST_P(PlayItemTest, Finds) {
    EXPECT_EQ(playItemFor(QString::fromUtf8(GetParam().page), QString::fromLatin1(kMrl)),
              QString::fromUtf8(GetParam().item));
}
INSTANTIATE_TEST_SUITE_P(
    Pages, PlayItemTest,
    ::testing::Values(
        PageCase{"ThreeItemsLastOne",
                 "<ul><li><a href=\"?control=play&amp;item=0\">a</a></li><li><a href=\"?control=play&amp;item=1\">b</a>"
                 "</li><li><a href=\"?control=play&amp;item=2\">c</a></li></ul><a href=\"?control=stop\">Stop</a>",
                 "2"},
        PageCase{"NodeThenItem",
                 NODE ITEM("4", " http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100 :sout=#x  "
                                "(http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100)"),
                 "4"},
        PageCase{
            "AnnouncedStreamsAfterIt",
            NODE ITEM(
                "17",
                "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100") "</ul>"
                                                                "<a "
                                                                "href=\"?control=play&amp;item=18\">SAP</a><ul>" ITEM(
                                                                    "19", "a (udp://@239.255.12.1:1234)")
                                                                    ITEM("20", "b (udp://@239.255.12.2:1234)"),
            "17"},
        PageCase{"AddFailedOnlyTheNode", NODE "</ul>", "3"},
        PageCase{"EscapedText", ITEM("5", "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100 &amp;x") ITEM("6", "y"), "5"},
        PageCase{"NoPlayLink", "<html><a href=\"?control=stop\">Stop</a></html>", ""}, PageCase{"EmptyPage", "", ""},
        PageCase{"NoQuoteAfterItem", "<a href=\"?control=play&amp;item=  17  ", "17"},
        PageCase{"NoTemAfterMarker", "<a href=\"?control=play&amp;xyz\">", ""},
        PageCase{"MarkerRightAfterMarker", "<a href=\"?control=play&amp;<a href=\"?control=play&amp;item=5\"", "5"},
        PageCase{"TruncatedInMarker", "<a href=\"?control=play&amp;item=4\"><a href=\"?contr", "4"},
        PageCase{"InjectedCommand", "<a href=\"?control=play&amp;item=0&control=empty\">", ""},
        PageCase{"HugeNumber", "<a href=\"?control=play&amp;item=123456789012345\">", ""},
        PageCase{"Binary", "\x01\x02<a href=\"?control=play&amp;item=\xff\xfe\">", ""}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return std::string(info.param.name); });

// A page of many thousand play links is read in one pass.
TEST(PlayItem, LongPage) {
    QString page;
    for (int i = 0; i < 100000; ++i)
        page +=
            QStringLiteral("<li><a href=\"?control=play&amp;item=") + QString::number(i) + QStringLiteral("\">x</a>");
    EXPECT_EQ(playItemFor(page, QString::fromLatin1(kMrl)), QStringLiteral("99999"));
}

// The add request: source, caching and the chain closed with the remote's stream address.
TEST_P(AddRequestTest, Builds) {
    const AddCase& c = GetParam();
    EXPECT_EQ(classicAddRequest(QString::fromUtf8(c.liveUrl), c.channel, c.streamType, m_settings),
              QString::fromUtf8(c.expected));
}
INSTANTIATE_TEST_SUITE_P(
    Channels, AddRequestTest,
    ::testing::Values(
        AddCase{"TvHttp", "http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100", mTV, 0,
                "http://inet.example:8080/?control=add&mrl= http://10.0.0.9:31339/0,0x0064,0x00FF,0x0100 "
                ":http-caching=3000 "
                ":sout=#transcode{vcodec=h264,vb=400,scale=0.3,acodec=mp3,ab=64,channels=2}:duplicate{"
                "dst=std{access=http,mux=asf,dst=192.168.0.20:31331}}"},
        AddCase{"TvUdp", "http://10.0.0.9:80/control/exec?api udp_stream start 192.168.0.20 31330 0 0x0064", mTV, 1,
                "http://inet.example:8080/?control=add&mrl= udp://@:31330 :udp-caching=3000 "
                ":sout=#transcode{vcodec=h264,vb=400,scale=0.3,acodec=mp3,ab=64,channels=2}:duplicate{"
                "dst=std{access=http,mux=asf,dst=192.168.0.20:31331}}"},
        AddCase{"RadioOverUdpKeepsAudioChain", "http://10.0.0.9:31338/0x0100", mRadio, 1,
                "http://inet.example:8080/?control=add&mrl= http://10.0.0.9:31338/0x0100 :http-caching=3000 "
                ":sout=#transcode{acodec=mp3,ab=64,channels=2}:duplicate{dst=std{access=http,mux=asf,"
                "dst=192.168.0.20:31331}}"}),
    [](const ::testing::TestParamInfo<AddCase>& info) { return std::string(info.param.name); });

// The local engine gets two options in online mode, three when it re-serves the stream.
TEST(OnlineLocalOptions, ProvideStream) {
    const TOptions saved = Options;
    StreamSettings s;
    s.CacheOnline = QStringLiteral("2500");
    Options.ProvideStream = false;
    EXPECT_EQ(onlineLocalOptions(0, s),
              (QStringList{QStringLiteral(":http-caching=2500"), QStringLiteral(":deinterlace-mode=mean")}));
    Options.ProvideStream = true;
    Options.IpPc = QStringLiteral("192.168.0.10");
    Options.StreamPortProv = QStringLiteral("31329");
    EXPECT_EQ(onlineLocalOptions(1, s),
              (QStringList{QStringLiteral(":udp-caching=2500"), QStringLiteral(":deinterlace-mode=mean"),
                           QStringLiteral(":sout=#duplicate{dst=display,dst=std{access=http,mux=ts,dst=192.168.0.10:"
                                          "31329}}")}));
    Options = saved;
}

// Query values for the Lua interface survive the engine's decoding: it sends "%XX" for every
// character that would split or end the query, and the value decodes back to the original.
TEST(LuaQueryValue, SurvivesEngine) {
    const QString chain = QString::fromLatin1(kVideoChain) + QStringLiteral(" a&b=c%d+e\u00e4");
    const QString encoded = luaQueryValue(chain);
    const SplitUrl split = splitUrl(QStringLiteral("http://127.0.0.1:1/requests/status.xml?command=in_play&input=") +
                                    encoded + QStringLiteral("&option=x"));
    ASSERT_TRUE(split.valid);
    const QList<QByteArray> parts = split.query.mid(1).split('&');
    ASSERT_EQ(parts.size(), 3);
    ASSERT_TRUE(parts[1].startsWith("input="));
    EXPECT_FALSE(parts[1].mid(6).contains('='));
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromPercentEncoding(parts[1].mid(6))), chain);
}

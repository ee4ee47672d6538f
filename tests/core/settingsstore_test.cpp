#include "core/settingsstore.h"

#include "core/certpins.h"
#include "core/options.h"
#include "core/ports.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QString ini() const { return m_dir.path(QStringLiteral("Quoxel.ini")); }
    void put(const QByteArray& bytes) { ASSERT_TRUE(m_dir.write(QStringLiteral("Quoxel.ini"), bytes)); }
    QByteArray onDisk() const { return m_dir.read(QStringLiteral("Quoxel.ini")); }
    TestDir m_dir;
};

// Records the first-start dialog and answers OK (saving) or Cancel.
class FakeFirstStart : public FirstStartDialog {
public:
    explicit FakeFirstStart(bool ok)
        : m_ok(ok) {}
    bool runFirstStart(SettingsStore& store) override {
        ++calls;
        offeredPort = store.value(SettingId::DboxPort);
        offeredScale = store.value(SettingId::VScale);
        if (m_ok) {
            store.setValue(SettingId::IpLan, QStringLiteral("192.168.1.7"));
            store.SaveSettings();
        }
        return m_ok;
    }
    int calls = 0;
    QString offeredPort;
    QString offeredScale;

private:
    bool m_ok;
};

} // namespace

// A missing file gives every absent value and the composite fields built from them.
TEST_F(SettingsStoreTest, AbsentValues) {
    SettingsStore store(ini());
    TOptions o;
    store.LoadSettings(o);
    for (const SettingDef& d : settingsTable())
        EXPECT_EQ(store.value(d.id), QString::fromLatin1(d.absent)) << d.key;
    EXPECT_EQ(o.TelnetUser, QStringLiteral("root"));
    EXPECT_EQ(o.TelnetNhttpd, QStringLiteral("nhttpd"));
    EXPECT_EQ(o.OsdShowTime, QStringLiteral("3000"));
    EXPECT_EQ(o.QuoxelAddress, QStringLiteral(":0"));
    EXPECT_EQ(o.UdpTargetPc, QStringLiteral(" 0"));
    EXPECT_EQ(o.SoutAudio, QStringLiteral(":sout=#transcode{acodec=mp3,ab=64,channels=2}:duplicate{dst=std{access="
                                          "http,mux=asf"));
}

// First start offers the dialog on its designed values; OK writes every section but Window.
TEST_F(SettingsStoreTest, FirstStartOkWritesAllButWindow) {
    SettingsStore store(ini());
    FakeFirstStart dialog(true);
    TOptions o;
    store.create(o, &dialog);
    EXPECT_EQ(dialog.calls, 1);
    EXPECT_EQ(dialog.offeredPort, QStringLiteral("80"));
    EXPECT_EQ(dialog.offeredScale, QStringLiteral("0,3"));
    TIniFile f(ini());
    // Every key of the dialog; the window's and the [Extras] ones are not the dialog's to write.
    for (const SettingDef& d : settingsTable())
        EXPECT_EQ(f.ValueExists(QString::fromLatin1(d.section), QString::fromLatin1(d.key)), d.saveOrder != 0) << d.key;
    EXPECT_EQ(f.ReadString(QStringLiteral("Online Stream"), QStringLiteral("vscale"), {}), QStringLiteral("0,3"));
    EXPECT_EQ(o.BoxAddress, QStringLiteral("192.168.1.7:80"));
    EXPECT_EQ(o.StreamPortProv, QStringLiteral("31329"));
    // A second start does not ask again.
    SettingsStore again(ini());
    FakeFirstStart second(true);
    TOptions o2;
    again.create(o2, &second);
    EXPECT_EQ(second.calls, 0);
}

// Cancel leaves the file without General, so the dialog comes again; this run has absent values.
TEST_F(SettingsStoreTest, FirstStartCancel) {
    SettingsStore store(ini());
    FakeFirstStart dialog(false);
    TOptions o;
    store.create(o, &dialog);
    EXPECT_FALSE(TIniFile(ini()).SectionExists(QStringLiteral("General")));
    EXPECT_EQ(store.value(SettingId::DboxPort), QStringLiteral("0"));
    EXPECT_EQ(o.BoxAddress, QStringLiteral(":0"));
    SettingsStore again(ini());
    EXPECT_TRUE(again.isFirstStart());
}

// The receiver address follows the mode: online uses ip_inet, live and quoxel ip_lan.
TEST_F(SettingsStoreTest, BoxAddressFollowsMode) {
    for (const auto& [mode, index, expected] :
         {std::tuple{"online", 1, "inet.example:8081"}, std::tuple{"LIVE", 0, "10.1.1.1:8081"},
          std::tuple{"quoxel", 2, "10.1.1.1:8081"}}) {
        put(QByteArray("[General]\nmode=") + mode +
            "\nip_inet=inet.example\n[D-Box2]\nip_lan=10.1.1.1\ndboxport=8081\n");
        SettingsStore store(ini());
        TOptions o;
        store.create(o, nullptr);
        EXPECT_EQ(o.Mode, static_cast<AppMode>(index)) << mode;
        EXPECT_EQ(o.BoxAddress, QString::fromLatin1(expected)) << mode;
    }
}

// An unlisted list value falls back to the list's default item instead of leaving no selection.
TEST_F(SettingsStoreTest, UnlistedListValueFallsBack) {
    put("[General]\nmode=remote\nstreamtype=UDP\npriority=realtime\n[Online Stream]\nvcodec=H264\nacodec=ogg\n");
    SettingsStore store(ini());
    TOptions o;
    store.create(o, nullptr);
    EXPECT_EQ(store.value(SettingId::Mode), QStringLiteral("live"));
    EXPECT_EQ(o.Mode, AppMode::Live);
    EXPECT_EQ(o.StreamType, 1);
    EXPECT_EQ(o.Priority, QStringLiteral("NORMAL"));
    EXPECT_EQ(store.value(SettingId::VCodec), QStringLiteral("h264"));
    EXPECT_EQ(store.value(SettingId::ACodec), QStringLiteral("mp3"));
}

// The scale's comma becomes a point in the transcoding option; the file keeps the comma.
TEST_F(SettingsStoreTest, TranscodeStrings) {
    put("[General]\nmode=online\n[Online Stream]\nvcodec=mp4v\nvbitrate=800\nvscale=0,3\nacodec=mpga\nabitrate=96\n"
        "achannels=1\n");
    SettingsStore store(ini());
    TOptions o;
    store.create(o, nullptr);
    EXPECT_EQ(o.SoutVideo, QStringLiteral(":sout=#transcode{vcodec=mp4v,vb=800,scale=0.3,acodec=mpga,ab=96,channels=1}"
                                          ":duplicate{dst=std{access=http,mux=asf"));
    ASSERT_TRUE(store.SaveSettings());
    EXPECT_TRUE(onDisk().contains("vscale=0,3\n"));
}

// Every dialog value survives save and load; unknown lines in the file survive too.
TEST_F(SettingsStoreTest, RoundTripKeepsValuesAndForeignLines) {
    put("; hand-written note\n[Custom]\nfoo=bar\n");
    SettingsStore store(ini());
    int n = 0;
    for (const SettingDef& d : settingsTable()) {
        if (d.saveOrder == 0)
            continue;
        QString v;
        if (d.type == SettingType::List)
            v = settingItems(d.id).last();
        else if (d.type == SettingType::Flag)
            v = (n % 2) ? QStringLiteral("1") : QStringLiteral("0");
        else
            v = QStringLiteral("v%1 with blanks").arg(n);
        store.setValue(d.id, v);
        ++n;
    }
    const auto written = [&] {
        std::vector<QString> all;
        for (const SettingDef& d : settingsTable())
            all.push_back(store.value(d.id));
        return all;
    }();
    ASSERT_TRUE(store.SaveSettings());
    SettingsStore back(ini());
    TOptions o;
    back.LoadSettings(o);
    for (const SettingDef& d : settingsTable())
        EXPECT_EQ(back.value(d.id), written[static_cast<int>(d.id)]) << d.key;
    EXPECT_TRUE(onDisk().startsWith("; hand-written note\n[Custom]\nfoo=bar\n"));
}

// SaveSettings writes in the dialog's order, section by section; the keys beyond the original
// ones come after them, in [Extras].
TEST_F(SettingsStoreTest, SaveOrder) {
    SettingsStore store(ini());
    ASSERT_TRUE(store.SaveSettings());
    const QList<QByteArray> lines = onDisk().split('\n');
    QList<QByteArray> keys;
    for (const QByteArray& l : lines)
        keys.append(l.contains('=') ? l.left(l.indexOf('=')) : l);
    const QList<QByteArray> expectedStart{"[General]", "ip_inet",    "ip_pc",       "ip_quoxel", "streamport_prov",
                                          "mode",      "streamtype", "osdshowtime", "priority",  "providestream"};
    EXPECT_EQ(keys.mid(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(keys.mid(20, 3), (QList<QByteArray>{"no_epgdata", "[D-Box2]", "ip_lan"}));
    EXPECT_EQ(keys.mid(keys.size() - 9, 8),
              (QList<QByteArray>{"[Telnet]", "port", "user", "pass", "nhttpd", "[Extras]", "vlcpassword", "fastzap"}));
}

// Window state is read and written only with "remember state"; video-only adds 55 pixels.
TEST_F(SettingsStoreTest, WindowStateNeedsRememberState) {
    put("[General]\nrememberstate=0\n[Window]\nheight=300\nwidth=400\n");
    SettingsStore store(ini());
    TOptions o;
    store.LoadSettings(o);
    EXPECT_EQ(o.WinHeight, 0);
    const QByteArray before = onDisk();
    ASSERT_TRUE(store.SaveWindowState({500, 600, 10, 20, true, true}, o));
    EXPECT_EQ(onDisk(), before);

    put("[General]\nrememberstate=1\n[Window]\nheight=300\nwidth=400\nleft=-5\ntop=0x10\nalwaysontop=1\n");
    store.LoadSettings(o);
    EXPECT_EQ(o.WinHeight, 300);
    EXPECT_EQ(o.WinWidth, 400);
    EXPECT_EQ(o.WinLeft, -5);
    EXPECT_EQ(o.WinTop, 16);
    EXPECT_TRUE(o.AlwaysOnTop);
    EXPECT_FALSE(o.VideoOnly);
    ASSERT_TRUE(store.SaveWindowState({500, 600, 10, 20, false, true}, o));
    TIniFile f(ini());
    EXPECT_EQ(f.ReadInteger(QStringLiteral("Window"), QStringLiteral("height"), 0), 555);
    EXPECT_EQ(f.ReadInteger(QStringLiteral("Window"), QStringLiteral("top"), 0), 20);
    EXPECT_FALSE(f.ReadBool(QStringLiteral("Window"), QStringLiteral("alwaysontop"), true));
    EXPECT_TRUE(f.ReadBool(QStringLiteral("Window"), QStringLiteral("videoonly"), false));

    // No place kept: the window goes where the desktop puts it.
    put("[General]\nrememberstate=1\n[Window]\nheight=300\n");
    store.LoadSettings(o);
    EXPECT_EQ(o.WinLeft, 0);
    EXPECT_EQ(o.WinTop, 0);
}

// Cancel re-reads the file: edits in the controls are discarded.
TEST_F(SettingsStoreTest, LoadDiscardsEdits) {
    put("[General]\nip_pc=1.1.1.1\n");
    SettingsStore store(ini());
    TOptions o;
    store.LoadSettings(o);
    store.setValue(SettingId::IpPc, QStringLiteral("9.9.9.9"));
    store.LoadSettings(o);
    EXPECT_EQ(o.IpPc, QStringLiteral("1.1.1.1"));
}

// The log's copy of the settings never holds a password.
TEST_F(SettingsStoreTest, MaskedCopyHidesPasswords) {
    put("[Webserver]\nuser=admin\nPASS = s3cret\n[Telnet]\npass=dbox\n[Other]\npass=visible\n[General]\n"
        "[Extras]\nvlcpassword= \n");
    SettingsStore store(ini());
    const QByteArray copy = store.maskedCopy().join('\n');
    EXPECT_FALSE(copy.contains("s3cret"));
    EXPECT_FALSE(copy.contains("dbox"));
    EXPECT_TRUE(copy.contains("PASS =***"));
    EXPECT_TRUE(copy.contains("user=admin"));
    EXPECT_TRUE(copy.contains("pass=visible"));
    // An empty password stays empty: the log tells a missing one from a set one.
    EXPECT_TRUE(copy.endsWith("\nvlcpassword= "));
}

// An empty file, or one cut off inside a line, reads as defaults where keys are missing and
// counts as a first start when no General section is left.
TEST_F(SettingsStoreTest, EmptyAndTruncatedFiles) {
    put("");
    SettingsStore empty(ini());
    EXPECT_TRUE(empty.isFirstStart());
    TOptions o;
    empty.LoadSettings(o);
    EXPECT_EQ(o.OsdShowTime, QStringLiteral("3000"));

    put("[General]\nmode=online\n[D-Box2]\nip_lan=10.0.0.1\ndbox");
    SettingsStore cut(ini());
    EXPECT_FALSE(cut.isFirstStart());
    cut.create(o, nullptr);
    EXPECT_EQ(o.Mode, AppMode::Online);
    EXPECT_EQ(cut.value(SettingId::DboxPort), QStringLiteral("0"));
    EXPECT_EQ(o.IpLan, QStringLiteral("10.0.0.1"));
}

// The trusted server keys live in a section the dialog does not own: neither save of the dialog
// nor the window state at close may lose them, whether they were in the file when it was read or
// were learned through the store's ini afterwards.
TEST_F(SettingsStoreTest, SavesKeepTrustedServerKeys) {
    const QByteArray early = "sha256//EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE=";
    const QByteArray late = "sha256//LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL=";
    const struct {
        const char* name;
        bool windowSave;
    } saves[] = {{"SaveSettings", false}, {"SaveWindowState", true}};
    for (const auto& save : saves) {
        SCOPED_TRACE(save.name);
        put("[General]\nrememberstate=1\n[Box]\ncertfingerprint=10.0.0.2:443=" + early + "\n[Window]\nheight=300\n");
        SettingsStore store(ini());
        TOptions o;
        store.LoadSettings(o);
        {
            CertPins pins(store.ini());
            EXPECT_EQ(pins.pinFor("10.0.0.2:443"), early);
            ASSERT_TRUE(pins.remember("10.0.0.3:443", late));
        }
        store.setValue(SettingId::IpLan, QStringLiteral("10.0.0.3"));
        ASSERT_TRUE(save.windowSave ? store.SaveWindowState({480, 640, 1, 2, false, false}, o) : store.SaveSettings());
        // A dialog opened again re-reads the file and saves once more.
        store.LoadSettings(o);
        ASSERT_TRUE(store.SaveSettings());
        TIniFile back(ini());
        EXPECT_EQ(back.ReadString(QStringLiteral("Box"), QStringLiteral("certfingerprint"), QString()),
                  QString::fromLatin1("10.0.0.2:443=" + early + " 10.0.0.3:443=" + late));
        CertPins pins(back);
        EXPECT_EQ(pins.pinFor("10.0.0.2:443"), early);
        EXPECT_EQ(pins.pinFor("10.0.0.3:443"), late);
        if (save.windowSave)
            EXPECT_EQ(back.ReadInteger(QStringLiteral("Window"), QStringLiteral("height"), 0), 480);
        else
            EXPECT_EQ(back.ReadString(QStringLiteral("D-Box2"), QStringLiteral("ip_lan"), QString()),
                      QStringLiteral("10.0.0.3"));
    }
}

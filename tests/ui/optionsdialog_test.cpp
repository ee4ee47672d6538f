#include "ui/optionsdialog.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/certpins.h"
#include "core/inifile.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/numedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// A valid value different from the absent one, for every key the dialog edits.
QString sampleValue(const SettingDef& d) {
    switch (d.type) {
    case SettingType::Flag:
        return QStringLiteral("1");
    case SettingType::List:
        return settingItems(d.id).last();
    case SettingType::Decimal:
        // Typed with the separator the field accepts.
        return QStringLiteral("0") + QLocale().decimalPoint() + QStringLiteral("75");
    case SettingType::Secret:
        return QStringLiteral("s3cr=t&x");
    case SettingType::Number:
        switch (d.id) {
        case SettingId::AChannels:
            return QStringLiteral("6");
        case SettingId::ABitrate:
            return QStringLiteral("192");
        default:
            return QStringLiteral("4711");
        }
    default:
        if (QByteArray(d.key).startsWith("ip") || QByteArray(d.key) == "vlcip")
            return QStringLiteral("192.168.7.%1").arg(static_cast<int>(d.id) + 1);
        return QStringLiteral("value-") + QString::fromLatin1(d.key);
    }
}

bool edited(const SettingDef& d) {
    return d.type != SettingType::WindowInt && d.type != SettingType::WindowBool && (d.flagIndex >= 0 || *d.control);
}

// Types a new text into a line edit the way a user does: select all, type.
void typeInto(QWidget* w, const QString& text) {
    w->setFocus();
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Delete);
    QTest::keyClicks(w, text);
}

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {}
    QString ini() const { return m_dir.path(QStringLiteral("Quoxel.ini")); }
    QByteArray onDisk() const { return m_dir.read(QStringLiteral("Quoxel.ini")); }
    // An ini holding a sample value for every key, plus lines the program does not know.
    void writeFullIni() {
        QByteArray text = "; kept\r\n";
        QByteArray section;
        for (const SettingDef& d : settingsTable()) {
            if (section != d.section) {
                section = d.section;
                text += "[" + section + "]\r\n";
            }
            text += QByteArray(d.key) + "=" + (edited(d) ? sampleValue(d).toUtf8() : QByteArray("5")) + "\r\n";
        }
        text += "[Other]\r\nx=1\r\n";
        ASSERT_TRUE(m_dir.write(QStringLiteral("Quoxel.ini"), text));
    }

    ScopedAppState m_state;
    TestDir m_dir;
};

} // namespace

// Every key the store reads has a control of its own name on the dialog (the flags are the list's items).
TEST_F(OptionsDialogTest, EveryKeyHasAnEditor) {
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    for (const SettingDef& d : settingsTable()) {
        if (!edited(d))
            continue;
        if (d.flagIndex >= 0) {
            ASSERT_LT(d.flagIndex, dialog.flagList()->count());
            EXPECT_EQ(dialog.flagList()->item(d.flagIndex)->text(), flagCaptions()[d.flagIndex]);
            continue;
        }
        QWidget* w = dialog.editor(d.id);
        ASSERT_NE(w, nullptr) << d.key;
        EXPECT_EQ(w->objectName(), QString::fromLatin1(d.control));
        EXPECT_EQ(dialog.findChild<QWidget*>(QString::fromLatin1(d.control)), w);
    }
    EXPECT_EQ(dialog.pages()->count(), 6);
    EXPECT_EQ(dialog.pages()->tabText(0), QStringLiteral("General"));
    EXPECT_EQ(dialog.pages()->currentIndex(), int(TFrmOptions::PageGeneral));
    // Passwords are never shown.
    EXPECT_EQ(qobject_cast<QLineEdit*>(dialog.editor(SettingId::WebPass))->echoMode(), QLineEdit::Password);
    EXPECT_EQ(qobject_cast<QLineEdit*>(dialog.editor(SettingId::TelnetPass))->echoMode(), QLineEdit::Password);
}

// A file with a value for every key shows each in its control, and Ok writes back exactly that file.
TEST_F(OptionsDialogTest, FullFileRoundTripsThroughOk) {
    writeFullIni();
    const QByteArray before = onDisk();
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    dialog.createStore();
    for (const SettingDef& d : settingsTable()) {
        if (edited(d)) {
            EXPECT_EQ(dialog.controlValue(d.id), sampleValue(d)) << d.key;
        }
    }
    EXPECT_TRUE(dialog.okButton()->isEnabled()) << dialog.problemText().toStdString();
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(onDisk(), before);
    EXPECT_EQ(Options.TelnetPass, QStringLiteral("s3cr=t&x"));
    EXPECT_TRUE(Options.NoEpgData);
}

class OptionsKeyEdit : public OptionsDialogTest, public ::testing::WithParamInterface<int> {};

// Each key edited in its control reaches the file on Ok, under its own section and key, and comes back.
TEST_P(OptionsKeyEdit, EditSavesAndReloads) {
    const SettingDef& d = settingsTable()[GetParam()];
    if (!edited(d))
        GTEST_SKIP() << "not edited by the dialog";
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    store.setFirstStartValues();
    store.setValue(SettingId::IpLan, QStringLiteral("10.0.0.2"));
    dialog.loadControls();
    const QString v = sampleValue(d);
    if (d.flagIndex >= 0) {
        dialog.flagList()->setFocus();
        dialog.flagList()->setCurrentRow(d.flagIndex);
        QTest::keyClick(dialog.flagList()->viewport(), Qt::Key_Space);
    } else if (auto* b = qobject_cast<QCheckBox*>(dialog.editor(d.id))) {
        QTest::mouseClick(b, Qt::LeftButton);
    } else if (auto* c = qobject_cast<QComboBox*>(dialog.editor(d.id))) {
        c->setCurrentIndex(c->findText(v));
    } else {
        typeInto(dialog.editor(d.id), v);
    }
    ASSERT_EQ(dialog.controlValue(d.id), v) << d.key;
    ASSERT_TRUE(dialog.okButton()->isEnabled()) << dialog.problemText().toStdString();
    dialog.OkClick();
    TIniFile file(ini());
    EXPECT_EQ(file.ReadString(QString::fromLatin1(d.section), QString::fromLatin1(d.key), QStringLiteral("?")), v);
    SettingsStore again(ini());
    TOptions o;
    again.LoadSettings(o);
    TFrmOptions second(again, o);
    second.loadControls();
    EXPECT_EQ(second.controlValue(d.id), v);
}

INSTANTIATE_TEST_SUITE_P(AllKeys, OptionsKeyEdit, ::testing::Range(0, kSettingCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                             const SettingDef& d = settingsTable()[info.param];
                             QByteArray name = QByteArray(d.section) + "_" + d.key;
                             name.replace('-', '_').replace(' ', '_');
                             return name.toStdString();
                         });

// Cancel after editing every control leaves the file byte for byte and the controls as the file says.
TEST_F(OptionsDialogTest, CancelChangesNothing) {
    writeFullIni();
    const QByteArray before = onDisk();
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    dialog.createStore();
    for (const SettingDef& d : settingsTable()) {
        if (!edited(d) || d.flagIndex >= 0)
            continue;
        if (auto* b = qobject_cast<QCheckBox*>(dialog.editor(d.id)))
            b->toggle();
        else if (auto* c = qobject_cast<QComboBox*>(dialog.editor(d.id)))
            c->setCurrentIndex(0);
        else
            typeInto(dialog.editor(d.id), QStringLiteral("9"));
    }
    dialog.flagList()->item(0)->setCheckState(Qt::Unchecked);
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), int(QDialog::Rejected));
    EXPECT_EQ(onDisk(), before);
    for (const SettingDef& d : settingsTable()) {
        if (edited(d)) {
            EXPECT_EQ(dialog.controlValue(d.id), sampleValue(d)) << d.key;
        }
    }
}

// The receiver's trusted certificate is forgotten from the dialog only after a yes, and Ok
// afterwards does not bring it back; without a key store the button stays off.
TEST_F(OptionsDialogTest, ForgetStoredCertificates) {
    writeFullIni();
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    dialog.createStore();
    EXPECT_FALSE(dialog.forgetCertificatesButton()->isEnabled());
    CertPins pins(store.ini());
    ASSERT_TRUE(pins.remember("127.0.0.9:443", "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="));
    dialog.setForgetCertificates([&] { return pins.forgetAll(); });
    ASSERT_TRUE(dialog.forgetCertificatesButton()->isEnabled());
    QStringList asked;
    bool answer = false;
    dialog.setQuestion([&](const QString& q) {
        asked << q;
        return answer;
    });
    QTest::mouseClick(dialog.forgetCertificatesButton(), Qt::LeftButton);
    EXPECT_EQ(asked.size(), 1);
    EXPECT_FALSE(pins.pinFor("127.0.0.9:443").isEmpty());
    EXPECT_TRUE(dialog.certificateStatus()->text().isEmpty());
    answer = true;
    QTest::mouseClick(dialog.forgetCertificatesButton(), Qt::LeftButton);
    EXPECT_TRUE(pins.pinFor("127.0.0.9:443").isEmpty());
    EXPECT_EQ(dialog.certificateStatus()->text(), QStringLiteral("1 stored certificate(s) forgotten"));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_FALSE(onDisk().contains("certfingerprint=sha256"));
    dialog.setForgetCertificates([] { return -1; });
    QTest::mouseClick(dialog.forgetCertificatesButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.certificateStatus()->text().contains(QStringLiteral("could not be forgotten")));
}

struct BadValue {
    SettingId id;
    const char* value;
};

class OptionsInvalid : public OptionsDialogTest, public ::testing::WithParamInterface<BadValue> {};

// A bad value is marked, Ok stays disabled and the file is not touched.
TEST_P(OptionsInvalid, CannotBeSaved) {
    writeFullIni();
    const QByteArray before = onDisk();
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    dialog.createStore();
    ASSERT_TRUE(dialog.okButton()->isEnabled());
    auto* e = qobject_cast<QLineEdit*>(dialog.editor(GetParam().id));
    ASSERT_NE(e, nullptr);
    e->setText(QString::fromUtf8(GetParam().value)); // pasted text skips the typing rules
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    EXPECT_TRUE(e->property("invalid").toBool());
    EXPECT_FALSE(dialog.problemText().isEmpty());
    dialog.OkClick();
    EXPECT_EQ(onDisk(), before);
    EXPECT_NE(dialog.result(), int(QDialog::Accepted));
    // Repaired, it can be saved again.
    e->setText(sampleValue(settingDef(GetParam().id)));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, OptionsInvalid,
    ::testing::Values(BadValue{SettingId::IpLan, "192.168.1.300"}, BadValue{SettingId::IpLan, ""},
                      BadValue{SettingId::IpLan, "box lan"}, BadValue{SettingId::IpPc, "1.2.3"},
                      BadValue{SettingId::IpInet, "-bad-.example"}, BadValue{SettingId::DboxPort, "0"},
                      BadValue{SettingId::DboxPort, "65536"}, BadValue{SettingId::DboxPort, "8o"},
                      BadValue{SettingId::TelnetPort, ""}, BadValue{SettingId::VlcPort, "70000"},
                      BadValue{SettingId::StreamPortProv, "-1"}, BadValue{SettingId::CacheLive, "60001"},
                      BadValue{SettingId::CacheOnline, "1e5"}, BadValue{SettingId::VBitrate, ""},
                      BadValue{SettingId::VBitrate, "99999999999"}, BadValue{SettingId::ABitrate, "2000"},
                      BadValue{SettingId::AChannels, "9"}, BadValue{SettingId::VScale, "0"},
                      BadValue{SettingId::VScale, "0,333"}, BadValue{SettingId::VScale, "11"},
                      BadValue{SettingId::OsdShowTime, "600001"}, BadValue{SettingId::TelnetPass, "a\nb=1"},
                      BadValue{SettingId::TelnetUser, "root\r"}, BadValue{SettingId::TelnetNhttpd, "x\ty"}));

// The numeric field's typing rules: no minus, the separator at the start gives "0" and it, two decimals at
// most, zero shown empty after leaving the field.
TEST(NumEdit, TypingRules) {
    QWidget window;
    auto* scale = new TNumEdit(&window);
    auto* port = new TNumEdit(&window);
    port->move(0, 40);
    scale->setDecimals(2);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window, 5000));
    const QChar sep = scale->decimalSeparator();
    scale->setText(QString());
    scale->setFocus();
    QTest::keyClicks(scale, QStringLiteral("-"));
    EXPECT_EQ(scale->text(), QString());
    QTest::keyClicks(scale, QString(sep));
    EXPECT_EQ(scale->text(), QStringLiteral("0") + sep);
    QTest::keyClicks(scale, QStringLiteral("345"));
    EXPECT_EQ(scale->text(), QStringLiteral("0") + sep + QStringLiteral("34"));
    QTest::keyClicks(scale, QString(sep) + QStringLiteral("x"));
    EXPECT_EQ(scale->text(), QStringLiteral("0") + sep + QStringLiteral("34"));
    EXPECT_DOUBLE_EQ(scale->ValFloat(), 0.34);

    port->setText(QString());
    port->setFocus();
    QTest::keyClicks(port, QStringLiteral("8a-0") + sep);
    EXPECT_EQ(port->text(), QStringLiteral("80"));
    EXPECT_EQ(port->ValInteger(), 80);
    QTest::keyClick(port, Qt::Key_Backspace);
    QTest::keyClick(port, Qt::Key_Backspace);
    QTest::keyClicks(port, QStringLiteral("0"));
    scale->setFocus(); // leaving the field rewrites it: zero is shown empty
    EXPECT_TRUE(QTest::qWaitFor([&] { return port->text().isEmpty(); }, 2000)) << port->text().toStdString();
    EXPECT_EQ(port->ValInteger(), 0);
    EXPECT_EQ(scale->text(), QStringLiteral("0") + sep + QStringLiteral("34"));
}

// Reading and writing values: halves round to even, an empty or lone "-" is zero, negatives and zero empty.
TEST(NumEdit, ValueAccess) {
    TNumEdit e;
    const struct {
        const char* text;
        int integer;
    } cases[] = {{"", 0}, {"-", 0}, {"2.5", 2}, {"3.5", 4}, {"2,5", 2}, {"7", 7}, {"0", 0}, {"12.49", 12}};
    for (const auto& c : cases) {
        e.setText(QString::fromLatin1(c.text));
        EXPECT_EQ(e.ValInteger(), c.integer) << c.text;
    }
    e.setValInteger(0);
    EXPECT_EQ(e.text(), QString());
    e.setValInteger(-5);
    EXPECT_EQ(e.text(), QString());
    e.setValInteger(31329);
    EXPECT_EQ(e.text(), QStringLiteral("31329"));
    e.setDecimals(2);
    e.setValFloat(0.3);
    EXPECT_EQ(e.text(), QStringLiteral("0") + e.decimalSeparator() + QStringLiteral("30"));
}

// Hovering the flag list shows each item's hint at once; below the last item the hint goes.
TEST_F(OptionsDialogTest, FlagHints) {
    SettingsStore store(ini());
    TFrmOptions dialog(store, Options);
    dialog.show();
    dialog.pages()->setCurrentIndex(TFrmOptions::PageGeneral);
    QListWidget* list = dialog.flagList();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog, 5000));
    const QPoint first = list->visualItemRect(list->item(0)).center();
    QTest::mouseMove(list->viewport(), first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list->toolTip().isEmpty(); }, 2000));
    EXPECT_EQ(list->toolTip(), QStringLiteral("Provide A Http Stream, quoxel-Mode"));
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseMove(list->viewport(), second);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return list->toolTip() != QStringLiteral("Provide A Http Stream, quoxel-Mode"); }, 2000));
    EXPECT_EQ(list->toolTip(), QStringLiteral("Remember Current Window State"));
    dialog.LstFlagsMouseMove(list->visualItemRect(list->item(11)).bottomLeft() + QPoint(2, 20));
    EXPECT_EQ(list->toolTip(), QString());
}

// The hotkey page lists the keys padded to one column.
TEST(OptionsHotkeys, Columns) {
    const QStringList lines = TFrmOptions::hotkeysText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 25);
    EXPECT_EQ(lines[3], QStringLiteral("ESC                    - EPG/Telnet/Remote Control verstecken"));
    EXPECT_TRUE(lines[6].startsWith(QString(25, QLatin1Char(' ')) + QStringLiteral("3x")));
    EXPECT_EQ(lines[15].indexOf(QLatin1Char('-')), 23);
    EXPECT_TRUE(lines[24].startsWith(QStringLiteral("LEFT/RIGHT")));
}

namespace {
// Plays the user of the first-start dialog once it is shown.
void answerFirstStart(TFrmOptions& dialog, bool ok, int* pageSeen, QString* offeredScale) {
    QTimer::singleShot(0, &dialog, [&dialog, ok, pageSeen, offeredScale] {
        *pageSeen = dialog.pages()->currentIndex();
        *offeredScale = dialog.controlValue(SettingId::VScale);
        if (ok) {
            typeInto(dialog.editor(SettingId::IpLan), QStringLiteral("127.0.57.9"));
            QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        } else {
            QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        }
    });
}
} // namespace

// Without an ini the dialog comes first, on the "D-Box2" page with the first-start values; Ok writes
// every section but Window, Cancel leaves the program unconfigured.
TEST_F(OptionsDialogTest, FirstStart) {
    for (const bool ok : {false, true}) {
        SettingsStore store(ini());
        TFrmOptions dialog(store, Options);
        int hidden = 0;
        dialog.setHideSplash([&] { ++hidden; });
        int page = -1;
        QString scale;
        answerFirstStart(dialog, ok, &page, &scale);
        dialog.createStore();
        EXPECT_EQ(hidden, 1);
        EXPECT_EQ(page, int(TFrmOptions::PageDBox2));
        EXPECT_EQ(scale, QStringLiteral("0,3"));
        EXPECT_EQ(dialog.pages()->currentIndex(), int(TFrmOptions::PageGeneral));
        TIniFile file(ini());
        EXPECT_EQ(file.SectionExists(QStringLiteral("General")), ok);
        if (!ok) {
            EXPECT_FALSE(QFile::exists(ini()));
            EXPECT_EQ(dialog.controlValue(SettingId::DboxPort), QStringLiteral("0"));
            continue;
        }
        for (const SettingDef& d : settingsTable()) {
            EXPECT_EQ(file.ValueExists(QString::fromLatin1(d.section), QString::fromLatin1(d.key)), edited(d)) << d.key;
        }
        EXPECT_EQ(Options.BoxAddress, QStringLiteral("127.0.57.9:80"));
        EXPECT_EQ(file.ReadString(QStringLiteral("General"), QStringLiteral("priority"), {}), QStringLiteral("NORMAL"));
        EXPECT_EQ(file.ReadString(QStringLiteral("Online Stream"), QStringLiteral("vcodec"), {}),
                  QStringLiteral("h264"));
        // Configured now: no dialog at the next start.
        SettingsStore next(ini());
        TFrmOptions again(next, Options);
        again.createStore();
        EXPECT_FALSE(again.isVisible());
        EXPECT_EQ(again.controlValue(SettingId::IpLan), QStringLiteral("127.0.57.9"));
    }
}

namespace {

// The dialog's web-server page against the simulated receiver.
class OptionsWebServer : public OptionsDialogTest {
protected:
    static constexpr const char* kAddress = "127.0.57.1";
    void SetUp() override {
        OptionsDialogTest::SetUp();
        ASSERT_TRUE(m_sim.start()) << m_sim.stderrText().toStdString();
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        Options.IpLan = QString::fromLatin1(kAddress);
        m_http.Timeout = 3;
        writeFullIni();
        m_store.LoadSettings(Options);
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        m_dialog.loadControls();
        m_dialog.setBoxClient(&m_box);
        m_dialog.setQuestion([this](const QString& q) {
            m_questions << q;
            return m_rebootAnswer;
        });
    }
    QPushButton* button(const char* name) { return m_dialog.findChild<QPushButton*>(QString::fromLatin1(name)); }

    BoxSimProcess m_sim{QString::fromLatin1(kAddress)};
    TIEHTTP m_http;
    BoxClient m_box{m_http};
    SettingsStore m_store{ini()};
    TFrmOptions m_dialog{m_store, Options};
    QStringList m_questions;
    bool m_rebootAnswer = false;
};

} // namespace

// Read, then update: the receiver gets its own values back with the new port and threading, the reboot
// only when confirmed, and the new port lands in the settings file; the password never reaches the log.
TEST_F(OptionsWebServer, ReadThenUpdate) {
    QPushButton* update = button("BtnUpdateRestart");
    ASSERT_NE(update, nullptr);
    EXPECT_FALSE(update->isEnabled());
    for (const bool reboot : {false, true}) {
        m_sim.clearRequests();
        m_questions.clear();
        m_rebootAnswer = reboot;
        QTest::mouseClick(button("BtnRead"), Qt::LeftButton);
        ASSERT_TRUE(update->isEnabled());
        auto* port = m_dialog.findChild<QLineEdit*>(QStringLiteral("EdtWebSrvPort"));
        auto* threading = m_dialog.findChild<QCheckBox*>(QStringLiteral("ChkWebSrvThread"));
        EXPECT_EQ(port->text(), QStringLiteral("80"));
        EXPECT_TRUE(threading->isChecked());
        port->setText(reboot ? QStringLiteral("8080") : QStringLiteral("81"));
        threading->setChecked(false);
        QTest::mouseClick(update, Qt::LeftButton);
        EXPECT_EQ(m_questions, QStringList{QStringLiteral("Dbox Reboot?")});
        // The engine sends the suffix's %3A and %3B as the characters they stand for.
        QStringList expected{
            QStringLiteral("/Y_Settings_nhttpd.yhtm"),
            QStringLiteral("/y/cgi?authuser=root&authpassword=dbox2&noauthclient=&authenticate=false&port=") +
                port->text() +
                QStringLiteral("&threading=false&hosteddocumentroot=/var/hosted&ExtrasDocRoot=/var/httpd&ExtrasDocURL=/"
                               "extras&no_keep_alive_ips=&tmpl=Y_Settings_nhttpd.yhtm&execute=include-block:Y_Blocks."
                               "txt;nhttpd_save_settings;nix")};
        if (reboot)
            expected << QStringLiteral("/control/reboot");
        EXPECT_EQ(m_sim.requestTargets().join(QLatin1Char('\n')).toStdString(),
                  expected.join(QLatin1Char('\n')).toStdString());
        TIniFile file(ini());
        EXPECT_EQ(file.ReadString(QStringLiteral("D-Box2"), QStringLiteral("dboxport"), {}), port->text());
        EXPECT_EQ(m_dialog.controlValue(SettingId::DboxPort), port->text());
        // Other sections are as before: only the port was saved.
        EXPECT_EQ(file.ReadString(QStringLiteral("Telnet"), QStringLiteral("pass"), {}), QStringLiteral("s3cr=t&x"));
    }
    QFile log(appLogger().filePath());
    if (log.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(log.readAll().contains("authpassword=dbox2"));
    }
}

struct BrokenPage {
    const char* mode;
    qint64 arg;
    const char* status;
};

class OptionsWebServerBroken : public OptionsWebServer, public ::testing::WithParamInterface<BrokenPage> {};

// A page that is empty, garbage, cut or missing gives a short text and no update button.
TEST_P(OptionsWebServerBroken, ReadFailsCleanly) {
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("/Y_Settings_nhttpd.yhtm"), QString::fromLatin1(GetParam().mode),
                               GetParam().arg));
    QTest::mouseClick(button("BtnRead"), Qt::LeftButton);
    EXPECT_FALSE(button("BtnUpdateRestart")->isEnabled());
    EXPECT_FALSE(m_dialog.webSettings().has_value());
    EXPECT_EQ(m_dialog.findChild<QLabel*>(QStringLiteral("LblWebStatus"))->text(),
              QString::fromLatin1(GetParam().status));
    m_sim.clearRequests();
    m_dialog.BtnUpdateRestartClick();
    EXPECT_TRUE(m_sim.requestTargets().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Faults, OptionsWebServerBroken,
                         ::testing::Values(BrokenPage{"empty", -1, "no answer from the D-Box2!"},
                                           BrokenPage{"garbage-body", 4096, "settings page not readable!"},
                                           BrokenPage{"drop", 300, "settings page not readable!"},
                                           BrokenPage{"status", 404, "settings page not readable!"},
                                           BrokenPage{"close", -1, "no answer from the D-Box2!"}));

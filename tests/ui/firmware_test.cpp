// The program as a user starts it, against the simulated receiver answering as either generation of
// its web server (nhttpd 3.x and 2.2): standby, web login, bouquet numbers with gaps, messages,
// refused zaps and a recording that starts and ends while the program runs.
#include "programrun.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/options.h"
#include "playback/channelswitch.h"
#include "playback/vlcapi.h"
#include "ui/appcontroller.h"
#include "ui/mainwindow.h"
#include "ui/splash.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '"' << list.join(u'|').toStdString() << '"';
}

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

const QString kDasErste = QStringLiteral("43700016d66");
const QString kZdf = QStringLiteral("437000273f2");

QStringList captions(const QMenu* menu) {
    QStringList out;
    for (const QAction* a : menu->actions())
        out << a->text();
    return out;
}

// The share of clearly red pixels on the screen in a rectangle of the window.
double redShare(TFrmQuoxel& w, const QRect& rect) {
    const QPoint origin = w.mapToGlobal(rect.topLeft());
    const QImage img = w.screen()->grabWindow(0, origin.x(), origin.y(), rect.width(), rect.height()).toImage();
    if (img.isNull() || img.width() == 0 || img.height() == 0)
        return 0;
    int red = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            red += qRed(p) > 150 && qGreen(p) < 80 && qBlue(p) < 80;
        }
    return double(red) / (img.width() * img.height());
}

class Firmware : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (xcb)";
    }
    void TearDown() override { run.reset(); }

    // The simulator on its address with these arguments (its firmware, faults), started.
    BoxSimProcess& simulator(const QString& address, const QStringList& args) {
        run = std::make_unique<ProgramRun>(address, args);
        EXPECT_TRUE(run->startSim());
        return run->sim();
    }
    // The simulator's state keys set, then the program with these settings (extra [General]
    // lines, then further sections).
    ConnectionOutcome start(const QMap<QString, QString>& state = {}, const QByteArray& general = {},
                            const QByteArray& sections = {}) {
        for (auto it = state.begin(); it != state.end(); ++it)
            EXPECT_TRUE(run->sim().setState(it.key(), it.value())) << it.key().toStdString();
        EXPECT_TRUE(run->sim().clearRequests());
        return run->launch(run->settings("mode=live\n" + general, sections));
    }
    ::testing::AssertionResult playing() { return run->playing(); }
    TFrmQuoxel& w() { return run->window(); }
    AppController& app() { return run->app(); }
    QString status() { return w().statusPanel(0)->text().trimmed(); }

    // The user picks a channel in the channel box and confirms it.
    void pick(const QString& id) {
        QComboBox* box = w().CmbChannels();
        const int row = app().session().model().LocateChannel(id);
        ASSERT_GE(row, 0) << id.toStdString();
        box->setCurrentIndex(row);
        Q_EMIT box->activated(row); // what a choice in the dropped list sends
        QTest::keyClick(box, Qt::Key_Return);
    }

    std::unique_ptr<ProgramRun> run;
};

// ---------------------------------------------------------------------------------------------

struct StandbyCase {
    const char* name;
    const char* address;
    const char* firmware;
    bool standby; // the receiver's state at the start
    bool marked;  // "D-Box Standby" after the start
    const char* command;
    const char* failure; // the command is answered with an error: this text, the mark kept; or ""
};

void PrintTo(const StandbyCase& c, std::ostream* os) {
    *os << c.name;
}

class Standby : public Firmware, public ::testing::WithParamInterface<StandbyCase> {};

// 3.x tells "on" or "off", so the mark shows the receiver's state and the toggle sends the command
// that changes it; 2.2 says "ok" whatever the state, which is read as standby. A command the receiver
// refuses changes no mark. "D-Box SPTS" beside it changes the receiver's playback format.
TEST_P(Standby, MarkAndToggle) {
    const StandbyCase& c = GetParam();
    BoxSimProcess& sim =
        simulator(QString::fromLatin1(c.address), {QStringLiteral("--firmware"), QString::fromLatin1(c.firmware)});
    ASSERT_EQ(start({{QStringLiteral("standby"), c.standby ? QStringLiteral("on") : QStringLiteral("off")}}),
              ConnectionOutcome::Connected);
    QAction* item = w().menu().StandbyOnOff1;
    EXPECT_EQ(item->isChecked(), c.marked);

    ASSERT_TRUE(sim.clearRequests());
    if (*c.failure) {
        ASSERT_TRUE(sim.setFault(QStringLiteral("/control/standby"), QStringLiteral("status"), 500));
    }
    item->trigger();
    EXPECT_TRUE(sim.requestTargets().contains(QString::fromLatin1(c.command)))
        << sim.requestTargets().join(u' ').toStdString();
    const bool nowOn = QLatin1String(c.command).endsWith(QLatin1String("on"));
    if (*c.failure) {
        EXPECT_EQ(item->isChecked(), c.marked);
        EXPECT_EQ(status(), QLatin1String(c.failure));
    } else {
        EXPECT_EQ(item->isChecked(), nowOn);
        EXPECT_EQ(sim.state().value(QStringLiteral("standby")), nowOn ? QStringLiteral("on") : QStringLiteral("off"));
    }

    const bool spts = w().menu().SPTS1->isChecked();
    EXPECT_EQ(spts, sim.state().value(QStringLiteral("spts")) == QLatin1String("on"));
    w().menu().SPTS1->trigger();
    EXPECT_EQ(w().menu().SPTS1->isChecked(), !spts);
    EXPECT_EQ(sim.state().value(QStringLiteral("spts")), spts ? QStringLiteral("off") : QStringLiteral("on"));
}

INSTANTIATE_TEST_SUITE_P(
    Receiver, Standby,
    ::testing::Values(StandbyCase{"NewInStandby", "127.0.128.1", "3.x", true, true, "/control/standby?off", ""},
                      StandbyCase{"NewAwake", "127.0.128.2", "3.x", false, false, "/control/standby?on", ""},
                      StandbyCase{"OldAwakeSaysOk", "127.0.128.3", "2.2", false, true, "/control/standby?off", ""},
                      StandbyCase{"NewRefuses", "127.0.128.9", "3.x", false, false, "/control/standby?on",
                                  "Quoxel Standby ON failed!"},
                      StandbyCase{"NewInStandbyRefuses", "127.0.128.12", "3.x", true, true, "/control/standby?off",
                                  "Quoxel Standby OFF failed!"}),
    [](const auto& info) { return std::string(info.param.name); });

// Without a channel list (the receiver listed no bouquets) the receiver commands send nothing and
// keep their marks.
TEST_F(Firmware, ReceiverCommandsWaitForTheChannelList) {
    BoxSimProcess& sim = simulator(QStringLiteral("127.0.128.20"),
                                   {QStringLiteral("--fault"), QStringLiteral("/control/getbouquets=empty")});
    ASSERT_EQ(start(), ConnectionOutcome::NoBouquets);
    ASSERT_TRUE(sim.clearRequests());
    QStringList boxes;
    w().setMessageBoxes(
        [&](const QString& text) {
            boxes << text;
            return true;
        },
        [&](const QString& text) { boxes << text; });
    for (QAction* item : {w().menu().SPTS1, w().menu().StandbyOnOff1, w().menu().RebootDBOX1}) {
        const bool marked = item->isChecked();
        item->trigger();
        EXPECT_EQ(item->isChecked(), marked) << item->text().toStdString();
    }
    EXPECT_EQ(sim.requestTargets(), QStringList{}) << sim.requestTargets().join(u' ').toStdString();
    EXPECT_EQ(boxes, QStringList{}) << "nothing asked or told";
    EXPECT_TRUE(w().isVisible());
}

// ---------------------------------------------------------------------------------------------

struct LoginCase {
    const char* name;
    const char* address;
    const char* firmware;
    const char* user;
    const char* password;
    const char* refusal; // status text, or "" when connected
};

void PrintTo(const LoginCase& c, std::ostream* os) {
    *os << c.name;
}

class WebLogin : public Firmware, public ::testing::WithParamInterface<LoginCase> {};

// With web authentication on, the configured login goes with the very first request (no request is
// refused); without one, or with a wrong one, the user is told what to set, not that the receiver
// cannot be reached.
TEST_P(WebLogin, FirstRequestCarriesTheLogin) {
    const LoginCase& c = GetParam();
    BoxSimProcess& sim =
        simulator(QString::fromLatin1(c.address),
                  {QStringLiteral("--firmware"), QString::fromLatin1(c.firmware), QStringLiteral("--user"),
                   QStringLiteral("root"), QStringLiteral("--password"), QStringLiteral("dbox2")});
    const ConnectionOutcome outcome =
        start({}, {}, QByteArray("[Webserver]\nuser=") + c.user + "\npass=" + c.password + "\n");
    if (!*c.refusal) {
        EXPECT_EQ(outcome, ConnectionOutcome::Connected);
        EXPECT_EQ(sim.state().value(QStringLiteral("denied")), QStringLiteral("0"));
        EXPECT_GT(w().CmbChannels()->count(), 0);
        return;
    }
    EXPECT_EQ(outcome, ConnectionOutcome::NoConnection);
    EXPECT_EQ(status(), QLatin1String(c.refusal));
    EXPECT_EQ(w().FrmSplash().LblStatus()->text(), QLatin1String(c.refusal));
    EXPECT_EQ(sim.requestTargets(), QStringList{QStringLiteral("/control/gettime?rawtime")});
    EXPECT_EQ(w().CmbChannels()->count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Receiver, WebLogin,
                         ::testing::Values(LoginCase{"NewWithLogin", "127.0.128.4", "3.x", "root", "dbox2", ""},
                                           LoginCase{"NewWithoutLogin", "127.0.128.5", "3.x", "", "",
                                                     "receiver asks for a web user and password: Options, Webserver"},
                                           LoginCase{"NewWrongLogin", "127.0.128.6", "3.x", "root", "dbox",
                                                     "receiver refused the web user and password: Options, Webserver"},
                                           LoginCase{"OldWithLogin", "127.0.128.7", "2.2", "root", "dbox2", ""},
                                           LoginCase{"OldWithoutLogin", "127.0.128.8", "2.2", "", "",
                                                     "receiver asks for a web user and password: Options, Webserver"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

struct SessionCase {
    const char* name;
    const char* address;
    const char* firmware;
    QStringList bouquets;         // the bouquet menu at the start
    QStringList recordedBouquets; // while Das Erste's transponder is recorded
};

void PrintTo(const SessionCase& c, std::ostream* os) {
    *os << c.name;
}

class Session : public Firmware, public ::testing::WithParamInterface<SessionCase> {};

// One evening with the receiver: the real stream rate, a message with the characters the receiver
// decodes, bouquets asked for by their own numbers, a zap refused in standby and one refused for a
// recording, and the recording marked and the lists following it while it starts and ends.
TEST_P(Session, ReceiverAnswersAsItsFirmware) {
    const SessionCase& c = GetParam();
    BoxSimProcess& sim =
        simulator(QString::fromLatin1(c.address), {QStringLiteral("--firmware"), QString::fromLatin1(c.firmware)});
    ASSERT_EQ(start(), ConnectionOutcome::Connected);
    ASSERT_TRUE(playing());
    // The receiver gives bytes per second: 625000 of them are 5000 kbit, not 625.
    const QRegularExpression playingLine(QStringLiteral("^playing HTTP stream\\.\\.\\.\\(720x576/5000kbit/.+\\)$"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return playingLine.match(status()).hasMatch(); }, 5000))
        << status().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app().player().engine()->videoSize() == QSize(720, 576); }, 5000))
        << "the receiver's SD picture decoded";
    EXPECT_FALSE(w().LblRecording()->isVisible());
    EXPECT_EQ(captions(w().menu().Bouquets1), c.bouquets);

    // A message as typed, decoded twice on the way.
    const QString text = QStringLiteral("Grüße: 1+1=2, 100% & mehr #ä");
    QTimer::singleShot(100, [&] {
        if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            dialog->setTextValue(text);
            dialog->accept();
        }
    });
    w().menu().Message1->trigger();
    EXPECT_EQ(QString::fromUtf8(sim.state().value(QStringLiteral("message")).toLatin1()), text);

    // The second bouquet by the number its line carries.
    ASSERT_TRUE(sim.clearRequests());
    w().menu().Bouquets1->actions()[1]->trigger();
    const QString number = c.bouquets[1].section(QLatin1Char(' '), 0, 0);
    EXPECT_TRUE(sim.requestTargets().contains(QStringLiteral("/control/getbouquet?bouquet=") + number +
                                              QStringLiteral("&mode=TV")));
    EXPECT_GE(w().CmbChannels()->findText(QStringLiteral("PREMIERE DIREKT 1"), Qt::MatchContains), 0);
    w().menu().Bouquets1->actions()[0]->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app().session().AktChannel->Id == kDasErste; }, 10000));
    ASSERT_TRUE(playing());

    // In standby the receiver ignores the zap: said so, and Das Erste plays on under its own name.
    ASSERT_TRUE(sim.setState(QStringLiteral("standby"), QStringLiteral("on")));
    pick(kZdf);
    EXPECT_EQ(status(), SwitchTexts::kNotSwitched);
    EXPECT_EQ(app().session().AktChannel->Id, kDasErste);
    EXPECT_TRUE(w().CmbChannels()->currentText().contains(QLatin1String("Das Erste")));
    EXPECT_TRUE(w().windowTitle().contains(QLatin1String("Das Erste"))) << w().windowTitle().toStdString();
    EXPECT_TRUE(playing());
    ASSERT_TRUE(sim.setState(QStringLiteral("standby"), QStringLiteral("off")));

    // A recording starts on Das Erste's transponder; the zap to ZDF is stored but not tuned.
    ASSERT_TRUE(sim.setState(QStringLiteral("recording"), QStringLiteral("on")));
    pick(kZdf);
    EXPECT_EQ(status(), SwitchTexts::kRecording);
    EXPECT_TRUE(w().LblRecording()->isVisible());
    // The lists shrink to the recorded transponder, bouquet numbers with gaps.
    EXPECT_TRUE(QTest::qWaitFor([&] { return captions(w().menu().Bouquets1) == c.recordedBouquets; }, 10000))
        << captions(w().menu().Bouquets1).join(u'|').toStdString();
    EXPECT_EQ(w().CmbChannels()->findText(QStringLiteral("ZDF"), Qt::MatchContains), -1);
    ASSERT_TRUE(sim.clearRequests());
    w().menu().Bouquets1->actions()[1]->trigger();
    const QString gap = c.recordedBouquets[1].section(QLatin1Char(' '), 0, 0);
    EXPECT_TRUE(sim.requestTargets().contains(QStringLiteral("/control/getbouquet?bouquet=") + gap +
                                              QStringLiteral("&mode=TV")));
    EXPECT_EQ(w().CmbChannels()->count(), 1);
    pick(kDasErste);
    EXPECT_TRUE(playing());

    // The recording ends; the next clock tick takes the mark away and brings the lists back.
    const QRect mark = w().LblRecording()->geometry().translated(w().statusBar()->pos());
    EXPECT_GT(redShare(w(), mark), 0.3) << "the mark shows on the screen";
    ASSERT_TRUE(sim.setState(QStringLiteral("recording"), QStringLiteral("off")));
    w().TimerTimeTimer();
    EXPECT_FALSE(w().LblRecording()->isVisible());
    EXPECT_EQ(captions(w().menu().Bouquets1), c.bouquets);
    EXPECT_TRUE(QTest::qWaitFor([&] { return redShare(w(), mark) < 0.05; }, 3000));

    // It starts again: the tick alone marks it and shrinks the lists.
    ASSERT_TRUE(sim.setState(QStringLiteral("recording"), QStringLiteral("on")));
    w().TimerTimeTimer();
    EXPECT_TRUE(w().LblRecording()->isVisible());
    EXPECT_EQ(captions(w().menu().Bouquets1), c.recordedBouquets);
    EXPECT_TRUE(QTest::qWaitFor([&] { return redShare(w(), mark) > 0.3; }, 3000));
    EXPECT_EQ(app().session().AktChannel->Id, kDasErste);

    // It ends while the receiver sends no bouquet list: the lists stay as they are, not emptied.
    ASSERT_TRUE(sim.setFault(QStringLiteral("/control/getbouquets"), QStringLiteral("empty")));
    ASSERT_TRUE(sim.setState(QStringLiteral("recording"), QStringLiteral("off")));
    w().TimerTimeTimer();
    EXPECT_FALSE(w().LblRecording()->isVisible());
    EXPECT_EQ(captions(w().menu().Bouquets1), c.recordedBouquets);
    ASSERT_TRUE(sim.clearFaults());
    ASSERT_TRUE(sim.clearRequests());
    w().menu().Bouquets1->actions()[1]->trigger();
    EXPECT_TRUE(sim.requestTargets().contains(QStringLiteral("/control/getbouquet?bouquet=") + gap +
                                              QStringLiteral("&mode=TV")));
}

INSTANTIATE_TEST_SUITE_P(
    Receiver, Session,
    ::testing::Values(SessionCase{"New", "127.0.128.10", "3.x",
                                  QStringList{"1 Favoriten", "2 PREMIERE", "3 Radio \u00d6sterreich",
                                              "4 Ausland & Spezial", "5 Viele Sender"},
                                  QStringList{"1 Favoriten", "5 Viele Sender"}},
                      SessionCase{"Old", "127.0.128.11", "2.2",
                                  QStringList{"1 Favoriten", "3 PREMIERE", "4 Radio \u00d6sterreich",
                                              "5 Ausland & Spezial", "6 Viele Sender"},
                                  QStringList{"1 Favoriten", "6 Viele Sender"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

#include "ui/apposd.h"

#include "core/appflags.h"
#include "core/options.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/appcontroller.h"
#include "ui/appinput.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/osdcontroller.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::AppInput;
using quoxel::InWindowPanel;
using quoxel::OsdWindow;
using quoxel::TFrmQuoxel;

namespace {

// The program started against the simulated receiver in window mode, the start-up over.
class AppOsdWindowMode : public ::testing::Test {
protected:
    void SetUp() override {
        Options = TOptions{};
        IsClosing = false;
        IsStarting = false;
    }
    void TearDown() override {
        IsClosing = false;
        IsStarting = false;
        Options = TOptions{};
    }

    // Starts boxsim on address and runs the connection sequence; false with a reason on failure.
    ::testing::AssertionResult start(BoxSimProcess& sim, TestDir& dir, TFrmQuoxel& w, AppController& app) {
        if (!sim.start())
            return ::testing::AssertionFailure() << sim.stderrText().toStdString();
        const QByteArray ini = "[General]\nmode=live\n[D-Box2]\nip_lan=" + sim.address().toLatin1() + "\ndboxport=80\n";
        if (!dir.write(QStringLiteral("Quoxel.ini"), ini))
            return ::testing::AssertionFailure() << "settings file not written";
        app.setIniPath(dir.path(QStringLiteral("Quoxel.ini")));
        if (app.FormCreate() != ConnectionOutcome::Connected)
            return ::testing::AssertionFailure() << "not connected";
        if (!app.session().AktChannel)
            return ::testing::AssertionFailure() << "no channel on air";
        IsStarting = false;
        w.show();
        w.activateWindow();
        if (!QTest::qWaitForWindowExposed(&w, 5000))
            return ::testing::AssertionFailure() << "window not shown";
        return ::testing::AssertionSuccess();
    }
};

// Outside full screen the programme info is the info bar inside the window, naming the channel on
// air; its second call leaves it shown, and HideEPGInfo takes it away again.
TEST_F(AppOsdWindowMode, ShowEPGInfoShowsTheInWindowInfoBar) {
    BoxSimProcess sim(QStringLiteral("127.0.62.1"));
    TestDir dir;
    TFrmQuoxel w;
    AppController app(w);
    AppInput input(w, app);
    ASSERT_TRUE(start(sim, dir, w, app));
    quoxel::EpgPanels& panels = app.osd().panels();
    EXPECT_FALSE(panels.infoVisible());
    EXPECT_FALSE(input.panelVisible(InWindowPanel::Info));

    input.ShowEPGInfo(app.session().AktChannel);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panels.infoVisible(); }, 3000));
    EXPECT_TRUE(input.panelVisible(InWindowPanel::Info));
    EXPECT_FALSE(input.osdVisible(OsdWindow::Info)) << "no full-screen overlay in window mode";
    const QString name = app.session().AktChannel->Caption;
    ASSERT_FALSE(name.isEmpty());
    EXPECT_TRUE(panels.LblEPGChannel()->text().contains(name)) << panels.LblEPGChannel()->text().toStdString();

    input.HideEPGInfo();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panels.infoVisible(); }, 3000));
}

// "O" in window mode, through the application's key hook: the channel panel opens on the channel
// on air; the logo beside the channel box closes it again.
TEST_F(AppOsdWindowMode, KeyOOpensTheChannelPanel) {
    BoxSimProcess sim(QStringLiteral("127.0.62.2"));
    TestDir dir;
    TFrmQuoxel w;
    AppController app(w);
    AppInput input(w, app);
    ASSERT_TRUE(start(sim, dir, w, app));
    quoxel::EpgPanels& panels = app.osd().panels();
    ASSERT_FALSE(panels.channelsVisible());

    QTest::keyClick(&w, Qt::Key_O);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panels.channelsVisible(); }, 3000));
    EXPECT_TRUE(input.panelVisible(InWindowPanel::Channels));
    EXPECT_EQ(input.channelPanelIndex(), app.session().AktChannel->ListIndex);
    EXPECT_EQ(input.channelPanelChannel(input.channelPanelIndex()), app.session().AktChannel);
    EXPECT_GE(input.channelPanelPageRows(), 1);

    Q_EMIT w.logoClicked();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panels.channelsVisible(); }, 3000));
}

} // namespace

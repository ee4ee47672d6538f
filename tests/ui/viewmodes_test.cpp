#include "ui/viewmodes.h"

#include "core/appflags.h"
#include "core/options.h"
#include "core/settingsstore.h"
#include "support/appstate.h"
#include "support/tempdir.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using quoxel::TFrmQuoxel;
using quoxel::ViewHooks;
using quoxel::ViewModes;

namespace {

class ViewModesTest : public ::testing::Test {
protected:
    ScopedAppState m_state;

    // A shown, active window playing a TV channel.
    void open(TFrmQuoxel& w) {
        ViewHooks hooks;
        hooks.isRadio = [] { return false; };
        w.setViewHooks(hooks);
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    }
};

// The designed layout at 378 x 377: video 5, 5 and the channel row below it.
TEST_F(ViewModesTest, DesignedLayout) {
    TFrmQuoxel w;
    open(w);
    EXPECT_EQ(w.size(), QSize(378, 377));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Quoxel"));
    const QRect v = w.Video()->geometry();
    const QRect c = w.CmbChannels()->geometry();
    EXPECT_EQ(v.left(), 5);
    EXPECT_EQ(v.top(), 5);
    EXPECT_EQ(w.centralWidget()->width() - v.right() - 1, 5);
    EXPECT_GT(c.top(), v.bottom());
    EXPECT_EQ(c.left(), 48);
    EXPECT_EQ(c.height(), 23);
    EXPECT_EQ(w.statusBar()->height(), 20);
    EXPECT_TRUE(w.Video()->testAttribute(Qt::WA_NativeWindow));
    // Resizing keeps the anchors: the row stays at the bottom, the video grows.
    w.resize(600, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.Video()->width(), w.centralWidget()->width() - 10);
    EXPECT_EQ(w.centralWidget()->height() - w.CmbChannels()->geometry().top(), 25);
}

// A modal window lifts the topmost placement for its time and gives it back; a window that was
// not topmost stays so.
TEST_F(ViewModesTest, ModalScopeDropsAndRestoresTopmost) {
    TFrmQuoxel w;
    open(w);
    {
        ViewModes::ModalScope modal(w.view());
        EXPECT_FALSE(w.view().topmost());
    }
    EXPECT_FALSE(w.view().topmost());
    w.view().alwaysontop1Click();
    for (int round = 0; round < 2; ++round) {
        bool during = true;
        QTimer::singleShot(50, [&] {
            during = w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        w.ShowInfo(QStringLiteral("dbox is recording, sorry!"));
        EXPECT_FALSE(during) << "round " << round;
        EXPECT_TRUE(w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    }
}

// Video only switched while full screen shows when full screen ends, at the height it owes.
TEST_F(ViewModesTest, VideoOnlyDuringFullscreen) {
    TFrmQuoxel w;
    open(w);
    const QSize before = w.size();
    w.view().enterFullscreen();
    w.view().VideoOnly1Click();
    EXPECT_FALSE(w.menuBar()->isVisible());
    w.view().leaveFullscreen();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isFullScreen(); }, 5000));
    EXPECT_TRUE(w.view().videoOnly());
    EXPECT_FALSE(w.menuBar()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.height() == before.height() - 55; }, 5000));
}

struct StoredState {
    const char* window; // the [Window] section's lines
    bool remember;
    QSize size; // expected size after the first show
    bool aot;   // expected always on top
    bool vonly; // expected video only
};

class WindowStateRestore : public ViewModesTest, public ::testing::WithParamInterface<StoredState> {};

// The stored window state comes back at the first show; zeros keep the designed values, and
// without "remember state" the designed size is centred on the screen.
TEST_P(WindowStateRestore, FromIniFile) {
    const StoredState p = GetParam();
    TestDir dir;
    const QByteArray ini =
        QByteArray("[General]\nrememberstate=") + (p.remember ? "1" : "0") + "\n[Window]\n" + p.window;
    ASSERT_TRUE(dir.write(QStringLiteral("Quoxel.ini"), ini));
    SettingsStore store(dir.path(QStringLiteral("Quoxel.ini")));
    store.LoadSettings(Options);

    TFrmQuoxel w;
    w.view().applySavedState(Options);
    open(w);
    EXPECT_EQ(w.size(), p.size);
    EXPECT_EQ(w.menu().alwaysontop1->isChecked(), p.aot);
    EXPECT_EQ(w.view().videoOnly(), p.vonly);
    if (!p.remember) {
        const QRect s = w.screen()->geometry();
        EXPECT_EQ(w.x(), s.width() / 2 - w.width() / 2);
        EXPECT_EQ(w.y(), s.height() / 2 - w.height() / 2);
    }
}

const StoredState kStates[] = {
    {"height=400\nwidth=500\nleft=30\ntop=40\nalwaysontop=1\nvideoonly=0\n", true, {500, 400}, true, false},
    {"height=400\nwidth=500\nleft=30\ntop=40\nalwaysontop=0\nvideoonly=1\n", true, {500, 345}, false, true},
    {"height=0\nwidth=0\nleft=0\ntop=0\n", true, {378, 377}, false, false},
    {"height=0\nwidth=620\n", true, {620, 377}, false, false},
    {"height=400\nwidth=500\nalwaysontop=1\nvideoonly=1\n", false, {378, 377}, false, false},
    {"height=abc\nwidth=-5\n", true, {378, 377}, false, false},
};
INSTANTIATE_TEST_SUITE_P(Ini, WindowStateRestore, ::testing::ValuesIn(kStates));

// Saved at close and read at the next start, the window comes back as it was, also from video
// only (which saves the height with the 55 px the view took away).
TEST_F(ViewModesTest, WindowStateRoundTrip) {
    TestDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("Quoxel.ini"), "[General]\nrememberstate=1\n"));
    const QString path = dir.path(QStringLiteral("Quoxel.ini"));
    QSize shownSize;
    QPoint shownPos;
    {
        SettingsStore store(path);
        store.LoadSettings(Options);
        TFrmQuoxel w;
        w.view().applySavedState(Options);
        open(w);
        w.resize(450, 420);
        w.move(60, 70);
        w.view().alwaysontop1Click();
        w.view().VideoOnly1Click();
        QCoreApplication::processEvents();
        shownSize = w.size();
        shownPos = w.pos();
        ASSERT_TRUE(w.saveWindowState(store));
    }
    const QByteArray text = dir.read(QStringLiteral("Quoxel.ini"));
    EXPECT_TRUE(text.contains("height=420")) << text.constData();
    EXPECT_TRUE(text.contains("videoonly=1"));

    Options = TOptions{};
    SettingsStore again(path);
    again.LoadSettings(Options);
    TFrmQuoxel w2;
    w2.view().applySavedState(Options);
    open(w2);
    EXPECT_EQ(w2.size(), shownSize);
    EXPECT_EQ(w2.pos(), shownPos);
    EXPECT_TRUE(w2.view().videoOnly());
    EXPECT_TRUE(w2.view().topmost());
}

// Without "remember state" nothing of the window reaches the file.
TEST_F(ViewModesTest, NoRememberWritesNothing) {
    TestDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("Quoxel.ini"), "[General]\nrememberstate=0\n"));
    SettingsStore store(dir.path(QStringLiteral("Quoxel.ini")));
    store.LoadSettings(Options);
    TFrmQuoxel w;
    open(w);
    EXPECT_TRUE(w.saveWindowState(store));
    EXPECT_FALSE(dir.read(QStringLiteral("Quoxel.ini")).contains("[Window]"));
}

} // namespace

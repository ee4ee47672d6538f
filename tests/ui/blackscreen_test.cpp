#include "ui/blackscreen.h"

#include <QTest>

#include <gtest/gtest.h>

using quoxel::TFrmBlackScreen;

// The backdrop timer hands over to the programme info when that setting is on, and hides the
// backdrop otherwise.
TEST(BlackScreen, TimerHandsOverToInfoOrHides) {
    for (bool infoOn : {false, true}) {
        TFrmBlackScreen screen;
        int infoShown = 0;
        screen.setShowEpgInfo([&] { return infoOn; }, [&] { ++infoShown; });
        screen.show();
        ASSERT_TRUE(screen.isVisible());
        screen.StartBackdropTimer();
        EXPECT_EQ(screen.TimerShow().interval(), 1500);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !screen.TimerShow().isActive(); }, 5000));
        EXPECT_EQ(infoShown, infoOn ? 1 : 0);
        EXPECT_EQ(screen.isVisible(), infoOn) << "info on: " << infoOn;
    }
}

// Shown, it covers its screen with black and no pointer.
TEST(BlackScreen, CoversScreen) {
    TFrmBlackScreen screen;
    screen.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen, 5000));
    EXPECT_EQ(screen.geometry(), screen.screen()->geometry());
    EXPECT_EQ(screen.cursor().shape(), Qt::BlankCursor);
    EXPECT_EQ(screen.palette().color(QPalette::Window), QColor(Qt::black));
}

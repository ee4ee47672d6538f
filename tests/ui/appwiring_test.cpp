#include "ui/appcontroller.h"

#include "core/appflags.h"
#include "core/options.h"
#include "support/appstate.h"
#include "ui/mainwindow.h"
#include "ui/taskbar.h"

#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

class AppWiring : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (xcb)";
    }
    ScopedAppState m_state;
};

// "Hide taskbar" keeps the main window out of the task list on every show; without it the entry is
// there once the start-up is over.
TEST_F(AppWiring, TaskbarEntryFollowsTheSetting) {
    TFrmQuoxel w;
    AppController app(w);
    Options.HideTaskbar = true;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    EXPECT_FALSE(taskbarEntryVisible(w));
    w.hide();
    Options.HideTaskbar = false;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    EXPECT_TRUE(taskbarEntryVisible(w));
    // The start-up shows it itself at the first activation.
    w.hide();
    Options.HideTaskbar = true;
    w.show();
    ASSERT_FALSE(taskbarEntryVisible(w));
    Options.HideTaskbar = false;
    IsStarting = true;
    app.lifecycle().FormActivate();
    EXPECT_TRUE(taskbarEntryVisible(w));
}

} // namespace

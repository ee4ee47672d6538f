#include "playback/channelswitch.h"

#include "switchfixture.h"

#include <QGuiApplication>
#include <QWidget>

namespace {

// The video panel of the main window: a native child window the engine draws into.
class DisplaySwitchTest : public SwitchFixture {
protected:
    DisplaySwitchTest()
        : SwitchFixture("127.0.52.11") {}

    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (xcb), not " << QGuiApplication::platformName().toStdString();
        m_panel.setAttribute(Qt::WA_NativeWindow);
        m_panel.resize(720, 576);
        m_panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_panel));
        SwitchFixture::SetUp();
    }

    QStringList engineArguments() const override {
        return {QStringLiteral("--vout=xcb_x11"), QStringLiteral("--aout=dummy")};
    }
    quintptr videoWindow() override { return m_panel.winId(); }

    QWidget m_panel;
};

} // namespace

// A switch ends with the new channel's pictures shown in our own panel, at the stream's size, and
// a second switch moves the panel's picture to the next channel.
TEST_F(DisplaySwitchTest, PictureInThePanel) {
    switchTo(QStringLiteral("437000273f2"));
    VlcEngine* engine = player->engine();
    ASSERT_TRUE(QTest::qWaitFor([engine] { return engine->stats().displayedPictures > 0; }, 15000));
    EXPECT_EQ(engine->videoSize(), QSize(720, 576));
    EXPECT_TRUE(QTest::qWaitFor([engine] { return engine->videoOutputs() >= 1; }, 5000));

    switchTo(QStringLiteral("44100016dca"));
    ASSERT_TRUE(QTest::qWaitFor([engine] { return engine->stats().displayedPictures > 0; }, 15000));
    EXPECT_EQ(sim.state().value(QStringLiteral("channel")), QStringLiteral("44100016dca"));
    EXPECT_EQ(engine->videoSize(), QSize(720, 576));
}

#include "ui/mainwindow.h"

#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "support/appstate.h"
#include "ui/blackscreen.h"
#include "ui/splash.h"

#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

using quoxel::TFrmQuoxel;

namespace {

struct MenuRow {
    const char* path; // captions from the menu bar down, joined by '>'
    const char* name;
    const char* shortcut;
};

void PrintTo(const MenuRow& r, std::ostream* os) {
    *os << r.path;
}

// Finds the action at a caption path of the menu bar.
QAction* actionAt(QMenuBar& bar, const QString& path) {
    const QStringList parts = path.split(QLatin1Char('>'));
    QList<QAction*> level = bar.actions();
    QAction* found = nullptr;
    for (const QString& caption : parts) {
        found = nullptr;
        for (QAction* a : level)
            if (a->text() == caption)
                found = a;
        if (!found)
            return nullptr;
        level = found->menu() ? found->menu()->actions() : QList<QAction*>{};
    }
    return found;
}

class MainWindowTest : public ::testing::Test {
protected:
    ScopedAppState m_state;
};

class MenuTable : public MainWindowTest, public ::testing::WithParamInterface<MenuRow> {};

// Every command of the main menu sits under its caption with its name and Ctrl shortcut.
TEST_P(MenuTable, CaptionNameShortcut) {
    TFrmQuoxel w;
    const MenuRow row = GetParam();
    QAction* a = actionAt(*w.menuBar(), QString::fromUtf8(row.path));
    ASSERT_NE(a, nullptr) << row.path;
    EXPECT_EQ(a->objectName(), QLatin1String(row.name));
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(row.shortcut)));
}

const MenuRow kMenuRows[] = {
    {"File", "Datei1", "Ctrl+I"},
    {"File>Options", "ProgramSettings1", "Ctrl+O"},
    {"File>UDP Stream", "UDPStream1", "Ctrl+U"},
    {"File>Init Quoxel", "InitQuoxel1", ""},
    {"File>Reset EPG", "ResetEPG1", "Ctrl+E"},
    {"File>Stop EPG", "StopEPG1", "Ctrl+G"},
    {"File>Online Mode", "OnlineMode1", ""},
    {"File>Close", "Close1", ""},
    {"Bouquets", "Bouquets1", ""},
    {"Channels", "Channels1", ""},
    {"SubChannels", "SubChannels1", ""},
    {"Audio", "Audio1", ""},
    {"Control", "Control1", ""},
    {"Control>D-Box", "Dbox1", ""},
    {"Control>D-Box>D-Box Reboot", "RebootDBOX1", "Ctrl+D"},
    {"Control>D-Box>D-Box SPTS", "SPTS1", "Ctrl+P"},
    {"Control>D-Box>D-Box Standby", "StandbyOnOff1", "Ctrl+B"},
    {"Control>D-Box>D-Box Lock", "Lock1", "Ctrl+L"},
    {"Control>D-Box>D-Box Message...", "Message1", ""},
    {"Control>VLC", "VLC1", ""},
    {"Control>VLC>VLC Stop", "VLCStop1", "Ctrl+S"},
    {"Control>VLC>VLC Play", "VLCPlay1", "Ctrl+P"},
    {"Control>VLC>VLC Restart", "VLCRestart1", "Ctrl+R"},
    {"Control>VLC>VLC Mute", "VLCMute1", "Ctrl+M"},
    {"Control>VLC>VLD Startup", "VLDStartup", ""},
    {"Control>Telnet", "Telnet2", ""},
    {"Control>Telnet>Change Password", "ChangePass1", ""},
    {"Control>Telnet>Restart Nhttpd", "Restartnhttpd1", ""},
    {"Control>Telnet>Reboot D-Box2", "Reboot1", ""},
    {"Control>Telnet>Login", "Login1", ""},
    {"Control>Telnet>Logout", "Logout1", ""},
    {"Control>Copy Stream URL", "CopyLiveURL1", "Ctrl+C"},
    {"View", "View1", ""},
    {"View>Video Only", "VideoOnly1", ""},
    {"View>Always On Top", "alwaysontop1", ""},
    {"View>Fullscreen", "Fullscreen1", ""},
    {"View>Telnet", "Telnet1", ""},
    {"View>D-Box OSD", "DBoxOSD1", ""},
    {"?", "N1", ""},
};
INSTANTIATE_TEST_SUITE_P(MainMenu, MenuTable, ::testing::ValuesIn(kMenuRows));

// The menu bar's order, the hidden entries and the separators stand as designed.
TEST_F(MainWindowTest, MenuOrderHiddenAndSeparators) {
    TFrmQuoxel w;
    QStringList top;
    for (QAction* a : w.menuBar()->actions())
        top << a->text();
    EXPECT_EQ(top, (QStringList{"File", "Bouquets", "Channels", "SubChannels", "Audio", "Control", "View", "?"}));
    EXPECT_FALSE(w.menu().SubChannels1->menuAction()->isVisible());
    EXPECT_FALSE(w.menu().InitQuoxel1->isVisible());
    EXPECT_FALSE(w.menu().OnlineMode1->isVisible());
    EXPECT_EQ(w.menu().N1->menu(), nullptr);

    auto layout = [](QMenu* m) {
        QStringList out;
        for (QAction* a : m->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    };
    EXPECT_EQ(layout(w.menu().Datei1), (QStringList{"Options", "-", "UDP Stream", "Init Quoxel", "-", "Reset EPG",
                                                    "Stop EPG", "Online Mode", "-", "Close"}));
    EXPECT_EQ(layout(w.menu().Telnet2),
              (QStringList{"Change Password", "Restart Nhttpd", "Reboot D-Box2", "-", "Login", "Logout"}));
    EXPECT_EQ(layout(w.menu().Control1), (QStringList{"D-Box", "VLC", "Telnet", "-", "Copy Stream URL"}));
    EXPECT_EQ(layout(w.menu().View1), (QStringList{"Video Only", "Always On Top", "Fullscreen", "-", "Telnet",
                                                   "D-Box OSD", "-", "Programme Guide"}));
}

// Ctrl+P is shown on two commands; pressed in the window it starts playback and leaves the
// receiver's playback format alone.
TEST_F(MainWindowTest, CtrlPTriggersVlcPlayOnly) {
    TFrmQuoxel w;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    int play = 0;
    int spts = 0;
    QObject::connect(w.menu().VLCPlay1, &QAction::triggered, [&] { ++play; });
    QObject::connect(w.menu().SPTS1, &QAction::triggered, [&] { ++spts; });
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(play, 1);
    EXPECT_EQ(spts, 0);
}

// The status line: mode and clock panels of fixed width, a message that starts with one blank,
// the clock without seconds, and the tick that keeps the message.
TEST_F(MainWindowTest, StatusPanelsAndClock) {
    TFrmQuoxel w;
    setStatusSink(&w);
    EXPECT_EQ(w.statusPanel(2)->text(), QStringLiteral(" 00.00.0000 00:00"));
    EXPECT_EQ(w.statusPanel(1)->width(), 45);
    EXPECT_EQ(w.statusPanel(2)->width(), 100);
    EXPECT_EQ(w.TimerTime().interval(), 10000);
    EXPECT_TRUE(w.TimerTime().isActive());

    Options.Mode = AppMode::Online;
    ShowStatus(QStringLiteral("loading channels..."));
    EXPECT_EQ(w.statusPanel(0)->text(), QStringLiteral(" loading channels..."));
    EXPECT_EQ(w.statusPanel(1)->text(), QStringLiteral("online"));
    const QRegularExpression stamp(QStringLiteral("^ \\S.* \\d\\d:\\d\\d$"));
    EXPECT_FALSE(w.statusPanel(2)->text().contains(QRegularExpression(QStringLiteral("\\d:\\d\\d:\\d\\d"))));
    EXPECT_TRUE(stamp.match(w.statusPanel(2)->text()).hasMatch()) << w.statusPanel(2)->text().toStdString();

    w.statusPanel(2)->clear();
    w.TimerTimeTimer();
    EXPECT_EQ(w.statusPanel(0)->text(), QStringLiteral(" loading channels..."));
    EXPECT_FALSE(w.statusPanel(2)->text().isEmpty());

    // The message panel takes what the fixed panels leave, after every resize.
    w.show();
    w.resize(600, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.statusPanel(0)->width(), statusMessageWidth(w.width(), 45, 100));
    EXPECT_EQ(w.statusPanel(0)->text(), QStringLiteral(" loading channels..."));
    setStatusSink(nullptr);
}

QStringList popupLayout(QMenu& popup) {
    QStringList out;
    for (QAction* a : popup.actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

// The context menu copies the command menus in their current state, freshly on every opening,
// and ends with "Abbruch".
TEST_F(MainWindowTest, PopupMirrorsMenuAndRebuilds) {
    TFrmQuoxel w;
    w.show();
    w.menu().Channels1->addAction(QStringLiteral("Das Erste"));
    w.menu().Audio1->menuAction()->setEnabled(false);
    w.menu().Fullscreen1->setVisible(false);

    w.PopupMenuPopup();
    EXPECT_EQ(popupLayout(w.PopupMenu()),
              (QStringList{"Bouquets", "Channels", "SubChannels", "Control", "View", "-", "Abbruch"}));
    QMenu* channels = w.PopupMenu().actions()[1]->menu();
    ASSERT_NE(channels, nullptr);
    ASSERT_EQ(channels->actions().size(), 1);
    EXPECT_EQ(channels->actions()[0]->text(), QStringLiteral("Das Erste"));
    EXPECT_FALSE(w.PopupMenu().actions()[2]->isVisible()) << "a hidden menu is copied hidden";
    QMenu* control = w.PopupMenu().actions()[3]->menu();
    ASSERT_NE(control, nullptr);
    QMenu* vlc = control->actions()[1]->menu();
    ASSERT_NE(vlc, nullptr);
    EXPECT_EQ(vlc->actions()[2]->text(), QStringLiteral("VLC Restart"));
    EXPECT_TRUE(vlc->actions()[2]->shortcut().isEmpty()) << "shortcuts stay with the main menu";
    QMenu* view = w.PopupMenu().actions()[4]->menu();
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->actions()[2]->isVisible());

    // Next opening: what changed in the meantime shows, nothing is doubled.
    w.menu().Channels1->addAction(QStringLiteral("ZDF"));
    w.menu().Audio1->menuAction()->setEnabled(true);
    w.PopupMenuPopup();
    EXPECT_EQ(popupLayout(w.PopupMenu()),
              (QStringList{"Bouquets", "Channels", "SubChannels", "Audio", "Control", "View", "-", "Abbruch"}));
    EXPECT_EQ(w.PopupMenu().actions()[1]->menu()->actions().size(), 2);
    EXPECT_EQ(w.PopupMenu().findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 6)
        << "the copies of the last opening are gone";
}

// A command from the context menu acts as the main menu's does and keeps both check marks equal;
// "Abbruch" ends IsMenuOpen.
TEST_F(MainWindowTest, PopupCommandsActLikeTheMenu) {
    TFrmQuoxel w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    int played = 0;
    QObject::connect(w.menu().VLCPlay1, &QAction::triggered, [&] { ++played; });
    w.startPopup();
    EXPECT_TRUE(w.view().IsMenuOpen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.PopupMenu().isVisible(); }, 5000));
    QMenu* view = w.PopupMenu().actions()[5]->menu();
    QAction* aotCopy = view->actions()[1];
    ASSERT_EQ(aotCopy->text(), QStringLiteral("Always On Top"));
    aotCopy->trigger();
    EXPECT_TRUE(w.menu().alwaysontop1->isChecked());
    EXPECT_TRUE(aotCopy->isChecked());
    EXPECT_TRUE(w.view().alwaysOnTopChosen());
    EXPECT_TRUE(w.view().topmost());

    w.PopupMenu().actions()[4]->menu()->actions()[1]->menu()->actions()[1]->trigger();
    EXPECT_EQ(played, 1);

    QAction* abort = w.PopupMenu().actions().last();
    ASSERT_EQ(abort->text(), QStringLiteral("Abbruch"));
    w.view().IsMenuOpen = true;
    abort->trigger();
    EXPECT_FALSE(w.view().IsMenuOpen);
    w.PopupMenu().hide();
}

// The about box opens centred below a topmost main window's placement and gives it back.
TEST_F(MainWindowTest, AboutBoxDropsTopmostAndRestores) {
    TFrmQuoxel w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    w.view().alwaysontop1Click();
    ASSERT_TRUE(w.view().topmost());
    bool topmostDuring = true;
    bool shown = false;
    QPoint splashPos;
    QTimer::singleShot(50, [&] {
        shown = w.FrmSplash().isVisible();
        topmostDuring = w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
        splashPos = w.FrmSplash().pos();
        w.FrmSplash().close();
    });
    w.menu().N1->trigger();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(topmostDuring);
    EXPECT_TRUE(w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(splashPos.x(), w.x() + (w.width() - 250) / 2);
    EXPECT_EQ(splashPos.y(), w.y() + (w.height() - 200) / 2);
    EXPECT_EQ(w.FrmSplash().size(), QSize(250, 200));
    EXPECT_EQ(w.FrmSplash().windowTitle(), QStringLiteral("DOVO"));
}

// The splash's status label shows each start-up text at once; a click on the picture closes
// the about box only once the main window is up.
TEST_F(MainWindowTest, SplashStatusAndPictureClick) {
    TFrmQuoxel w;
    quoxel::TFrmSplash& s = w.FrmSplash();
    s.show();
    s.SetSplashStatus(QStringLiteral("loading bouquets..."));
    EXPECT_EQ(s.LblStatus()->text(), QStringLiteral("loading bouquets..."));
    QTest::mouseClick(s.ImgSplash(), Qt::LeftButton);
    EXPECT_TRUE(s.isVisible()) << "main window not shown yet";
    w.show();
    QTest::mouseClick(s.ImgSplash(), Qt::LeftButton);
    EXPECT_FALSE(s.isVisible());
}

} // namespace

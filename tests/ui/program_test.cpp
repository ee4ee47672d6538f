// The program as a user starts it (QuoxelProgram, as main() builds it) against the simulator, in a
// real X window with the engine drawing: the EPG timers, the status line, the in-window panels, the
// close, the options dialog and a PC without the engine, told from the simulator's request log,
// Quoxel.log and the screen.
#include "ui/appcontroller.h"

#include "programrun.h"

#include "box/boxcommands.h"
#include "box/epgtimers.h"
#include "core/appflags.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/vlcapi.h"
#include "support/screenrecorder.h"
#include "ui/appinput.h"
#include "ui/apposd.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/optionsdialog.h"
#include "ui/osd.h"
#include "ui/osdchannels.h"
#include "ui/osdcontroller.h"
#include "ui/osddetails.h"
#include "ui/osdinfo.h"
#include "ui/program.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

// Real time moved by an offset: the clock labels then show a time no other code path would set.
class ShiftedClock final : public Clock {
public:
    explicit ShiftedClock(qint64 seconds)
        : m_seconds(seconds) {}
    QDateTime now() const override { return QDateTime::currentDateTime().addSecs(m_seconds); }

private:
    qint64 m_seconds;
};

// Mean difference per colour channel of the left `width` columns of two pictures of one size.
double difference(const QImage& a, const QImage& b, int width = -1) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    const int w = width < 0 ? a.width() : std::min(width, a.width());
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (double(w) * a.height() * 3);
}

// The label drawn with another text, as it would stand on the screen.
QImage drawnAs(const QLabel* label, const QString& text) {
    QLabel copy;
    copy.setAttribute(Qt::WA_DontShowOnScreen);
    copy.setAutoFillBackground(true);
    // The label itself is clear: what shows behind its text is its parent's background.
    QPalette palette = label->palette();
    if (!label->autoFillBackground() && label->parentWidget())
        palette.setColor(QPalette::Window, label->parentWidget()->palette().color(QPalette::Window));
    copy.setPalette(palette);
    copy.setFont(label->font());
    copy.setAlignment(label->alignment());
    copy.setIndent(label->indent());
    copy.setMargin(label->margin());
    copy.setText(text);
    copy.resize(label->size());
    return copy.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb p, const QColor& c, int tolerance = 12) {
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance &&
           std::abs(qBlue(p) - c.blue()) <= tolerance;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (xcb)";
    }
    void TearDown() override {
        run.reset();
        Clock::setCurrent(nullptr);
    }

    // The settings file, then the program built and started as main() does it; with `playing`,
    // until the picture is decoded.
    ::testing::AssertionResult start(const QString& address, const QByteArray& general, const QByteArray& sections = {},
                                     bool playing = true, VlcLibrary* library = nullptr) {
        run = std::make_unique<ProgramRun>(address, simArgs);
        if (auto simStarted = run->startSim(); !simStarted)
            return simStarted;
        outcome = run->launch(run->settings(general, sections), library);
        if (!playing)
            return ::testing::AssertionSuccess();
        if (outcome != ConnectionOutcome::Connected)
            return ::testing::AssertionFailure() << "not connected";
        if (!QTest::qWaitForWindowExposed(&w(), 5000))
            return ::testing::AssertionFailure() << "window not shown";
        if (!QTest::qWaitFor(
                [&] { return app().player().engine() && app().player().engine()->stats().decodedVideo > 0; }, 30000))
            return ::testing::AssertionFailure() << "no picture; status: " << status().toStdString();
        return ::testing::AssertionSuccess();
    }

    TFrmQuoxel& w() { return run->window(); }
    AppController& app() { return run->app(); }
    BoxSimProcess& sim() { return run->sim(); }
    quoxel::EpgPanels& panels() { return app().osd().panels(); }
    QString status() { return w().statusPanel(0)->text(); }

    // Quoxel.log as lines.
    static QStringList logLines() {
        QFile f(appLogger().filePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).join('\n').split('\n');
    }
    // The lines of one category ("FUNC  ", "THREAD", ...) whose text starts with `text`.
    static QStringList logged(const char* label, const QString& text) {
        QStringList out;
        const QString mark = QStringLiteral(", ") + QLatin1String(label) + QStringLiteral(", ") + text;
        for (const QString& line : logLines())
            if (line.mid(12).startsWith(mark))
                out << line;
        return out;
    }
    // Milliseconds since midnight of a log line's "hh:nn:ss:zzz".
    static int stampMs(const QString& line) {
        const QStringList p = line.left(12).split(':');
        return p.size() == 4 ? ((p[0].toInt() * 60 + p[1].toInt()) * 60 + p[2].toInt()) * 1000 + p[3].toInt() : -1;
    }

    QStringList simArgs; // for the simulator of the next start
    std::unique_ptr<ProgramRun> run;
    ConnectionOutcome outcome = ConnectionOutcome::NoConnection;
};

// The EPG timers of the window run in the program: the info bar's refresh every 5 s until the list
// of the channel on air is in, the channel list's repaint every 500 ms while it shows, the walk's
// paced steps; "Stop EPG" stops the walk and the list's timer, "Start EPG" starts the walk again,
// "Reset EPG" fetches every list anew; the 10 s clock tick sets the channel panel's clock.
TEST_F(Program, EpgTimersAndClock) {
    // The walk's first fetch, the list of the channel on air, is answered late: the info bar's
    // 5 s refresh and the walk's 5 s pause start close together, and the list would otherwise
    // come in before the refresh's first tick on a slow machine.
    simArgs = {QStringLiteral("--fault"), QStringLiteral("/control/epg?xml=true&channelid=43700016d66=slow:7000:1")};
    ASSERT_TRUE(start(QStringLiteral("127.0.125.1"), "mode=live\nosdshowtime=60000\n", "[VLC]\ncachelive=300\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return panels().infoVisible(); }, 5000)) << "the programme bar";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !logged("FUNC  ", QStringLiteral("EPGUpdateTimer")).isEmpty(); }, 7000));
    // Until the list of the channel on air is in.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return app().session().AktChannel->EPGLoaded && !app().epgTimers().epgUpdateTimer().isActive(); },
        15000));

    // "O" through the application's key hook opens the channel panel on the channel on air.
    w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w(), 10000));
    QTest::keyClick(&w(), Qt::Key_O);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panels().channelsVisible(); }, 5000));
    EXPECT_EQ(run->program().input().channelPanelIndex(), app().session().AktChannel->ListIndex);
    QTest::qWait(2600);
    const QStringList ticks = logged("FUNC  ", QStringLiteral("EPGChannelsTimer"));
    ASSERT_GE(ticks.size(), 3);
    QList<int> gaps;
    for (qsizetype i = 1; i < ticks.size(); ++i)
        gaps << stampMs(ticks[i]) - stampMs(ticks[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 350) << ticks.join('\n').toStdString();
    EXPECT_LE(gaps[gaps.size() / 2], 950) << ticks.join('\n').toStdString();

    // The walk waits 5 s before a fetch and 1.6 s after each channel, both under FUNC.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !logged("FUNC  ", QStringLiteral("Delay 1600ms")).isEmpty(); }, 15000));
    EXPECT_TRUE(logged("THREAD", QStringLiteral("Delay")).isEmpty());
    // Its progress in both channel-list headers: n of the m channels it took at its start.
    const QLabel* header = panels().LblChannelsHeader();
    const QRegularExpression progress(QStringLiteral("^Channel Preview \\((\\d+)/(\\d+)\\)$"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return progress.match(header->text()).hasMatch(); }, 5000))
        << header->text().toStdString();
    const QRegularExpressionMatch m = progress.match(header->text());
    EXPECT_TRUE(m.hasMatch() && m.captured(1).toInt() >= 1 && m.captured(1).toInt() <= m.captured(2).toInt() &&
                m.captured(2).toInt() <= w().CmbChannels()->count())
        << header->text().toStdString();
    EXPECT_EQ(app().osd().osd().FrmOSD_Channels().LblChannelsHeader()->text(), header->text());

    w().menu().StopEPG1->trigger();
    EXPECT_EQ(w().menu().StopEPG1->text(), QStringLiteral("Start EPG"));
    EXPECT_FALSE(app().epgTimers().isThreadRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app().epgTimers().epgChannelsTimer().isActive(); }, 3000));
    const qsizetype stopped = logged("FUNC  ", QStringLiteral("EPGChannelsTimer")).size();
    QTest::qWait(1500);
    EXPECT_EQ(logged("FUNC  ", QStringLiteral("EPGChannelsTimer")).size(), stopped)
        << "the list's timer stopped itself";
    EXPECT_TRUE(panels().channelsVisible());

    // The next clock tick (every 10 s) writes the time into the channel panel's header.
    ShiftedClock shifted(3 * 3600 + 17 * 60);
    const QLabel* clock = panels().LblEPGChannelsTime();
    ASSERT_NE(clock->text(), shifted.now().toString(QStringLiteral("hh:mm")));
    Clock::setCurrent(&shifted);
    // The tick sets the minute it sees; it may have turned since.
    QString shown;
    auto showsShiftedTime = [&] {
        const QImage screen = grabScreen(clock);
        for (int back : {0, 60}) {
            const QString text = shifted.now().addSecs(-back).toString(QStringLiteral("hh:mm"));
            if (difference(screen, drawnAs(clock, text)) < 1) {
                shown = text;
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(showsShiftedTime, 11000)) << clock->text().toStdString();
    EXPECT_GT(difference(grabScreen(clock), drawnAs(clock, QStringLiteral("00:00"))), 1)
        << "the comparison tells texts apart";
    EXPECT_EQ(panels().LblTime()->text(), shown);
    Clock::setCurrent(nullptr);

    w().menu().StopEPG1->trigger();
    EXPECT_EQ(w().menu().StopEPG1->text(), QStringLiteral("Stop EPG"));
    EXPECT_TRUE(app().epgTimers().isThreadRunning());

    ASSERT_TRUE(sim().clearRequests());
    w().menu().ResetEPG1->trigger();
    EXPECT_EQ(app().session().AktChannel->NowEPG.Title, QStringLiteral("..."));
    EXPECT_EQ(app().session().AktChannel->NextEPG.Title, QStringLiteral("..."));
    const QString aktList = QStringLiteral("channelid=") + app().session().AktChannel->Id;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QString& t : sim().requestTargets())
                if (t.contains(aktList))
                    return true;
            return false;
        },
        15000))
        << "the list of the channel on air is fetched again";

    // The logo beside the channel box closes the panel again.
    QTest::mouseClick(w().Logo(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panels().channelsVisible(); }, 5000));
}

// While a switch holds the window's thread, the status line shows each of its texts at once:
// "switching channel..." and the caching count-down are on the screen before the switch ends.
TEST_F(Program, StatusLineWhileSwitching) {
    ASSERT_TRUE(start(QStringLiteral("127.0.125.2"), "mode=live\n", "[VLC]\ncachelive=1500\n"));
    const int row = (w().CmbChannels()->currentIndex() + 1) % w().CmbChannels()->count();
    QAction* other = w().menu().Channels1->actions().value(row);
    ASSERT_NE(other, nullptr);
    QLabel* panel = w().statusPanel(0);
    const QRect area(panel->mapToGlobal(QPoint(0, 0)), panel->size());

    QList<QImage> frames;
    {
        ScreenRecorder recorder(area);
        QTest::qWait(100);
        other->trigger();
        frames = recorder.stop();
    }
    ASSERT_EQ(w().CmbChannels()->currentIndex(), row);

    // The same texts drawn by the window afterwards, to compare with.
    auto shown = [&](const QString& text) {
        ShowStatus(text);
        QTest::qWait(50);
        return screenAt(area);
    };
    const QImage switching = shown(QStringLiteral("switching channel..."));
    const QImage caching = shown(QStringLiteral("caching...(750ms)"));
    const int prefix = panel->fontMetrics().horizontalAdvance(QStringLiteral(" caching...(")) - 1;
    int switchingSeen = 0;
    int cachingSeen = 0;
    for (const QImage& f : std::as_const(frames)) {
        switchingSeen += difference(f, switching) < 1 ? 1 : 0;
        cachingSeen += difference(f, caching, prefix) < 1 ? 1 : 0;
    }
    EXPECT_GE(switchingSeen, 1) << frames.size() << " pictures";
    EXPECT_GE(cachingSeen, 3) << frames.size() << " pictures: the count-down is seen going";
}

// The info bar lies 31 px above the bottom of the video, with its logo box, programme bar, shadow and
// stats strip around it, in the window, after a resize and in the video-only view.
TEST_F(Program, InfoBarFollowsTheVideo) {
    ASSERT_TRUE(start(QStringLiteral("127.0.125.3"), "mode=live\nosdshowtime=60000\n", "[VLC]\ncachelive=300\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return panels().infoVisible(); }, 5000));
    EXPECT_FALSE(app().osd().osd().FrmOSD_Info().isVisible()) << "no full-screen overlay in the window";
    EXPECT_TRUE(panels().LblEPGChannel()->text().contains(app().session().AktChannel->Caption));
    const QColor bar = quoxel::osdHighlight();
    // What of the bar is not where it belongs, empty when all is.
    auto misplaced = [&] {
        const QRect video = w().Video()->geometry();
        const int top = video.top() + video.height() - 47 - 31;
        const QPoint origin = w().Video()->parentWidget()->mapToGlobal(QPoint(0, 0));
        const QImage shot = screenAt(QRect(origin, w().Video()->parentWidget()->size()));
        const int left = panels().PnlEPG()->x();
        const struct {
            QPoint at;
            QColor colour;
            const char* part;
        } samples[] = {{{left + 100, top + 4}, bar, "bar top"},
                       {{left + 200, top + 44}, bar, "bar bottom"},
                       {{left + 100, top + 47 + 6}, quoxel::kOsdDarkGrey, "stats strip"},
                       {{left + 309, top + 20}, Qt::black, "shadow"},
                       {{left + 43, top - 6}, bar, "logo box"}};
        QStringList out;
        for (const auto& sample : samples)
            if (!near(shot.pixel(sample.at), sample.colour))
                out << QStringLiteral("%1 at %2,%3 is #%4")
                           .arg(QLatin1String(sample.part))
                           .arg(sample.at.x())
                           .arg(sample.at.y())
                           .arg(shot.pixel(sample.at) & 0xffffff, 6, 16, QLatin1Char('0'));
        return out;
    };
    // Bounded generously: under a loaded machine the engine's next frames and the bar's repaint
    // after a resize can take seconds to reach the screen.
    auto check = [&](const char* view) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return misplaced().isEmpty(); }, 10000))
            << view << ": " << misplaced().join(QStringLiteral(", ")).toStdString();
    };
    check("window");
    w().resize(w().width() + 80, w().height() + 60);
    check("resized");
    w().menu().VideoOnly1->trigger();
    ASSERT_TRUE(w().menu().VideoOnly1->isChecked());
    check("video only");
}

struct CloseCase {
    const char* name;
    const char* address;
    const char* udpPort; // null: HTTP streaming
    bool flags;          // lock_rc, show_message and autospts
    bool silent;         // the receiver takes the close-time requests and never answers
    bool tray;           // "Close" of the tray icon's menu instead of File > Close
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramClose : public Program, public ::testing::WithParamInterface<CloseCase> {};

// File > Close (or the tray's "Close"): while the receiver streams over UDP its UDP sender is stopped; with the flags
// the remote control is unlocked, "Quoxel is closed!" shown and PES playback set back; each request is bounded, so a
// silent receiver cannot hold the close. Every timer is stopped, the engine ended and the window state saved.
TEST_P(ProgramClose, RequestsTimersAndEngine) {
    const CloseCase& c = GetParam();
    const bool udp = c.udpPort != nullptr;
    const QByteArray general = "mode=live\nip_pc=" + QByteArray(c.address) + "\nrememberstate=1\nosdshowtime=60000\n" +
                               (udp ? "streamtype=udp\n" : "") +
                               (c.flags ? "lock_rc=1\nautospts=1\nshow_message=1\n" : "");
    ASSERT_TRUE(start(QString::fromLatin1(c.address), general,
                      "[VLC]\ncachelive=300\nstreamport_udp=" + QByteArray(udp ? c.udpPort : "31380") + "\n"));
    EXPECT_EQ(w().menu().UDPStream1->isChecked(), udp) << "UDP Stream shows the setting";
    ASSERT_EQ(sim().state().value(QStringLiteral("udp_running")), udp ? QStringLiteral("1") : QStringLiteral("0"));
    QTest::mouseClick(w().Logo(), Qt::LeftButton);
    ASSERT_TRUE(app().epgTimers().epgChannelsTimer().isActive());

    ASSERT_TRUE(sim().clearRequests());
    if (c.silent) {
        ASSERT_TRUE(sim().setFault(QStringLiteral("*"), QStringLiteral("silent")));
    }
    QElapsedTimer closing;
    closing.start();
    (c.tray ? w().Close2() : w().menu().Close1)->trigger();
    const qint64 tookMs = closing.elapsed();
    EXPECT_FALSE(w().isVisible());
    EXPECT_LT(tookMs, 8000);

    QStringList targets = sim().requestTargets();
    targets.replaceInStrings(QStringLiteral("api udp_stream kill_all_streams"),
                             QStringLiteral("api%20udp_stream%20kill_all_streams"));
    QStringList expected;
    if (udp)
        expected << QStringLiteral("/control/exec?api%20udp_stream%20kill_all_streams");
    const QStringList flagged{QStringLiteral("/control/rc?unlock"),
                              QStringLiteral("/control/message?nmsg=Quoxel%20is%20closed!"),
                              QStringLiteral("/control/system?setAViAExtPlayBack=pes")};
    if (c.flags)
        expected << flagged;
    else
        for (const QString& request : flagged)
            EXPECT_FALSE(targets.contains(request)) << request.toStdString();
    qsizetype at = -1;
    for (const QString& request : std::as_const(expected)) {
        const qsizetype found = targets.indexOf(request, at + 1);
        EXPECT_GT(found, at) << request.toStdString() << " in " << targets.join(' ').toStdString();
        at = std::max(at, found);
    }
    if (!c.silent) {
        const QMap<QString, QString> state = sim().state();
        EXPECT_EQ(state.value(QStringLiteral("udp_running")), QStringLiteral("0"));
        if (c.flags) {
            EXPECT_EQ(state.value(QStringLiteral("rclock")), QStringLiteral("off"));
            EXPECT_EQ(state.value(QStringLiteral("spts")), QStringLiteral("off"));
            EXPECT_EQ(state.value(QStringLiteral("message")), QStringLiteral("Quoxel is closed!"));
        }
    }

    // Nothing ticks any more.
    EXPECT_FALSE(w().TimerTime().isActive());
    EXPECT_FALSE(panels().TimerOSD().isActive());
    EPGTimers& epg = app().epgTimers();
    EXPECT_FALSE(epg.epgTimer().isActive() || epg.epgUpdateTimer().isActive() || epg.epgChannelsTimer().isActive() ||
                 epg.showEPGOnSwitchTimer().isActive());
    EXPECT_FALSE(run->program().input().controller().TimerInputBlockKey().isActive());
    quoxel::OsdController& osd = app().osd().osd();
    for (quoxel::TFrmOSD* overlay :
         {static_cast<quoxel::TFrmOSD*>(&osd.FrmOSD_Info()), static_cast<quoxel::TFrmOSD*>(&osd.FrmOSD_Details())})
        EXPECT_FALSE(overlay->TimerHide().isActive() || overlay->TimerShow().isActive() ||
                     overlay->TimerEPGUpdate().isActive());
    // The engine is gone, not only logged as gone.
    EXPECT_EQ(app().player().VlcHandle(), 0);
    EXPECT_EQ(logged("VLC   ", QStringLiteral("VLC_Die()")).size(), 1);
    EXPECT_EQ(logged("FUNC  ", QStringLiteral("StopEPGThread()")).size(), 1);
    EXPECT_TRUE(logged("THREAD", QStringLiteral("Thread is still running")).isEmpty());
    EXPECT_TRUE(logged("THREAD", QStringLiteral("EPG Thread stopped")).isEmpty());
    EXPECT_TRUE(run->dir().read(QStringLiteral("Quoxel.ini")).contains("[Window]"));
}

INSTANTIATE_TEST_SUITE_P(Receiver, ProgramClose,
                         ::testing::Values(CloseCase{"UdpWithFlags", "127.0.125.4", "31381", true, false, false},
                                           CloseCase{"UdpWithFlagsSilent", "127.0.125.5", "31382", true, true, false},
                                           CloseCase{"HttpNoFlagsFromTheTray", "127.0.125.9", nullptr, false, false,
                                                     true}),
                         [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

// With "fullscreen" the picture goes full screen about a second after the start, and with
// "show_epginfo" the programme info comes as the overlay, the window's own bar gone. "Init Quoxel"
// ends the engine, connects again (the receiver is asked in the start's order) and plays again
// at the next activation of the window.
TEST_F(Program, FullscreenStartAndInitQuoxel) {
    ASSERT_TRUE(start(QStringLiteral("127.0.125.10"), "mode=live\nfullscreen=1\nshow_epginfo=1\nosdshowtime=60000\n",
                      "[VLC]\ncachelive=300\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w().view().IsFullscreen && w().isFullScreen(); }, 5000));
    quoxel::TFrmOSD_Info& info = app().osd().osd().FrmOSD_Info();
    EXPECT_TRUE(QTest::qWaitFor([&] { return info.isVisible(); }, 10000));
    EXPECT_FALSE(panels().infoVisible());
    EXPECT_EQ(info.LblChannel()->text(), app().session().AktChannel->Caption);
    // Its screen width grows with the screen.
    EXPECT_EQ(info.width(), int(1008 * quoxel::osdScaleFor(info.screen()) + 0.5));
    // The screen where the bar lies shows the bar's colour over the engine's picture.
    const QWidget* bar = info.findChild<QWidget*>(QStringLiteral("PnlInfo"));
    ASSERT_NE(bar, nullptr);
    QRgb seen = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            seen =
                screenAt(QRect(bar->mapToGlobal(QPoint(bar->width() - 8, bar->height() - 6)), QSize(1, 1))).pixel(0, 0);
            return near(seen, quoxel::osdHighlight());
        },
        10000))
        << "#" << QString::number(seen & 0xffffff, 16).toStdString();
    QTest::keyClick(&w(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w().view().IsFullscreen && !w().isFullScreen(); }, 5000));

    ASSERT_TRUE(sim().clearRequests());
    w().menu().InitQuoxel1->trigger();
    EXPECT_TRUE(IsStarting.load());
    EXPECT_EQ(app().player().VlcHandle(), 0) << "the engine ended";
    QStringList targets;
    for (const QString& t : sim().requestTargets())
        if (!t.contains(QLatin1String("epg?xml"))) // the background walk's, stopped meanwhile
            targets << t;
    ASSERT_GE(targets.size(), 4) << targets.join(' ').toStdString();
    EXPECT_EQ(targets.mid(0, 3),
              (QStringList{QStringLiteral("/control/gettime?rawtime"), QStringLiteral("/control/standby"),
                           QStringLiteral("/control/system?getAViAExtPlayBack")}));
    EXPECT_EQ(targets.last(), QStringLiteral("/control/epg?ext"));

    // The user turns to another window and back.
    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 5000));
    w().activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !IsStarting && app().player().VlcHandle() != 0; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return app().player().engine()->stats().decodedVideo > 0; }, 30000));
}

// A PC without VLC: after the connection the program says "libvlc.dll not found !" in a message box
// and ends, with nothing zapped or played and no close sequence.
TEST_F(Program, MissingEngineEndsTheProgram) {
    VlcLibrary missing(QStringLiteral("/nonexistent/libvlc.so.5"));
    QStringList boxes;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->accept();
        }
    });
    answer.start(50);
    ASSERT_TRUE(start(QStringLiteral("127.0.125.6"), "mode=live\n", {}, false, &missing));
    ASSERT_EQ(outcome, ConnectionOutcome::Connected);
    ASSERT_TRUE(sim().clearRequests());
    QTimer::singleShot(20000, [] { QCoreApplication::exit(-99); });
    // As main() does after the start.
    const int code = QCoreApplication::exec();
    EXPECT_EQ(code, 1);
    EXPECT_EQ(boxes, QStringList{QStringLiteral("libvlc.dll not found !")});
    EXPECT_FALSE(w().isVisible());
    EXPECT_TRUE(sim().requestTargets().isEmpty()) << sim().requestTargets().join(' ').toStdString();
}

struct OptionsCase {
    const char* name;
    const char* address;
    const char* mode;
    QStringList pages; // the pages offered
};

void PrintTo(const OptionsCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramOptions : public Program, public ::testing::WithParamInterface<OptionsCase> {};

// Every text of a dialog page shows whole: labels, check boxes, group titles, buttons, the flag
// list's items, and nothing lies outside the dialog.
void expectEveryTextShows(QDialog& dialog, const QString& page) {
    const QRect inside = dialog.rect();
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->window() != &dialog)
            continue;
        // What a scroll area holds is shown by scrolling.
        bool scrolled = false;
        for (QWidget* up = child->parentWidget(); up && !scrolled; up = up->parentWidget())
            scrolled = qobject_cast<QAbstractScrollArea*>(up) && !qobject_cast<QListWidget*>(up);
        if (scrolled)
            continue;
        const QRect r(child->mapTo(&dialog, QPoint(0, 0)), child->size());
        EXPECT_TRUE(inside.contains(r)) << page.toStdString() << ": " << child->objectName().toStdString()
                                        << " outside the dialog";
        if (auto* label = qobject_cast<QLabel*>(child)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText)
                continue;
            const QRect c = label->contentsRect();
            const QSize need = label->wordWrap() ? QSize(c.width(), label->heightForWidth(c.width()))
                                                 : label->fontMetrics().size(0, label->text());
            EXPECT_TRUE(c.size().expandedTo(need) == c.size())
                << page.toStdString() << ": \"" << label->text().toStdString() << "\" cut";
        } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
            if (!button->text().isEmpty()) {
                EXPECT_LE(button->sizeHint().width(), button->width())
                    << page.toStdString() << ": \"" << button->text().toStdString() << "\" cut";
            }
        } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
            EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()) + 16, group->width());
        } else if (auto* list = qobject_cast<QListWidget*>(child)) {
            const QRect view = list->viewport()->rect();
            EXPECT_LE(list->sizeHintForColumn(0), view.width()) << page.toStdString() << ": the list's captions cut";
            for (int i = 0; i < list->count(); ++i) {
                const QRect item = list->visualItemRect(list->item(i));
                EXPECT_TRUE(view.contains(item))
                    << page.toStdString() << ": \"" << list->item(i)->text().toStdString() << "\" out of sight";
            }
        }
    }
}

// File > Options opens the dialog over the playing window: the pages the mode offers, every text
// whole on each of them, and "Ok" writes what was changed to the settings file.
TEST_P(ProgramOptions, PagesLayoutAndSave) {
    const OptionsCase& c = GetParam();
    ASSERT_TRUE(start(QString::fromLatin1(c.address), "mode=" + QByteArray(c.mode) + "\n", {}, false));
    ASSERT_EQ(outcome, ConnectionOutcome::Connected);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w(), 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app().playerInitialised() && !IsSwitching; }, 20000));
    QStringList offered;
    bool checked = false;
    QTimer::singleShot(300, [&] {
        auto* dialog = qobject_cast<TFrmOptions*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no options dialog";
            return;
        }
        QTabWidget* pages = dialog->pages();
        for (int i = 0; i < pages->count(); ++i) {
            if (!pages->isTabVisible(i))
                continue;
            offered << pages->tabText(i);
            EXPECT_GT(pages->tabBar()->tabRect(i).width(),
                      pages->tabBar()->fontMetrics().horizontalAdvance(pages->tabText(i)));
            pages->setCurrentIndex(i);
            QTest::qWait(50);
            expectEveryTextShows(*dialog, pages->tabText(i));
        }
        pages->setCurrentIndex(0);
        auto* osdTime = dialog->findChild<QLineEdit*>(QStringLiteral("EdtOsdTime"));
        if (osdTime)
            osdTime->setText(QStringLiteral("4500"));
        checked = true;
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    });
    w().menu().ProgramSettings1->trigger();
    ASSERT_TRUE(checked);
    EXPECT_EQ(offered, c.pages);
    EXPECT_TRUE(run->dir().read(QStringLiteral("Quoxel.ini")).contains("osdshowtime=4500"));
    EXPECT_EQ(Options.OsdShowTime, QStringLiteral("4500"));
}

INSTANTIATE_TEST_SUITE_P(
    Mode, ProgramOptions,
    ::testing::Values(
        OptionsCase{"Live", "127.0.125.7", "live", {"General", "D-Box2", "VLC", "Telnet", "Hotkeys", "WebServer"}},
        OptionsCase{"Quoxel", "127.0.125.8", "quoxel", {"General", "Telnet", "Hotkeys"}}),
    [](const ::testing::TestParamInfo<OptionsCase>& info) { return std::string(info.param.name); });

} // namespace

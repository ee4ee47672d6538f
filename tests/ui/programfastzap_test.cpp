#include "programrun.h"

#include "core/appflags.h"
#include "playback/channelswitch.h"
#include "playback/vlcplayer.h"
#include "ui/appcontroller.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

// One bouquet of thirteen TV channels, the receiver on the first.
const QByteArray kChannels = R"({"encoding":"latin1","startChannel":"43700016d66","bouquets":[{"name":"Alle","tv":[
 {"id":"43700016d66","name":"Das Erste","epg":[{"title":"Tagesschau","durationMin":30}]},
 {"generate":12,"idBase":"a0000000","name":"Testkanal","epg":[{"title":"Testbild","durationMin":30}]}]}]})";

// The last "zap times" line of the log.
QString lastZapLine(const QByteArray& log) {
    const qsizetype at = log.lastIndexOf("zap times (ms)");
    return at < 0 ? QString() : QString::fromUtf8(log.mid(at, log.indexOf('\n', at) - at)).trimmed();
}

// The switch to the channel has shown its first picture: the log's last step times say so.
bool pictureLogged(ProgramRun& run, const QString& caption) {
    const QString line = lastZapLine(run.log());
    return line.endsWith(QLatin1Char('(') + caption + QLatin1Char(')')) && !line.contains(QLatin1String("picture -"));
}

} // namespace

// Fast zap: PageDown returns at once, the window takes a key and a wheel step while the receiver still tunes,
// the new stream shows its first picture, and the step times go to the log. Ten PageDowns in a
// second end in one switch to the last channel: the receiver sees at most two zaps, the last for
// that channel. A receiver that never answers the zap: the status line says so, the next works.
TEST(ProgramFastZap, SwitchesWithoutFreezingAndTheNewestTargetWins) {
    ProgramRun run(QStringLiteral("127.29.1.1"), {QStringLiteral("--zap-ms"), QStringLiteral("400")});
    ASSERT_TRUE(run.start("\n[Extras]\nfastzap=1\n", kChannels));
    quoxel::TFrmQuoxel& w = run.window();
    QComboBox* box = w.CmbChannels();
    ASSERT_EQ(box->count(), 13);
    ASSERT_EQ(box->currentIndex(), 0);
    const auto settled = [&](const QString& id, const QString& caption) {
        return QTest::qWaitFor(
            [&] {
                return !run.app().switcher()->fastSwitching() && run.app().session().AktChannel->Id == id &&
                       run.app().player().isPlaying() && pictureLogged(run, caption);
            },
            15000);
    };
    ASSERT_TRUE(settled(QStringLiteral("43700016d66"), QStringLiteral("1. Das Erste")))
        << lastZapLine(run.log()).toStdString();
    ASSERT_TRUE(run.sim().clearRequests());

    QElapsedTimer key;
    key.start();
    QTest::keyClick(&w, Qt::Key_PageDown);
    EXPECT_LT(key.elapsed(), 300) << "the key waited for the switch";
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->currentIndex() == 1; }, 1000)) << "the target does not show";
    EXPECT_TRUE(run.waitForRequest(QStringLiteral("/control/zapto?a0000000"), 3000));
    // The receiver tunes for 400 ms: the window takes a key meanwhile.
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->currentIndex(), 2) << "the key in the middle of the switch was not taken";
    // The wheel too: in the window it steps the volume (it never switches channels).
    const int volume = w.Volume()->value();
    const QPoint at = w.Video()->rect().center();
    QWheelEvent wheel(at, w.Video()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.Video(), &wheel);
    EXPECT_EQ(w.Volume()->value(), volume - 5) << "the wheel in the middle of the switch was not taken";
    EXPECT_FALSE(run.requests().contains(QStringLiteral("/control/zapto?getallpids")))
        << "the key came only after the switch";
    ASSERT_TRUE(settled(QStringLiteral("a0000000"), QStringLiteral("2. Testkanal 01")))
        << lastZapLine(run.log()).toStdString();
    EXPECT_EQ(box->currentIndex(), 2) << "the selection is the user's";
    EXPECT_TRUE(w.statusPanel(0)->toolTip().startsWith(QLatin1String("last zap: ")))
        << w.statusPanel(0)->toolTip().toStdString();

    // A burst: ten PageDowns within a second, from the third channel to the last.
    QTest::qWait(ChannelSwitcher::kFastRestMs);
    ASSERT_TRUE(run.sim().clearRequests());
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(&w, Qt::Key_PageDown);
        QTest::qWait(80);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->currentIndex() == 12; }, 1000)) << box->currentIndex();
    ASSERT_TRUE(settled(QStringLiteral("a000000b"), QStringLiteral("13. Testkanal 12")))
        << lastZapLine(run.log()).toStdString();
    const QStringList burst = zaps(run.requests());
    EXPECT_LE(burst.size(), 2) << burst.join(' ').toStdString();
    ASSERT_FALSE(burst.isEmpty());
    EXPECT_EQ(burst.last(), QStringLiteral("/control/zapto?a000000b"));

    // A receiver that never answers the zap: bounded, the status line says so, the next works.
    // A clock tick meanwhile leaves the receiver's record state alone (a reload would replace the
    // records of the channel being switched to); the tick after the switch asks again.
    ASSERT_TRUE(run.sim().setFault(QStringLiteral("/control/zapto?a000000a"), QStringLiteral("silent"), -1, 1));
    QTest::qWait(ChannelSwitcher::kFastRestMs);
    ASSERT_TRUE(run.sim().clearRequests());
    key.restart();
    QTest::keyClick(&w, Qt::Key_PageUp);
    EXPECT_LT(key.elapsed(), 300);
    const QString recordLook = QStringLiteral("/control/setmode?status");
    ASSERT_TRUE(run.waitForRequest(QStringLiteral("/control/zapto?a000000a"), 3000));
    ASSERT_TRUE(run.app().switcher()->fastSwitching());
    Q_EMIT w.clockTicked();
    EXPECT_FALSE(run.sim().requestTargets().contains(recordLook)) << run.sim().requestTargets().join(' ').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statusPanel(0)->text().contains(QLatin1String("ERROR, http timeout")); },
                                ChannelSwitcher::kFastRequestSec * 1000 + 3000))
        << w.statusPanel(0)->text().toStdString();
    QTest::keyClick(&w, Qt::Key_PageUp);
    ASSERT_TRUE(settled(QStringLiteral("a0000009"), QStringLiteral("11. Testkanal 10")))
        << lastZapLine(run.log()).toStdString() << w.statusPanel(0)->text().toStdString();
    Q_EMIT w.clockTicked();
    EXPECT_TRUE(run.sim().requestTargets().contains(recordLook));
}

// Fast zap onto a pay-TV portal: its sub-channels are asked for by the switch's worker, beside the
// stream facts, and show in the SubChannels menu as in the written switch.
TEST(ProgramFastZap, PortalSubChannelsComeFromTheWorker) {
    ProgramRun run(QStringLiteral("127.29.1.2"));
    ASSERT_TRUE(run.start("\n[Extras]\nfastzap=1\n"));
    quoxel::TFrmQuoxel& w = run.window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.app().switcher()->fastSwitching(); }, 15000));
    w.menu().Bouquets1->actions().value(1)->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.menu().SubChannels1->menuAction()->isVisible() && !run.app().switcher()->fastSwitching(); },
        15000));
    EXPECT_EQ(run.app().session().AktChannel->Id, QStringLiteral("85000300008"));
    EXPECT_EQ(w.menu().SubChannels1->actions().size(), 3);
    const QByteArray log = run.log();
    EXPECT_TRUE(log.contains("THREAD, zap request http://127.29.1.2:80/control/zapto?getallsubchannels (HTTP/1.0 200"))
        << "asked on the worker thread";
    EXPECT_FALSE(log.contains("HTTP  , http://127.29.1.2:80/control/zapto?getallsubchannels"))
        << "asked on the window thread";
}

#pragma once

// The whole program in online mode, built as main() builds it, in a real X window, against the
// simulator and a remote VLC on one loopback address.
#include "programrun.h"

#include "ui/appcontroller.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/vlcapi.h"
#include "ui/mainwindow.h"
#include "ui/splash.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// QString in test failures as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class OnlineFixture : public ::testing::Test {
public:
    // Request targets of a simulator service, percent-decoded.
    static QStringList decoded(const QStringList& targets) {
        QStringList out;
        for (const QString& t : targets)
            out.append(QString::fromUtf8(QByteArray::fromPercentEncoding(t.toUtf8())));
        return out;
    }

protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (xcb)";
    }
    void TearDown() override {
        if (m_run && m_run->launched())
            window().close();
        m_run.reset();
    }
    // Settings for box, remote VLC and its stream on one address; `extra` lines go into [General]
    // before the rest, `tail` after it.
    static QByteArray ini(const QString& address, const QByteArray& mode, const QByteArray& extra = {},
                          const QByteArray& tail = {}) {
        const QByteArray a = address.toLatin1();
        return "[General]\nmode=" + mode + "\nip_inet=" + a + "\nip_pc=" + a + "\n" + extra + "[D-Box2]\nip_lan=" + a +
               "\ndboxport=80\n[VLC]\nvlcip=" + a +
               "\nvlcport=8080\nstreamport_http=31331\nstreamport_udp=31330\ncacheonline=1000\ncachelive=1000\n"
               "[Online Stream]\nvcodec=mp2v\nvbitrate=800\nvscale=0,5\nacodec=mpga\nabitrate=96\nachannels=2\n" +
               tail;
    }

    // Writes the settings, builds the program and runs its start; the first switch follows at the
    // first activation.
    ConnectionOutcome start(const QByteArray& settings) {
        const ConnectionOutcome out = m_run->launch(settings);
        if (!QTest::qWaitForWindowExposed(&window(), 5000))
            ADD_FAILURE() << "the window does not show";
        return out;
    }
    // The first switch has run and the engine plays.
    ::testing::AssertionResult firstSwitchPlays() {
        if (!QTest::qWaitFor([&] { return app().playerInitialised() && !IsStarting && !IsSwitching; }, 30000))
            return ::testing::AssertionFailure() << "the first switch did not run";
        if (!QTest::qWaitFor([&] { return app().player().isPlaying(); }, 30000))
            return ::testing::AssertionFailure() << "nothing plays: " << status().toStdString();
        return ::testing::AssertionSuccess();
    }

    quoxel::TFrmQuoxel& window() { return m_run->window(); }
    quoxel::AppController& app() { return m_run->app(); }
    QString status() { return window().statusPanel(0)->text().trimmed(); }

    // A channel of the shown bouquet chosen in the "Channels" menu: the switch runs in there.
    bool chooseChannel(const QString& name) {
        for (QAction* a : window().menu().Channels1->actions()) {
            // "2. ZDF", "4. Radio: Bayern 3"
            QString caption = a->text().section(QStringLiteral(". "), 1);
            if (caption.startsWith(QLatin1String("Radio: ")))
                caption = caption.mid(7);
            if (caption == name) {
                a->trigger();
                return true;
            }
        }
        return false;
    }

    // The test picture on the screen, and moving: many colours, and two looks a moment apart differ.
    ::testing::AssertionResult movingPicture(int timeoutMs = 30000) {
        QElapsedTimer t;
        t.start();
        int seen = 0;
        double moved = 0;
        while (t.elapsed() < timeoutMs) {
            const QImage a = grabScreen(window().Video());
            QTest::qWait(400);
            const QImage b = grabScreen(window().Video());
            seen = colourCount(b);
            moved = pictureDifference(a, b);
            if (seen > 8 && moved > 0.5)
                return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "colours " << seen << ", moved " << moved << ", " << status().toStdString();
    }

    // Quoxel.log from a mark on.
    static qint64 logMark() { return QFile(appLogger().filePath()).size(); }
    static QString logSince(qint64 mark) {
        QFile f(appLogger().filePath());
        if (!f.open(QIODevice::ReadOnly) || !f.seek(mark))
            return QString();
        return QString::fromUtf8(f.readAll());
    }

    // The simulator with its remote-VLC stand-in; it outlives the program, whose close stops it.
    ::testing::AssertionResult startSim(const QString& address, const QStringList& args = {}) {
        m_run = std::make_unique<ProgramRun>(address,
                                             QStringList{QStringLiteral("--telnet-port"), QStringLiteral("0")} + args);
        return m_run->startSim();
    }
    BoxSimProcess& sim() { return m_run->sim(); }
    TestDir& dir() { return m_run->dir(); }
    QStringList vlcTargets() { return decoded(sim().requestTargets(QStringLiteral("vlc"))); }

    std::unique_ptr<ProgramRun> m_run;
};

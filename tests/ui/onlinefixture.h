#pragma once

// The whole program in online mode, built as main() builds it, in a real X window, against the
// simulator and a remote VLC on one loopback address.
#include "ui/appcontroller.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/vlcapi.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/mainwindow.h"
#include "ui/program.h"
#include "ui/splash.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>

// QString in test failures as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class OnlineFixture : public ::testing::Test {
public:
    static void resetFlags() {
        Options = TOptions{};
        IsClosing = false;
        IsStarting = false;
        IsSwitching = false;
        EPGAbort = false;
    }
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
        resetFlags();
    }
    void TearDown() override {
        if (m_program)
            m_program->window().close();
        m_program.reset();
        m_sim.reset();
        resetFlags();
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
        if (!m_dir.write(QStringLiteral("Quoxel.ini"), settings))
            return ConnectionOutcome::NoConnection;
        m_program = std::make_unique<quoxel::QuoxelProgram>(m_dir.path(QStringLiteral("Quoxel.ini")));
        const ConnectionOutcome out = m_program->start();
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

    quoxel::TFrmQuoxel& window() { return m_program->window(); }
    quoxel::AppController& app() { return m_program->controller(); }
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

    // The video panel as the screen shows it.
    QImage grabVideo() {
        quoxel::TFrmQuoxel& w = window();
        const QPoint origin = w.Video()->mapToGlobal(QPoint(0, 0));
        return w.screen()->grabWindow(0, origin.x(), origin.y(), w.Video()->width(), w.Video()->height()).toImage();
    }
    static int colours(const QImage& img) {
        QSet<QRgb> seen;
        for (int y = 0; y < img.height(); y += 4)
            for (int x = 0; x < img.width(); x += 4)
                seen.insert(img.pixel(x, y) & 0xf0f0f0);
        return int(seen.size());
    }
    // Mean difference per colour channel of two pictures brought down to 32x24.
    static double difference(const QImage& a, const QImage& b) {
        const QImage x = a.scaled(32, 24, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage y = b.scaled(32, 24, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        double sum = 0;
        for (int j = 0; j < 24; ++j)
            for (int i = 0; i < 32; ++i) {
                const QRgb p = x.pixel(i, j);
                const QRgb q = y.pixel(i, j);
                sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
            }
        return sum / (32 * 24 * 3);
    }
    // The test picture on the screen, and moving: many colours, and two looks a moment apart differ.
    ::testing::AssertionResult movingPicture(int timeoutMs = 30000) {
        QElapsedTimer t;
        t.start();
        int seen = 0;
        double moved = 0;
        while (t.elapsed() < timeoutMs) {
            const QImage a = grabVideo();
            QTest::qWait(400);
            const QImage b = grabVideo();
            seen = colours(b);
            moved = difference(a, b);
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
        m_sim = std::make_unique<BoxSimProcess>(
            address, QStringList{QStringLiteral("--telnet-port"), QStringLiteral("0")} + args);
        if (!m_sim->start())
            return ::testing::AssertionFailure() << m_sim->stderrText().toStdString();
        return ::testing::AssertionSuccess();
    }
    BoxSimProcess& sim() { return *m_sim; }
    QStringList vlcTargets() { return decoded(m_sim->requestTargets(QStringLiteral("vlc"))); }

    TestDir m_dir;
    std::unique_ptr<BoxSimProcess> m_sim;
    std::unique_ptr<quoxel::QuoxelProgram> m_program;
};

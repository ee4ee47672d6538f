#pragma once

#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/program.h"

#include <QImage>
#include <QRect>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace quoxel {
class AppController;
class TFrmQuoxel;
} // namespace quoxel
class QWidget;
class VlcLibrary;

// The program as a user starts it, against the simulator on its own loopback address: the ini
// written first, QuoxelProgram built and started as main() does it. The scenarios drive it with keys,
// clicks and menu actions. Test thread (the UI thread).
class ProgramRun {
public:
    explicit ProgramRun(const QString& address, QStringList simArgs = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // The program's global flags as at a start; each test begins and ends with them so.
    static void resetFlags();
    // Full screen, "always on top" and activation are a window manager's to grant: without one on
    // the display, openbox runs for as long as the test program does.
    static void ensureWindowManager();

    // The simulator alone; dataJson, when given, is its data set.
    ::testing::AssertionResult startSim(const QByteArray& dataJson = {});
    // The usual settings: [General] with `general`, the receiver on the simulator, then `sections`.
    QByteArray settings(const QByteArray& general, const QByteArray& sections = {}) const;
    // Writes the settings file, builds the program and runs its start; no wait after it.
    ConnectionOutcome launch(const QByteArray& ini, VlcLibrary* library = nullptr);
    // The window shown, the first switch run and the engine playing.
    ::testing::AssertionResult playing(int timeoutMs = 20000);
    // All of it with a window manager: "mode=live" and `extraIni` in [General] (more sections may
    // follow in it), then until the picture plays.
    ::testing::AssertionResult start(const QByteArray& extraIni = {}, const QByteArray& dataJson = {});

    BoxSimProcess& sim() { return *m_sim; }
    TestDir& dir() { return m_dir; }
    quoxel::QuoxelProgram& program() { return *m_program; }
    bool launched() const { return m_program != nullptr; }
    void end() { m_program.reset(); }
    quoxel::TFrmQuoxel& window();
    quoxel::AppController& app();
    // The request targets the receiver has had since the last clearRequests(), without the
    // programme-guide requests of the background walk and the recording look of the clock tick.
    QStringList requests();
    // Waits up to timeoutMs for a request target to arrive.
    bool waitForRequest(const QString& target, int timeoutMs = 10000);
    // Quoxel.log as written so far (beside the test program, shared by its tests).
    QByteArray log() const;

private:
    QString m_address;
    QStringList m_simArgs;
    std::unique_ptr<BoxSimProcess> m_sim;
    TestDir m_dir;
    std::unique_ptr<quoxel::QuoxelProgram> m_program;
};

// What the screen shows where the widget lies (whatever window is on top there).
QImage grabScreen(const QWidget* widget);
// What the screen shows in a rectangle of global coordinates.
QImage screenAt(const QRect& global);
// Mean difference per colour channel (0..255) of two pictures brought down to 32x24: a picture against
// itself stays low, against another scene or a part of it drawn larger it does not.
double pictureDifference(const QImage& a, const QImage& b);
// Distinct colours (to 4 bits a channel) among sampled pixels: a test picture has many, a plain panel one.
int colourCount(const QImage& image);
// The share (0..1) of sampled pixels within `tolerance` per channel of the colour.
double shareOfColour(const QImage& image, QRgb colour, int tolerance = 8);
// Waits, bounded, until the screen where the widget lies holds at least `least` of the colour; the
// last share seen. A loaded machine may take seconds to draw; the wait ends at the first good picture.
double awaitShareOfColour(const QWidget* widget, QRgb colour, int tolerance, double least, int timeoutMs = 10000);
// The screen where the widget lies once two grabs 100 ms apart agree (bounded), so a picture still
// being drawn is not the one measured. For checks that something is absent.
QImage settledGrab(const QWidget* widget, int timeoutMs = 5000);
// A window manager runs on the display (full screen, minimise and activation need one).
bool windowManagerRunning();
// The zaps to a channel among request targets (not the read-backs or PID and sub-channel queries).
QStringList zaps(const QStringList& requests);

#include "programrun.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/options.h"
#include "core/programdir.h"
#include "support/appstate.h"
#include "ui/appcontroller.h"
#include "ui/mainwindow.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Started when the display has no window manager; ended with the test program.
class WindowManager {
public:
    static void ensure() { static WindowManager wm; }

private:
    WindowManager() {
        if (windowManagerRunning())
            return;
        char arg0[] = "openbox";
        char arg1[] = "--sm-disable";
        char* argv[] = {arg0, arg1, nullptr};
        if (posix_spawnp(&m_pid, "openbox", nullptr, nullptr, argv, environ) != 0) {
            m_pid = -1;
            fprintf(stderr, "no window manager on the display and openbox not started\n");
            return;
        }
        for (int i = 0; i < 100 && !windowManagerRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~WindowManager() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    pid_t m_pid = -1;
};

} // namespace

ProgramRun::ProgramRun(const QString& address, QStringList simArgs)
    : m_address(address)
    , m_simArgs(std::move(simArgs)) {
    resetFlags();
}

ProgramRun::~ProgramRun() {
    m_program.reset();
    m_sim.reset();
    resetFlags();
}

void ProgramRun::resetFlags() {
    ScopedAppState::reset();
    IsPaused = false;
    // A close leaves the abort mark when no walk was running.
    EPGAbort = false;
}

void ProgramRun::ensureWindowManager() {
    WindowManager::ensure();
}

::testing::AssertionResult ProgramRun::startSim(const QByteArray& dataJson) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return ::testing::AssertionFailure() << "needs an X display (xcb)";
    QStringList args = m_simArgs;
    if (!dataJson.isEmpty()) {
        if (!m_dir.write(QStringLiteral("data.json"), dataJson))
            return ::testing::AssertionFailure() << "data set not written";
        args << QStringLiteral("--data") << m_dir.path(QStringLiteral("data.json"));
    }
    m_sim = std::make_unique<BoxSimProcess>(m_address, args);
    if (!m_sim->start())
        return ::testing::AssertionFailure() << m_sim->stderrText().toStdString();
    return ::testing::AssertionSuccess();
}

QByteArray ProgramRun::settings(const QByteArray& general, const QByteArray& sections) const {
    QByteArray ini = "[General]\n" + general;
    if (!ini.endsWith('\n'))
        ini += '\n';
    return ini + "[D-Box2]\nip_lan=" + m_address.toLatin1() + "\ndboxport=80\n" + sections;
}

ConnectionOutcome ProgramRun::launch(const QByteArray& ini, VlcLibrary* library) {
    if (!m_dir.write(QStringLiteral("Quoxel.ini"), ini)) {
        ADD_FAILURE() << "settings file not written";
        return ConnectionOutcome::NoConnection;
    }
    m_program = std::make_unique<quoxel::QuoxelProgram>(m_dir.path(QStringLiteral("Quoxel.ini")), library);
    return m_program->start();
}

::testing::AssertionResult ProgramRun::playing(int timeoutMs) {
    quoxel::TFrmQuoxel& w = m_program->window();
    if (!QTest::qWaitForWindowExposed(&w, 5000))
        return ::testing::AssertionFailure() << "window not shown";
    if (!QTest::qWaitFor([&] { return m_program->controller().playerInitialised(); }, 10000))
        return ::testing::AssertionFailure() << "no first activation";
    if (!QTest::qWaitFor([&] { return !IsStarting && m_program->controller().player().isPlaying(); }, timeoutMs))
        return ::testing::AssertionFailure() << "nothing plays: " << w.statusPanel(0)->text().toStdString();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ProgramRun::start(const QByteArray& extraIni, const QByteArray& dataJson) {
    ensureWindowManager();
    if (auto simStarted = startSim(dataJson); !simStarted)
        return simStarted;
    // extraIni may bring sections of its own: the receiver's is written after a line break.
    if (launch(settings("mode=live\n" + extraIni + "\n")) != ConnectionOutcome::Connected)
        return ::testing::AssertionFailure() << "not connected";
    return playing();
}

quoxel::TFrmQuoxel& ProgramRun::window() {
    return m_program->window();
}

quoxel::AppController& ProgramRun::app() {
    return m_program->controller();
}

QStringList ProgramRun::requests() {
    QStringList out = m_sim->requestTargets();
    // The programme-guide walk and the clock tick's look for a recording run on their own time.
    out.removeIf([](const QString& target) {
        return target.startsWith(QLatin1String("/control/epg")) || target == QLatin1String("/control/setmode?status");
    });
    return out;
}

bool ProgramRun::waitForRequest(const QString& target, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_sim->requestTargets().contains(target); }, timeoutMs);
}

QStringList zaps(const QStringList& requests) {
    QStringList out;
    for (const QString& r : requests)
        if (r.startsWith(QLatin1String("/control/zapto?")) && !r.contains(QLatin1String("get")))
            out << r;
    return out;
}

QByteArray ProgramRun::log() const {
    QFile file(AppDir() + QStringLiteral("Quoxel.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage screenAt(const QRect& global) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, global.x(), global.y(), global.width(), global.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

double pictureDifference(const QImage& a, const QImage& b) {
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

int colourCount(const QImage& image) {
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            seen.insert(image.pixel(x, y) & 0xf0f0f0);
    return int(seen.size());
}

QImage grabScreen(const QWidget* widget) {
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen->grabWindow(0, origin.x(), origin.y(), widget->width(), widget->height()).toImage();
}

double shareOfColour(const QImage& image, QRgb colour, int tolerance) {
    int hits = 0;
    int n = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb p = image.pixel(x, y);
            hits += std::abs(qRed(p) - qRed(colour)) <= tolerance &&
                    std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
                    std::abs(qBlue(p) - qBlue(colour)) <= tolerance;
            ++n;
        }
    return n ? double(hits) / n : 0;
}

double awaitShareOfColour(const QWidget* widget, QRgb colour, int tolerance, double least, int timeoutMs) {
    double share = 0;
    (void)QTest::qWaitFor(
        [&] {
            share = shareOfColour(grabScreen(widget), colour, tolerance);
            return share >= least;
        },
        timeoutMs);
    return share;
}

QImage settledGrab(const QWidget* widget, int timeoutMs) {
    QImage last = grabScreen(widget);
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTest::qWait(100);
        QImage next = grabScreen(widget);
        if (next == last)
            return next;
        last = std::move(next);
    }
    return last;
}

bool windowManagerRunning() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return false;
    }
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
    bool running = false;
    if (atom && atom->atom != XCB_ATOM_NONE) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_get_property_reply_t* prop =
            xcb_get_property_reply(c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
        running = prop && xcb_get_property_value_length(prop) == 4;
        free(prop);
    }
    free(atom);
    xcb_disconnect(c);
    return running;
}

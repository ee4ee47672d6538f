#include "ui/program.h"

#include "core/appflags.h"
#include "core/log.h"
#include "ui/appcontroller.h"
#include "ui/appinput.h"
#include "ui/mainwindow.h"

#include <QTimer>

#include <exception>

namespace quoxel {

QuoxelProgram::QuoxelProgram(const QString& iniPath, VlcLibrary* library)
    : m_window(std::make_unique<TFrmQuoxel>())
    , m_controller(std::make_unique<AppController>(*m_window, library)) {
    if (!iniPath.isEmpty())
        m_controller->setIniPath(iniPath);
    // The hook goes in with the window, before the connection sequence lets messages run.
    m_input = std::make_unique<AppInput>(*m_window, *m_controller);
}

QuoxelProgram::~QuoxelProgram() {
    m_input.reset();
    m_controller.reset();
    m_window.reset();
}

ConnectionOutcome QuoxelProgram::start(int activationFallbackMs) {
    ConnectionOutcome outcome = ConnectionOutcome::NoConnection;
    try {
        outcome = m_controller->FormCreate();
    } catch (const std::exception& e) {
        Log(LogFunc, QStringLiteral("connection sequence: ") + QString::fromLocal8Bit(e.what()));
    }
    m_controller->FormShow();
    m_window->show();
    m_window->activateWindow();
    AppController* controller = m_controller.get();
    QTimer::singleShot(activationFallbackMs, controller, [controller] {
        if (IsStarting && !IsClosing)
            controller->lifecycle().FormActivate();
    });
    return outcome;
}

} // namespace quoxel

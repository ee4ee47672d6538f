#pragma once

#include "core/connection.h"

#include <QString>

#include <memory>

class VlcLibrary;

namespace quoxel {

class AppController;
class AppInput;
class TFrmQuoxel;

// The whole program as a user starts it: main window, controller and the application-wide input
// filter, built in that order and torn down in reverse. main() and the program-level tests build
// it through this one class, so a test drives exactly what a user runs. UI thread.
class QuoxelProgram {
public:
    // iniPath: where Quoxel.ini is read; empty means beside the program (or ~/.config/Quoxel).
    // library: the engine's binding, the system's libvlc unless given (one that cannot be loaded
    // shows what a PC without VLC gets).
    explicit QuoxelProgram(const QString& iniPath = {}, VlcLibrary* library = nullptr);
    ~QuoxelProgram();
    QuoxelProgram(const QuoxelProgram&) = delete;
    QuoxelProgram& operator=(const QuoxelProgram&) = delete;

    // The connection sequence, the first show and activation, as at a user's start. Without a
    // window manager no activation event comes; the first one then runs after activationFallbackMs.
    ConnectionOutcome start(int activationFallbackMs = 500);

    TFrmQuoxel& window() { return *m_window; }
    AppController& controller() { return *m_controller; }
    AppInput& input() { return *m_input; }

private:
    std::unique_ptr<TFrmQuoxel> m_window;
    std::unique_ptr<AppController> m_controller;
    std::unique_ptr<AppInput> m_input;
};

} // namespace quoxel

#pragma once

#include <QString>

class SettingsStore;

// The small interfaces through which core reaches the windows above it. The main window and
// its dialogs implement them; tests pass recording fakes.

// Receives the three panel texts of the status line.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void showStatus(const QString& message, const QString& modeName, const QString& stamp) = 0;
};

// Shows the options dialog modally on the very first start, before anything connects.
class FirstStartDialog {
public:
    virtual ~FirstStartDialog() = default;
    // The store's values hold the first-start offer. Returns true on OK (the dialog has then
    // saved the settings), false on Cancel.
    virtual bool runFirstStart(SettingsStore& store) = 0;
};

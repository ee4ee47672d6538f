#pragma once

#include "core/log.h"
#include "core/ports.h"

#include <QStringList>

// The status line's texts while it lives, in order, without the blank the panel pads them with;
// also those the next text replaces at once. Each is handed on to `shown` (the window's status
// bar) when one is given, which gets the status line back at the end.
class StatusTrail : public StatusSink {
public:
    explicit StatusTrail(StatusSink* shown = nullptr)
        : m_shown(shown) {
        setStatusSink(this);
    }
    ~StatusTrail() override { setStatusSink(m_shown); }
    StatusTrail(const StatusTrail&) = delete;
    StatusTrail& operator=(const StatusTrail&) = delete;

    void showStatus(const QString& message, const QString& modeName, const QString& stamp) override {
        texts << message.trimmed();
        if (m_shown)
            m_shown->showStatus(message, modeName, stamp);
    }

    QStringList texts;

private:
    StatusSink* m_shown;
};

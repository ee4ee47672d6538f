#pragma once

#include "box/bouquets.h"

#include <optional>

// Whether the receiver records, as "/control/setmode?status" tells ("on" while it does, "off"
// otherwise). While it records, the receiver shrinks its bouquet and channel lists to the recorded
// transponder and stores, but does not tune, a zap to another one. UI thread.
class RecordWatch {
public:
    // How long the window waits for the receiver's answer to one look.
    static constexpr int kTimeoutSec = 2;

    // request: the receiver request with the short time-out (BoxClient::ShortRequest).
    explicit RecordWatch(BoxRequestFn request);

    // Asks the receiver. True when the answer differs from the last known state; the first answer
    // and an answer that is neither "on" nor "off" (none, garbage) change nothing.
    bool check();
    bool recording() const { return m_recording.value_or(false); }
    // Forgets the state, for a new connection.
    void reset() { m_recording.reset(); }

private:
    BoxRequestFn m_request;
    std::optional<bool> m_recording;
};

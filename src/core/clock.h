#pragma once

#include <QDateTime>

// Source of "now" for everything in core that stamps or measures time; tests install their own.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The clock in force; never null. Not owned when set by a test.
    static const Clock& current();
    static void setCurrent(const Clock* clock);
};

// A clock tests set and advance by hand.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start)
        : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }
    void set(QDateTime t) { m_now = std::move(t); }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};

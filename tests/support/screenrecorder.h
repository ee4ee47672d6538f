#pragma once

#include <QImage>
#include <QList>
#include <QRect>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

// Pictures of one screen area, taken every 15 ms on a thread of its own over an X connection of
// its own, so they come in while the window's thread is busy and could not take them itself. Only
// pictures that differ from the one before are kept. Stops after 30 s at the latest.
class ScreenRecorder {
public:
    explicit ScreenRecorder(const QRect& globalArea);
    ~ScreenRecorder();
    ScreenRecorder(const ScreenRecorder&) = delete;
    ScreenRecorder& operator=(const ScreenRecorder&) = delete;

    // Ends the recording and returns its pictures.
    QList<QImage> stop();

private:
    void run();

    QRect m_area;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    QList<QImage> m_frames;
    std::thread m_thread;
};

#include "support/screenrecorder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>

ScreenRecorder::ScreenRecorder(const QRect& globalArea)
    : m_area(globalArea)
    , m_thread([this] { run(); }) {}

ScreenRecorder::~ScreenRecorder() {
    stop();
}

QList<QImage> ScreenRecorder::stop() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    return m_frames;
}

void ScreenRecorder::run() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    for (int i = 0; i < 2000 && !m_stop; ++i) {
        XImage* img = XGetImage(display, DefaultRootWindow(display), m_area.x(), m_area.y(), unsigned(m_area.width()),
                                unsigned(m_area.height()), AllPlanes, ZPixmap);
        if (img) {
            const QImage frame = QImage(reinterpret_cast<const uchar*>(img->data), m_area.width(), m_area.height(),
                                        img->bytes_per_line, QImage::Format_RGB32)
                                     .copy();
            XDestroyImage(img);
            std::lock_guard lock(m_mutex);
            if (m_frames.isEmpty() || m_frames.last() != frame)
                m_frames.append(frame);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    XCloseDisplay(display);
}

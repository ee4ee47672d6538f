#pragma once

class QWidget;

// The window's entry in the desktop's task list (EWMH _NET_WM_STATE_SKIP_TASKBAR on X11). Without
// an X11 display both do nothing: setTaskbarEntryVisible returns false, taskbarEntryVisible true.
bool setTaskbarEntryVisible(QWidget& window, bool visible);
bool taskbarEntryVisible(QWidget& window);

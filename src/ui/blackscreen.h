#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

namespace quoxel {

// Black full-screen backdrop that hides the desktop while a stream restarts; UI thread.
class TFrmBlackScreen : public QWidget {
    Q_OBJECT
public:
    explicit TFrmBlackScreen(QWidget* parent = nullptr);

    // Runs when the backdrop timer expires and the programme info should take over the screen.
    void setShowEpgInfo(std::function<bool()> enabled, std::function<void()> showInfo);

    void StartBackdropTimer();
    QTimer& TimerShow() { return m_timerShow; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void onTimerShow();

    QTimer m_timerShow;
    std::function<bool()> m_showEpgEnabled;
    std::function<void()> m_showEpgInfo;
};

} // namespace quoxel

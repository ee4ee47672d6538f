#pragma once

#include "ui/osd.h"

class QProgressBar;

namespace quoxel {

class OsdController;

// TFrmOSD_Info: the info bar at the bottom of the screen with channel, now and next, durations,
// progress, clock, stream facts and volume. UI thread.
class TFrmOSD_Info : public TFrmOSD {
    Q_OBJECT
public:
    TFrmOSD_Info(OsdHost& host, OsdController& controller, QWidget* parent = nullptr);

    void FillInfo(const TChannelRef& channel);
    void ShowNow() override;

    QLabel* LblChannel() const { return m_lblChannel; }
    QLabel* LblInfo() const { return m_lblInfo; }
    QLabel* LblTime() const { return m_lblTime; }
    QLabel* LblDurCurr() const { return m_lblDurCurr; }
    QLabel* LblDurNext() const { return m_lblDurNext; }
    QLabel* LblStats() const { return m_lblStats; }
    QLabel* Logo() const { return m_logo; }
    QWidget* CmbEPGBar() const { return m_bar; }
    QProgressBar* Volume() const { return m_volume; }
    // Counts text assignments of the refresh (tests: nothing that stayed the same is set again).
    int textAssignments() const { return m_assignments; }

protected:
    void prepareShow() override;
    void refreshTick() override;
    void buildLayout() override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void set(QLabel* label, const QString& text);

    OsdController& m_controller;
    QLabel* m_lblChannel = nullptr;
    QLabel* m_lblInfo = nullptr;
    QLabel* m_lblTime = nullptr;
    QLabel* m_lblDurCurr = nullptr;
    QLabel* m_lblDurNext = nullptr;
    QLabel* m_lblStats = nullptr;
    QLabel* m_logo = nullptr;
    QWidget* m_bar = nullptr;
    QProgressBar* m_volume = nullptr;
    const TChannel* m_logoOf = nullptr;
    int m_assignments = 0;
};

} // namespace quoxel

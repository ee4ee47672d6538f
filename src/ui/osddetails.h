#pragma once

#include "ui/osd.h"

class QPlainTextEdit;

namespace quoxel {

class OsdController;

// TFrmOSD_Details: the full text of one programme, paged through a channel's list and across the
// channels of the bouquet. UI thread.
class TFrmOSD_Details : public TFrmOSD {
    Q_OBJECT
public:
    TFrmOSD_Details(OsdHost& host, OsdController& controller, QWidget* parent = nullptr);

    void OpenDetailsOSD(const TChannelRef& channel, bool autoHide);
    void CloseDetailsOSD();
    void FillDetails(const TChannelRef& channel, int k);

    void PnlEpgPrevClick();
    void PnlEpgNextClick();
    void ChanUp() { chanStep(-1); }
    void ChanDown() { chanStep(+1); }
    void PnlEPGCloseClick();

    int32_t ShownIndex = 0;
    TChannelRef DetailsChannel;

    QLabel* LblTitle() const { return m_lblTitle; }
    QLabel* LblInfo1() const { return m_lblInfo1; }
    QPlainTextEdit* MmoInfo2() const { return m_memo; }
    QLabel* LblEPGTime() const { return m_lblTime; }
    QLabel* LblEPGDate() const { return m_lblDate; }

protected:
    void prepareShow() override;
    void refreshTick() override;
    void buildLayout() override;

private:
    void chanStep(int d);

    OsdController& m_controller;
    QWidget* m_panel = nullptr;
    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblInfo1 = nullptr;
    QPlainTextEdit* m_memo = nullptr;
    QLabel* m_lblTime = nullptr;
    QLabel* m_lblDate = nullptr;
};

} // namespace quoxel

#include "box/records.h"

void TChannelProgram::Clear() {
    EventId.clear();
    StartDate.clear();
    StartClock.clear();
    DurationSec.clear();
    DurationMin.clear();
    ElapsedMin.clear();
    Info1.clear();
    Info2.clear();
    StartTime = 0;
    EndTime = 0;
    StartSec = 0;
    EndSec = 0;
    Title = kUnknownTitle;
}

TChannel::TChannel() {
    NowEPG.Title = TChannelProgram::kUnknownTitle;
    NextEPG.Title = TChannelProgram::kUnknownTitle;
}

const TChannelProgram* TChannel::slot(int k) const {
    if (k < 0 || k >= EPG.size())
        return nullptr;
    return &EPG[k];
}

void TChannel::Clear() {
    EPGLoaded = false;
    NowEPG.Clear();
    NextEPG.Clear();
    for (TChannelProgram& p : EPG)
        p.Clear();
}

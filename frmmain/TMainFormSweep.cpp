// Start and Stop, and the hand-off between the sweep worker and the window.
#include "frmmain/TMainForm.h"

void TMainForm::btnStartClick()
{
}

void TMainForm::StartComThread()
{
}

void TMainForm::StopComThread()
{
    if (ComThread == nullptr)
        return;
}

void TMainForm::CopySweepSettings()
{
}

void TMainForm::HandOverSweep(const uint8_t*)
{
}

void TMainForm::WMSweepDone()
{
    DataShown = true;
    RecomputeAndRedraw();
}

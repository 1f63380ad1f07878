// Entry of the sweep settings, band presets, analyser model and the L/C calculator inputs.
#include "frmmain/TMainForm.h"

void TMainForm::eFstartEndKeyPress(char&)
{
}

void TMainForm::eFstartExit()
{
}

void TMainForm::eFendExit()
{
}

void TMainForm::eDDSFreqKeyPress(char&)
{
}

void TMainForm::eStepsExit()
{
}

void TMainForm::eDDSFreqExit()
{
}

void TMainForm::eCalRLKeyPress(char&)
{
}

void TMainForm::eCalRLExit()
{
}

void TMainForm::eCorLKeyPress(char&)
{
}

void TMainForm::eCorLExit()
{
}

void TMainForm::eCorL2KeyPress(char&)
{
}

void TMainForm::eCorL2Exit()
{
}

void TMainForm::rbCalcLClick()
{
}

void TMainForm::rbCalcL2Click()
{
}

void TMainForm::VNASelectChange()
{
}

void TMainForm::N130MHz1Click()
{
}

void TMainForm::N1180Mhz1Click()
{
}

void TMainForm::N1500MHz1Click()
{
}

void TMainForm::N160M1Click()
{
}

void TMainForm::N80M1Click()
{
}

void TMainForm::N40M1Click()
{
}

void TMainForm::N30M1Click()
{
}

void TMainForm::N20M1Click()
{
}

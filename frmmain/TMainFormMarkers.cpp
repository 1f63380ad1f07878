// Markers set with the mouse, zoom to the markers, and the picture and CSV files.
#include "frmmain/TMainForm.h"

void TMainForm::panelMouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
}

void TMainForm::btnZoomClick()
{
}

void TMainForm::BMPSaveClick()
{
}

void TMainForm::Button1Click()
{
}

#include "frmmain/TComboBox.h"

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {}

void TComboBox::showPopup()
{
    emit DropDown();
    QComboBox::showPopup();
}

#pragma once
// Drop-down list with the event the window's port list expects: DropDown just before the
// list opens, so that its handler can fill it anew first.
#include <QComboBox>

class TComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComboBox(QWidget* parent = nullptr);

    void showPopup() override;

signals:
    void DropDown();
};

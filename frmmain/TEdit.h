#pragma once
// Single-line edit with the two events the window's handlers expect: Exit when the
// focus moves to another control of the window, and KeyPress before a typed character
// is applied (the handler may change the character, or set it to 0 to discard it).
#include <QLineEdit>

class QFocusEvent;
class QKeyEvent;

class TEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEdit(QWidget* parent = nullptr);

signals:
    void Exit();
    void KeyPress(char& key);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

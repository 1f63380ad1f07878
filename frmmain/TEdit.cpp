#include "frmmain/TEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace {

// The single-byte character a key press types: a printable Latin-1 character, or a
// control code (Backspace 8, Enter 13, Escape 27, Ctrl+letter 1..26). Characters outside
// Latin-1 become 127, which no filter lets through. 0 when the key types nothing: the
// editing keys (Delete, Insert, Home, End, the arrows) go to the line edit unfiltered,
// whatever text the platform gives them (X11 gives Delete the text 127, Windows none;
// Windows gives Ctrl+Backspace the text 127).
char TypedChar(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    if (mods == Qt::ControlModifier && event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z)
        return static_cast<char>(event->key() - Qt::Key_A + 1);
    if (event->key() == Qt::Key_Delete)
        return 0;
    const QString text = event->text();
    if (text.size() == 1) {
        const char16_t c = text.at(0).unicode();
        if (c == 0x7f)
            return 0;
        if (c != 0)
            return c < 256 ? static_cast<char>(c) : '\x7f';
    }
    switch (event->key()) {
    case Qt::Key_Backspace: return '\b';
    case Qt::Key_Return:
    case Qt::Key_Enter: return '\r';
    case Qt::Key_Escape: return '\x1b';
    default: break;
    }
    return 0;
}

} // namespace

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

void TEdit::keyPressEvent(QKeyEvent* event)
{
    const char typed = TypedChar(event);
    if (typed == 0) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    char key = typed;
    emit KeyPress(key);
    if (key == 0) {
        event->accept();
        return;
    }
    if (key == typed || static_cast<unsigned char>(key) < 32) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    insert(QString(QChar(static_cast<char16_t>(static_cast<unsigned char>(key)))));
    event->accept();
}

void TEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another window (a message box, a menu) taking the focus is not leaving the field.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit Exit();
}

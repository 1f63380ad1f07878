// The edit's KeyPress and Exit events, which the window's key filters and exit handlers use.
#include <QFocusEvent>
#include <QKeyEvent>

#include <vector>

#include "frmmain/FormFixture.h"
#include "frmmain/TEdit.h"

namespace {

void Type(TEdit& edit, Qt::Key key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&edit, &press);
}

} // namespace

TEST(TEdit, FilterSeesEachKeyBeforeTheTextAndMayReplaceOrDropIt)
{
    TEdit edit;
    std::vector<int> seen;
    QStringList textWhenSeen;
    // Digits and control codes pass, ',' becomes '.', anything else is dropped.
    QObject::connect(&edit, &TEdit::KeyPress, &edit, [&](char& key) {
        seen.push_back(static_cast<unsigned char>(key));
        textWhenSeen << edit.text();
        if (key == ',')
            key = '.';
        else if (!(key >= '0' && key <= '9') && static_cast<unsigned char>(key) >= 32)
            key = 0;
    });
    Type(edit, Qt::Key_1, "1");
    Type(edit, Qt::Key_Comma, ",");
    Type(edit, Qt::Key_5, "5");
    Type(edit, Qt::Key_A, "a");
    EXPECT_EQ(edit.text(), "1.5");
    EXPECT_EQ(textWhenSeen, QStringList({"", "1", "1.", "1.5"}));
    // A character outside the single-byte set reaches the filter as one it rejects.
    Type(edit, Qt::Key_unknown, QString(QChar(0x20AC)));
    EXPECT_EQ(edit.text(), "1.5");
    // Control keys arrive as their codes: Backspace 8, Ctrl+A 1, Enter 13.
    Type(edit, Qt::Key_Backspace, QString());
    Type(edit, Qt::Key_A, "a", Qt::ControlModifier);
    Type(edit, Qt::Key_Return, "\r");
    EXPECT_EQ(seen, (std::vector<int>{'1', ',', '5', 'a', 0x7f, 8, 1, 13}));
    EXPECT_EQ(edit.selectedText(), "1.");
}

TEST(TEdit, ExitOnlyWhenTheFocusMovesWithinTheWindow)
{
    TEdit edit;
    int exits = 0;
    QObject::connect(&edit, &TEdit::Exit, &edit, [&] { ++exits; });
    // A message box or a menu taking the focus is not leaving the field.
    for (Qt::FocusReason reason : {Qt::TabFocusReason, Qt::BacktabFocusReason, Qt::MouseFocusReason,
                                   Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(&edit, &out);
    }
    EXPECT_EQ(exits, 3);
}

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }

// The edit's KeyPress and Exit events, which the window's key filters and exit handlers use.
#include <QFocusEvent>
#include <QKeyEvent>

#include <vector>

#include "frmmain/FormFixture.h"
#include "frmmain/TEdit.h"

namespace {

void Type(TEdit& edit, Qt::Key key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&edit, &press);
}

} // namespace

// The window's filters, typed into in the settings tests, show the rest: each key seen
// before it reaches the text, replaced or dropped, control keys as their codes.
TEST(TEdit, CharacterOutsideTheSingleByteSetReachesTheFilterAsOneItRejects)
{
    TEdit edit;
    std::vector<int> seen;
    QObject::connect(&edit, &TEdit::KeyPress, &edit, [&](char& key) {
        seen.push_back(static_cast<unsigned char>(key));
        if (key == 0x7f)
            key = 0;
    });
    Type(edit, Qt::Key_1, "1");
    Type(edit, Qt::Key_unknown, QString(QChar(0x20AC)));
    EXPECT_EQ(edit.text(), "1");
    EXPECT_EQ(seen, (std::vector<int>{'1', 0x7f}));
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

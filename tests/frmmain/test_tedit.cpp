// The edit's KeyPress and Exit events, as the window's key filters and exit handlers use them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

#include <functional>
#include <vector>

#include "frmmain/TEdit.h"

namespace {

void Type(TEdit& edit, Qt::Key key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&edit, &press);
}

// Records every key the edit reports and answers with filter(key).
struct KeyLog {
    std::vector<int> seen;
    std::function<char(char)> filter = [](char c) { return c; };
};

void Attach(TEdit& edit, KeyLog& log)
{
    QObject::connect(&edit, &TEdit::KeyPress, &edit, [&log](char& key) {
        log.seen.push_back(static_cast<unsigned char>(key));
        key = log.filter(key);
    });
}

} // namespace

TEST(TEdit, KeyPressSeesEachTypedCharacterBeforeTheText)
{
    TEdit edit;
    KeyLog log;
    Attach(edit, log);
    QString textWhenReported;
    QObject::connect(&edit, &TEdit::KeyPress, &edit, [&](char&) { textWhenReported = edit.text(); });

    Type(edit, Qt::Key_1, "1");
    Type(edit, Qt::Key_2, "2");
    EXPECT_EQ(edit.text(), "12");
    EXPECT_EQ(textWhenReported, "1");
    EXPECT_EQ(log.seen, (std::vector<int>{'1', '2'}));
}

TEST(TEdit, FilterDiscardsOrReplacesCharacters)
{
    TEdit edit;
    KeyLog log;
    log.filter = [](char c) -> char {
        if (c == ',')
            return '.';
        if (c >= '0' && c <= '9')
            return c;
        if (c == '.' || static_cast<unsigned char>(c) < 32)
            return c;
        return 0;
    };
    Attach(edit, log);

    Type(edit, Qt::Key_1, "1");
    Type(edit, Qt::Key_Comma, ",");
    Type(edit, Qt::Key_5, "5");
    Type(edit, Qt::Key_A, "a");
    Type(edit, Qt::Key_Minus, "-");
    EXPECT_EQ(edit.text(), "1.5");
    // A character outside the single-byte set reaches the filter as one it rejects.
    Type(edit, Qt::Key_unknown, QString(QChar(0x20AC)));
    EXPECT_EQ(edit.text(), "1.5");
    EXPECT_EQ(log.seen.back(), 0x7f);
}

TEST(TEdit, ControlKeysReachTheFilterAsControlCodes)
{
    TEdit edit;
    edit.setText("123");
    KeyLog log;
    Attach(edit, log);

    Type(edit, Qt::Key_Backspace, QString());
    EXPECT_EQ(edit.text(), "12");
    Type(edit, Qt::Key_A, "a", Qt::ControlModifier); // select all, code 1
    Type(edit, Qt::Key_Return, "\r");
    EXPECT_EQ(log.seen, (std::vector<int>{8, 1, 13}));
    EXPECT_EQ(edit.selectedText(), "12");

    // A discarded Backspace deletes nothing.
    log.filter = [](char) -> char { return 0; };
    edit.deselect();
    Type(edit, Qt::Key_Backspace, QString());
    EXPECT_EQ(edit.text(), "12");
}

TEST(TEdit, ExitOnlyWhenTheFocusMovesWithinTheWindow)
{
    TEdit edit;
    int exits = 0;
    QObject::connect(&edit, &TEdit::Exit, &edit, [&] { ++exits; });

    for (Qt::FocusReason reason : {Qt::TabFocusReason, Qt::BacktabFocusReason, Qt::MouseFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(&edit, &out);
    }
    EXPECT_EQ(exits, 3);
    // A message box or a menu taking the focus is not leaving the field.
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(&edit, &out);
    }
    EXPECT_EQ(exits, 3);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

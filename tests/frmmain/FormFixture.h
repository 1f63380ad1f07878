#pragma once
// What the window tests share: the shown, active window with its error messages recorded,
// sweeps delivered the way the worker delivers them, and reading the pictures.
#include <gtest/gtest.h>

#include <QLocale>
#include <QPointer>
#include <QTest>

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "frmmain/TMainForm.h" // <functional>, <mutex>
#include "plot/TPanelPlus.h"
#include "platform/PortList.h"
#include "platform/PortTable.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

// One raw sample as the analyser sends it: phase count, then return-loss count, low byte first.
// A higher return-loss count is a lower SWR.
using Sample = std::array<uint8_t, 4>;
inline Sample Counts(int phase, int rl)
{
    return {static_cast<uint8_t>(phase & 0xFF), static_cast<uint8_t>(phase >> 8), static_cast<uint8_t>(rl & 0xFF),
            static_cast<uint8_t>(rl >> 8)};
}

// Columns of img that hold colour c in rows from..to-1 (all rows when to < 0).
inline std::set<int> ColumnsWith(const QImage& img, const QColor& c, int from = 0, int to = -1)
{
    std::set<int> columns;
    for (int y = from; y < (to < 0 ? img.height() : to); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == c)
                columns.insert(x);
    return columns;
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = new TMainForm;
        form->ErrorBox = [this](const QString& message) { errors << message; };
        form->show();
        QApplication::setActiveWindow(form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(form, 20000));
    }
    void TearDown() override { delete form.data(); }

    // Hands a sweep over through the window's own HandOverSweep, as a worker that asked for
    // these settings does, then handles the sweep-done message it posts.
    void DeliverSweep(int startKHz, int endKHz, int steps, const std::function<Sample(int)>& sample)
    {
        std::vector<uint8_t> reply(4 * size_t(steps));
        for (int i = 0; i < steps; ++i)
            std::memcpy(reply.data() + 4 * i, sample(i).data(), 4);
        TComThread worker; // never started: the hand-over only reads its settings
        worker.Settings = {{startKHz, endKHz, steps}, form->TuningFactor};
        TComThread* const running = std::exchange(form->ComThread, &worker);
        form->HandOverSweep(reply.data());
        form->ComThread = running;
        QApplication::processEvents();
    }

    // Selects the field's text and types over it, as a person would.
    void TypeInto(QLineEdit* field, const QString& text)
    {
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);
    }
    // Sizes the window so that the plot panel has the window description's 1168 x 550: PW 988.
    void SizePanelAsDescribed()
    {
        form->resize(form->size() + QSize(1168, 550) - form->PlotPanel->size());
        QApplication::processEvents();
        ASSERT_EQ(form->PlotWidth, 988);
    }
    // Moves the focus away from the settings edits: the field left commits.
    void Leave() { form->btnStart->setFocus(Qt::MouseFocusReason); }

    // The ten cells of a read-out row ("lowswr_", "marker1_", "marker2_") in their order.
    QStringList Row(const QString& prefix)
    {
        QStringList texts;
        for (const char* column : {"F", "SWR", "RL", "Phase", "Z", "Rs", "Xs", "L", "C", "Q"})
            texts << form->findChild<QLabel*>(prefix + column)->text();
        return texts;
    }

    QPointer<TMainForm> form;
    QStringList errors;
};

// Runs the tests as the program runs, under a locale with ',' as decimal separator: the
// window still reads and writes '.'.
inline int RunWindowTests(int argc, char** argv)
{
#ifdef _WIN32
    // Windows takes the locale from the user's settings, not from the environment.
    std::setlocale(LC_ALL, "German_Germany.1252");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
#else
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    QApplication app(argc, argv);
#endif
    RegisterWindowFont();
    InitWindowSynchronize();
    // The program registers its simulated analyser as port "Simulator"; the window tests
    // that do not bring the real one get a stand-in that fails to open like a missing device.
    if (!kestrin::FindPort(kestrin::SimulatorPortNumber))
        kestrin::SetVirtualPort(kestrin::SimulatorPortNumber,
                                [](const kestrin::VirtualDeviceOptions&, std::string&) { return std::shared_ptr<void>(); });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

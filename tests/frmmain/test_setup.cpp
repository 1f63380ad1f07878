// Setups in the shown window: saved and opened through the File menu, a bad file changing
// nothing, the model while a sweep runs, and markers landing on the next sweep.
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "acquisition/SweepSetup.h"
#include "frmmain/FormFixture.h"
#include "plot/TPanelPlus.h"

namespace {

class SetupTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        form->SaveDialogRun = [this](QFileDialog& dialog) {
            dialogs.push_back(&dialog);
            return answer;
        };
        form->OpenDialogRun = form->SaveDialogRun;
    }

    QString Write(const QString& name, const QByteArray& text)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        return file.readAll();
    }
    std::string State() { return kestrin::SetupText(form->CurrentSetup()); }
    QStringList Edits() { return Edits(*form); }
    static QStringList Edits(TMainForm& w)
    {
        QStringList texts;
        for (QLineEdit* e : {w.eFstart, w.eFend, w.eSteps, w.eDDSFreq, w.eCalRL, w.eCorL, w.eCorL2})
            texts << e->text();
        return texts;
    }

    // The worker's two steps for one sweep: it copies the requested settings, and later hands
    // the reply over with them.
    void Copy() { WithWorker([this] { form->CopySweepSettings(); }); }
    // The reply has the steps the worker asked for when it copied the settings.
    void HandOver()
    {
        const std::vector<uint8_t> reply(4 * size_t(worker.Settings.Steps), 2);
        WithWorker([&] { form->HandOverSweep(reply.data()); });
        QApplication::processEvents();
    }
    void WithWorker(const std::function<void()>& step)
    {
        TComThread* const before = std::exchange(form->ComThread, &worker);
        step();
        form->ComThread = before;
    }

    QTemporaryDir dir;
    QString answer;
    std::vector<QFileDialog*> dialogs;
    TComThread worker; // never started: the window only reads and writes its settings
};

} // namespace

TEST_F(SetupTest, SavedOpenedInAnotherWindowAndSavedAgainByteForByte)
{
    // Everything a setup holds away from its default, set as a person sets it.
    form->VNASelect->setCurrentIndex(1);
    form->VNASelectChange();
    TypeInto(form->eFstart, QStringLiteral("7"));
    TypeInto(form->eFend, QStringLiteral("7.3"));
    TypeInto(form->eCalRL, QStringLiteral("-1.5"));
    TypeInto(form->eCorL2, QStringLiteral("2.2"));
    Leave();
    form->cbSWR->click();
    form->cbRs->click();
    form->rbCalcC->click();
    form->Frequencyscale1->trigger();
    DeliverSweep(7000, 7300, 500, [](int i) { return Counts(512, 400 + i); });
    QTest::mouseClick(form->PlotPanel, Qt::LeftButton, Qt::NoModifier, QPoint(400, 300));
    ASSERT_GE(form->Marker1Index, 0);
    // Steps typed and not yet committed: Ctrl+S takes them as leaving the field would.
    TypeInto(form->eSteps, QStringLiteral("1000"));
    answer = dir.filePath("dipole"); // the dialog adds the suffix
    QTest::keyClick(form, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0]->defaultSuffix(), "kvsetup");
    EXPECT_EQ(dialogs[0]->nameFilters(), QStringList{"Kestrin VNA setup (*.kvsetup)"});
    const QByteArray saved = Read(answer);
    EXPECT_TRUE(saved.contains("\nsteps = 1000\n")) << saved.toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    TMainForm other;
    other.ErrorBox = [this](const QString& message) { errors << message; };
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other.OpenDialogRun = [&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        return answer;
    };
    QTest::keyClick(&other, Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(kestrin::SetupText(other.CurrentSetup()), saved.toStdString());
    EXPECT_EQ(other.VNASelect->currentIndex(), 1);
    EXPECT_EQ(other.TuningFactor, form->TuningFactor);
    EXPECT_EQ(other.RLCalDb, -1.5L);
    for (QCheckBox* box : {other.cbSWR, other.cbRL, other.cbPhase, other.cbZ, other.cbXs, other.cbRs})
        EXPECT_EQ(box->isChecked(), form->findChild<QCheckBox*>(box->objectName())->isChecked()) << box->objectName().toStdString();
    EXPECT_FALSE(other.Frequencyscale1->isChecked());
    EXPECT_EQ(other.Label20->text(), "L"); // the calculator asks for an L
    EXPECT_EQ(Edits(other), QStringList({"7", "7.3", "1000", "1250000000", "-1.5", "100", "2.2"}));

    other.SaveDialogRun = [&](QFileDialog&) { return dir.filePath("again.kvsetup"); };
    QTest::keyClick(&other, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Read(dir.filePath("again.kvsetup")), saved);
}

TEST_F(SetupTest, ABadValueOnAnyLineChangesNothingAndNamesTheFileAndLine)
{
    const std::string before = State();
    const QStringList edits = Edits();
    const QString path = Write("bad.kvsetup", "Kestrin VNA setup 1\n"
                                              "model = Corvel - 500MHz\n"
                                              "start_mhz = 7\n"
                                              "trace_rs = on\n"
                                              "marker1_mhz = 7.1\n"
                                              "dds_clock_hz = 1300000001\n");
    answer = path;
    form->OpenSetup1->trigger();
    // The path as the system writes it (with backslashes on Windows).
    EXPECT_EQ(errors, QStringList{"Cannot open " + QDir::toNativeSeparators(path) +
                                  ": Line 6: DDS frequency must be between 1 and 1300000000 Hz."});
    EXPECT_EQ(State(), before);
    EXPECT_EQ(Edits(), edits);
    errors.clear();

    // While a sweep runs the model is locked: a setup with another one changes nothing and
    // says why; one with the model chosen takes effect at the next sweep, as if typed.
    worker.Settings = form->Requested;
    form->ComThread = &worker;
    EXPECT_FALSE(form->OpenSetupFile(Write("other.kvsetup", "Kestrin VNA setup 1\nmodel = Corvel - 500MHz\nsteps = 40\n")));
    EXPECT_EQ(errors, QStringList{"Cannot open " + QDir::toNativeSeparators(dir.filePath("other.kvsetup")) +
                                  ": its analyser model, Corvel - 500MHz, can be chosen only while no sweep runs. "
                                  "Press Stop, then open the setup again."});
    EXPECT_EQ(State(), before);
    EXPECT_TRUE(form->OpenSetupFile(Write("same.kvsetup", "Kestrin VNA setup 1\nmodel = Corvel - 180MHz\nsteps = 40\n")));
    form->ComThread = nullptr;
    EXPECT_EQ(form->SweepSteps, 40);
    EXPECT_EQ(form->eSteps->text(), "40");
    EXPECT_EQ(worker.Settings.Steps, 500); // the sweep under way keeps what it copied
    Copy();
    EXPECT_EQ(worker.Settings.Steps, 40);
}

TEST_F(SetupTest, MarkersLandOnTheSamplesOfTheNextSweep)
{
    // A sweep of 1 to 30 MHz on display with marker 2 on it.
    DeliverSweep(1000, 30000, 290, [](int) { return Counts(512, 512); });
    QTest::mouseClick(form->PlotPanel, Qt::RightButton, Qt::NoModifier, QPoint(500, 300));
    ASSERT_GE(form->Marker2Index, 0);

    // The worker has copied the old range for the sweep under way when the setup is opened.
    Copy();
    const QByteArray text = "Kestrin VNA setup 1\nstart_mhz = 7\nend_mhz = 7.3\nsteps = 30\n"
                            "marker1_mhz = 7.053\nmarker2_mhz = none\n";
    ASSERT_TRUE(form->OpenSetupFile(Write("m.kvsetup", text)));
    EXPECT_EQ(form->Marker2Index, -1);
    EXPECT_EQ(form->marker2_F->text(), "");
    // Redraws of the sweep on display, and the sweep that was under way, neither show nor
    // lose marker 1, which lies outside them; saving now keeps it.
    form->cbRs->click();
    HandOver();
    EXPECT_EQ(form->Marker1Index, -1);
    EXPECT_EQ(form->marker1_F->text(), "");
    EXPECT_EQ(form->CurrentSetup().Marker1MHz, 7.053L);

    // The next sweep asks for the setup's range: marker 1 stands on the sample a click at
    // 7.053 MHz chooses, sample 5 of 0.01 MHz steps, and takes its frequency.
    Copy();
    HandOver();
    EXPECT_EQ(form->Marker1Index, 5);
    EXPECT_EQ(form->Marker1FreqMHz, form->VNAList->GetEntry(5)->FreqMHz);
    EXPECT_EQ(form->marker1_F->text(), "7.050");
    EXPECT_EQ(form->Marker2Index, -1);
}

// A folder named as people name theirs, in any script: a setup and a CSV saved there, a
// setup saved over, the file dialogs starting there after the first save, and a setup given
// to the program (double-clicked) opened from there once the window is shown.
TEST_F(SetupTest, FilesInAFolderOfAnyNameAndASetupGivenToTheProgram)
{
    const QString folder = dir.filePath(QStringLiteral("J\u00fcrgen \u0410\u043d\u0442\u0435\u043d\u043d\u0430 \u00df"));
    ASSERT_TRUE(QDir().mkpath(folder));
    // Before any file of the run: the Documents folder (else home), not the working folder,
    // which for the Start menu's entry is the program's own.
    form->BMPSaveClick();
    ASSERT_EQ(dialogs.size(), 1u);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(QDir(dialogs[0]->directory()), QDir(QFileInfo(documents).isDir() ? documents : QDir::homePath()));

    TypeInto(form->eFstart, QStringLiteral("7"));
    TypeInto(form->eFend, QStringLiteral("7.3"));
    Leave();
    answer = folder + QStringLiteral("/40 m.kvsetup");
    form->SaveSetup1->trigger();
    TypeInto(form->eSteps, QStringLiteral("300"));
    Leave();
    form->SaveSetup1->trigger(); // over the file just saved
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_TRUE(Read(answer).contains("\nsteps = 300\n"));
    DeliverSweep(7000, 7300, 300, [](int i) { return Counts(512, 400 + i); });
    answer = folder + QStringLiteral("/40 m.csv");
    form->Button1Click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(Read(answer).count('\n'), 301);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({"40 m.csv", "40 m.kvsetup"})); // nothing else left
    dialogs.clear();
    form->SaveTouchstone1Click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(QDir(dialogs[0]->directory()), QDir(folder));

    TMainForm other;
    other.ErrorBox = [this](const QString& message) { errors << message; };
    other.OpenSetupWhenShown(folder + QStringLiteral("/40 m.kvsetup"));
    other.show();
    EXPECT_EQ(other.eSteps->text(), "500"); // not before the window is shown
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.eSteps->text() == "300"; }, 5000));
    EXPECT_EQ(other.eFstart->text() + " " + other.eFend->text(), "7 7.3");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    // A file that is not a setup: the window's message, as File > Open Setup gives it.
    const QString notSetup = folder + QStringLiteral("/40 m.csv");
    other.OpenSetupWhenShown(notSetup);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, 5000));
    EXPECT_TRUE(errors[0].startsWith("Cannot open " + QDir::toNativeSeparators(notSetup) + ": ")) << errors[0].toStdString();
}

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }

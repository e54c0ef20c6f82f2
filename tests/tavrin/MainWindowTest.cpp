// tavrin's main window: what Open shows and sends, closing with a port that fails to close,
// the prompt for a test that is not saved, and the recovery edit in each mode. The simulated
// instrument is on a pty COM port (COM5) and behind the stand-in USB driver.
#include "MainWindowSupport.h"
#include "SioWin32.h"
#include "Timer.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

const char* const NotSaved = "The current program is not saved.  Do you wish to save it before continuing?";

// A file dialog makes the folder it was left in the current one: the fixtures' full paths
// are taken before any.
std::string FixturePath(const char* name)
{
    char path[MAX_PATH] = {};
    GetFullPathNameA((std::string("fixtures\\") + name).c_str(), MAX_PATH, path, nullptr);
    return path;
}

// Hold to time on the 1000g cell: target 20 mm, hold 30 s, trigger 5 g, speed 2 mm/s, slot 3.
const std::string HoldFile = FixturePath("hold_trigger5_speed2.VRL");
const char* const HoldPGM = "PGM100321D107D001E0000010";
const std::string NormalFile = FixturePath("normal_mode.VRL");

// Puts `path` into a file dialog and presses OK; an empty path cancels the dialog.
std::function<void(HWND)> FileAnswer(const std::string& path)
{
    return [path](HWND dialog) {
        if (!path.empty()) {
            HWND edit = GetDlgItem(dialog, 0x47C);  // the file name box
            if (!edit) edit = FindWindowExA(dialog, nullptr, "Edit", nullptr);
            SetWindowTextA(edit, path.c_str());
        }
        PostMessageA(dialog, WM_COMMAND, path.empty() ? IDCANCEL : IDOK, 0);
    };
}

// The main window's close ends the application: it posts the quit.
bool QuitPosted()
{
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

void TakeQuit()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// The real serial device, whose purges fail once it is pulled out, as they do when the USB
// converter under a COM port goes.
class TPulledOutDispatcher : public TSioWin32Dispatcher {
public:
    TPulledOutDispatcher(TComponent* owner, const std::atomic<bool>& pulled) : TSioWin32Dispatcher(owner), pulled_(pulled) {}
    int Flush(bool input) override { return pulled_ ? -ERROR_BAD_COMMAND : TSioWin32Dispatcher::Flush(input); }

private:
    const std::atomic<bool>& pulled_;
};

class Window : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        peer = FromUnixPath(EnvText("TAVRIN_PEER_DIR")) + "\\";
        // The converters are read at start-up: this one is attached before.
        registry.Add("VRWIN", ("COM" + std::to_string(com2)).c_str());
        driver.Configure(TStandInDriver::Device("VRWIN"));
    }

    // A fresh start: the window before gone with its quit and its settings.
    void Restart()
    {
        delete form;
        form = nullptr;
        TakeQuit();
        DeleteFileA(settings.c_str());
        sink.Requests.clear();
        sink.Answers.clear();
        form = CreateForm<TMOXLoadForm>();
        form->Show();
        PumpPending();
    }

    // The title bar's close button.
    void CloseButton()
    {
        PostMessageA(form->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpPending();
    }

    // Runs Send or Erase and returns what the instrument received. Should the sequence's
    // wait sleep through a reply, a tick after the step's own time-out ends it, and the time
    // taken tells of it.
    std::string RunSequence(TAction* action)
    {
        const size_t before = Transcript().size();
        TTimer watchdog(nullptr);
        watchdog.SetInterval(5000);
        watchdog.OnTimer = [&](TObject*) { watchdog.SetEnabled(false); };
        watchdog.SetEnabled(true);
        const DWORD start = GetTickCount();
        action->Execute();
        EXPECT_LT(GetTickCount() - start, 4000u) << "the sequence's wait slept through a reply";
        return Transcript().substr(before);
    }

    int StoredPort() const { return TIniFile(settings).ReadInteger("COMMS", "ComPort", -1); }

    std::string peer;
    TFtdiRegistry registry;
    TStandInDriver driver;
};

// Open from a toolbar item leaves the focus in the edit being typed in; the edit's exit then
// comes while the test is being shown, and must find the test's value there.
TEST_F(Window, OpenShowsEncodesAndSendsTheTestWhicheverEditHasTheFocus)
{
    // Typed in: Hold to time on the 100g cell, trigger 5 g, speed 2 mm/s, slot 0.
    const std::string typedPGM = "PGM101F41D1000A0000000010";
    const struct {
        const char* what;
        TNumEdit* TMOXLoadForm::*edit;
        bool chooseFile;
    } cases[] = {
        {"trigger, the file chosen", &TMOXLoadForm::NumEdit2, true},
        {"speed, the file chosen", &TMOXLoadForm::NumEdit1, true},
        {"trigger, the dialog cancelled", &TMOXLoadForm::NumEdit2, false},
        {"speed, the dialog cancelled", &TMOXLoadForm::NumEdit1, false},
    };
    for (const auto& c : cases) {
        Restart();
        ChoosePort(com);
        if (!c.chooseFile) {
            form->rdoHoldToTime->SetChecked(true);
            Enter(form->NumEdit2, "5");
            Enter(form->NumEdit1, "2");
            form->Edit1->SetText("HOLD5");
            sink.Answers = {IDNO};  // open without saving the typed test
        }
        (form->*c.edit)->SetFocus();
        PumpPending();
        {
            TDialogAnswerer open("Open Program File", FileAnswer(c.chooseFile ? HoldFile : ""));
            form->OpenAct->Execute();
            ASSERT_TRUE(open.answered) << c.what;
        }
        EXPECT_EQ(Texts(), c.chooseFile ? std::vector<std::string>{} : std::vector<std::string>{NotSaved}) << c.what;
        const std::string pgm = c.chooseFile ? HoldPGM : typedPGM;
        EXPECT_TRUE(form->rdoHoldToTime->Checked()) << c.what;
        // The masks keep their decimal point: "5." is 5.
        EXPECT_EQ(form->NumEdit2->Text(), Local("5.")) << c.what;
        EXPECT_EQ(form->NumEdit1->Text(), Local("2.")) << c.what;
        EXPECT_EQ(form->nedt_targettime->Text(), c.chooseFile ? "30" : "0") << c.what;
        EXPECT_EQ(form->nedt_targetval->Text(), Local(c.chooseFile ? "20." : "0.1")) << c.what;
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, 4), "5") << c.what;
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, 5), "2") << c.what;
        EXPECT_EQ(form->Test().PGM(), pgm) << c.what;
        EXPECT_EQ(RunSequence(form->Download),
                  std::string(c.chooseFile ? "TXTHOST3" : "TXTHOST0") + "\rTXTNAME01HOLD5\r" + pgm + "\r")
            << c.what;
    }
}

// How a port fails to close, set up once it is open.
enum TCloseFault { cfUSBClose, cfSerialFlush, cfSerialTrace };

class PortFault : public Window {
protected:
    // A fresh window with the fault's port chosen, then broken.
    void OpenBroken(TCloseFault fault)
    {
        Restart();
        pulledOut = false;
        if (fault == cfSerialFlush)
            form->InstrumentPort->DispatcherFactory = [this](TSioCustomComPort& port) {
                return new TPulledOutDispatcher(&port, pulledOut);
            };
        ChoosePort(fault == cfUSBClose ? com2 : com);
        ASSERT_TRUE(form->Download->Enabled());
        switch (fault) {
        case cfUSBClose: driver.Configure(TStandInDriver::Device("VRWIN") + "fail FT_Close 4\n"); break;
        case cfSerialFlush: pulledOut = true; break;
        case cfSerialTrace:
            // A trace that cannot be written when the close dumps it, with an erase in it.
            form->InstrumentPort->TraceName = peer + "no such folder\\SERIAL.TRC";
            form->InstrumentPort->StartTrace();
            RunSequence(form->Erase);
            ASSERT_EQ(form->memHints->Text(), "Test no. 0 erased");
            break;
        }
    }
    bool PortClosed(TCloseFault fault) const
    {
        if (fault == cfUSBClose) return !form->USBPort->Open();
        return !form->InstrumentPort->Open() && form->InstrumentPort->State() == psClosed;
    }
    std::atomic<bool> pulledOut{false};
};

const char* const USBCloseError = "Error Closing USBPort:  General IO Error";

TEST_F(PortFault, ThePortsErrorIsReportedOnceTheSettingsWrittenAndTheWindowCloses)
{
    const struct {
        const char* what;
        TCloseFault fault;
        bool byButton;
    } cases[] = {
        {"FT_Close fails, Exit", cfUSBClose, false},
        {"FT_Close fails, close button", cfUSBClose, true},
        {"the flush fails, Exit", cfSerialFlush, false},
        {"the flush fails, close button", cfSerialFlush, true},
        {"the close's trace dump fails, Exit", cfSerialTrace, false},
    };
    for (const auto& c : cases) {
        OpenBroken(c.fault);
        const int index = form->ComPortCb->ItemIndex();
        if (c.byButton) CloseButton();
        else form->ExitAct->Execute();
        ASSERT_EQ(sink.Requests.size(), 1u) << c.what;
        EXPECT_EQ(sink.Requests[0].Caption, "Error") << c.what;
        EXPECT_EQ(sink.Requests[0].Text.find(".."), std::string::npos) << sink.Requests[0].Text;
        if (c.fault == cfUSBClose) {
            EXPECT_EQ(sink.Requests[0].Text, std::string(USBCloseError) + ".") << c.what;
        }
        EXPECT_EQ(StoredPort(), index) << c.what;
        EXPECT_TRUE(QuitPosted()) << c.what;
        EXPECT_TRUE(PortClosed(c.fault)) << c.what;
    }
}

// On a port change the error leaves no port, as an open that fails does; the port can then
// be chosen again.
TEST_F(PortFault, APortChangeThatFailsToCloseLeavesNoPort)
{
    const struct {
        const char* what;
        TCloseFault fault;
        bool toNone;
    } cases[] = {
        {"FT_Close fails, NONE chosen", cfUSBClose, true},
        {"FT_Close fails, the serial port chosen", cfUSBClose, false},
        {"the flush fails, NONE chosen", cfSerialFlush, true},
        {"the flush fails, the USB port chosen", cfSerialFlush, false},
    };
    for (const auto& c : cases) {
        OpenBroken(c.fault);
        const int broken = c.fault == cfUSBClose ? com2 : com;
        if (c.toNone) ChooseIndex(0);
        else ChoosePort(c.fault == cfUSBClose ? com : com2);
        ASSERT_EQ(sink.Requests.size(), 1u) << c.what;
        const std::string& text = sink.Requests[0].Text;
        if (c.fault == cfUSBClose) {
            EXPECT_EQ(text, std::string(USBCloseError) + ".  Setting COM port to NONE.") << c.what;
        }
        EXPECT_TRUE(text.ends_with(".  Setting COM port to NONE.")) << text;
        EXPECT_EQ(text.find(".."), std::string::npos) << text;
        EXPECT_EQ(sink.Requests[0].Caption, "Error") << c.what;
        EXPECT_EQ(form->ComPortCb->ItemIndex(), 0) << c.what;
        EXPECT_EQ(form->CurrentPort(), 0) << c.what;
        EXPECT_FALSE(form->Download->Enabled()) << c.what;
        EXPECT_FALSE(form->Erase->Enabled()) << c.what;
        EXPECT_TRUE(PortClosed(c.fault)) << c.what;
        EXPECT_FALSE(form->USBPort->Open() || form->InstrumentPort->Open()) << c.what;
        // Plugged in again and chosen again, it works.
        pulledOut = false;
        ChoosePort(broken);
        EXPECT_EQ(form->CurrentPort(), broken) << c.what;
        EXPECT_TRUE(form->Download->Enabled()) << c.what;
        EXPECT_EQ(sink.Requests.size(), 1u) << c.what;
    }
}

// What makes a test unsaved is a change of what it holds (its grid, which is the file, and so
// its PGM line and name), not a visit to a control.
TEST_F(Window, ExitAsksOnlyWhenTheTestChanged)
{
    const struct {
        const char* what;
        std::function<void()> act;
        bool changes;
    } cases[] = {
        {"nothing", [] {}, false},
        {"an edit visited and left", [&] { Enter(form->NumEdit2, form->NumEdit2->Text()); }, false},
        {"the trigger typed as it was", [&] { Enter(form->NumEdit2, Local("0.00")); }, false},
        {"a port chosen", [&] { ChoosePort(com); }, false},
        {"the name typed and taken back",
         [&] {
             form->Edit1->SetText("AB");
             form->Edit1->SetText("");
         },
         false},
        {"the mode clicked twice", [&] {
             form->rdoTPA->SetChecked(true);
             form->rdoNormal->SetChecked(true);
         },
         false},
        {"the trigger", [&] { Enter(form->NumEdit2, "5"); }, true},
        {"the trigger still being typed", [&] {
             form->NumEdit2->SetFocus();
             PumpPending();
             form->NumEdit2->SetText("5");
         },
         true},
        {"the mode", [&] { form->rdoCycleToCount->SetChecked(true); }, true},
        {"the slot",
         [&] {
             form->cbSlotNo->SetItemIndex(4);
             form->cbSlotNo->OnChange(form->cbSlotNo);
         },
         true},
        {"the name", [&] { form->Edit1->SetText("NEW"); }, true},
        {"the re-trigger box", [&] { form->CheckBox1->SetChecked(false); }, true},
        {"the load cell",
         [&] {
             form->loadcell_cb->SetItemIndex(3);
             form->loadcell_cb->OnChange(form->loadcell_cb);
         },
         true},
    };
    for (const auto& c : cases) {
        Restart();
        c.act();
        sink.Answers = {IDCANCEL};
        form->ExitAct->Execute();
        if (c.changes) {
            ASSERT_EQ(sink.Requests.size(), 1u) << c.what;
            EXPECT_EQ(sink.Requests[0].Text, NotSaved) << c.what;
            EXPECT_EQ(sink.Requests[0].Flags & MB_TYPEMASK, static_cast<UINT>(MB_YESNOCANCEL)) << c.what;
            EXPECT_FALSE(QuitPosted()) << c.what;
        } else {
            EXPECT_EQ(Texts(), std::vector<std::string>{}) << c.what;
            EXPECT_TRUE(QuitPosted()) << c.what;
        }
    }
}

// The answers, by Exit and by the close button: Yes saves through the save dialog and closes
// only once saved, No closes, Cancel keeps the window and its port.
TEST_F(Window, TheAnswerToThePromptDecidesTheClose)
{
    const std::string saved = peer + "exit.VRL";
    const struct {
        const char* what;
        bool byButton;
        int answer;
        bool saveInDialog;
        bool closes;
    } cases[] = {
        {"Exit, Yes, saved", false, IDYES, true, true},
        {"Exit, Yes, the save cancelled", false, IDYES, false, false},
        {"Exit, No", false, IDNO, false, true},
        {"Exit, Cancel", false, IDCANCEL, false, false},
        {"button, Yes, saved", true, IDYES, true, true},
        {"button, No", true, IDNO, false, true},
        {"button, Cancel", true, IDCANCEL, false, false},
    };
    for (const auto& c : cases) {
        Restart();
        DeleteFileA(saved.c_str());
        ChoosePort(com);
        form->Edit1->SetText("EXITING");
        sink.Answers = {c.answer};
        {
            TDialogAnswerer save("Save Program File", FileAnswer(c.saveInDialog ? saved : ""));
            if (c.byButton) CloseButton();
            else form->ExitAct->Execute();
            EXPECT_EQ(save.answered, c.answer == IDYES) << c.what;
            save.Stop();
        }
        EXPECT_EQ(Texts(), std::vector<std::string>{NotSaved}) << c.what;
        EXPECT_EQ(QuitPosted(), c.closes) << c.what;
        EXPECT_EQ(form->InstrumentPort->Open(), !c.closes) << c.what;
        EXPECT_EQ(StoredPort(), c.closes ? IndexOfPort(com) : -1) << c.what;
        const std::string file = ReadWholeFile(saved);
        EXPECT_EQ(file.empty(), !c.saveInDialog) << c.what;
        if (c.saveInDialog) {
            EXPECT_NE(file.find("Test Name:\r\nEXITING\r\n"), std::string::npos) << c.what;
            EXPECT_EQ(form->StatusBar1->Panels(1).Text(), saved) << c.what;
        }
    }
}

// Another file is opened only once the test in hand is saved or let go.
TEST_F(Window, OpenAsksFirstWhenTheTestIsNotSaved)
{
    const std::string saved = peer + "before.VRL";
    const struct {
        const char* what;
        int answer;
        bool saveInDialog;
        bool opens;
    } cases[] = {
        {"Cancel", IDCANCEL, false, false},
        {"No", IDNO, false, true},
        {"Yes, saved", IDYES, true, true},
        {"Yes, the save cancelled", IDYES, false, false},
    };
    for (const auto& c : cases) {
        Restart();
        DeleteFileA(saved.c_str());
        form->Edit1->SetText("EDITED");
        Enter(form->NumEdit1, "3");
        sink.Answers = {c.answer};
        {
            TDialogAnswerer save("Save Program File", FileAnswer(c.saveInDialog ? saved : ""));
            TDialogAnswerer open("Open Program File", FileAnswer(HoldFile));
            form->OpenAct->Execute();
            EXPECT_EQ(save.answered, c.answer == IDYES) << c.what;
            EXPECT_EQ(open.answered, c.opens) << c.what;
            save.Stop();
            open.Stop();
        }
        EXPECT_EQ(Texts(), std::vector<std::string>{NotSaved}) << c.what;
        EXPECT_EQ(form->Test().Name(), c.opens ? "HOLD5" : "EDITED") << c.what;
        EXPECT_EQ(form->NumEdit1->Text(), Local(c.opens ? "2." : "3.")) << c.what;
        if (c.saveInDialog) {
            EXPECT_NE(ReadWholeFile(saved).find("Test Name:\r\nEDITED\r\n"), std::string::npos) << c.what;
        }
        // A test just loaded is saved: Exit asks nothing.
        sink.Requests.clear();
        sink.Answers = {IDCANCEL};
        form->ExitAct->Execute();
        EXPECT_EQ(QuitPosted(), c.opens) << c.what;
    }
}

// A test saved is saved until it changes again.
TEST_F(Window, ASaveMakesTheTestSaved)
{
    const std::string saved = peer + "saved.VRL";
    DeleteFileA(saved.c_str());
    Restart();
    form->Edit1->SetText("KEPT");
    {
        TDialogAnswerer save("Save Program File", FileAnswer(saved));
        form->SaveAct->Execute();
        ASSERT_TRUE(save.answered);
    }
    EXPECT_TRUE(form->Saved());
    form->Edit1->SetText("CHANGED");
    EXPECT_FALSE(form->Saved());
    form->Edit1->SetText("KEPT");
    EXPECT_TRUE(form->Saved());
    form->ExitAct->Execute();
    EXPECT_TRUE(sink.Requests.empty());
    EXPECT_TRUE(QuitPosted());
}

bool Shows(TWinControl* control)
{
    return IsWindowVisible(control->Handle()) != 0;
}

// Normal mode has no recovery time, whatever brought Normal in; the other modes show it.
TEST_F(Window, TheRecoveryEditIsHiddenInNormalMode)
{
    Restart();
    EXPECT_FALSE(Shows(form->nedt_recoverytime)) << "at start-up";
    EXPECT_FALSE(Shows(form->RecoveryLbl)) << "at start-up";
    TRadioButton* const modes[] = {form->rdoNormal, form->rdoHoldToTime, form->rdoCycleToCount, form->rdoTPA,
                                   form->rdoTension};
    for (int mode : {1, 2, 3, 4, 0}) {
        modes[mode]->SetChecked(true);
        PumpPending();
        EXPECT_EQ(Shows(form->nedt_recoverytime), mode != 0) << "mode " << mode;
        EXPECT_EQ(Shows(form->RecoveryLbl), mode != 0) << "mode " << mode;
        EXPECT_EQ(Shows(form->RecoveryUnitLbl), mode != 0) << "mode " << mode;
        EXPECT_EQ(IsWindowEnabled(form->nedt_recoverytime->Handle()) != 0, mode != 0) << "mode " << mode;
    }
    form->rdoHoldToTime->SetChecked(true);
    sink.Answers = {IDNO};
    {
        TDialogAnswerer open("Open Program File", FileAnswer(NormalFile));
        form->OpenAct->Execute();
        ASSERT_TRUE(open.answered);
    }
    ASSERT_EQ(form->Test().Name(), "PLAIN");
    EXPECT_TRUE(form->rdoNormal->Checked());
    EXPECT_FALSE(Shows(form->nedt_recoverytime)) << "after a Normal file";
    EXPECT_FALSE(Shows(form->RecoveryLbl)) << "after a Normal file";
}

TEST_F(Window, TheRecoveryTimeIsAtMost4095AsTyped)
{
    Restart();
    form->rdoCycleToCount->SetChecked(true);
    PumpPending();
    EXPECT_EQ(form->nedt_recoverytime->Maximum(), 4095);
    EXPECT_EQ(form->nedt_recoverytime->Minimum(), -9999999);
    form->nedt_recoverytime->SetFocus();
    PumpPending();
    ASSERT_TRUE(form->nedt_recoverytime->Focused());
    form->nedt_recoverytime->SelectAll();
    TypeChars(form->nedt_recoverytime->Handle(), "5000");
    EXPECT_EQ(form->nedt_recoverytime->Text(), "5000");
    form->Edit1->SetFocus();
    PumpPending();
    EXPECT_EQ(form->nedt_recoverytime->Text(), "4095");
    EXPECT_EQ(form->ProgramStrGrd->Cells(1, 8), "4095");
    EXPECT_EQ(form->Test().PGM().substr(18, 3), "FFF");
    EXPECT_TRUE(sink.Requests.empty());
}

}  // namespace

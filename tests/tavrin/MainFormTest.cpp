// tavrin's main window end to end: the simulated instrument on a pty COM port (COM5, the
// lowest present, so the first after "NONE") and behind the stand-in USB driver, the
// settings file in the user's application-data folder, test files on disk.
#include "MainWindowSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST_F(MainWindow, StartsWithTheDefaultTestAndNoPortWithoutSettings)
{
    Start();
    EXPECT_EQ(form->Caption(), "Tavrin V1.1 Build 5");
    EXPECT_EQ(form->Test().PGM(), DefaultPGM);
    EXPECT_EQ(form->ComPortCb->Items()[0], "NONE");
    EXPECT_EQ(form->ComPortCb->ItemIndex(), 0);
    EXPECT_GE(IndexOfPort(com), 1);
    EXPECT_EQ(form->CurrentPort(), 0);
    EXPECT_FALSE(form->Download->Enabled());
    EXPECT_FALSE(form->Erase->Enabled());
    EXPECT_EQ(form->StatusBar1->Panels(1).Text(), "Unsaved Script");
    EXPECT_EQ(form->ProgramStrGrd->RowCount(), GridRowCount);
    for (int row = 0; row < GridRowCount; ++row) {
        EXPECT_EQ(form->ProgramStrGrd->Cells(0, row), GridCaptions[row]);
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, row), form->Test().GridValue(row)) << row;
    }
    EXPECT_TRUE(form->Saved());
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
    // The settings folder exists from the start.
    EXPECT_TRUE(DirectoryExists(SettingsFolder()));
}

TEST_F(MainWindow, TheStoredPortOpensAtOnceAndTheStoredLoadCellApplies)
{
    WriteSettings(1, 4);
    Start();
    EXPECT_EQ(form->ComPortCb->Items()[1], std::to_string(com)) << "the test's port is the lowest";
    EXPECT_EQ(form->CurrentPort(), com);
    EXPECT_EQ(form->PortMode(), PortModeSerial);
    EXPECT_TRUE(form->InstrumentPort->Open());
    EXPECT_TRUE(form->Download->Enabled());
    EXPECT_EQ(form->loadcell_cb->ItemIndex(), 4);
    EXPECT_EQ(form->Test().LoadCell(), 4);
    EXPECT_EQ(form->ProgramStrGrd->Cells(1, 10), "4");
    EXPECT_TRUE(sink.Requests.empty());
}

// Settings that cannot be the program's give the start-up state, never a crash.
TEST_F(MainWindow, SettingsOutOfRangeMeanNoPortAndTheFirstLoadCell)
{
    struct Case {
        int port, cell;
    } cases[] = {{999, 0}, {-1, 9}, {0, -3}};
    for (const Case& c : cases) {
        WriteSettings(c.port, c.cell);
        Start();
        EXPECT_EQ(form->ComPortCb->ItemIndex(), 0) << c.port;
        EXPECT_EQ(form->CurrentPort(), 0);
        EXPECT_EQ(form->loadcell_cb->ItemIndex(), 0) << c.cell;
        EXPECT_EQ(form->Test().LoadCell(), 0);
        EXPECT_TRUE(sink.Requests.empty());
        delete form;
        form = nullptr;
    }
}

TEST_F(MainWindow, APortThatFailsToOpenFallsBackToNone)
{
    // A present port that the instrument's peer holds is listed but cannot be opened twice:
    // use the USB converter whose driver refuses the open instead.
    TFtdiRegistry registry;
    TStandInDriver driver;
    registry.Add("VRFAIL", ("COM" + std::to_string(com2)).c_str());
    driver.Configure(TStandInDriver::Device("VRFAIL") + "fail FT_OpenEx 2\n");
    Start();
    ChoosePort(com2);
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_EQ(sink.Requests[0].Text, "Error Opening USBPort:  Device Not Found.  Setting COM port to NONE.");
    EXPECT_EQ(sink.Requests[0].Caption, "Error");
    EXPECT_EQ(form->ComPortCb->ItemIndex(), 0);
    EXPECT_EQ(form->CurrentPort(), 0);
    EXPECT_FALSE(form->USBPort->Open());
    EXPECT_FALSE(form->Download->Enabled());
    EXPECT_FALSE(form->Erase->Enabled());
}

TEST_F(MainWindow, TheSettingsAreWrittenAtCloseAndThePortCloses)
{
    Start();
    ChoosePort(com);
    form->loadcell_cb->SetItemIndex(2);
    form->loadcell_cb->OnChange(form->loadcell_cb);
    const int index = form->ComPortCb->ItemIndex();
    sink.Answers = {IDNO};  // the changed test is not saved
    form->Close();
    ASSERT_EQ(sink.Requests.size(), 1u);
    sink.Requests.clear();
    EXPECT_FALSE(form->InstrumentPort->Open());
    EXPECT_EQ(form->SettingsFile(), SettingsFolder() + "tavrin.INI");
    TIniFile ini(settings);
    EXPECT_EQ(ini.ReadInteger("COMMS", "ComPort", -1), index);
    EXPECT_EQ(ini.ReadInteger("KOVA", "LoadCell", -1), 2);
    EXPECT_TRUE(sink.Requests.empty());
}

TEST_F(MainWindow, AFailedSettingsWriteStillClosesThePort)
{
    // A folder where the file should be: nothing can be read from it or written to it.
    ForceDirectories(settings);
    Start();
    ChoosePort(com);
    ASSERT_TRUE(form->InstrumentPort->Open());
    form->Close();
    RemoveDirectoryA(settings.c_str());
    EXPECT_FALSE(form->InstrumentPort->Open());
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_NE(sink.Requests[0].Text.find("tavrin.INI"), std::string::npos) << sink.Requests[0].Text;
}

TEST_F(MainWindow, ChoosingNoneClosesThePortAndDisablesSendAndErase)
{
    Start();
    ChoosePort(com);
    ASSERT_TRUE(form->Download->Enabled());
    form->ComPortCb->SetItemIndex(0);
    form->ComPortCb->OnChange(form->ComPortCb);
    EXPECT_FALSE(form->InstrumentPort->Open());
    EXPECT_FALSE(form->Download->Enabled());
    EXPECT_FALSE(form->Erase->Enabled());
    EXPECT_FALSE(form->DkItem4->Enabled());
    EXPECT_FALSE(form->DkItem8->Enabled());
}

// The wire, exactly, for a download and an erase on each kind of link.
using Link = LinkWindow;

TEST_P(Link, ADownloadSendsTheThreeCommandsExactly)
{
    SetName("ABC");
    form->cbSlotNo->SetItemIndex(3);
    form->cbSlotNo->OnChange(form->cbSlotNo);
    form->rdoHoldToTime->SetChecked(true);
    form->Download->Execute();
    EXPECT_EQ(Transcript(), "TXTHOST3\rTXTNAME01ABC\r" + std::string(DefaultPGM) + "\r");
    EXPECT_EQ(form->memHints->Text(), "Done");
    EXPECT_EQ(form->StatusBar1->Panels(2).Text(), "READY");
    EXPECT_TRUE(form->Download->Enabled());
    EXPECT_TRUE(sink.Requests.empty());
}

TEST_P(Link, AnEraseSendsTheEmptyTestAndKeepsTheEditedOne)
{
    SetName("ABC");
    form->rdoHoldToTime->SetChecked(true);
    form->Erase->Execute();
    const std::string erase = "TXTHOST0\rTXTNAME00EMPTY\rPGM1000101100010000001011\r";
    EXPECT_EQ(Transcript(), erase);
    EXPECT_EQ(form->memHints->Text(), "Test no. 0 erased");
    // Then Send: the test's own mode and name go out.
    form->Download->Execute();
    EXPECT_EQ(Transcript().substr(erase.size()), "TXTHOST0\rTXTNAME01ABC\r" + std::string(DefaultPGM) + "\r");
}

TEST_P(Link, VersionElevenGetsTheShortLineAndOkEndsAWaitButABlankOkDoesNot)
{
    SetName("V11");
    form->Protocol->Timer1->SetInterval(600);
    WriteScript({"reply TXT VR7 V1.0 0B\\r\\nOK\\r\\n", "reply  OK\\r\\n", "reply READY\\r\\n"});
    form->Download->Execute();
    EXPECT_EQ(form->Protocol->Version, 11);
    // " OK" did not answer the name: the wait timed out and the line was never sent.
    EXPECT_EQ(Transcript(), "TXTHOST0\rTXTNAME00V11\r");
    ASSERT_EQ(sink.Requests.size(), 1u);
    WriteScript({"reply OK\\r\\n", "reply OK\\r\\n", "reply OK\\r\\n"});
    form->Download->Execute();
    const std::string line = std::string(DefaultPGM).erase(4, 1);
    EXPECT_EQ(line.size(), 24u);
    EXPECT_EQ(Transcript().substr(22), "TXTHOST0\rTXTNAME00V11\r" + line + "\r");
}

INSTANTIATE_TEST_SUITE_P(Ports, Link, testing::Values(PortModeSerial, PortModeUSB), LinkName);

TEST_F(MainWindow, SilenceTimesOutWithTheMessageAndSkipsTheRest)
{
    Start();
    ChoosePort(com);
    SetName("SLOW");
    WriteScript({"silence"});
    int flushes = 0;
    const auto flush = form->Protocol->FlushPort;
    form->Protocol->FlushPort = [&] {
        ++flushes;
        flush();
    };
    const DWORD start = GetTickCount();
    form->Download->Execute();
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(Transcript(), "TXTHOST0\r");
    EXPECT_EQ(flushes, 1);
    EXPECT_TRUE(form->InstrumentPort->Open());
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_EQ(sink.Requests[0].Text,
              "VR7 not responding.\rMake sure the VR7 is connected to the chosen portand that it is at the download "
              "screen.");
    // The full 3000 ms, not a shortened timer.
    EXPECT_GE(took, 2900u);
    EXPECT_LT(took, 6000u);
    EXPECT_TRUE(form->Download->Enabled());
}

TEST_F(MainWindow, InvalidParametersEndTheSequence)
{
    Start();
    ChoosePort(com);
    SetName("BAD");
    WriteScript({"reply READY\\r\\n", "reply ???\\r\\n"});
    form->Download->Execute();
    EXPECT_EQ(Transcript(), "TXTHOST0\rTXTNAME00BAD\r");
    EXPECT_EQ(form->memHints->Text(), "Invalid parameters");
    EXPECT_TRUE(sink.Requests.empty());
    EXPECT_TRUE(form->Download->Enabled());
}

TEST_F(MainWindow, SendWithoutANameAsksForOne)
{
    Start();
    ChoosePort(com);
    for (const char* name : {"", "   "}) {
        sink.Requests.clear();
        SetName(name);
        form->Download->Execute();
        EXPECT_EQ(Texts(), std::vector<std::string>{"Enter the test name"}) << "'" << name << "'";
        EXPECT_EQ(Transcript(), "") << "'" << name << "'";
    }
}

// Each action runs with the focus still in the edit being typed in, as from a toolbar
// item: the edit's exit check and encoder run first.
TEST_F(MainWindow, TheValueBeingTypedIsCommittedBeforeEachAction)
{
    const char* const actions[] = {"Send", "Erase", "Save", "Exit"};
    for (const std::string action : actions) {
        Start();
        ChoosePort(com);
        SetName("TYPED");
        form->NumEdit1->SetFocus();
        PumpPending();
        form->NumEdit1->SetText(Local("0.25"));
        const size_t sentBefore = Transcript().size();
        if (action == "Send") {
            form->Download->Execute();
            EXPECT_EQ(Transcript().substr(sentBefore), "TXTHOST0\rTXTNAME00TYPED\r" + form->Test().PGM() + "\r");
        } else if (action == "Erase") {
            form->Erase->Execute();
        } else if (action == "Save") {
            TDialogAnswerer cancel("Save Program File", [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
            form->SaveAct->Execute();
            EXPECT_TRUE(cancel.answered);
        } else {
            sink.Answers = {IDNO};  // the typed test is not saved
            form->ExitAct->Execute();
            ASSERT_EQ(sink.Requests.size(), 1u);
            sink.Requests.clear();
        }
        EXPECT_EQ(form->NumEdit1->Text(), Local("0.2")) << action;
        EXPECT_EQ(form->Test().PGM().substr(8, 2), "0B") << action;
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, 5), Local("0.2")) << action;
        delete form;
        form = nullptr;
    }
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

TEST_F(MainWindow, EnteringAFieldShowsItsGuidance)
{
    WriteSettings(0, 4);  // 10000g: the trigger's range is 1 to 1000
    Start();
    form->rdoHoldToTime->SetChecked(true);
    PumpPending();
    const struct {
        TWinControl* control;
        std::string hint;
    } cases[] = {
        {form->NumEdit2, "Enter a trigger value in the range:\r\n  1g  to  1000g"},
        {form->nedt_targetval, "Enter a target value in the range:\r\n  " + Local("0.1") + "mm  to  " + Local("101.6") + "mm"},
        {form->NumEdit1, "Enter a test speed from 0.01 to 0.09mm/s in 0.01mm steps or 0.1 to 10mm/s in 0.1mm/s steps"},
        {form->nedt_targettime, "Enter a hold time from 0 to 4095 secs."},
        {form->cbSlotNo, "Select which memory slot you want to store the test in."},
        {form->Edit1, "Enter the test name. You may enter upto 8 characters. You must not use 'empty' as part of the name."},
    };
    for (const auto& c : cases) {
        c.control->SetFocus();
        PumpPending();
        EXPECT_EQ(form->memHints->Text(), c.hint);
    }
    form->rdoCycleToCount->SetChecked(true);
    PumpPending();
    EXPECT_TRUE(form->nedt_cyclecnt->Focused());
    EXPECT_EQ(form->memHints->Text(), "Enter the number of times the test is to be repeated from 1 to 99");
    EXPECT_FALSE(form->nedt_targettime->Visible());
    // The check box clears the hint.
    form->CheckBox1->SetChecked(false);
    EXPECT_EQ(form->memHints->Text(), "");
}

// Send and Erase run from a keyboard path too (the chevron's popup): they leave the edit
// being typed in first, and an entry that its exit check corrects keeps the focus there and
// stops them. Sent again, the corrected value goes out.
TEST_F(MainWindow, AnEntryTheExitCheckCorrectsStopsSendAndErase)
{
    TTestModel bound(0);
    bound.Encode(nfTarget, Local("101.6"));
    const std::string corrected = "TXTHOST0\rTXTNAME00BIG\r" + bound.PGM() + "\r";
    for (TAction* TMOXLoadForm::*action : {&TMOXLoadForm::Download, &TMOXLoadForm::Erase}) {
        Start();
        ChoosePort(com);
        SetName("BIG");
        const bool send = action == &TMOXLoadForm::Download;
        form->nedt_targetval->SetFocus();
        PumpPending();
        form->nedt_targetval->SetText("500");
        const size_t before = Transcript().size();
        (form->*action)->Execute();
        PumpPending();  // the focus coming back
        EXPECT_EQ(Transcript().substr(before), "") << send;
        EXPECT_TRUE(form->nedt_targetval->Focused()) << send;
        EXPECT_EQ(form->nedt_targetval->Text(), Local("101.6")) << send;
        EXPECT_EQ(Texts(), std::vector<std::string>{"Invalid entry. Entry must be between   0 and 101."}) << send;
        sink.Requests.clear();
        form->Download->Execute();
        EXPECT_EQ(Transcript().substr(before), corrected) << send;
        EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
        delete form;
        form = nullptr;
    }
}

TEST_F(MainWindow, ClosingDuringAWaitEndsItAndThenCloses)
{
    Start();
    ChoosePort(com);
    SetName("CLOSE");
    WriteScript({"silence"});
    bool closedInside = false;
    // The close comes while the first step waits.
    TTimer closer(nullptr);
    closer.SetInterval(100);
    sink.Answers = {IDNO};  // once the wait has ended, the named test is not saved
    closer.OnTimer = [&](TObject*) {
        closer.SetEnabled(false);
        form->Close();
        closedInside = form->Protocol->Busy();
    };
    closer.SetEnabled(true);
    const DWORD start = GetTickCount();
    form->Download->Execute();
    EXPECT_LT(GetTickCount() - start, 2500u) << "the wait ended with the close, not by its time-out";
    EXPECT_TRUE(closedInside);
    EXPECT_EQ(Transcript(), "TXTHOST0\r");
    EXPECT_FALSE(form->InstrumentPort->Open());
    EXPECT_EQ(sink.Requests.size(), 1u);
    TIniFile ini(settings);
    EXPECT_EQ(ini.ReadInteger("COMMS", "ComPort", -1), form->ComPortCb->ItemIndex());
}

TEST_F(MainWindow, ChangingThePortDuringAWaitEndsIt)
{
    Start();
    ChoosePort(com);
    SetName("MOVE");
    WriteScript({"silence"});
    TTimer changer(nullptr);
    changer.SetInterval(100);
    changer.OnTimer = [&](TObject*) {
        changer.SetEnabled(false);
        form->ComPortCb->SetItemIndex(0);
        form->ComPortCb->OnChange(form->ComPortCb);
    };
    changer.SetEnabled(true);
    const DWORD start = GetTickCount();
    form->Download->Execute();
    EXPECT_LT(GetTickCount() - start, 2500u);
    EXPECT_EQ(Transcript(), "TXTHOST0\r");
    EXPECT_FALSE(form->InstrumentPort->Open());
    EXPECT_FALSE(form->Download->Enabled());
    EXPECT_TRUE(sink.Requests.empty());
}

TEST_F(MainWindow, AStatusLineAtRestStartsNoTimeOut)
{
    Start();
    ChoosePort(com);
    form->Protocol->Timer1->SetInterval(200);
    WriteScript({"now reply GDR 0001 5 00\\r\\n"});
    ASSERT_TRUE(PumpUntil([&] { return form->memHints->Text() == "Test running"; }));
    EXPECT_FALSE(form->Protocol->Timer1->Enabled());
    EXPECT_FALSE(PumpUntil([&] { return !sink.Requests.empty(); }, 600));
}

// The window after a Hold-mode setup, as the screen shows it; the picture is kept for a
// person to look at.
TEST_F(MainWindow, AHoldTestAsTheWindowShowsIt)
{
    Start();
    form->Edit1->SetText("BREAD");
    form->rdoHoldToTime->SetChecked(true);
    PumpPending();
    Enter(form->nedt_targettime, "30");
    Enter(form->nedt_recoverytime, "12");
    form->nedt_targetval->SetFocus();
    PumpPending();
    RedrawWindow(form->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpPending();
    // What the screen has at the middle of each control.
    const auto onTop = [](TWinControl* control) {
        RECT r;
        GetWindowRect(control->Handle(), &r);
        return WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2}) == control->Handle();
    };
    // Hold and cycles share one spot: the hold edit is the one there, and it takes typing.
    EXPECT_TRUE(onTop(form->nedt_targettime));
    EXPECT_TRUE(IsWindowVisible(form->HoldLbl->Handle()));
    EXPECT_FALSE(IsWindowVisible(form->nedt_cyclecnt->Handle()));
    EXPECT_FALSE(IsWindowVisible(form->CycleLbl->Handle()));
    EXPECT_TRUE(onTop(form->nedt_recoverytime));
    EXPECT_TRUE(IsWindowEnabled(form->nedt_recoverytime->Handle()));
    EXPECT_TRUE(form->rdoHoldToTime->Checked());
    const struct {
        int row;
        const char* value;
    } rows[] = {{0, "1"}, {3, "30"}, {8, "12"}, {11, "01"}, {13, "BREAD"}};
    for (const auto& r : rows) EXPECT_EQ(form->ProgramStrGrd->Cells(1, r.row), r.value) << r.row;
    EXPECT_EQ(form->Test().PGM().substr(15, 6), "01E00C");
    const std::string path = ArtifactPath("tavrin-hold.bmp");
    ASSERT_TRUE(SaveScreenshot(form->Handle(), path)) << path;
}

}  // namespace

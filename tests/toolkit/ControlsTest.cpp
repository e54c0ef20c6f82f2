// Controls driven by posted messages (no mouse), so these run beside other tests.
#include "ActnList.h"
#include "Dialogs.h"
#include "GuiSupport.h"
#include "Printers.h"
#include "Thread.h"

#include <commctrl.h>
#include "ShowcaseForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace {

class Controls : public testing::Test {
protected:
    void SetUp() override
    {
        form = new TShowcaseForm(Application);
        form->Show();
        PumpPending();
        form->Log.clear();
    }
    void TearDown() override { delete form; }
    TShowcaseForm* form;
};

TEST_F(Controls, ItemIndexFromCodeFiresNoOnChangeButTheUsersChoiceDoes)
{
    form->combo->SetItemIndex(2);
    EXPECT_EQ(form->combo->ItemIndex(), 2);
    EXPECT_EQ(form->combo->Text(), "2");
    EXPECT_TRUE(form->Log.empty());

    form->combo->SetFocus();
    SendMessageA(form->combo->Handle(), WM_KEYDOWN, VK_DOWN, 0);  // the user steps to the next item
    PumpPending();
    EXPECT_EQ(form->combo->ItemIndex(), 3);
    EXPECT_EQ(std::count(form->Log.begin(), form->Log.end(), "change ComboBox1"), 1);

    form->combo->SetItemIndex(9);  // beyond the items: nothing chosen
    EXPECT_EQ(form->combo->ItemIndex(), -1);
    EXPECT_EQ(form->combo->Text(), "");
    form->combo->Items().Clear();
    form->combo->Items().Add("5");
    EXPECT_EQ(form->combo->Items().IndexOf("5"), 0);
}

TEST_F(Controls, FocusMovesRunExitThenEnter)
{
    form->edit->SetFocus();
    form->mask->SetFocus();
    form->check->SetFocus();
    const std::vector<std::string> expected = {"enter Edit1", "exit Edit1", "enter MaskEdit1", "exit MaskEdit1",
                                               "enter CheckBox1"};
    EXPECT_EQ(form->Log, expected);
    EXPECT_EQ(form->ActiveControl(), form->check);
}

TEST_F(Controls, CheckBoxesAndRadioButtonsFireOnClickAlsoFromCode)
{
    form->check->SetChecked(true);
    form->check->SetChecked(true);  // no change, no click
    SendMessageA(form->check->Handle(), BM_CLICK, 0, 0);
    EXPECT_FALSE(form->check->Checked());
    EXPECT_EQ(std::count(form->Log.begin(), form->Log.end(), "click CheckBox1"), 2);

    form->radioB->SetChecked(true);
    SendMessageA(form->radioA->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(form->radioA->Checked());
    EXPECT_FALSE(form->radioB->Checked());
    EXPECT_EQ(SendMessageA(form->radioB->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    const std::vector<std::string> clicks = {"click rdoTPA", "click rdoNormal"};
    std::vector<std::string> got;
    for (const auto& e : form->Log)
        if (e.rfind("click rdo", 0) == 0) got.push_back(e);
    EXPECT_EQ(got, clicks);
}

TEST_F(Controls, AnExceptionInOnClickIsReportedAndTheFormGoesOn)
{
    TRecordingSink sink;
    form->button->OnClick = [](TObject*) { throw Exception("Enter the test name"); };
    SendMessageA(form->button->Handle(), BM_CLICK, 0, 0);
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_EQ(sink.Requests[0].Text, "Enter the test name.");
    EXPECT_TRUE(IsWindow(form->Handle()));
}

TEST_F(Controls, EditMemoGridAndStatusBarHoldTheirText)
{
    form->edit->SetText("ABCDEFGHIJ");
    EXPECT_EQ(form->edit->Text(), "ABCDEFGHIJ");  // from code the limit does not apply
    form->edit->SetText("");
    TypeChars(form->edit->Handle(), "ABCDEFGHIJ");
    EXPECT_EQ(form->edit->Text(), "ABCDEFGH");  // typed: at most MaxLength

    form->memo->Lines().Clear();
    form->memo->Lines().Add("one");
    form->memo->Lines().Add("two");
    EXPECT_EQ(form->memo->Lines().Count(), 2);
    EXPECT_EQ(form->memo->Lines()[1], "two");
    EXPECT_EQ(form->memo->Lines().Text(), "one\r\ntwo\r\n");

    form->grid->SetRowCount(14);
    form->grid->SetCells(1, 13, "NAME");
    EXPECT_EQ(form->grid->Cells(1, 13), "NAME");
    EXPECT_EQ(form->grid->Cells(0, 0), "Test index:");
    EXPECT_EQ(form->grid->Cells(5, 5), "");
    form->status->Panels(2).SetText("READY");
    char text[64] = {};
    SendMessageA(form->status->Handle(), SB_GETTEXTA, 2, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "READY");
}

TEST_F(Controls, ControlsFollowTheirAction)
{
    auto* list = new TActionList(form);
    auto* send = new TAction(form);
    send->SetCaption("Send Test");
    send->SetHint("Send|Sends the test");
    send->SetShortCut(ShortCut('S', scCtrl));
    list->Add(send);
    int executed = 0;
    send->OnExecute = [&](TObject* sender) {
        EXPECT_EQ(sender, send);
        ++executed;
    };
    form->button->OnClick = nullptr;
    form->button->SetAction(send);
    EXPECT_EQ(form->button->Caption(), "Send Test");
    SendMessageA(form->button->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(executed, 1);

    send->SetEnabled(false);
    EXPECT_FALSE(form->button->Enabled());
    EXPECT_FALSE(IsWindowEnabled(form->button->Handle()));
    EXPECT_FALSE(send->Execute());
    send->SetEnabled(true);
    EXPECT_TRUE(form->button->Enabled());

    // Typing the shortcut is a case of its own, with real keys (DesktopTest.cpp).
    EXPECT_EQ(ShortCutToText(send->ShortCut()), "Ctrl+S");
    EXPECT_EQ(ShortCutToText(ShortCut(VK_F1, scShift)), "Shift+F1");
    EXPECT_EQ(GetShortHint(send->Hint()), "Send");
    EXPECT_EQ(GetLongHint(send->Hint()), "Sends the test");

    delete send;  // the button lets go of it
    EXPECT_EQ(form->button->Action(), nullptr);
    SendMessageA(form->button->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(list->ActionCount(), 0);
}

TEST(Forms, AModalFormEndsWithItsModalResult)
{
    struct TDialog : TForm {
        explicit TDialog(TComponent* owner) : TForm(owner)
        {
            SetCaption("Confirm");
            SetBorderStyle(bsDialog);
            Position = poScreenCenter;
            ok = new TButton(this);
            ok->SetParent(this);
            ok->SetCaption("OK");
            ok->ModalResult = mrOk;
        }
        TButton* ok;
    };
    TDialog dialog(Application);
    PostMessageA(dialog.ok->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_FALSE(dialog.Modal());

    PostMessageA(dialog.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog.ShowModal(), mrCancel);

    bool allowed = false;
    int closes = 0;
    dialog.OnCloseQuery = [&](TObject*, bool& canClose) {
        ++closes;
        canClose = allowed;
        allowed = true;  // the second try may close
    };
    PostMessageA(dialog.ok->Handle(), BM_CLICK, 0, 0);
    PostMessageA(dialog.ok->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(closes, 2);
}

// A modal form's result set by a call from another thread, while the modal loop sleeps,
// ends the loop at once.
TEST(Forms, AModalResultSetFromAnotherThreadEndsTheModalLoop)
{
    TForm dialog(Application);
    dialog.SetCaption("Waiting");
    // Unsticks a loop that missed its wake-up, so the test can tell how long it took.
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog([stop] {
        if (WaitForSingleObject(stop, 4000) == WAIT_TIMEOUT) PostThreadMessageA(MainThreadID, WM_NULL, 0, 0);
    });
    std::thread caller([&] {
        Sleep(300);  // a peer that answers late: the modal loop is asleep by then
        TThread::Synchronize([&] { dialog.SetModalResult(mrOk); });
    });
    const DWORD start = GetTickCount();
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    const DWORD took = GetTickCount() - start;
    caller.join();
    SetEvent(stop);
    watchdog.join();
    CloseHandle(stop);
    EXPECT_LT(took, 1300u);
}

TEST(Forms, TheMainFormsCloseEndsTheProgramAndOnCloseCanRefuse)
{
    auto* form = CreateForm<TForm>();
    EXPECT_EQ(Application->MainForm, form);
    TCloseAction chosen = caNone;
    form->OnClose = [&](TObject*, TCloseAction& action) { action = chosen; };
    form->Show();
    form->Close();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    chosen = caHide;
    form->Close();
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    delete form;
    EXPECT_EQ(Application->MainForm, nullptr);
}

TEST(Forms, TheOpenDialogReturnsTheNameTheUserGives)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string name = "toolkit_" + std::to_string(GetCurrentProcessId()) + ".VRL";
    const std::string path = std::string(folder) + name;
    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    TOpenDialog dialog(nullptr);
    dialog.Title = "Open Program File";
    dialog.Filter = "Tavrin Program Files|*.VRL";
    dialog.DefaultExt = "VRL";
    dialog.InitialDir = folder;
    dialog.FileName = "*.VRL";
    dialog.Options = ofFileMustExist;
    TDialogAnswerer answer("Open Program File", [&](HWND box) {
        // The file name box is a combo box (cmb13) in the new style, an edit (edt1) in the old.
        HWND field = GetDlgItem(box, 0x47C);
        if (!field) field = GetDlgItem(box, 0x480);
        SetWindowTextA(field, name.c_str());
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(LowerCase(dialog.FileName), LowerCase(path));

    TSaveDialog save(nullptr);
    save.Title = "Save Program File";
    TDialogAnswerer cancel("Save Program File", [](HWND box) { PostMessageA(box, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_FALSE(save.Execute());
    DeleteFileA(path.c_str());
}

TEST(Dialogs, MessageDialogsGoThroughTheSinkWithTheirTypesCaption)
{
    TRecordingSink sink;
    sink.Answers = {IDYES, IDOK, IDCANCEL};
    EXPECT_EQ(MessageDlg("Are you sure you wish to cancel the print job?", mtConfirmation, mbYes | mbNo), mrYes);
    EXPECT_EQ(MessageDlg("Invalid entry.", mtWarning, mbOK), mrOk);
    EXPECT_EQ(MessageDlg("Save?", mtConfirmation, mbYesNoCancel), mrCancel);
    MessageDlg("Error reading file!", mtError, mbOK);
    ASSERT_EQ(sink.Requests.size(), 4u);
    EXPECT_EQ(sink.Requests[0].Caption, "Confirm");
    EXPECT_EQ(sink.Requests[0].Flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(sink.Requests[1].Caption, "Warning");
    EXPECT_EQ(sink.Requests[1].Flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(sink.Requests[2].Flags, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(sink.Requests[3].Caption, "Error");
    EXPECT_EQ(sink.Requests[3].Text, "Error reading file!");
}

// Records what a print job does.
struct TRecordingPrinter : TPrinterBackend {
    explicit TRecordingPrinter(std::vector<std::string>& log) : log_(log) {}
    HDC BeginDoc(const std::string& title) override
    {
        log_.push_back("begin " + title);
        return nullptr;
    }
    void NewPage() override { log_.push_back("page"); }
    void EndDoc() override { log_.push_back("end"); }
    void Abort() override { log_.push_back("abort"); }
    std::vector<std::string>& log_;
};

TEST(Printers, AJobGoesThroughTheBackendAndAbortNeedsAJob)
{
    std::vector<std::string> log;
    auto previous = Printer()->SetBackend(std::make_unique<TRecordingPrinter>(log));
    Printer()->Title = "Tavrin";
    EXPECT_THROW(Printer()->Abort(), EPrinter);
    EXPECT_THROW(Printer()->EndDoc(), EPrinter);
    Printer()->BeginDoc();
    EXPECT_TRUE(Printer()->Printing());
    EXPECT_THROW(Printer()->BeginDoc(), EPrinter);
    Printer()->NewPage();
    Printer()->Abort();
    EXPECT_FALSE(Printer()->Printing());
    EXPECT_TRUE(Printer()->Aborted());
    Printer()->BeginDoc();
    Printer()->EndDoc();
    const std::vector<std::string> expected = {"begin Tavrin", "page", "abort", "begin Tavrin", "end"};
    EXPECT_EQ(log, expected);
    Printer()->SetBackend(std::move(previous));
}

TEST(Printers, TheSpoolerWithoutAPrinterRaises)
{
    Printer()->SetBackend(nullptr);
    EXPECT_THROW(Printer()->BeginDoc(), EPrinter);
    EXPECT_FALSE(Printer()->Printing());
}

TEST(Help, HelpGoesThroughTheSinkOnlyWithAHelpFile)
{
    std::vector<std::string> asked;
    Application->SetHelpSink([&](const std::string& file, UINT command, ULONG_PTR data) {
        asked.push_back(file + " " + std::to_string(command) + " " + std::to_string(data));
        return true;
    });
    Application->HelpFile = "";
    EXPECT_FALSE(Application->HelpContext(12));
    Application->HelpFile = "C:\\tavrin\\NXHELP.HLP";
    EXPECT_TRUE(Application->HelpContext(12));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "C:\\tavrin\\NXHELP.HLP " + std::to_string(HELP_CONTEXT) + " 12");
    Application->SetHelpSink(nullptr);
}

}  // namespace

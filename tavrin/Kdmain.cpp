#include "Kdmain.h"

#include "IniFiles.h"
#include "KDGlob.h"
#include "SioSelCom.h"
#include "StringList.h"
#include "SysUtils.h"
#include "ToolbarGlyphs.h"

#include <algorithm>
#include <exception>
#include <memory>

TMOXLoadForm* MOXLoadForm = nullptr;

namespace {

const char* const Unsaved = "Unsaved Script";
const char* const NotSavedPrompt = "The current program is not saved.  Do you wish to save it before continuing?";
const char* const FileFilter = "Tavrin Program Files|*.VRL";
const char* const SendHint =
    "User defined tests are stored in memory slots within the VR7. Choose a slot from the 'Test no.' list and "
    "enter a test name (you must not use the word 'empty' as part of the name). set the test mode and "
    "parameters as appropriate. Ensure that the VR7 is ready to receive, by rotating it's select/scroll knob "
    "until '*DOWNLOAD TEST FROM PC' appears on the screen. Clicking on the 'Send Test' button will save the "
    "test to the VR7's memory.";
const char* const EraseHint =
    "To erase a test from one of the VR7's memory slots, choose the slot number from the 'Test no.' list. "
    "Ensure that the VR7 is ready to receive, by rotating it's select/scroll knob until '*DOWNLOAD TEST FROM "
    "PC' appears on the screen. Click the 'Erase Test' button to erase the VR7's memory.";

// The hint box's text for each numeric edit, by its Tag.
enum { TagTrigger = 1, TagTarget = 2, TagSpeed = 3, TagCycles = 4, TagHold = 5 };

// Runs a step of a close; its failure is kept (the first one) instead of passed on, so that
// the steps after it run too.
template <class F>
void Attempt(std::exception_ptr& failure, F step)
{
    try {
        step();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
}

// A failure kept by Attempt, in an error box.
void ReportFailure(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        MessageDlg(Sentence(e.what()), mtError, mbOK);
    }
}

void ApplyRange(TNumEdit* edit, const TFieldRange& range)
{
    edit->SetMask(range.Mask);
    // The widest range first, so that neither bound is ever taken for the other.
    edit->SetMaximum(9999999.0);
    edit->SetMinimum(range.Minimum);
    edit->SetMaximum(range.Maximum);
    edit->SetDefVal(range.DefVal);
}

template <class T>
T* Make(TWinControl* parent, int left, int top, int width, int height)
{
    T* control = new T(GetParentForm(parent) ? static_cast<TComponent*>(GetParentForm(parent)) : parent);
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
    return control;
}

TLabel* MakeLabel(TWinControl* parent, int left, int top, const std::string& caption)
{
    TLabel* label = Make<TLabel>(parent, left, top, 100, 16);
    label->SetCaption(caption);
    return label;
}

TComboBox* MakeBox(TWinControl* parent, int left, int top, int width, std::initializer_list<const char*> items)
{
    TComboBox* box = Make<TComboBox>(parent, left, top, width, 24);
    box->SetStyle(csDropDownList);
    for (const char* item : items) box->Items().Add(item);
    return box;
}

TAction* MakeAction(TActionList* list, const char* caption, const char* hint)
{
    TAction* action = new TAction(list->Owner());
    action->SetCaption(caption);
    action->SetHint(hint);
    list->Add(action);
    return action;
}

}  // namespace

TPacedText::TPacedText(TComponent* owner, std::function<void(const std::string&)> show, unsigned gapMs)
    : show_(std::move(show)), timer_(new TTimer(owner)), gapMs_(gapMs)
{
    timer_->SetEnabled(false);
    timer_->OnTimer = [this](TObject*) { Flush(); };
}

void TPacedText::Set(const std::string& text)
{
    wanted_ = text;
    if (timer_->Enabled() || (written_ && wanted_ == shown_)) return;
    const DWORD since = GetTickCount() - lastMs_;
    if (!written_ || since >= gapMs_) {
        Write();
        return;
    }
    timer_->SetInterval(gapMs_ - since);
    timer_->SetEnabled(true);
}

void TPacedText::Flush()
{
    timer_->SetEnabled(false);
    if (!written_ || wanted_ != shown_) Write();
}

void TPacedText::Show(const std::string& text)
{
    wanted_ = text;
    Flush();
}

void TPacedText::Write()
{
    shown_ = wanted_;
    written_ = true;
    lastMs_ = GetTickCount();
    show_(shown_);
}

TMOXLoadForm::TMOXLoadForm(TComponent* owner) : TForm(owner)
{
    SetName("MOXLoadForm");
    SetCaption("Tavrin V1.1 Build 5");
    SetBorderStyle(bsSingle);
    Position = poScreenCenter;
    SetClientSize(664, 478);
    BuildControls();
    BindEvents();
    MOXLoadForm = this;
}

TMOXLoadForm::~TMOXLoadForm()
{
    if (MOXLoadForm == this) MOXLoadForm = nullptr;
}

void TMOXLoadForm::BuildControls()
{
    ActionList1 = new TActionList(this);
    OpenAct = MakeAction(ActionList1, "Open", "Open Test");
    SaveAct = MakeAction(ActionList1, "Save", "Save Test");
    Download = MakeAction(ActionList1, "Send Test", "Download Test");
    Erase = MakeAction(ActionList1, "Erase Test", "Erase test");
    ExitAct = MakeAction(ActionList1, "Exit", "Exit");

    BuildToolbar();

    ModeGrp = Make<TGroupBox>(this, 8, 44, 150, 150);
    ModeGrp->SetCaption("Test Mode");
    TRadioButton** radios[] = {&rdoNormal, &rdoHoldToTime, &rdoCycleToCount, &rdoTPA, &rdoTension};
    for (int i = 0; i < ModeCount; ++i) {
        TRadioButton* radio = Make<TRadioButton>(ModeGrp, 12, 22 + i * 24, 128, 20);
        radio->SetName(ModeTable[i].Button);
        radio->SetCaption(ModeTable[i].Caption);
        *radios[i] = radio;
    }

    const int lx = 172, ex = 292, ux = 366;
    TestTypeLbl = MakeLabel(this, lx, 48, "Test type");
    cb_testtype = MakeBox(this, ex, 44, 110, {TestTypeItems[0], TestTypeItems[1], TestTypeItems[2]});
    TargetTypeLbl = MakeLabel(this, lx, 76, "Target type");
    cb_targettype = MakeBox(this, ex, 72, 110, {TargetTypeItems[0], TargetTypeItems[1]});
    TargetLbl = MakeLabel(this, lx, 104, "Target");
    nedt_targetval = Make<TNumEdit>(this, ex, 100, 70, 22);
    Label6 = MakeLabel(this, ux, 104, "mm");
    TriggerLbl = MakeLabel(this, lx, 132, "Trigger Load");
    NumEdit2 = Make<TNumEdit>(this, ex, 128, 70, 22);
    TriggerUnitLbl = MakeLabel(this, ux, 132, "g");
    SpeedLbl = MakeLabel(this, lx, 160, "Test Speed");
    NumEdit1 = Make<TNumEdit>(this, ex, 156, 70, 22);
    SpeedUnitLbl = MakeLabel(this, ux, 160, "mm/s");
    ReturnLbl = MakeLabel(this, lx, 188, "Return at");
    cb_returnatspd = MakeBox(this, ex, 184, 110, {ReturnSpeedItems[0], ReturnSpeedItems[1]});
    // Hold and cycles share one spot: each mode shows the one it uses.
    HoldLbl = MakeLabel(this, lx, 216, "Hold Time @ Target");
    nedt_targettime = Make<TNumEdit>(this, ex, 212, 70, 22);
    HoldUnitLbl = MakeLabel(this, ux, 216, "sec");
    CycleLbl = MakeLabel(this, lx, 216, "Cycle Count");
    nedt_cyclecnt = Make<TNumEdit>(this, ex, 212, 70, 22);
    RecoveryLbl = MakeLabel(this, lx, 244, "Recovery Time");
    nedt_recoverytime = Make<TNumEdit>(this, ex, 240, 70, 22);
    RecoveryUnitLbl = MakeLabel(this, ux, 244, "sec");

    RetriggerLbl = MakeLabel(this, 8, 276, "Re-trigger:");
    CheckBox1 = Make<TCheckBox>(this, 8, 294, 400, 20);
    CheckBox1->SetCaption("Always measure target distance from trigger point of 1st cycle");
    SlotLbl = MakeLabel(this, 8, 332, "Test no.");
    cbSlotNo = MakeBox(this, 84, 328, 50, {});
    for (int i = 0; i < SlotCount; ++i) cbSlotNo->Items().Add(IntToStr(i));
    NameLbl = MakeLabel(this, 150, 332, "Test name");
    Edit1 = Make<TEdit>(this, 230, 328, 110, 22);
    Edit1->SetMaxLength(NameLength);

    nedt_targetval->Tag = TagTarget;
    NumEdit2->Tag = TagTrigger;
    NumEdit1->Tag = TagSpeed;
    nedt_cyclecnt->Tag = TagCycles;
    nedt_targettime->Tag = TagHold;
    for (TNumEdit* edit : {nedt_targetval, NumEdit2, NumEdit1, nedt_cyclecnt, nedt_targettime}) edit->ShowMsg = true;
    // Its mask and range are the form's own, set once.
    ApplyRange(nedt_recoverytime, test_.Range(nfRecovery));

    memHints = Make<TMemo>(this, 414, 44, 244, 132);
    memHints->SetReadOnly(true);
    ProgramStrGrd = Make<TStringGrid>(this, 414, 184, 244, 262);
    ProgramStrGrd->SetColCount(2);
    ProgramStrGrd->SetRowCount(GridRowCount);
    ProgramStrGrd->SetFixedRows(0);
    ProgramStrGrd->SetFixedCols(1);
    ProgramStrGrd->SetDefaultRowHeight(18);
    ProgramStrGrd->SetColWidths(0, 110);
    ProgramStrGrd->SetColWidths(1, 128);
    ProgramStrGrd->SetEnabled(false);

    StatusBar1 = new TStatusBar(this);
    StatusBar1->SetParent(this);
    StatusBar1->SetAlign(alBottom);
    StatusBar1->AddPanel()->SetWidth(70);
    StatusBar1->AddPanel()->SetWidth(300);
    StatusBar1->AddPanel()->SetWidth(20);
    StatusBar1->Panels(0).SetText("Test Name:");

    OpenDialog1 = new TOpenDialog(this);
    SaveDialog1 = new TSaveDialog(this);
    SpecialFolders1 = new TSpecialFolders(this);

    USBPort = new TUSBComPort(this);
    USBPort->SetEndChar('\n');
    USBPort->MaxLength = MaxReplyLength;
    InstrumentPort = new TRUVComm(this);
    InstrumentPort->SetName("InstrumentPort");
    InstrumentPort->SetBaud(115200);
    InstrumentPort->PromptForPort = false;
    InstrumentPort->SetInSize(1024);
    InstrumentPort->SetOutSize(1024);
    InstrumentPort->AutoOpen = false;
    InstrumentPort->TraceName = "SERIAL.TRC";
    InstrumentPort->TraceHex = false;
    InstrumentPort->LogName = "SERIAL.LOG";
    InstrumentPortPacket = new TSioDataPacket(this);
    InstrumentPortPacket->SetEnabled(false);
    InstrumentPortPacket->SetComPort(InstrumentPort);
    InstrumentPortPacket->StartCond = scAnyData;
    InstrumentPortPacket->SetEndCond(ecString);
    InstrumentPortPacket->SetEndString("\n");
    InstrumentPortPacket->PacketSize = 0;
    InstrumentPortPacket->TimeOut = 0;
    InstrumentPortPacket->MaxLength = MaxReplyLength;

    PlaceBelowToolbar();

    Protocol = new TDownloadProtocol(this);
    // A tenth of a second: faster than that nobody reads it, and each write of the hint box
    // costs milliseconds.
    hint_ = std::make_unique<TPacedText>(this, [this](const std::string& text) { memHints->SetText(text); }, 100);
    status_ = std::make_unique<TPacedText>(this, [this](const std::string& text) { StatusBar1->Panels(2).SetText(text); },
                                           100);
}

void TMOXLoadForm::BuildToolbar()
{
    DkImageList1 = new TDkImageList(this);
    DkImageList1->SetImagesBitmapMaskColor(ToolbarGlyphMask);
    const TGdiObject glyphs(DrawToolbarGlyphs());
    if (glyphs) DkImageList1->SetImagesBitmap(static_cast<HBITMAP>(glyphs.Get()));
    const std::pair<TAction*, TToolbarGlyph> images[] = {
        {OpenAct, tgOpen}, {SaveAct, tgSave}, {Download, tgSend}, {Erase, tgErase}, {ExitAct, tgExit}};
    for (const auto& [action, glyph] : images) action->SetImageIndex(glyph);

    DkDock1 = new TDkDock(this);
    DkDock1->SetName("DkDock1");
    DkDock1->SetParent(this);
    DkToolbar1 = new TDkToolbar(this);
    DkToolbar1->SetName("DkToolbar1");
    DkToolbar1->SetCaption("Toolbar");
    // Nothing would bring a closed toolbar back, and Send and Erase would go with it.
    DkToolbar1->SetCloseButton(false);
    DkToolbar1->SetImages(DkImageList1);
    DkToolbar1->SetShowHint(true);
    DkToolbar1->SetDefaultDock(DkDock1);
    DkToolbar1->SetParent(DkDock1);

    TDkRootItem* items = DkToolbar1->Items();
    // Open, Save and Exit show their images; Send and Erase, the window's work, their
    // captions too.
    auto command = [&](TAction* action, TDkItemDisplayMode mode) {
        auto* item = new TDkItem(this);
        // Its own images: found in every view it shows in, the chevron's popup too.
        item->SetImages(DkImageList1);
        item->SetAction(action);
        item->SetDisplayMode(mode);
        items->Add(item);
        return item;
    };
    auto separator = [&] { items->Add(new TDkSeparatorItem(this)); };
    auto hosted = [&](TControl* control) {
        control->SetParent(DkToolbar1);
        return DkToolbar1->CreateWrapper(items->Count(), control);
    };
    auto label = [&](const char* caption) {
        TLabel* l = new TLabel(this);
        l->SetCaption(caption);
        // A little room on each side, between the boxes.
        l->SetAutoSize(false);
        l->SetAlignment(taCenter);
        l->SetWidth(l->Width() + 8);
        return l;
    };

    OpenItem = command(OpenAct, dkdmDefault);
    SaveItem = command(SaveAct, dkdmDefault);
    separator();
    ComPortLbl = label("Port:");
    ComPortLblItem = hosted(ComPortLbl);
    ComPortCb = MakeBox(this, 0, 0, 70, {});
    ComPortItem = hosted(ComPortCb);
    LoadCellLbl = label("Load cell:");
    LoadCellLblItem = hosted(LoadCellLbl);
    loadcell_cb = MakeBox(this, 0, 0, 84, {});
    for (const char* item : LoadCellItems) loadcell_cb->Items().Add(item);
    LoadCellItem = hosted(loadcell_cb);
    separator();
    DkItem4 = command(Download, dkdmImageAndText);
    DkItem4->SetName("DkItem4");
    DkItem8 = command(Erase, dkdmImageAndText);
    DkItem8->SetName("DkItem8");
    separator();
    ExitItem = command(ExitAct, dkdmDefault);
}

void TMOXLoadForm::PlaceBelowToolbar()
{
    // The controls keep the places they had below the buttons' strip, unless the dock is
    // taller than that strip; the window keeps its size.
    const int gap = 6;
    int top = ClientHeight();
    for (int i = 0; i < ControlCount(); ++i)
        if (TControl* c = Controls(i); c != DkDock1 && c->Align() == alNone) top = std::min(top, c->Top());
    const int shift = DkDock1->Height() + gap - top;
    if (shift <= 0) return;
    for (int i = 0; i < ControlCount(); ++i)
        if (TControl* c = Controls(i); c != DkDock1 && c->Align() == alNone) c->SetTop(c->Top() + shift);
}

void TMOXLoadForm::BindEvents()
{
    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnActivate = [this](TObject* s) { FormActivate(s); };
    OnCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); };
    OnClose = [this](TObject* s, TCloseAction& action) { FormClose(s, action); };
    OpenAct->OnExecute = [this](TObject* s) { OpenActExecute(s); };
    SaveAct->OnExecute = [this](TObject* s) { SaveActExecute(s); };
    Download->OnExecute = [this](TObject* s) { DownloadExecute(s); };
    Erase->OnExecute = [this](TObject* s) { EraseExecute(s); };
    ExitAct->OnExecute = [this](TObject* s) { ExitActExecute(s); };
    ComPortCb->OnChange = [this](TObject* s) { ComPortCbChange(s); };
    loadcell_cb->OnChange = [this](TObject* s) { loadcell_cbChange(s); };

    for (int i = 0; i < ModeCount; ++i)
        ModeButton(i)->OnClick = [this, i](TObject*) { if (!closing_) ModeClick(i); };

    const std::pair<TNumEdit*, TNumField> fields[] = {{nedt_targetval, nfTarget}, {NumEdit2, nfTrigger},
                                                      {NumEdit1, nfSpeed},        {nedt_targettime, nfHold},
                                                      {nedt_recoverytime, nfRecovery}, {nedt_cyclecnt, nfCycles}};
    for (const auto& [edit, field] : fields) {
        TNumEdit* e = edit;
        const TNumField f = field;
        e->OnExit = [this, e, f](TObject*) { FieldExit(e, f); };
        e->OnEnter = [this](TObject* s) { ShowHint(s); };
    }
    cb_returnatspd->OnChange = [this](TObject*) {
        test_.SetReturnSpeed(cb_returnatspd->ItemIndex());
        UpdateSGH();
    };
    CheckBox1->OnClick = [this](TObject* s) {
        test_.SetRetrigger(CheckBox1->Checked());
        UpdateSGH();
        ShowHint(s);
    };
    cb_testtype->OnChange = [this](TObject*) { UpdateSGH(); };
    cb_targettype->OnChange = [this](TObject*) {
        // The box offers Load, but the instrument's tests are always to a distance.
        cb_targettype->SetItemIndex(1);
        test_.SetTargetType(1);
        Label6->SetCaption(TargetTypeUnits[1]);
        RetriggerLbl->Show();
        CheckBox1->Show();
        UpdateMasks();
        ShowFields();
        UpdateSGH();
    };
    cbSlotNo->OnChange = [this](TObject*) {
        test_.SetSlot(cbSlotNo->ItemIndex());
        UpdateSGH();
    };
    cbSlotNo->OnEnter = [this](TObject*) { SetHintText("Select which memory slot you want to store the test in."); };
    Edit1->OnChange = [this](TObject*) {
        const TNameCheck check = test_.SetName(Edit1->Text());
        if (NameRefused(check)) {
            MessageDlg(check == ncControlChars ? "Invalid name: a test name cannot hold control characters"
                                               : "Invalid name",
                       mtInformation, mbOK);
            Edit1->SetText("");
        }
        UpdateSGH();
    };
    Edit1->OnEnter = [this](TObject*) {
        SetHintText("Enter the test name. You may enter upto 8 characters. You must not use 'empty' as part of the name.");
    };
    DkItem4->OnSelect = [this](TDkCustomItem* s, TDkItemViewer* v, bool selecting) { DkItem4MouseMove(s, v, selecting); };
    DkItem8->OnSelect = [this](TDkCustomItem* s, TDkItemViewer* v, bool selecting) { DkItem8MouseMove(s, v, selecting); };
    // The toolbar holds the focus where the buttons held it.
    for (TWinControl* c : std::initializer_list<TWinControl*>{DkToolbar1, ModeGrp})
        c->OnExit = [this](TObject* s) { ClearHint(s); };

    InstrumentPortPacket->OnStringPacket = [this](TObject* s, const std::string& data) {
        InstrumentPortPacketStringPacket(s, data);
    };
    USBPort->OnPacket = [this](TObject* s, const std::string& data) { InstrumentPortPacketStringPacket(s, data); };

    Protocol->Send = [this](const std::string& command) {
        if (portMode_ == PortModeUSB) USBPort->SendData(command);
        else InstrumentPort->SendString(command);
    };
    // After a time-out nothing of the step's reply may reach the next one: the port's
    // buffers go, and so does the part of a line already collected.
    Protocol->FlushPort = [this] {
        if (portMode_ == PortModeUSB) {
            USBPort->ClearPending();
        } else if (InstrumentPort->Open()) {
            InstrumentPort->FlushBuffers();
            if (InstrumentPortPacket->Enabled()) {
                InstrumentPortPacket->SetEnabled(false);
                InstrumentPortPacket->SetEnabled(true);
            }
        }
    };
    Protocol->EnableCollector = [this] {
        if (portMode_ == PortModeSerial && InstrumentPort->Open()) InstrumentPortPacket->SetEnabled(true);
    };
    Protocol->ShowHint = [this](const std::string& text) { hint_->Set(text); };
    // A command shows without its CR, which a panel would draw as a box.
    Protocol->ShowStatus = [this](const std::string& text) { status_->Set(text.substr(0, text.find('\r'))); };
    Protocol->FlushDisplay = [this] {
        hint_->Flush();
        status_->Flush();
    };
    Protocol->EnableSendErase = [this](bool enabled) { SetSendErase(enabled); };
}

void TMOXLoadForm::FormCreate(TObject*)
{
    dataFolder_ = SpecialFolders1->Personal() + "\\";
    settingsFolder_ = SpecialFolders1->AppData() + "\\RUV\\Tavrin\\V1\\";
    ForceDirectories(settingsFolder_);
    settingsFile_ = settingsFolder_ + "tavrin.INI";
    lastFolder_ = dataFolder_;
    StatusBar1->Panels(1).SetText(Unsaved);
    cb_testtype->SetEnabled(false);
    cb_targettype->SetEnabled(false);
    cb_returnatspd->SetEnabled(false);
    cbSlotNo->SetItemIndex(0);
    cb_returnatspd->SetItemIndex(0);
    SelectMode(0);
    portMode_ = PortModeSerial;
    ListComPorts();
    ListFtdiComPorts(usbList_);
    const TStoredSettings stored = ReadStoredSettings(settingsFile_, ComPortCb->Items().Count());
    ComPortCb->SetItemIndex(stored.PortIndex);
    loadcell_cb->SetItemIndex(stored.LoadCell);
    test_ = TTestModel(stored.LoadCell);
    RetriggerLbl->Hide();
    CheckBox1->Hide();
    CheckBox1->SetChecked(true);
    nedt_recoverytime->SetEnabled(false);
    Protocol->Version = 12;
    SetHintText("");
    ComPortCbChange(ComPortCb);
    // The target type's change applies the masks and fills the grid's values.
    cb_targettype->OnChange(cb_targettype);
    for (int row = 0; row < GridRowCount; ++row) ProgramStrGrd->SetCells(0, row, GridCaptions[row]);
    MarkSaved();
}

void TMOXLoadForm::FormActivate(TObject*)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    Application->HelpFile = ExtractFilePath(path) + "NXHELP.HLP";
}

void TMOXLoadForm::FormCloseQuery(TObject*, bool& canClose)
{
    // A sequence under way ends first; the close follows once its wait has returned.
    if (Protocol->Busy()) {
        Protocol->Abort();
        closeAfterSequence_ = true;
        canClose = false;
        return;
    }
    // The close button leaves the edit being typed in as Exit does: what it holds counts.
    CommitFocusedEdit();
    canClose = AskToSave();
}

bool TMOXLoadForm::AskToSave()
{
    if (Saved()) return true;
    switch (MessageDlg(NotSavedPrompt, mtConfirmation, mbYesNoCancel)) {
    case IDYES:
        SaveActExecute(SaveAct);
        return Saved();
    case IDNO: return true;
    default: return false;
    }
}

void TMOXLoadForm::FormClose(TObject*, TCloseAction&)
{
    closing_ = true;
    int portIndex = ComPortCb->ItemIndex(), loadCell = loadcell_cb->ItemIndex();
    // Each step runs whatever became of the one before, and a failure is reported once: the
    // window closes all the same.
    std::exception_ptr settingsFailure, portFailure;
    Attempt(settingsFailure, [&] { ReadWriteSettings(false, portIndex, loadCell); });
    Attempt(portFailure, [this] { CloseComPort(); });
    for (const std::exception_ptr& failure : {settingsFailure, portFailure})
        if (failure) ReportFailure(failure);
}

namespace {

void ReadWriteSettingsFile(const std::string& fileName, bool read, int& portIndex, int& loadCellIndex)
{
    std::unique_ptr<TIniFile> ini;
    try {
        ini = std::make_unique<TIniFile>(fileName);
    } catch (...) {
        return;
    }
    if (read) {
        portIndex = ini->ReadInteger("COMMS", "ComPort", 0);
        loadCellIndex = ini->ReadInteger("KOVA", "LoadCell", 0);
    } else {
        ini->WriteInteger("COMMS", "ComPort", portIndex);
        ini->WriteInteger("KOVA", "LoadCell", loadCellIndex);
    }
}

}  // namespace

TStoredSettings ReadStoredSettings(const std::string& fileName, int portCount)
{
    TStoredSettings stored;
    ReadWriteSettingsFile(fileName, true, stored.PortIndex, stored.LoadCell);
    if (stored.PortIndex < 0 || stored.PortIndex >= portCount) stored.PortIndex = 0;
    if (stored.LoadCell < 0 || stored.LoadCell >= LoadCellCount) stored.LoadCell = 0;
    return stored;
}

void TMOXLoadForm::ReadWriteSettings(bool read, int& portIndex, int& loadCellIndex)
{
    ReadWriteSettingsFile(settingsFile_, read, portIndex, loadCellIndex);
}

void TMOXLoadForm::ListComPorts()
{
    ComPortCb->Items().Clear();
    ComPortCb->Items().Add("NONE");
    for (int n = 1; n <= 256; ++n)
        if (CheckPortAvailable(n)) ComPortCb->Items().Add(IntToStr(n));
}

void TMOXLoadForm::SetSendErase(bool enabled)
{
    // Nothing to send to without a port, and nothing new while a sequence runs.
    const bool on = enabled && currentPort_ > 0 && !Protocol->Busy() && !closing_;
    Download->SetEnabled(on);
    Erase->SetEnabled(on);
}

void TMOXLoadForm::ComPortCbChange(TObject*)
{
    // A change during a sequence ends its wait before the port goes.
    Protocol->Abort();
    portMode_ = PortModeSerial;
    try {
        CloseComPort();
    } catch (const std::exception& e) {
        PortFailed(e.what());
        return;
    }
    currentPort_ = 0;
    const int index = ComPortCb->ItemIndex();
    if (index < 1) {
        SetSendErase(false);
        return;
    }
    const int n = StrToIntDef(ComPortCb->Items()[index], 0);
    if (std::find(usbList_.begin(), usbList_.end(), n) != usbList_.end()) portMode_ = PortModeUSB;
    InstPortStart(n);
}

void TMOXLoadForm::InstPortStart(int n)
{
    currentPort_ = n;
    try {
        if (portMode_ == PortModeUSB) {
            USBPort->SetComNumber(n);
            USBPort->SetOpen(n > 0);
        } else {
            InstrumentPort->SetComNumber(n);
            InstrumentPort->SetOpen(n > 0);
        }
    } catch (const std::exception& e) {
        PortFailed(e.what());
    }
    if (currentPort_ > 0) {
        if (portMode_ == PortModeSerial) {
            InstrumentPortPacket->SetEnabled(true);
            InstrumentPort->FlushBuffers();
        }
        SetSendErase(true);
    }
}

void TMOXLoadForm::PortFailed(const std::string& error)
{
    MessageDlg(Sentence(error) + "  " + "Setting COM port to NONE.", mtError, mbOK);
    if (!InstrumentPort->Open()) InstrumentPort->SetComNumber(0);
    USBPort->SetOpen(false);
    currentPort_ = 0;
    ComPortCb->SetItemIndex(0);
    SetSendErase(false);
}

void TMOXLoadForm::CloseComPort()
{
    // Both kinds close: a port of the other kind would still hand its lines to the reply
    // handler. Every step runs: a port whose close fails is closed all the same (its
    // component says so), and the first failure is passed on once nothing is left open.
    std::exception_ptr failure;
    InstrumentPortPacket->SetEnabled(false);
    if (InstrumentPort->Open()) {
        Attempt(failure, [this] { InstrumentPort->BeginClose(); });
        Attempt(failure, [this] { InstrumentPort->SetOpen(false); });
    }
    Attempt(failure, [this] { USBPort->SetOpen(false); });
    if (failure) std::rethrow_exception(failure);
}

void TMOXLoadForm::InstrumentPortPacketStringPacket(TObject*, const std::string& data)
{
    Protocol->Reply(data);
}

TRadioButton* TMOXLoadForm::ModeButton(int mode) const
{
    TRadioButton* const radios[] = {rdoNormal, rdoHoldToTime, rdoCycleToCount, rdoTPA, rdoTension};
    return radios[mode];
}

void TMOXLoadForm::SelectMode(int mode)
{
    // Checking a button runs its click; one checked already runs it here.
    if (ModeButton(mode)->Checked()) ModeClick(mode);
    else ModeButton(mode)->SetChecked(true);
}

void TMOXLoadForm::ModeClick(int mode)
{
    for (TControl* c : std::initializer_list<TControl*>{HoldLbl, nedt_targettime, HoldUnitLbl, CycleLbl, nedt_cyclecnt})
        c->Hide();
    test_.SetMode(mode);
    cb_testtype->SetItemIndex(test_.TestTypeIndex());
    // A Normal test has no recovery time; the other modes show its edit for typing.
    for (TControl* c : std::initializer_list<TControl*>{nedt_recoverytime, RecoveryLbl, RecoveryUnitLbl})
        c->SetVisible(mode != 0);
    nedt_recoverytime->SetEnabled(mode != 0);
    switch (mode) {
    case 0:
        nedt_targettime->SetEnabled(false);
        nedt_cyclecnt->SetEnabled(false);
        break;
    case 1:
        HoldLbl->Show();
        HoldUnitLbl->Show();
        nedt_targettime->SetEnabled(true);
        nedt_targettime->SetVisible(true);
        if (Visible()) nedt_targettime->SetFocus();
        break;
    case 2:
        CycleLbl->Show();
        nedt_cyclecnt->SetEnabled(true);
        nedt_cyclecnt->SetVisible(true);
        if (Visible()) nedt_cyclecnt->SetFocus();
        break;
    case 3:
        cb_returnatspd->SetItemIndex(0);
        test_.SetReturnSpeed(0);
        break;
    default:
        break;
    }
    UpdateSGH();
}

void TMOXLoadForm::FieldExit(TNumEdit* edit, TNumField field)
{
    if (closing_) return;
    const std::string shown = test_.Encode(field, edit->Text());
    if (edit->Text() != shown) edit->SetText(shown);
    UpdateSGH();
}

TNumEdit* TMOXLoadForm::EditOf(TNumField field) const
{
    switch (field) {
    case nfTarget: return nedt_targetval;
    case nfTrigger: return NumEdit2;
    case nfSpeed: return NumEdit1;
    case nfHold: return nedt_targettime;
    case nfRecovery: return nedt_recoverytime;
    case nfCycles: return nedt_cyclecnt;
    }
    return nullptr;
}

void TMOXLoadForm::UpdateMasks()
{
    for (int f = 0; f < NumFieldCount; ++f) {
        const TNumField field = static_cast<TNumField>(f);
        if (field != nfRecovery) ApplyRange(EditOf(field), test_.Range(field));
    }
}

void TMOXLoadForm::ShowFields()
{
    for (int f = 0; f < NumFieldCount; ++f) {
        const TNumField field = static_cast<TNumField>(f);
        TNumEdit* edit = EditOf(field);
        if (edit->Text() != test_.Text(field)) edit->SetText(test_.Text(field));
    }
}

void TMOXLoadForm::UpdateSGH()
{
    const auto rows = test_.Grid();
    for (int row = 0; row < GridRowCount; ++row) ProgramStrGrd->SetCells(1, row, rows[row]);
}

void TMOXLoadForm::SetHintText(const std::string& text)
{
    hint_->Show(text);
}

void TMOXLoadForm::ShowHint(TObject* sender)
{
    auto* control = dynamic_cast<TComponent*>(sender);
    const int tag = control ? control->Tag : 0;
    auto range = [this](TNumField field, const std::string& unit) {
        const TFieldRange r = test_.Range(field);
        return "\r\n  " + FloatToStr(r.Minimum) + unit + "  to  " + FloatToStr(r.Maximum) + unit;
    };
    switch (tag) {
    case TagTrigger: SetHintText("Enter a trigger value in the range:" + range(nfTrigger, "g")); break;
    case TagTarget:
        SetHintText("Enter a target value in the range:" + range(nfTarget, TargetTypeUnits[test_.TargetType()]));
        break;
    case TagSpeed:
        SetHintText("Enter a test speed from 0.01 to 0.09mm/s in 0.01mm steps or 0.1 to 10mm/s in 0.1mm/s steps");
        break;
    case TagCycles: SetHintText("Enter the number of times the test is to be repeated from 1 to 99"); break;
    case TagHold: SetHintText("Enter a hold time from 0 to 4095 secs."); break;
    default: SetHintText(""); break;
    }
}

void TMOXLoadForm::ClearHint(TObject*)
{
    SetHintText("");
}

void TMOXLoadForm::loadcell_cbChange(TObject*)
{
    test_.SetLoadCell(loadcell_cb->ItemIndex());
    UpdateMasks();
    ShowFields();
    UpdateSGH();
}

TWinControl* TMOXLoadForm::FocusedEdit()
{
    TWinControl* focused = ActiveControl();
    if (!focused || !focused->Focused()) return nullptr;
    return dynamic_cast<TNumEdit*>(focused) || focused == Edit1 ? focused : nullptr;
}

void TMOXLoadForm::CommitFocusedEdit()
{
    if (TWinControl* edit = FocusedEdit()) edit->DoExit();
}

bool TMOXLoadForm::FocusToolbar()
{
    // Focus given to a window that is not active would take the activation from another;
    // a floating toolbar's window passes the activation on, and the focus with it.
    if (!Visible() || GetActiveWindow() != Handle() || GetParentForm(DkToolbar1) != this) return false;
    if (DkToolbar1->CanFocus() && !DkToolbar1->Focused()) DkToolbar1->SetFocus();
    return DkToolbar1->Focused();
}

bool TMOXLoadForm::LeaveEdit()
{
    TWinControl* focused = FocusedEdit();
    if (!focused) return true;
    if (!FocusToolbar()) focused->DoExit();
    const auto* edit = dynamic_cast<TNumEdit*>(focused);
    return !(edit && edit->ExitCorrected());
}

void TMOXLoadForm::HoverSendErase(bool selecting, const char* hint)
{
    if (!selecting || closing_) return;
    if (!FocusToolbar()) CommitFocusedEdit();
    SetHintText(hint);
}

void TMOXLoadForm::DkItem4MouseMove(TDkCustomItem*, TDkItemViewer*, bool selecting)
{
    HoverSendErase(selecting, SendHint);
}

void TMOXLoadForm::DkItem8MouseMove(TDkCustomItem*, TDkItemViewer*, bool selecting)
{
    HoverSendErase(selecting, EraseHint);
}

bool TMOXLoadForm::LoadTestParam(const std::string& fileName, TStringGrid& grid)
{
    // The file is read and checked whole before anything changes: a bad file leaves the
    // test and the grid as they were.
    try {
        const std::string bytes = ReadFileBytes(fileName);
        // A NUL would end the text there and drop the rest of its line unseen.
        if (bytes.find('\0') != std::string::npos) throw EConvertError("not a test file");
        TStringList lines;
        lines.SetText(bytes);
        if (lines.Count() != GridRowCount * 2) throw EConvertError("not a test file");
        std::array<std::string, GridRowCount> rows;
        for (int row = 0; row < GridRowCount; ++row) rows[row] = lines[2 * row + 1];
        const TTestModel loaded = TTestModel::FromGrid(rows);
        test_ = loaded;
        // The grid shows the values as the test holds them (clamped, cut, encoded).
        const auto values = test_.Grid();
        for (int row = 0; row < GridRowCount; ++row) {
            ClearGridRow(row, grid);
            grid.SetCells(1, row, values[row]);
        }
        return true;
    } catch (const std::exception&) {
        MessageDlg("Error reading file!", mtError, mbOK);
        return false;
    }
}

bool TMOXLoadForm::SaveTestParam(const std::string& fileName, TStringGrid& grid)
{
    try {
        TStringList lines;
        for (int row = 0; row < GridRowCount; ++row) {
            lines.Add(grid.Cells(0, row));
            lines.Add(grid.Cells(1, row));
        }
        lines.SaveToFile(fileName);
        return true;
    } catch (const std::exception&) {
        MessageDlg("Error saving file!", mtError, mbOK);
        return false;
    }
}

void TMOXLoadForm::UpdateParams()
{
    // The controls show what the test now holds; the focus ends on the mode's button. The
    // masks put each edit back to its default text, and an edit that a focus move below
    // leaves (the one Open was run from, say) encodes what it shows: the edits show the
    // test's values before any focus moves.
    loadcell_cb->SetItemIndex(test_.LoadCell());
    UpdateMasks();
    ShowFields();
    cb_targettype->SetItemIndex(test_.TargetType());
    cb_returnatspd->SetItemIndex(test_.ReturnSpeed());
    CheckBox1->SetChecked(test_.Retrigger());
    cbSlotNo->SetItemIndex(test_.Slot());
    if (Edit1->Text() != test_.Name()) Edit1->SetText(test_.Name());
    const int mode = test_.Mode();
    SelectMode(mode);
    ShowFields();
    UpdateSGH();
    if (Visible() && ModeButton(mode)->CanFocus()) ModeButton(mode)->SetFocus();
}

void TMOXLoadForm::OpenActExecute(TObject*)
{
    CommitFocusedEdit();
    // The test in hand is saved or let go first; Cancel keeps it as it is.
    if (!AskToSave()) return;
    OpenDialog1->Title = "Open Program File";
    OpenDialog1->Filter = FileFilter;
    OpenDialog1->DefaultExt = "VRL";
    OpenDialog1->Options = ofHideReadOnly | ofFileMustExist;
    OpenDialog1->FileName = "*.VRL";
    OpenDialog1->InitialDir = lastFolder_;
    const bool loaded = OpenDialog1->Execute() && LoadTestParam(OpenDialog1->FileName, *ProgramStrGrd);
    if (loaded) {
        StatusBar1->Panels(1).SetText(OpenDialog1->FileName);
        lastFolder_ = ExtractFilePath(OpenDialog1->FileName);
    }
    UpdateParams();
    if (loaded) MarkSaved();
}

void TMOXLoadForm::SaveActExecute(TObject*)
{
    CommitFocusedEdit();
    const std::string current = StatusBar1->Panels(1).Text();
    SaveDialog1->Title = "Save Program File";
    SaveDialog1->Filter = FileFilter;
    SaveDialog1->DefaultExt = "VRL";
    SaveDialog1->Options = ofHideReadOnly | ofOverwritePrompt | ofPathMustExist;
    SaveDialog1->FileName = current != Unsaved && !current.empty() ? FileNameStem(current) : "*.VRL";
    SaveDialog1->InitialDir = lastFolder_;
    if (SaveDialog1->Execute() && SaveTestParam(SaveDialog1->FileName, *ProgramStrGrd)) {
        StatusBar1->Panels(1).SetText(SaveDialog1->FileName);
        MarkSaved();
        lastFolder_ = ExtractFilePath(SaveDialog1->FileName);
    }
}

void TMOXLoadForm::DownloadExecute(TObject*)
{
    if (!LeaveEdit()) return;
    if (Protocol->Busy()) return;
    if (test_.NameIsEmpty()) {
        ShowMessage("Enter the test name");
        if (Edit1->CanFocus()) Edit1->SetFocus();
        return;
    }
    Protocol->Download(test_.Slot(), test_.ModeCode(), test_.Name(), test_.PGM());
    FinishSequence();
}

void TMOXLoadForm::EraseExecute(TObject*)
{
    if (!LeaveEdit()) return;
    if (Protocol->Busy()) return;
    Protocol->Erase(test_.Slot());
    FinishSequence();
}

void TMOXLoadForm::FinishSequence()
{
    if (closeAfterSequence_) {
        closeAfterSequence_ = false;
        Close();
    }
}

void TMOXLoadForm::ExitActExecute(TObject*)
{
    // The close commits the edit being typed in and asks about an unsaved test.
    Close();
}

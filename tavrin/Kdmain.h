// tavrin's main window: the test being edited, its grid and hints, the two kinds of port to
// the VR7, the test files and the settings kept between runs.
#pragma once

#include "ActnList.h"
#include "ComCtrls.h"
#include "Dialogs.h"
#include "DkDock.h"
#include "DkImageList.h"
#include "DkItem.h"
#include "DkToolbar.h"
#include "Download.h"
#include "Forms.h"
#include "Grids.h"
#include "NumEdit.h"
#include "RUVComm.h"
#include "ShellPaths.h"
#include "SioPacket.h"
#include "StdCtrls.h"
#include "TestModel.h"
#include "Timer.h"
#include "USBComPort.h"

#include <functional>
#include <memory>
#include <string>

// A text shown in a control at a pace a person can read: the same text is not written
// again, and a change that comes within the gap of the last one waits for a short timer.
// A flood of the instrument's status lines then costs a string compare per line.
class TPacedText {
public:
    TPacedText(TComponent* owner, std::function<void(const std::string&)> show, unsigned gapMs);

    void Set(const std::string& text);
    // Shows what waits at once.
    void Flush();
    // Shows `text` at once, in place of anything waiting.
    void Show(const std::string& text);

private:
    void Write();

    std::function<void(const std::string&)> show_;
    TTimer* timer_;
    unsigned gapMs_;
    std::string shown_, wanted_;
    bool written_ = false;
    DWORD lastMs_ = 0;
};

// Port mode: which component talks to the instrument.
const int PortModeUSB = 1;
const int PortModeSerial = 2;

// The two settings as start-up takes them from the settings file. A file that cannot be
// read, a missing key, an unreadable value or an index its list does not hold (a port gone
// since, a file edited by hand) gives 0: "NONE" of the portCount entries, the first load cell.
struct TStoredSettings {
    int PortIndex = 0;
    int LoadCell = 0;
};
TStoredSettings ReadStoredSettings(const std::string& fileName, int portCount);

class TMOXLoadForm : public TForm {
public:
    explicit TMOXLoadForm(TComponent* owner);
    ~TMOXLoadForm() override;

    // The toolbar, docked at the top: the actions' items and the port and load-cell boxes
    // with their labels.
    TDkDock* DkDock1;
    TDkToolbar* DkToolbar1;
    TDkImageList* DkImageList1;
    TDkItem* OpenItem;
    TDkItem* SaveItem;
    TLabel* ComPortLbl;
    TComboBox* ComPortCb;
    TLabel* LoadCellLbl;
    TComboBox* loadcell_cb;
    TDkControlItem* ComPortLblItem;
    TDkControlItem* ComPortItem;
    TDkControlItem* LoadCellLblItem;
    TDkControlItem* LoadCellItem;
    TDkItem* DkItem4;  // Send Test
    TDkItem* DkItem8;  // Erase Test
    TDkItem* ExitItem;

    TGroupBox* ModeGrp;
    TRadioButton* rdoNormal;
    TRadioButton* rdoHoldToTime;
    TRadioButton* rdoCycleToCount;
    TRadioButton* rdoTPA;
    TRadioButton* rdoTension;

    TLabel* TestTypeLbl;
    TComboBox* cb_testtype;
    TLabel* TargetTypeLbl;
    TComboBox* cb_targettype;
    TLabel* TargetLbl;
    TNumEdit* nedt_targetval;
    TLabel* Label6;  // the target's unit
    TLabel* TriggerLbl;
    TNumEdit* NumEdit2;
    TLabel* TriggerUnitLbl;
    TLabel* SpeedLbl;
    TNumEdit* NumEdit1;
    TLabel* SpeedUnitLbl;
    TLabel* ReturnLbl;
    TComboBox* cb_returnatspd;
    TLabel* HoldLbl;
    TNumEdit* nedt_targettime;
    TLabel* HoldUnitLbl;
    TLabel* CycleLbl;
    TNumEdit* nedt_cyclecnt;
    TLabel* RecoveryLbl;
    TNumEdit* nedt_recoverytime;
    TLabel* RecoveryUnitLbl;
    TLabel* RetriggerLbl;
    TCheckBox* CheckBox1;
    TLabel* SlotLbl;
    TComboBox* cbSlotNo;
    TLabel* NameLbl;
    TEdit* Edit1;

    TMemo* memHints;
    TStringGrid* ProgramStrGrd;
    TStatusBar* StatusBar1;

    TActionList* ActionList1;
    TAction* OpenAct;
    TAction* SaveAct;
    TAction* Download;
    TAction* Erase;
    TAction* ExitAct;

    TOpenDialog* OpenDialog1;
    TSaveDialog* SaveDialog1;
    TSpecialFolders* SpecialFolders1;
    TUSBComPort* USBPort;
    TRUVComm* InstrumentPort;
    TSioDataPacket* InstrumentPortPacket;
    TDownloadProtocol* Protocol;

    // Event handlers, bound in the constructor.
    void FormCreate(TObject* sender);
    void FormActivate(TObject* sender);
    void FormCloseQuery(TObject* sender, bool& canClose);
    void FormClose(TObject* sender, TCloseAction& action);
    void ComPortCbChange(TObject* sender);
    void loadcell_cbChange(TObject* sender);
    void OpenActExecute(TObject* sender);
    void SaveActExecute(TObject* sender);
    void DownloadExecute(TObject* sender);
    void EraseExecute(TObject* sender);
    void ExitActExecute(TObject* sender);
    void InstrumentPortPacketStringPacket(TObject* sender, const std::string& data);
    // The mouse over Send or Erase (the item selected by the toolbar's cursor tracking):
    // the edit being typed in is left, as for a button taking the focus, and the item's
    // guidance shows.
    void DkItem4MouseMove(TDkCustomItem* sender, TDkItemViewer* viewer, bool selecting);
    void DkItem8MouseMove(TDkCustomItem* sender, TDkItemViewer* viewer, bool selecting);

    // Reads or writes the two settings; a settings file that cannot be opened is skipped.
    void ReadWriteSettings(bool read, int& portIndex, int& loadCellIndex);
    bool LoadTestParam(const std::string& fileName, TStringGrid& grid);
    bool SaveTestParam(const std::string& fileName, TStringGrid& grid);
    void InstPortStart(int n);
    // Closes the ports of both kinds; a port that fails to close counts as closed, and the
    // first failure is raised once both are.
    void CloseComPort();

    const TTestModel& Test() const { return test_; }
    int PortMode() const { return portMode_; }
    int CurrentPort() const { return currentPort_; }
    const TUSBPortArray& USBList() const { return usbList_; }
    const std::string& SettingsFile() const { return settingsFile_; }
    const std::string& DataFolder() const { return dataFolder_; }
    const std::string& LastFolder() const { return lastFolder_; }
    // The test holds what it held at start-up or at its last load or save: its grid, which
    // is the file and so the PGM line and the name, is unchanged.
    bool Saved() const { return test_.Grid() == savedGrid_; }

private:
    void BuildControls();
    void BuildToolbar();
    void PlaceBelowToolbar();
    void BindEvents();
    void ListComPorts();
    void SetSendErase(bool enabled);
    // A port error: reported once, and no port is left.
    void PortFailed(const std::string& error);
    // The prompt for a test not saved, before it goes: true when the caller may go on (the
    // test was saved, or No).
    bool AskToSave();
    void MarkSaved() { savedGrid_ = test_.Grid(); }
    void ModeClick(int mode);
    TRadioButton* ModeButton(int mode) const;
    void SelectMode(int mode);
    void FieldExit(TNumEdit* edit, TNumField field);
    void ShowHint(TObject* sender);
    void ClearHint(TObject* sender);
    void SetHintText(const std::string& text);
    // The edit being typed in (a number box or the name), when it has the focus.
    TWinControl* FocusedEdit();
    // The edit that has the focus runs its exit check and its encoder, as when focus leaves.
    void CommitFocusedEdit();
    // The focus goes to the docked toolbar, as it went to a button the mouse came over, when
    // the window is active; false when it did not (a floating toolbar's window cannot keep
    // it), and the caller runs the exit step of the edit being typed in where it is.
    bool FocusToolbar();
    // The focus moves off the edit being typed in; false when its exit check corrected the
    // entry and takes the focus back, so that nothing acts on it.
    bool LeaveEdit();
    void HoverSendErase(bool selecting, const char* hint);
    void UpdateMasks();
    void UpdateSGH();
    void ShowFields();
    // The grid's values into the test, all or nothing.
    void UpdateParams();
    TNumEdit* EditOf(TNumField field) const;
    // After a sequence that the close or a port change ended.
    void FinishSequence();

    std::unique_ptr<TPacedText> hint_;    // memHints
    std::unique_ptr<TPacedText> status_;  // status panel 2
    TTestModel test_;
    std::string dataFolder_, settingsFolder_, settingsFile_, lastFolder_;
    int portMode_ = PortModeSerial;
    int currentPort_ = 0;
    TUSBPortArray usbList_;
    std::array<std::string, GridRowCount> savedGrid_;
    bool closeAfterSequence_ = false;
    bool closing_ = false;
};

extern TMOXLoadForm* MOXLoadForm;

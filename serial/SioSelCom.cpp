#include "SioSelCom.h"

#include "SioWin32.h"
#include "SysUtils.h"

bool SioTrialOpen = true;
bool SioCountInUse = true;

namespace {

TSioTrialFactory& TrialFactory()
{
    static TSioTrialFactory factory;
    return factory;
}

}  // namespace

TSioTrialFactory SetSioTrialFactory(TSioTrialFactory factory)
{
    TSioTrialFactory previous = std::move(TrialFactory());
    TrialFactory() = std::move(factory);
    return previous;
}

bool CheckPortAvailable(int n)
{
    if (n <= 0) return false;
    const std::string name = "\\\\.\\COM" + std::to_string(n);
    DWORD error = 0;
    if (SioTrialOpen) {
        // Only the device is opened and closed: no line settings, so no line drops.
        std::unique_ptr<TSioBaseDispatcher> trial(TrialFactory() ? TrialFactory()() : new TSioWin32Dispatcher(nullptr));
        if (trial->OpenDeviceHandle(name) >= 0) {
            trial->CloseDeviceHandle();
            return true;
        }
        error = GetLastError();  // the open's own result, before anything else can change it
    } else {
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        error = GetLastError();
    }
    return SioCountInUse && error == ERROR_ACCESS_DENIED;
}

TComSelectForm::TComSelectForm(TComponent* owner) : TForm(owner)
{
    SetCaption("Select Port");
    SetBorderStyle(bsDialog);
    Position = poScreenCenter;
    SetClientSize(260, 130);
    const auto place = [this](TControl* c, int left, int top, int width, int height) {
        c->SetParent(this);
        c->SetBounds(left, top, width, height);
    };
    Label1 = new TLabel(this);
    place(Label1, 12, 12, 236, 13);
    Label1->SetCaption("The configured serial port is not valid.");
    Label2 = new TLabel(this);
    place(Label2, 12, 30, 236, 13);
    Label2->SetCaption("Please choose another port.");
    PortsComboBox = new TComboBox(this);
    PortsComboBox->SetName("PortsComboBox");
    place(PortsComboBox, 12, 54, 236, 21);
    for (int n = 1; n <= 50; ++n)
        if (CheckPortAvailable(n)) PortsComboBox->Items().Add("COM" + std::to_string(n));
    if (PortsComboBox->Items().Count() > 0) PortsComboBox->SetItemIndex(0);
    OKButton = new TButton(this);
    place(OKButton, 92, 92, 75, 25);
    OKButton->SetCaption("OK");
    OKButton->ModalResult = mrOk;
    OKButton->SetDefault(true);
    CancelButton = new TButton(this);
    place(CancelButton, 173, 92, 75, 25);
    CancelButton->SetCaption("Cancel");
    CancelButton->ModalResult = mrCancel;
    CancelButton->SetCancel(true);
}

int TComSelectForm::ChosenPort() const
{
    const std::string text = PortsComboBox->Text();
    return text.size() > 3 ? StrToIntDef(text.substr(3), 0) : 0;
}

int PickComPort()
{
    TComSelectForm form(nullptr);
    return form.ShowModal() == mrOk ? form.ChosenPort() : 0;
}
